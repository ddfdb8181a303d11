// The in-process server of the fuzz harnesses, its simulated queues and
// reply sink, and the idle child (see ServerFuzz.h).
#include "ServerFuzz.h"

#include "FuzzSupport.h"

#include <svcore/ConnectionPort.h>
#include <svcore/RunLog.h>
#include <svcore/Server.h>
#include <svcore/ServerObject.h>
#include <svcore/StateFile.h>
#include <svcore/SvConfigFile.h>
#include <svcore/SvConnection.h>

#include <blkfile/CacheBuffer.h>
#include <svcatalog/LockObject.h>
#include <svcatalog/SvSchema.h>
#include <svobject/Client.h>
#include <svobject/ClientEnv.h>
#include <svobject/SvObject.h>

#include <svcatalog/SvField.h>

#include <zfound/Exception.h>
#include <zfound/Expr.h>
#include <zfound/LoopConnection.h>
#include <zfound/OsFile.h>
#include <zfound/PObject.h>
#include <zfound/PhysLayout.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/ipc.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

// A storage or server assertion reached from outside data is a finding,
// never the end of an input: the harnesses that link this library wrap the
// assertion report (see fuzz/CMakeLists.txt).
extern "C" void __wrap__ZN7svstore10StorageEnv7_assertEPKcS2_ib(char const* expr, char const* file, int line,
                                                                 bool fatal) {
  if (!fatal) return;
  std::fprintf(stderr, "zffuzz: server assertion (%s) at %s:%d\n", expr ? expr : "", file ? file : "?", line);
  std::abort();
}

namespace zffuzz {

namespace {

pid_t child = -1;

void endChild() {
  if (child > 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    child = -1;
  }
}

ConnectionPort* port = nullptr;
std::unique_ptr<PhysLayout> layout;
// At exit the layout is let go unwritten: its directory is gone by the time
// the statics are destroyed.
void dropAtExit() {
  Server::physLayout_sd = nullptr;
  (void)layout.release();
}

void quietWarning(char const*) {}

void writeText(std::string const& path, std::string const& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) std::abort();
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

}  // namespace

pid_t idleChild() {
  if (child > 0 && ::waitpid(child, nullptr, WNOHANG) == 0) return child;
  pid_t const parent = ::getpid();
  pid_t p = ::fork();
  if (p < 0) {
    std::perror("zffuzz: fork");
    std::abort();
  }
  if (p == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(0);
    for (int s = 1; s < NSIG; ++s) ::signal(s, SIG_IGN);
    for (;;) ::pause();
  }
  static bool registered = false;
  if (!registered) {
    registered = true;
    std::atexit(endChild);
  }
  child = p;
  return p;
}

FuzzServer::Part FuzzServer::part(long type, uint32_t obj, int32_t op, std::vector<uint32_t> const& body, bool cont) {
  Part p;
  p.type = type;
  s_MsgBuff h;
  h.clientId = int32_t(type);
  h.objId = int32_t(obj);
  h.serverOp = int16_t(op);
  size_t n = body.size() > size_t(MSG_PART_WORDS) ? size_t(MSG_PART_WORDS) : body.size();
  h.setLength(int32_t(n));
  h.setContinued(cont);
  p.bytes.resize(12 + 4 * n);
  h.write(p.bytes.data());
  if (n > 0) std::memcpy(p.bytes.data() + 12, body.data(), 4 * n);
  return p;
}

void FuzzServer::start(std::string const& runLog, std::string const& extraConfig, bool record) {
  init();
  ++generation_;
  dir_ = init() + "/server" + std::to_string(generation_);
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_ + "/db");
  std::string const name = "fzsv" + std::to_string(generation_);
  writeText(init() + "/servers/" + name + ".sv",
            "ServerId\t9\nCachePageSize\t1\nCacheSize\t256\nDbase\t" + dir_ + "/db\nStateFile\t" + dir_ +
                "/state\nCorruptionTolerant\toff\nNextSchemaId\t1.1.1\nDiskConfiguration\t" + dir_ + "/layout\n" + extraConfig);
  writeText(dir_ + "/layout", "");

  Exception::init(true);
  Server::reset();
  running_ = true;  // from here stop() takes down what was made
  static bool registered = false;
  if (!registered) {
    registered = true;
    std::atexit(dropAtExit);
  }
  Server::retrySeconds = 0;
  Server::name_sd = String(name.c_str());
  ClientEnv::serverName = Server::name_sd;
  Server::configFile = new SvConfigFile(String(name.c_str()));
  Server::stateFile = new StateFile(String((dir_ + "/state").c_str()));
  layout = std::make_unique<PhysLayout>(String((dir_ + "/layout").c_str()));
  Server::physLayout_sd = layout.get();
  Server::cachePageSize_sd = 1024;
  Server::installHooks();
  if (!svcatalog::LockTables::initLocks(256, 64)) std::abort();
  CacheBuffer::init(256);
  Server::timeStamp.setUserId(0);
  Server::timeStamp.setNow();
  if (!runLog.empty()) {
    Server::runLog =
        new RunLog(String(runLog.c_str()), !record, record ? 0 : -1, Server::runLogHooks(&quietWarning));
    if (record)
      Server::runLog->writeTimeStamp(Server::timeStamp);
    else
      Server::timeStamp.setTime(Server::runLog->readTimeStamp());
  }
  Server::readState();
  Server::makeObject();
  SvQueueCalls calls;
  calls.receive = &FuzzServer::receive;
  calls.send = &FuzzServer::send;
  calls.ctx = this;
  Server::svCon = new SvConnection(calls, Server::connectionHooks(&quietWarning));
  Server::svCon->setRunLog(Server::runLog);
  SvObject::con = Server::svCon;
  port = new ConnectionPort(*Server::svCon);
  SvObject::setPort(port);
  Server::hkMsgBound = Server::configFile->hkMsgBound();
  Server::installRequests();
}

void FuzzServer::stop() {
  if (!running_) return;
  Server::closeJournal();
  dropClients();
  while (SvSchema::first() != nullptr) delete SvSchema::first();
  Server::dropObject();
  SvObject::setPort(nullptr);
  SvObject::con = nullptr;
  delete port;
  port = nullptr;
  delete Server::svCon;
  Server::svCon = nullptr;
  delete Server::runLog;
  Server::runLog = nullptr;
  ClientEnv::reset();
  CacheBuffer::cleanUp();
  svcatalog::LockTables::cleanUpLocks();
  Server::physLayout_sd = nullptr;
  layout.reset();
  Server::reset();
  // What an input ended early (a fatal report, a refused run log) left half
  // made stays registered under its id; the next input, making the same
  // schema again, must not meet it. Every object of this server is gone.
  delete PObject::hashtab;
  PObject::hashtab = nullptr;
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
  running_ = false;
}

bool FuzzServer::run() {
  try {
    Server::execute();
  } catch (InputDone const&) {
  }
  return true;
}

void FuzzServer::dropClients() {
  for (Client* c : std::vector<Client*>(Server::clients))
    if (c != nullptr) Server::delClient(c);
  Server::clients.clear();
  if (Server::svCon != nullptr) Server::svCon->clear();
  input_.clear();
  queues_[0].clear();
  queues_[1].clear();
  expected_.clear();
  answered_.clear();
  midReply_.clear();
}

std::vector<FuzzServer::Reply> FuzzServer::takeReplies() {
  std::vector<Reply> r;
  r.swap(replies_);
  return r;
}

// The replies a request part asks for: one per request of the part whose
// operation is not a known void one (a refused part: one at most).
void FuzzServer::expect(Part const& p) {
  SysVMsgPart m;
  m.mtype = p.type;
  size_t const n = p.bytes.size() < sizeof m.words ? p.bytes.size() : sizeof m.words;
  if (n > 0) std::memcpy(m.words, p.bytes.data(), n);
  std::vector<MsgBatchItem> items;
  if (!splitSysVBatch(m, long(p.bytes.size()), items)) {
    ++expected_[p.type];
    return;
  }
  for (MsgBatchItem const& it : items)
    if (!(validSvMessage(it.h.serverOp) && isVoid(SvMessage(it.h.serverOp)))) ++expected_[p.type];
}

long FuzzServer::receive(void* ctx, int queue, SysVMsgPart* out, long type, int flags) {
  FuzzServer& s = *static_cast<FuzzServer*>(ctx);
  if (queue == 2) {  // the reply queue: nothing is ever left there
    errno = ENOMSG;
    return -1;
  }
  // One more part of the input becomes visible.
  if (!s.input_.empty()) {
    auto [q, p] = std::move(s.input_.front());
    s.input_.pop_front();
    if (s.resolve) s.resolve(p);
    s.queues_[q].push_back(std::move(p));
  }
  std::deque<Part>& in = s.queues_[queue];
  for (auto it = in.begin(); it != in.end(); ++it) {
    if (type != 0 && it->type != type) continue;
    Part p = std::move(*it);
    in.erase(it);
    size_t n = p.bytes.size() < size_t(MSG_PART_BYTES) ? p.bytes.size() : size_t(MSG_PART_BYTES);
    out->mtype = p.type;
    if (n > 0) std::memcpy(out->words, p.bytes.data(), n);
    if (queue == 0) s.expect(p);
    if (std::getenv("ZFFUZZ_TRACE") != nullptr)
      std::fprintf(stderr, "zffuzz: queue %d part of type %ld, %zu bytes, op %d\n", queue, p.type, n,
                   n >= 12 ? int(msgServerOp(p.bytes.data())) : -1);
    return long(n);
  }
  if (flags & IPC_NOWAIT) {
    errno = ENOMSG;
    return -1;
  }
  if (s.input_.empty()) throw InputDone();
  errno = EINTR;  // as the alarm of a wait
  return -1;
}

int FuzzServer::send(void* ctx, int queue, SysVMsgPart const* part, unsigned long bytes, int) {
  FuzzServer& s = *static_cast<FuzzServer*>(ctx);
  if (queue != 2 || bytes > unsigned(MSG_PART_BYTES)) std::abort();
  s.sink(part->mtype, part->words, bytes);
  return 0;
}

void FuzzServer::sink(long type, uint32_t const* words, unsigned long bytes) {
  if (bytes == 0) return;  // a go-ahead for continuation parts
  if (bytes < 12 || bytes % 4 != 0 || type <= 0) {
    std::fprintf(stderr, "zffuzz: malformed reply part of %lu bytes to type %ld\n", bytes, type);
    std::abort();
  }
  s_MsgBuff h = s_MsgBuff::read(words);
  if (std::getenv("ZFFUZZ_TRACE") != nullptr)
    std::fprintf(stderr, "zffuzz: reply part to type %ld, status %d, result %d%s\n", type, int(h.serverOp), h.objId,
                 h.continued() ? ", continued" : "");
  if (long(h.clientId) != type || int32_t(bytes) != 12 + 4 * h.length()) {
    std::fprintf(stderr, "zffuzz: reply header (client %d, %d words) does not match its part (type %ld, %lu bytes)\n",
                 h.clientId, int(h.length()), type, bytes);
    std::abort();
  }
  if (!midReply_[type] && expected_[type] <= answered_[type]) {
    std::fprintf(stderr, "zffuzz: reply to type %ld beyond its %lld requests\n", type,
                 static_cast<long long>(expected_[type]));
    std::abort();
  }
  if (h.continued()) {
    midReply_[type] = true;
    return;
  }
  midReply_[type] = false;
  ++answered_[type];
  Reply r{type, h.objId, h.serverOp};
  replies_.push_back(r);
  if (onReply) onReply(r);
}

long FuzzServer::connectType() { return long(int32_t(idleChild()) | 0x40000000) + 1; }

int32_t FuzzServer::call(long type, uint32_t obj, int32_t op, std::vector<uint32_t> const& body) {
  size_t const n = body.size();
  size_t at = 0;
  do {
    size_t k = n - at > size_t(MSG_PART_WORDS) ? size_t(MSG_PART_WORDS) : n - at;
    std::vector<uint32_t> piece(body.begin() + long(at), body.begin() + long(at + k));
    at += k;
    push(at == k ? 0 : 1, part(type, obj, op, piece, at < n));
  } while (at < n);
  run();
  std::vector<Reply> r = takeReplies();
  return r.empty() || r.back().status != 0 ? -1 : r.back().result;
}

namespace {

// A request body from the channel's own encoders.
struct Body {
  LoopConnection enc{4096};
  Body& w(int32_t v) {
    enc << v;
    return *this;
  }
  Body& s(char const* v) {
    enc << String(v);
    return *this;
  }
  Body& field(char const* name, int32_t type, int32_t len, int32_t dim) {
    s(name).s("").w(dim).w(type).w(0).w(len).w(0).w(0);
    enc << Expr();
    return s("").s("");
  }
  std::vector<uint32_t> words() const { return enc.words(); }
};

}  // namespace

void FuzzServer::makeSchema() {
  Body c;
  c.w(Server::kProtocolVersion).w(int32_t(geteuid())).w(int32_t(getegid())).s("/usr/bin/fz").s("").s("node").s("tty");
  c.w(1);
  int32_t const cid = call(connectType(), 0x70000000u, DBM_CONNECT, c.words());
  if (cid < 0) std::abort();
  long const type = long(cid) + 1;
  Body a;
  a.w(16).w(1).w(1).s("fz").s("a schema");
  int32_t const sid = call(type, 0x70000000u, DBM_ATTACH, a.words());
  Body t;
  t.w(32).w(0).w(1).s("T").s("a table").w(0).w(0).w(3);
  t.field("id", SvField::INT, 0, 1).field("name", SvField::STRING, 10, 1).field("vals", SvField::INT, 0, 4);
  int32_t const tid = sid < 0 ? -1 : call(type, uint32_t(sid), DBM_ATTACH, t.words());
  if (tid < 0) std::abort();
  schemaId_ = uint32_t(sid);
  tableId_ = uint32_t(tid);
  Body i1, i2;
  i1.s("pk").w(0).w(1).w(0).w(0).w(0).w(0);
  i2.s("byname").w(0).w(1).w(1).w(0).w(0).w(0);
  if (call(type, tableId_, DBM_CREATE, i1.words()) < 0 || call(type, tableId_, DBM_CREATE, i2.words()) < 0)
    std::abort();
  static char const* const names[] = {"ant", "bee", "cat", "dog", "eel", "fox"};
  for (int32_t k = 0; k < 6; ++k) {
    Body r;
    r.w(1).w(k + 1).s(names[k]).w(k).w(k * 2).w(k * 3).w(k * 4);
    call(type, tableId_, DBM_ADDRECORD, r.words());
  }
  dropClients();
  takeReplies();
}

}  // namespace zffuzz
