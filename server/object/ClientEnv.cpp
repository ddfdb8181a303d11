// The server-wide settings, stamp, hooks and wake-up list that clients and
// the lock manager read.
#include <svobject/ClientEnv.h>

#include <svobject/Client.h>

#include <zfound/Assert.h>

int32_t ClientEnv::locksPerClient = 256;
int32_t ClientEnv::lockUnifyBound = 200;
int32_t ClientEnv::lockUnifyPercent = 0;
int32_t ClientEnv::pendLockNotifTime = 0;
int32_t ClientEnv::maxAttachsPerClient = 0;
int32_t ClientEnv::transTimeOut = 0;
String ClientEnv::serverName;
Client* ClientEnv::head_ = nullptr;
Client* ClientEnv::tail_ = nullptr;

namespace {

TimeStamp const* g_stamp = nullptr;

TimeStamp const& ownStamp() {
  static TimeStamp const s;
  return s;
}

}  // namespace

TimeStamp const& ClientEnv::stamp() { return g_stamp != nullptr ? *g_stamp : ownStamp(); }
void ClientEnv::setStamp(TimeStamp const* ts) { g_stamp = ts; }

ClientHooks& ClientEnv::hooks() {
  static ClientHooks h;
  return h;
}

bool ClientEnv::isListed(Client const* c) { return c != nullptr && (c->resumeNext_ != nullptr || c == tail_); }

void ClientEnv::addWakeUpClient(Client* c) {
  if (!ZF_ASSERT_TEXT(c != nullptr, "c != (0)") || isListed(c)) return;
  if (tail_ == nullptr) {
    head_ = tail_ = c;
  } else {
    tail_->resumeNext_ = c;
    tail_ = c;
  }
}

Client* ClientEnv::wakeUpClient() {
  Client* const c = head_;
  if (c == nullptr) return nullptr;
  head_ = c->resumeNext_;
  if (head_ == nullptr) tail_ = nullptr;
  c->resumeNext_ = nullptr;
  return c;
}

void ClientEnv::delWakeUpClient(Client* c) {
  if (!ZF_ASSERT_TEXT(c != nullptr, "c != (0)") || !isListed(c)) return;
  Client* prev = nullptr;
  for (Client* p = head_; p != c; p = p->resumeNext_) {
    if (!ZF_ASSERT_TEXT(p != nullptr, "prevCl")) return;
    prev = p;
  }
  (prev == nullptr ? head_ : prev->resumeNext_) = c->resumeNext_;
  if (tail_ == c) tail_ = prev;
  c->resumeNext_ = nullptr;
}

void ClientEnv::reset() {
  locksPerClient = 256;
  lockUnifyBound = 200;
  lockUnifyPercent = 0;
  pendLockNotifTime = 0;
  maxAttachsPerClient = 0;
  transTimeOut = 0;
  serverName = String();
  g_stamp = nullptr;
  hooks() = ClientHooks();
  while (wakeUpClient() != nullptr) {}
}
