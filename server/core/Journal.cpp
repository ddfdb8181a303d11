// The journal's writer and reader (see Journal.h for the stored form and
// the state machine).
#include <svcore/Journal.h>

#include <sindex/SvIndRep.h>
#include <svcatalog/SvField.h>
#include <svcatalog/SvSchema.h>
#include <svcatalog/SvTabRep.h>
#include <svcatalog/SvTable.h>
#include <svobject/Client.h>

#include <zfound/FileOps.h>
#include <zfound/OsServ.h>
#include <zfound/PObject.h>
#include <zfound/Portable.h>
#include <zfound/RegExp.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

JournalClient JournalClient::of(Client const& c) {
  JournalClient id;
  id.id = c.id();
  id.pid = c.pid();
  id.path = c.proc();
  id.args = c.args();
  id.uid = c.uid();
  id.gid = c.gid();
  id.node = c.node();
  id.tty = c.tty();
  return id;
}

namespace {

constexpr char kPrefix[] = "rlog";
constexpr int32_t kDefaultBuff = 32768;

String baseOf(String const& path) {
  std::string const p(toCharPtr(path));
  size_t const slash = p.rfind('/');
  return String(slash == std::string::npos ? p.c_str() : p.c_str() + slash + 1);
}

void copyName(char* dest, String const& name) {
  std::memset(dest, 0, Journal::kNameSize);
  char const* s = toCharPtr(name);
  size_t n = std::strlen(s);
  if (n > size_t(Journal::kNameSize - 1)) n = size_t(Journal::kNameSize - 1);
  std::memcpy(dest, s, n);
}

String nameOf(char const* field) {
  size_t n = 0;
  while (n < size_t(Journal::kNameSize) && field[n] != '\0') ++n;
  return String(field, long(n));
}

// Full-length positional read through the seam; the bytes read, -1 on error.
int64_t readAll(int fd, char* buffer, int64_t length, int64_t offset) {
  int64_t got = 0;
  while (got < length) {
    ssize_t const n = fileOps().pread(fd, buffer + got, size_t(length - got), off_t(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    got += n;
  }
  return got;
}

bool readPrefixOf(String const& path, JournalPrefix& p, bool& badMagic) {
  badMagic = false;
  int const fd = fileOps().open(toCharPtr(path), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  unsigned char image[Journal::kPrefixSize];
  int64_t const n = readAll(fd, reinterpret_cast<char*>(image), Journal::kPrefixSize, 0);
  fileOps().close(fd);
  if (n != Journal::kPrefixSize) {
    badMagic = true;
    return false;
  }
  if (!Journal::loadPrefix(p, image)) {
    badMagic = true;
    return false;
  }
  return true;
}

bool matchesPattern(char const* name) { return std::strncmp(name, kPrefix, sizeof kPrefix - 1) == 0; }

}  // namespace

// ---- row layout -------------------------------------------------------------

JournalRowLayout JournalRowLayout::of(SvTable const* t) {
  JournalRowLayout l;
  l.recordLength = t->recordLength();
  l.prefixSize = t->prefixSize();
  for (int32_t i = 0; i < t->nFields(); ++i) {
    SvField* f = t->field(i);
    if (f == nullptr || f->isVirtual()) continue;
    l.fields.push_back(Field{i, f->fieldOffset(), f->ilength(true) * f->dim()});
  }
  SvIndRep* primary = t->tabRep()->index(0);
  if (primary != nullptr) {
    for (int32_t j = 0; j < primary->nFields(); ++j) {
      SvIndFld* p = primary->iField(j);
      if (p == nullptr) continue;
      if (p->isTabField()) {
        SvField* f = dynamic_cast<SvField*>(p->field());
        if (f == nullptr || f->isVirtual())
          l.keyParts.push_back(Part{0, 0});
        else
          l.keyParts.push_back(Part{f->fieldOffset(), f->ilength(true) * f->dim()});
      } else {
        l.keyParts.push_back(Part{p->tableOffset(), 4});
      }
    }
  }
  return l;
}

// ---- construction and files -------------------------------------------------

Journal::Journal(int32_t kb, String const& dir) : dir_(dir) {
  buf_.resize(size_t(kb >= kMinBuffKb ? kb * 1024 : kDefaultBuff));
  clearPrefix(1);
}

Journal::~Journal() {
  if (state_ == WRITING) flush();
  closeFd();
}

bool Journal::ok() const { return fd_ >= 0 && errNo_ == 0; }

String Journal::fileName() const { return path_; }

String Journal::baseName() const { return path_.length() == 0 ? String("") : baseOf(path_); }

String Journal::filePattern() { return String("rlog.*"); }

void Journal::clearPrefix(int32_t closed) {
  prefix_ = JournalPrefix();
  prefix_.closed = closed;
}

void Journal::storePrefix(unsigned char* image, JournalPrefix const& p) {
  std::memset(image, 0, kPrefixSize);
  stlong(int32_t(p.magic), image);
  stlong(p.reserved1, image + 4);
  stlong(p.closed, image + 8);
  stlong(p.reserved2, image + 12);
  std::memcpy(image + 16, p.next, kNameSize);
  std::memcpy(image + 48, p.prev, kNameSize);
  image[16 + kNameSize - 1] = 0;
  image[48 + kNameSize - 1] = 0;
}

bool Journal::loadPrefix(JournalPrefix& p, unsigned char const* image) {
  if (uint32_t(ldlong(image)) != kMagic) return false;
  p.magic = kMagic;
  p.reserved1 = ldlong(image + 4);
  p.closed = ldlong(image + 8);
  p.reserved2 = ldlong(image + 12);
  std::memcpy(p.next, image + 16, kNameSize);
  std::memcpy(p.prev, image + 48, kNameSize);
  p.next[kNameSize - 1] = 0;
  p.prev[kNameSize - 1] = 0;
  return true;
}

bool Journal::openFile(String const& path, bool create) {
  closeFd();
  path_ = path;
  int flags = O_RDWR | O_CLOEXEC;
  if (create) flags |= O_CREAT | O_EXCL;
  fd_ = fileOps().open(toCharPtr(path), flags, 0666);
  errNo_ = fd_ < 0 ? (errno != 0 ? errno : EIO) : 0;
  return fd_ >= 0;
}

void Journal::closeFd() {
  if (fd_ >= 0) fileOps().close(fd_);
  fd_ = -1;
}

bool Journal::writeAt(int64_t offset, void const* bytes, int64_t length) {
  if (fd_ < 0 || errNo_ != 0) return false;
  if (offset + length > limit_) {
    errNo_ = EFBIG;
    return false;
  }
  char const* p = static_cast<char const*>(bytes);
  int64_t done = 0;
  while (done < length) {
    ssize_t const n = fileOps().pwrite(fd_, p + done, size_t(length - done), off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      errNo_ = errno != 0 ? errno : EIO;
      return false;
    }
    done += n;
  }
  return true;
}

void Journal::initFile(String const& prev) {
  prefix_ = JournalPrefix();
  prefix_.magic = kMagic;
  prefix_.closed = 0;
  copyName(prefix_.prev, prev);
  unsigned char image[kPrefixSize];
  storePrefix(image, prefix_);
  if (writeAt(0, image, kPrefixSize) && fileOps().fsync(fd_) != 0) errNo_ = errno != 0 ? errno : EIO;
}

void Journal::closeFile(String const& next) {
  prefix_.closed = 1;
  copyName(prefix_.next, next);
  unsigned char image[kPrefixSize];
  storePrefix(image, prefix_);
  if (writeAt(0, image, kPrefixSize) && fileOps().fsync(fd_) != 0) errNo_ = errno != 0 ? errno : EIO;
  closeFd();
}

bool Journal::newFile() {
  char* made = zfTempnam(toCharPtr(dir_), kPrefix);
  if (made == nullptr) {
    errNo_ = errno != 0 ? errno : EIO;
    return false;
  }
  String const path(made);
  std::free(made);
  String const base = baseOf(path);
  String prev;
  if (fd_ >= 0 && errNo_ == 0) {
    if (state_ == WRITING) flush();
    // A file read at restart that ended in a cut record is cut there, so
    // that no closed file ends in a partial record.
    if (state_ != WRITING && cutAt_ >= kPrefixSize) {
      if (fileOps().ftruncate(fd_, off_t(cutAt_)) != 0) errNo_ = errno != 0 ? errno : EIO;
    }
    prev = baseName();
    if (errNo_ == 0) closeFile(base);
  }
  cutAt_ = -1;
  if (!openFile(path, false)) return false;
  initFile(prev);
  syncDirectory(toCharPtr(dir_));
  wbase_ = rbase_ = kPrefixSize;
  wptr_ = rptr_ = rend_ = 0;
  state_ = WRITING;
  return errNo_ == 0;
}

bool Journal::setBuffLen(int32_t kb) {
  if (kb < kMinBuffKb || state_ == RESTART) return false;
  flush();
  buf_.assign(size_t(kb) * 1024, 0);
  wptr_ = rptr_ = rend_ = 0;
  rbase_ = wbase_;
  if (state_ == READBACK) state_ = WRITING;
  return true;
}

String Journal::findOldestFile() {
  DIR* d = opendir(toCharPtr(dir_));
  if (d == nullptr) return String("");
  std::string best;
  struct timespec bestTime{};
  while (dirent* e = readdir(d)) {
    if (!matchesPattern(e->d_name)) continue;
    struct stat st{};
    std::string const full = std::string(toCharPtr(dir_)) + "/" + e->d_name;
    if (stat(full.c_str(), &st) != 0) continue;
    if (best.empty() || st.st_mtim.tv_sec < bestTime.tv_sec ||
        (st.st_mtim.tv_sec == bestTime.tv_sec && st.st_mtim.tv_nsec < bestTime.tv_nsec)) {
      best = e->d_name;
      bestTime = st.st_mtim;
    }
  }
  closedir(d);
  return String(best.c_str());
}

String Journal::findNextFile(String const& name) {
  DIR* d = opendir(toCharPtr(dir_));
  if (d == nullptr) return String("");
  std::string found;
  while (dirent* e = readdir(d)) {
    if (!matchesPattern(e->d_name)) continue;
    JournalPrefix p;
    bool bad = false;
    String const full = dir_ + String("/") + String(e->d_name);
    if (!readPrefixOf(full, p, bad)) {
      // A file being created has no prefix yet; only a whole wrong prefix
      // is damage.
      if (bad) {
        struct stat st{};
        if (stat(toCharPtr(full), &st) == 0 && st.st_size >= kPrefixSize) {
          setDamage((std::string("journal file ") + e->d_name + " has no journal prefix").c_str());
        }
      }
      continue;
    }
    if (nameOf(p.prev) == name) {
      found = e->d_name;
      break;
    }
  }
  closedir(d);
  return String(found.c_str());
}

bool Journal::nearLimit() const { return int64_t(currWrOffset()) >= limit_ - margin_; }

void Journal::setOffsetLimit(int64_t limit, int64_t margin) {
  limit_ = limit > kMaxOffset ? kMaxOffset : limit;
  margin_ = margin;
}

// ---- writing ----------------------------------------------------------------

void Journal::toWriting() {
  if (state_ == WRITING) return;
  state_ = WRITING;
  wptr_ = 0;
  rptr_ = rend_ = 0;
}

int32_t Journal::store(int32_t length, void const* bytes) {
  if (!ok() || length < 0) return -1;
  toWriting();
  int32_t const cap = buffLen();
  if (length > cap) {
    // An item longer than the buffer goes straight to the file.
    flush();
    int64_t const at = wbase_;
    if (!writeAt(at, bytes, length)) return -1;
    wbase_ += length;
    return int32_t(at);
  }
  if (wptr_ + length > cap) flush();
  int64_t const at = wbase_ + wptr_;
  if (at + length > limit_) {
    errNo_ = EFBIG;
    return -1;
  }
  std::memcpy(buf_.data() + wptr_, bytes, size_t(length));
  wptr_ += length;
  return int32_t(at);
}

int32_t Journal::store(int32_t v) {
  unsigned char b[4];
  stlong(v, b);
  return store(4, b);
}

int32_t Journal::store(String const& s) {
  int32_t const n = int32_t(s.length());
  int32_t const at = store(n);
  if (n > 0) store(n, toCharPtr(s));
  return at;
}

int32_t Journal::store(TimeStamp const& ts) {
  char b[8];
  char* p = b;
  ts.store(p);
  return store(8, b);
}

bool Journal::flush() {
  if (state_ != WRITING || fd_ < 0) return false;
  lastFlush_ = TimeStamp::lastStamp();
  ++nFlushes_;
  if (wptr_ == 0) return false;
  int32_t const n = wptr_;
  wptr_ = 0;
  if (!writeAt(wbase_, buf_.data(), n)) return false;
  wbase_ += n;
  if (fileOps().fsync(fd_) != 0) {
    errNo_ = errno != 0 ? errno : EIO;
    return false;
  }
  return true;
}

bool Journal::sync() { return flush(); }

int32_t Journal::currWrOffset() const { return int32_t(wbase_ + (state_ == WRITING ? wptr_ : 0)); }

int32_t Journal::currRdOffset() const { return int32_t(rbase_ + rptr_); }

int32_t Journal::storeHeader(int32_t op, int32_t length, Client* c, int32_t word, int32_t recOid) {
  JournalTrans t;
  if (c != nullptr) {
    t.clientId = c->id();
    t.transNum = c->transNum();
    t.lastOffset = c->rollbackStart(0);
    t.lastLength = c->rollbackStart(1);
  }
  return storeHeader(op, length, t, word, recOid);
}

int32_t Journal::storeHeader(int32_t op, int32_t length, JournalTrans const& t, int32_t word, int32_t recOid) {
  unsigned char h[kHeaderSize];
  stlong(op, h);
  stlong(length, h + 4);
  stlong(t.clientId, h + 8);
  stlong(t.transNum, h + 12);
  stlong(t.lastOffset, h + 16);
  stlong(t.lastLength, h + 20);
  stlong(word, h + 24);
  stlong(recOid, h + 28);
  // The header and at least its first body bytes stay together.
  if (ok() && state_ == WRITING && wptr_ + kHeaderSize > buffLen()) flush();
  return store(kHeaderSize, h);
}

void Journal::storeLengthBack(int32_t at) {
  if (at < 0 || !ok()) return;
  int32_t const size = currWrOffset() - kHeaderSize - at;
  unsigned char b[4];
  stlong(size, b);
  if (int64_t(at) >= wbase_)
    std::memcpy(buf_.data() + (at - wbase_) + 4, b, 4);
  else
    writeAt(int64_t(at) + 4, b, 4);
}

int32_t Journal::chained(Client* c, int32_t at, int32_t total) {
  if (at >= 0 && c != nullptr && ok()) c->setRollbackStart(at, total);
  return ok() ? at : -1;
}

int32_t Journal::putRow(int32_t kind, Client* c, JournalRowLayout const& l, int32_t word, char const* image) {
  int32_t const body = l.recordLength - 8;
  int32_t const oid = ldlong(image + 16);
  int32_t const at = storeHeader(kind, body, c, word, oid);
  store(body, image + 8);
  return chained(c, at, body + kHeaderSize);
}

void Journal::putAdd(Client* c, SvTable* t, int32_t, char const* image) {
  putRow(ADD, c, JournalRowLayout::of(t), tableWord(t->oid()), image);
}

void Journal::putDel(Client* c, SvTable* t, int32_t, char const* image) {
  putRow(DEL, c, JournalRowLayout::of(t), tableWord(t->oid()), image);
}

void Journal::putUpdate(Client* c, SvTable* t, int32_t, int32_t, char const* newImage, char const* oldImage,
                        bool pKeyChanged) {
  putUpdateRow(c, JournalRowLayout::of(t), tableWord(t->oid()), newImage, oldImage, pKeyChanged);
}

int32_t Journal::putUpdateRow(Client* c, JournalRowLayout const& l, int32_t word, char const* newImage,
                              char const* oldImage, bool pKeyChanged) {
  int32_t const at = storeHeader(pKeyChanged ? UPDATEPKEY : UPDATE, -1, c, word, ldlong(newImage + 16));
  auto keys = [&](char const* image) {
    for (JournalRowLayout::Part const& p : l.keyParts)
      if (p.length > 0) store(p.length, image + p.offset);
  };
  keys(newImage);
  if (pKeyChanged) keys(oldImage);
  store(l.prefixSize - 8, newImage + 8);
  store(l.prefixSize - 8, oldImage + 8);
  for (JournalRowLayout::Field const& f : l.fields) {
    if (f.length <= 0 || std::memcmp(newImage + f.offset, oldImage + f.offset, size_t(f.length)) == 0) continue;
    unsigned char const n = static_cast<unsigned char>(f.number);
    store(1, &n);
    store(f.length, newImage + f.offset);
    store(f.length, oldImage + f.offset);
  }
  unsigned char const end = 0xFF;
  store(1, &end);
  storeLengthBack(at);
  return chained(c, at, currWrOffset() - at);
}

int32_t Journal::putEndTransaction(Client* c) {
  int32_t const at = storeHeader(ENDTRANSACTION, 0, c, 0, 0);
  return chained(c, at, kHeaderSize);
}

int32_t Journal::putAbortTransaction(Client* c) {
  int32_t const at = storeHeader(ABORTTRANSACTION, 0, c, 0, 0);
  return chained(c, at, kHeaderSize);
}

int32_t Journal::putAbortTransaction(JournalTrans const& t) {
  int32_t const at = storeHeader(ABORTTRANSACTION, 0, t, 0, 0);
  return ok() ? at : -1;
}

bool Journal::resumeWriting() {
  if (state_ == WRITING || !ok() || prefix_.closed != 0 || readEnd_ < kPrefixSize) return false;
  // The end of what forward reading accepted; a cut record is cut off.
  int64_t const end = readEnd_;
  if (cutAt_ >= kPrefixSize && fileOps().ftruncate(fd_, off_t(end)) != 0) {
    errNo_ = errno != 0 ? errno : EIO;
    return false;
  }
  cutAt_ = readEnd_ = -1;
  inRecord_ = false;
  state_ = WRITING;
  wbase_ = rbase_ = end;
  wptr_ = rptr_ = rend_ = 0;
  return true;
}

int32_t Journal::putReadyToEnd(Client* c, String const& leader, int32_t nServers, TimeStamp const& stamp) {
  int32_t const at = storeHeader(READYTOEND, -1, c, 0, 0);
  store(leader);
  store(nServers);
  store(stamp);
  storeLengthBack(at);
  return chained(c, at, currWrOffset() - at);
}

int32_t Journal::putAddSchema(Client* c, String const& name, int32_t schemaId) {
  int32_t const at = storeHeader(ADDSCHEMA, -1, c, 0, 0);
  store(name);
  store(schemaId);
  storeLengthBack(at);
  return chained(c, at, currWrOffset() - at);
}

int32_t Journal::putDelSchema(Client* c, String const& name) {
  int32_t const at = storeHeader(DELSCHEMA, -1, c, 0, 0);
  store(name);
  storeLengthBack(at);
  return chained(c, at, currWrOffset() - at);
}

int32_t Journal::putAddClient(JournalClient const& id) {
  int32_t const at = storeHeader(ADDCLIENT, -1, nullptr, 0, 0);
  store(id.id);
  store(id.pid);
  store(id.path);
  store(id.args);
  store(id.uid);
  store(id.gid);
  store(id.node);
  store(id.tty);
  storeLengthBack(at);
  return ok() ? at : -1;
}

int32_t Journal::putDelClient(int32_t id) {
  int32_t const at = storeHeader(DELCLIENT, -1, nullptr, 0, 0);
  store(id);
  storeLengthBack(at);
  return ok() ? at : -1;
}

int32_t Journal::putActiveTransTable(int32_t n) {
  activeAt_ = storeHeader(ACTIVETRANS, -1, nullptr, 0, 0);
  store(n);
  return ok() ? activeAt_ : -1;
}

int32_t Journal::putTrans(JournalTrans const& t) {
  int32_t const at = store(t.clientId);
  store(t.transNum);
  store(t.lastOffset);
  store(t.lastLength);
  store(t.leader);
  store(t.leaderStamp);
  return ok() ? at : -1;
}

int32_t Journal::putDefDel(int32_t word, int32_t recno) {
  int32_t const at = store(recno);
  store(word);
  return ok() ? at : -1;
}

int32_t Journal::putEndDefDels() { return store(-1); }

void Journal::putEndActiveTrans() {
  storeLengthBack(activeAt_);
  activeAt_ = -1;
}

int32_t Journal::putCompleteTransTable(int32_t n) {
  int32_t const at = storeHeader(COMPLETETRANS, 12 * n + 4, nullptr, 0, 0);
  store(n);
  return ok() ? at : -1;
}

int32_t Journal::putCompleteTransItem(TimeStamp const& stamp, int32_t nParticipants) {
  int32_t const at = store(stamp);
  store(nParticipants);
  return ok() ? at : -1;
}

// ---- reading ----------------------------------------------------------------

bool Journal::setDamage(char const* what) {
  damage_ = String(("journal file " + std::string(toCharPtr(baseName())) + ", offset " +
                    std::to_string(recStart_ >= 0 ? recStart_ : currRdOffset()) + ": " + what)
                       .c_str());
  return false;
}

bool Journal::fill(int64_t from, int32_t need) {
  if (fd_ < 0) return false;
  if (need > buffLen()) buf_.resize(size_t(need));
  int64_t const n = readAll(fd_, buf_.data(), buffLen(), from);
  rbase_ = from;
  rptr_ = 0;
  if (n < 0) {
    rend_ = 0;
    errNo_ = errno != 0 ? errno : EIO;
    return false;
  }
  rend_ = int32_t(n);
  return rend_ >= need;
}

bool Journal::goForw(int32_t len) {
  if (rend_ - rptr_ >= len) return true;
  return fill(rbase_ + rptr_, len);
}

bool Journal::restart(String const& name, int32_t offset) {
  if (state_ == WRITING) flush();
  state_ = RESTART;
  wbase_ = kPrefixSize;
  wptr_ = 0;
  closeFd();
  cutAt_ = readEnd_ = -1;
  recStart_ = -1;
  damage_ = String("");
  inRecord_ = false;
  if (name.length() == 0) {
    path_ = String("");
    clearPrefix(1);
    return false;
  }
  if (!openFile(dir_ + String("/") + name, false)) {
    clearPrefix(1);
    return false;
  }
  if (offset < kPrefixSize) offset = kPrefixSize;
  rptr_ = rend_ = 0;
  rbase_ = offset;
  fill(offset, 0);
  if (errNo_ != 0) return false;
  return updateHeader();
}

bool Journal::resetRestart(int32_t offset) {
  if (fd_ < 0) return false;
  if (state_ == WRITING) flush();
  state_ = RESTART;
  recStart_ = -1;
  readEnd_ = -1;
  rptr_ = rend_ = 0;
  inRecord_ = false;
  rbase_ = offset < kPrefixSize ? kPrefixSize : offset;
  return fill(rbase_, 0) || errNo_ == 0;
}

bool Journal::updateHeader() {
  if (fd_ < 0 || errNo_ != 0) return false;
  unsigned char image[kPrefixSize];
  if (readAll(fd_, reinterpret_cast<char*>(image), kPrefixSize, 0) != kPrefixSize) {
    recStart_ = 0;
    setDamage("no journal prefix");
    recStart_ = -1;
    return false;
  }
  if (!loadPrefix(prefix_, image)) {
    recStart_ = 0;
    setDamage("wrong magic number");
    recStart_ = -1;
    return false;
  }
  return true;
}

bool Journal::nextFile() {
  String next = nameOf(prefix_.next);
  if (prefix_.closed != 0 && next.length() == 0) {
    if (firstNext_) {
      next = findOldestFile();
    } else {
      next = findNextFile(baseName());
      if (next == baseName()) return false;
    }
  }
  if (next.length() == 0) return false;
  firstNext_ = false;
  return restart(next, kPrefixSize);
}

int32_t Journal::nextOp(int32_t& clientId, int32_t& transNum, SvTable*& table, int32_t& offset, int32_t& length) {
  offset = length = -1;
  table = nullptr;
  if (fd_ < 0 || errNo_ != 0) return -1;
  if (state_ != RESTART) return -1;
  // Whatever of the previous record's body was not read is skipped.
  if (inRecord_ && recEndIdx_ >= rptr_ && recEndIdx_ <= rend_) rptr_ = recEndIdx_;
  inRecord_ = false;
  for (;;) {
    recStart_ = currRdOffset();
    if (!goForw(kHeaderSize)) {
      if (errNo_ != 0) return -1;
      if (rend_ - rptr_ > 0) {
        // A cut header: the end of a file being written, damage in a closed one.
        if (prefix_.closed != 0) return setDamage("record header cut short"), kDamaged;
        cutAt_ = recStart_;
      }
      readEnd_ = recStart_;
      return -1;
    }
    char const* h = buf_.data() + rptr_;
    for (int i = 0; i < 8; ++i) hdr_[i] = ldlong(h + 4 * i);
    int32_t const kind = hdr_[0];
    int32_t const body = hdr_[1];
    if (kind < ADD || kind > DELCLIENT) return setDamage("unknown record kind"), kDamaged;
    if (body == -1) {
      // Written up to its length: the server stopped while writing it.
      if (prefix_.closed != 0) return setDamage("record never finished"), kDamaged;
      cutAt_ = readEnd_ = recStart_;
      return -1;
    }
    if (body < 0 || int64_t(recStart_) + kHeaderSize + body > kMaxOffset)
      return setDamage("record length out of range"), kDamaged;
    if (!goForw(kHeaderSize + body)) {
      if (errNo_ != 0) return -1;
      if (prefix_.closed != 0) return setDamage("record runs past the end of the file"), kDamaged;
      cutAt_ = readEnd_ = recStart_;
      return -1;
    }
    recEndIdx_ = rptr_ + kHeaderSize + body;
    rptr_ += kHeaderSize;
    offset = recStart_;
    length = body + kHeaderSize;
    clientId = hdr_[2];
    transNum = hdr_[3];
    inRecord_ = true;
    if (hdr_[6] == 0) return kind;
    table = locateTable(hdr_[6]);
    if (table != nullptr) return kind;
    inRecord_ = false;
    // A record of a table that is gone: skipped.
    rptr_ = recEndIdx_;
  }
}

bool Journal::readRecordAt(int32_t offset, int32_t total) {
  if (total < kHeaderSize || offset < kPrefixSize) return setDamage("chain points outside the file");
  if (!(rbase_ <= offset && int64_t(offset) + total <= rbase_ + rend_)) {
    int64_t from = int64_t(offset) + total - buffLen();
    if (from < kPrefixSize) from = kPrefixSize;
    if (from > offset) from = offset;
    if (!fill(from, int32_t(int64_t(offset) + total - from))) {
      if (errNo_ == 0) setDamage("chain points past the end of the file");
      return false;
    }
  }
  rptr_ = int32_t(offset - rbase_);
  return true;
}

int32_t Journal::prevOp(SvTable*& table, int32_t& offset, int32_t& length) {
  table = nullptr;
  if (offset == -1) return -1;
  if (fd_ < 0 || errNo_ != 0) return -1;
  if (state_ == WRITING) {
    flush();
    rbase_ = wbase_;
    rptr_ = rend_ = 0;
  }
  state_ = READBACK;
  inRecord_ = false;
  recStart_ = offset;
  if (!readRecordAt(offset, length)) return kDamaged;
  char const* h = buf_.data() + rptr_;
  for (int i = 0; i < 8; ++i) hdr_[i] = ldlong(h + 4 * i);
  if (hdr_[0] < ADD || hdr_[0] > DELCLIENT) return setDamage("unknown record kind"), kDamaged;
  if (hdr_[1] < 0 || hdr_[1] + kHeaderSize != length) return setDamage("record length differs from its chain"), kDamaged;
  recEndIdx_ = rptr_ + length;
  rptr_ += kHeaderSize;
  offset = hdr_[4];
  length = hdr_[5];
  if (hdr_[6] != 0) table = locateTable(hdr_[6]);
  return hdr_[0];
}

int32_t Journal::bodyLeft() const { return recEndIdx_ - rptr_; }

bool Journal::load(int32_t length, void* dest) {
  if (length < 0 || length > bodyLeft()) return setDamage("item runs past its record");
  if (dest != nullptr) std::memcpy(dest, buf_.data() + rptr_, size_t(length));
  rptr_ += length;
  return true;
}

bool Journal::load(int32_t& v) {
  unsigned char b[4];
  if (!load(4, b)) return false;
  v = ldlong(b);
  return true;
}

bool Journal::load(String& s) {
  int32_t n = 0;
  if (!load(n)) return false;
  if (n < 0 || n > bodyLeft()) return setDamage("string runs past its record");
  s = String(long(n), buf_.data() + rptr_);
  rptr_ += n;
  return true;
}

bool Journal::load(TimeStamp& ts) {
  char b[8];
  if (!load(8, b)) return false;
  char const* p = b;
  ts.load(p);
  return true;
}

bool Journal::getRow(JournalRowLayout const& l, char* record) {
  if (l.recordLength - 8 != bodyLeft()) return setDamage("row length differs from its table");
  return load(l.recordLength - 8, record != nullptr ? record + 8 : nullptr);
}

bool Journal::getAdd(SvTable* t, char* record) {
  if (t == nullptr) return setDamage("row of no table");
  return getRow(JournalRowLayout::of(t), record);
}

bool Journal::getDel(SvTable* t, char* record) { return getAdd(t, record); }

bool Journal::getUpdateKey(JournalRowLayout const& l, char* record) {
  for (JournalRowLayout::Part const& p : l.keyParts) {
    if (p.length <= 0) continue;
    if (record != nullptr && p.offset + p.length > l.recordLength) return setDamage("key part outside the row");
    if (!load(p.length, record != nullptr ? record + p.offset : nullptr)) return false;
  }
  return true;
}

bool Journal::getUpdateKey(SvTable* t, char* record) {
  if (t == nullptr) return setDamage("row of no table");
  return getUpdateKey(JournalRowLayout::of(t), record);
}

bool Journal::getUpdatePart(JournalRowLayout const& l, char* record, bool takeNew) {
  int32_t const pre = l.prefixSize - 8;
  if (pre < 0) return setDamage("row prefix out of range");
  if (!load(pre, takeNew && record != nullptr ? record + 8 : nullptr)) return false;
  if (!load(pre, !takeNew && record != nullptr ? record + 8 : nullptr)) return false;
  for (;;) {
    unsigned char n = 0;
    if (!load(1, &n)) return false;
    if (n == 0xFF) return true;
    JournalRowLayout::Field const* f = nullptr;
    for (JournalRowLayout::Field const& g : l.fields)
      if (g.number == n) f = &g;
    if (f == nullptr || f->offset + f->length > l.recordLength) return setDamage("update names no stored field");
    char* dest = record != nullptr ? record + f->offset : nullptr;
    if (!load(f->length, takeNew ? dest : nullptr)) return false;
    if (!load(f->length, takeNew ? nullptr : dest)) return false;
  }
}

bool Journal::getUpdateNew(JournalRowLayout const& l, char* record) { return getUpdatePart(l, record, true); }
bool Journal::getUpdateOld(JournalRowLayout const& l, char* record) { return getUpdatePart(l, record, false); }

bool Journal::getUpdateNew(SvTable* t, char* record) {
  if (t == nullptr) return setDamage("row of no table");
  return getUpdatePart(JournalRowLayout::of(t), record, true);
}

bool Journal::getUpdateOld(SvTable* t, char* record) {
  if (t == nullptr) return setDamage("row of no table");
  return getUpdatePart(JournalRowLayout::of(t), record, false);
}

bool Journal::getReadyToEnd(String& leader, int32_t& nServers, TimeStamp& stamp) {
  return load(leader) && load(nServers) && load(stamp);
}

int32_t Journal::getActiveTransTable() {
  int32_t n = 0;
  if (!load(n)) return -1;
  // Each entry takes at least 32 bytes.
  if (n < 0 || int64_t(n) * 32 > bodyLeft()) return setDamage("transaction count out of range"), -1;
  return n;
}

bool Journal::getTrans(JournalTrans& t) {
  return load(t.clientId) && load(t.transNum) && load(t.lastOffset) && load(t.lastLength) && load(t.leader) &&
         load(t.leaderStamp);
}

bool Journal::getDefDel(int32_t& word, int32_t& recno) {
  word = 0;
  if (!load(recno)) return false;
  if (recno == -1) return true;
  return load(word);
}

int32_t Journal::getCompleteTransTable() {
  int32_t n = 0;
  if (!load(n)) return -1;
  if (n < 0 || int64_t(n) * 12 != bodyLeft()) return setDamage("completed transaction count out of range"), -1;
  return n;
}

bool Journal::getCompleteTransItem(TimeStamp& stamp, int32_t& n) { return load(stamp) && load(n); }

bool Journal::getAddSchema(String& name, int32_t& id) { return load(name) && load(id); }

bool Journal::getDelSchema(String& name) { return load(name); }

bool Journal::getAddClient(JournalClient& c) {
  return load(c.id) && load(c.pid) && load(c.path) && load(c.args) && load(c.uid) && load(c.gid) && load(c.node) &&
         load(c.tty);
}

bool Journal::getDelClient(int32_t& id) { return load(id); }

SvTable* Journal::locateTable(int32_t word) {
  if (finder_ != nullptr) return finder_(word);
  uint32_t const w = uint32_t(word);
  SvTabRep* rep = dynamic_cast<SvTabRep*>(PObject::find(ObjectId((w & 0xFFFFF000u) | 1u, w & 0xFFFu)));
  if (rep == nullptr) {
    // Instance numbers above 4095 keep only their low 12 bits in the word;
    // table creation keeps those unique within a schema.
    for (SvSchema* s = SvSchema::first(); s != nullptr && rep == nullptr; s = s->next()) {
      for (int32_t i = 0; i < s->tablesDim(); ++i) {
        SvTabRep* r = s->table(i);
        if (r != nullptr && tableWord(r->oid()) == word) {
          rep = r;
          break;
        }
      }
    }
  }
  if (rep == nullptr) return nullptr;
  return dynamic_cast<SvTable*>(rep->findTable(-1));
}

char const* Journal::opName(int32_t kind) {
  static char const* const names[] = {"ADD",         "DEL",           "UPDATE",   "ENDTRANSACTION", "ABORTTRANSACTION",
                                      "ACTIVETRANS", "UPDATEPKEY",    "READYTOEND", "COMPLETETRANS", "ADDSCHEMA",
                                      "DELSCHEMA",   "ADDCLIENT",     "DELCLIENT"};
  if (kind < 0 || kind > DELCLIENT) return "<<<INVALID>>>";
  return names[kind];
}
