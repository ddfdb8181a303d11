// The server's configuration keys: defaults, reading with checks, setters,
// the schema registry with its ids, and storing in the fixed key order.
#include <svcore/SvConfigFile.h>

#include <svcore/Server.h>

#include <zfound/Message.h>

#include <cctype>
#include <vector>

namespace {

constexpr int32_t kMaxSchemaId = 0xFFFFF;  // 20 bits: 8 + 6 + 6
constexpr int32_t kMaxCachePageKb = 16;

// The entries of a ','-separated list.
std::vector<String> entries(String const& list) {
  std::vector<String> out;
  if (list.isNull())
    return out;
  char const* s = toCharPtr(list);
  long n = list.length();
  long start = 0;
  for (long i = 0; i <= n; ++i) {
    if (i == n || s[i] == ',') {
      out.emplace_back(s + start, i - start);
      start = i + 1;
    }
  }
  return out;
}

// The ':'-separated fields of one entry.
std::vector<String> fields(String const& entry) {
  std::vector<String> out;
  char const* s = toCharPtr(entry);
  long n = entry.length();
  long start = 0;
  for (long i = 0; i <= n; ++i) {
    if (i == n || s[i] == ':') {
      out.emplace_back(s + start, i - start);
      start = i + 1;
    }
  }
  return out;
}

String join(std::vector<String> const& parts, char const* sep) {
  String out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i)
      out += sep;
    out += parts[i];
  }
  return out;
}

void putLine(FILE* f, char const* key, String const& value) {
  String line = String(key) + "\t\t" + value + "\n";
  std::fwrite(toCharPtr(line), 1, size_t(line.length()), f);
}

void putLine(FILE* f, char const* key, int32_t value) { putLine(f, key, toString(value)); }

// A text key whose reading refuses an empty value: left out while empty,
// so that the stored file reads back.
void putText(FILE* f, char const* key, String const& value) {
  if (value.length() > 0)
    putLine(f, key, value);
}

bool allDigits(String const& s) {
  if (s.length() == 0)
    return false;
  char const* p = toCharPtr(s);
  for (long i = 0; i < s.length(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(p[i])))
      return false;
  return true;
}

}  // namespace

SvConfigFile::SvConfigFile() { setDefaults(); }

SvConfigFile::SvConfigFile(String const& name) {
  setDefaults();
  read(name, 'i');
}

SvConfigFile::~SvConfigFile() = default;

void SvConfigFile::setDefaults() {
  options_ = 1;
  cachePageSize_ = 1;
  cacheSize_ = 256;
  ckPointFreq_ = 3600;
  ckPointLowBound_ = 300;
  ckPointUpBound_ = 15;
  tolerant_ = true;
  dbase_ = String();
  diskConfiguration_ = String();
  handleVersions_ = false;
  hkMsgBound_ = 100;
  journalBuff_ = 32;
  journalDir_ = String();
  journalFlushFreq_ = 0;
  numLocks_ = 1024;
  numLocksPClient_ = 256;
  lkUnifyBound_ = 200;
  lkUnifyPercent_ = 0;
  lkWait_ = 120;
  matureTime_ = 600;
  maxAttachsPClient_ = 0;
  nextSchId_ = -1;
  numNotifies_ = 1024;
  pendLockNotifTime_ = 0;
  profFile_ = String();
  profileFreq_ = 0;
  runLogFile_ = "/var/log/ombrel.log";
  stateFile_ = "/etc/ombrel.state";
  transTimeOut_ = 0;
}

int32_t SvConfigFile::toLong(String const& value) { return toInt(value, 10); }

bool SvConfigFile::toBool(String const& value) {
  if (icmp(value, "true") == 0 || icmp(value, "on") == 0)
    return true;
  if (icmp(value, "false") == 0 || icmp(value, "off") == 0)
    return false;
  return toLong(value) != 0;
}

int32_t SvConfigFile::schemaId(int32_t a, int32_t b, int32_t c) {
  return (a & 255) << 12 | (b & 63) << 6 | (c & 63);
}

int32_t SvConfigFile::parseSchemaId(String const& text) {
  std::vector<String> parts;
  char const* s = toCharPtr(text);
  long n = text.length();
  long start = 0;
  for (long i = 0; i <= n; ++i) {
    if (i == n || s[i] == '.') {
      parts.emplace_back(s + start, i - start);
      start = i + 1;
    }
  }
  if (parts.size() != 3)
    return -1;
  for (String const& p : parts)
    if (!allDigits(p))
      return -1;
  return schemaId(toLong(parts[0]), toLong(parts[1]), toLong(parts[2]));
}

String SvConfigFile::schemaIdText(int32_t id) {
  return toString((id >> 12) & 255) + "." + toString((id >> 6) & 63) + "." + toString(id & 63);
}

void SvConfigFile::resolveOthers(Token token, String const& keyword, String const& value, int32_t line) {
  bool mayBeEmpty = token == TK_JOURNALDIR || token == TK_RUNLOGFILE || token == TK_NEXTSCHEMAID;
  bool known = token != TK_UNKNOWN && token != TK_HOST && token != TK_SCHEMAS && token != TK_NAMESPACES &&
               token != TK_SERVERID && token != TK_OBJECTREPOSITORY;
  if (!known) {
    warning(appMsg("UNKNOWNSVENTRY"), toCharPtr(keyword));
    return;
  }
  if (!mayBeEmpty && !checkNullValue(keyword, value, line))
    return;
  int32_t v = toLong(value);
  switch (token) {
  case TK_BACKUP: options_ = toBool(value) ? (options_ | 1) : (options_ & ~1); break;
  case TK_MIRRORING: options_ = toBool(value) ? (options_ | 2) : (options_ & ~2); break;
  case TK_CACHEPAGESIZE:
    if (v < 1 || v > kMaxCachePageKb) {
      error(appMsg("INVCACHEPAGESIZE"), v);
      return;
    }
    cachePageSize_ = v;
    break;
  case TK_CACHESIZE: cacheSize_ = v; break;
  case TK_CKPOINTFREQ: ckPointFreq_ = v; break;
  case TK_CKPOINTLOWBOUND: ckPointLowBound_ = v; break;
  case TK_CKPOINTUPBOUND: ckPointUpBound_ = v; break;
  case TK_CORRUPTIONTOLERANT: tolerant_ = toBool(value); break;
  case TK_DBASE: {
    String d = value;
    while (d.length() > 1 && toCharPtr(d)[d.length() - 1] == '/')
      d = String(toCharPtr(d), d.length() - 1);
    dbase_ = d;
    break;
  }
  case TK_DISKCONFIGURATION: diskConfiguration_ = value; break;
  case TK_HANDLEVERSIONS: handleVersions_ = toBool(value); break;
  case TK_HKEEPINGMSGBOUND: hkMsgBound_ = v; break;
  case TK_JOURNALBUFFER: journalBuff_ = v; break;
  case TK_JOURNALDIR: journalDir_ = value; break;
  case TK_JOURNALFLUSHFREQ: journalFlushFreq_ = v; break;
  case TK_LOCKS: numLocks_ = v; break;
  case TK_LOCKSPERCLIENT: numLocksPClient_ = v; break;
  case TK_LOCKUNIFYBOUND: lkUnifyBound_ = v; break;
  case TK_LOCKUNIFYPERCENT: lkUnifyPercent_ = v < 0 ? 0 : (v > 100 ? 100 : v); break;
  case TK_LOCKWAIT: lkWait_ = v; break;
  case TK_MATURETIME: matureTime_ = v; break;
  case TK_MAXATTACHSPERCLIENT: maxAttachsPClient_ = v; break;
  case TK_NEXTSCHEMAID: {
    int32_t id = parseSchemaId(value);
    if (id <= 0) {
      warning(appMsg("USINGDEFNEXTSCHID"));
      id = -1;
    }
    nextSchId_ = id;
    break;
  }
  case TK_NOTIFIES: numNotifies_ = v; break;
  case TK_PENDLOCKNOTIFTIME: pendLockNotifTime_ = v; break;
  case TK_PROFILEFILE: profFile_ = value; break;
  case TK_PROFILEFREQUENCY:
    if (v < 0) {
      error(appMsg("INVPROFFREQ"), v);
      return;
    }
    profileFreq_ = v;
    break;
  case TK_RUNLOGFILE: runLogFile_ = value; break;
  case TK_STATEFILE: stateFile_ = value; break;
  case TK_TRANSTIMEOUT: transTimeOut_ = v; break;
  default: break;
  }
}

void SvConfigFile::storeOthers(FILE* f) {
  // An unset next id is left out: 255.63.63 would read back as a valid id.
  if (nextSchId_ >= 0)
    putLine(f, "NextSchemaId", schemaIdText(nextSchId_));
  putLine(f, "CacheSize", cacheSize_);
  putLine(f, "CkPointFreq", ckPointFreq_);
  putLine(f, "CkPointLowBound", ckPointLowBound_);
  putLine(f, "CkPointUpBound", ckPointUpBound_);
  putLine(f, "CorruptionTolerant", tolerant_ ? 1 : 0);
  putText(f, "Dbase", dbase_);
  putLine(f, "HandleVersions", handleVersions_ ? 1 : 0);
  putLine(f, "HKeepingMsgBound", hkMsgBound_);
  putLine(f, "Locks", numLocks_);
  putLine(f, "LocksPerClient", numLocksPClient_);
  putLine(f, "LockUnifyBound", lkUnifyBound_);
  putLine(f, "LockUnifyPercent", lkUnifyPercent_);
  putLine(f, "LockWait", lkWait_);
  putLine(f, "PendLockNotifTime", pendLockNotifTime_);
  putLine(f, "Backup", options_ & 1);
  putLine(f, "Mirroring", (options_ >> 1) & 1);
  putLine(f, "Notifies", numNotifies_);
  putLine(f, "RunLogFile", runLogFile_);
  putText(f, "StateFile", stateFile_);
  putLine(f, "JournalBuffer", journalBuff_);
  putLine(f, "JournalDir", journalDir_);
  putLine(f, "JournalFlushFreq", journalFlushFreq_);
  putLine(f, "TransTimeOut", transTimeOut_);
  putLine(f, "MatureTime", matureTime_);
  putLine(f, "MaxAttachsPerClient", maxAttachsPClient_);
  putText(f, "DiskConfiguration", diskConfiguration_);
  putLine(f, "CachePageSize", cachePageSize_);
  putText(f, "ProfileFile", profFile_);
  putLine(f, "ProfileFrequency", profileFreq_);
}

// ---- setters ----

template <class T>
bool SvConfigFile::change(T& field, T const& v) {
  if (!(field == v)) {
    field = v;
    modified = true;
  }
  return true;
}

bool SvConfigFile::setServerOptions(int32_t v) { return v == options_; }
bool SvConfigFile::setCachePageSize(int32_t) { return false; }
bool SvConfigFile::setCacheSz(int32_t v) {
  if (v == cacheSize_)
    return true;
  return Server::setCacheSize(v) && change(cacheSize_, v);
}
bool SvConfigFile::setCkPointFreq(int32_t v) { return v >= 0 && change(ckPointFreq_, v); }
bool SvConfigFile::setCkPointLowBound(int32_t v) { return v >= 0 && change(ckPointLowBound_, v); }
bool SvConfigFile::setCkPointUpBound(int32_t v) { return v >= 0 && change(ckPointUpBound_, v); }
bool SvConfigFile::setTolerant(bool v) { return change(tolerant_, v); }
bool SvConfigFile::setDbase(String const& v) { return dbase_.length() > 0 && change(dbase_, v); }
bool SvConfigFile::setDiskConfiguration(String const&) { return false; }
bool SvConfigFile::setHandleVersions(bool v) { return change(handleVersions_, v); }
bool SvConfigFile::setHkMsgBound(int32_t v) { return v >= 0 && change(hkMsgBound_, v); }
bool SvConfigFile::setJournalBuff(int32_t v) {
  if (v != journalBuff_ && Server::setJournalBuff(v))
    change(journalBuff_, v);
  return true;
}
bool SvConfigFile::setJournalDir(String const& v) { return v == journalDir_; }
bool SvConfigFile::setJournalFlushFreq(int32_t v) { return v >= 0 && change(journalFlushFreq_, v); }
// The lock tables come later; until they exist a new size is only stored.
bool SvConfigFile::setNumLocks(int32_t v) { return change(numLocks_, v); }
bool SvConfigFile::setNumLocksPClient(int32_t v) { return v >= 0 && change(numLocksPClient_, v); }
bool SvConfigFile::setLkUnifyBound(int32_t v) { return v >= 0 && change(lkUnifyBound_, v); }
bool SvConfigFile::setLkUnifyPercent(int32_t v) { return uint32_t(v) <= 100u && change(lkUnifyPercent_, v); }
bool SvConfigFile::setMatureTime(int32_t v) { return v >= 0 && change(matureTime_, v); }
bool SvConfigFile::setMaxAttachsPClient(int32_t v) { return v >= 0 && change(maxAttachsPClient_, v); }
bool SvConfigFile::setNextSchemaId(int32_t v) { return v == nextSchId_; }
bool SvConfigFile::setNumNotifies(int32_t v) { return change(numNotifies_, v); }
bool SvConfigFile::setPendLockNotifTime(int32_t v) { return v >= 0 && change(pendLockNotifTime_, v); }
bool SvConfigFile::setProfileFile(String const& v) { return v.length() > 0 && change(profFile_, v); }
bool SvConfigFile::setProfileFreq(int32_t v) { return v >= 0 && change(profileFreq_, v); }
bool SvConfigFile::setRunLogFile(String const& v) { return v == runLogFile_; }
bool SvConfigFile::setTransTimeOut(int32_t v) { return v >= 0 && change(transTimeOut_, v); }

// ---- schema registry ----

bool SvConfigFile::addSchema(String const& name, int32_t schId) {
  if (filename.isNull())
    return false;
  String entry = name + ":" + schemaIdText(schId);
  if (schemas.length() > 0)
    schemas += ",";
  schemas += entry;
  ++nschs;
  modified = true;
  return true;
}

String SvConfigFile::schemaName(int32_t n) const {
  std::vector<String> list = entries(schemas);
  if (n < 0 || size_t(n) >= list.size())
    return String();
  return fields(list[size_t(n)])[0];
}

String SvConfigFile::hasSchDbase(int32_t n) const {
  std::vector<String> list = entries(schemas);
  if (n < 0 || size_t(n) >= list.size())
    return String();
  std::vector<String> f = fields(list[size_t(n)]);
  if (f.size() < 2 || f[1].length() == 0 || std::isdigit(static_cast<unsigned char>(toCharPtr(f[1])[0])))
    return String();
  return f[1];
}

bool SvConfigFile::removeSchDbase(int32_t n) {
  std::vector<String> list = entries(schemas);
  if (list.empty() || n < 0 || size_t(n) >= list.size() || hasSchDbase(n).isNull())
    return false;
  std::vector<String> f = fields(list[size_t(n)]);
  list[size_t(n)] = f.size() >= 3 ? f[0] + ":" + f[2] : f[0];
  schemas = join(list, ",");
  modified = true;
  return true;
}

int32_t SvConfigFile::getSchId(int32_t n) const {
  std::vector<String> list = entries(schemas);
  if (n < 0 || size_t(n) >= list.size())
    return -1;
  std::vector<String> f = fields(list[size_t(n)]);
  // name:id or name:dir:id; the id is the last field.
  if (f.size() < 2)
    return -1;
  String const& text = f.size() >= 3 ? f[2] : f[1];
  int32_t id = parseSchemaId(text);
  if (id < 0)
    return -1;
  if ((id & 63) == 0) {
    // A last field of 0 is the owner number of temporary objects.
    warning(appMsg("SCHIDZEROFIELD"), toCharPtr(f[0]), toCharPtr(text));
    return -1;
  }
  return id;
}

void SvConfigFile::usedSchemaId(int32_t id) {
  if (nextSchId_ < 0 || id < nextSchId_ || id >= kMaxSchemaId) return;
  nextSchId_ = id + 1;
  modified = true;
}

void SvConfigFile::initialSchemaId(int32_t id) {
  if (nextSchId_ == -1 || nextSchId_ == 0)
    nextSchId_ = id;
}

int32_t SvConfigFile::nextSchemaId() {
  SV_ASSERT(!filename.isNull(), "filename");
  if (nextSchId_ < 0)
    return -1;
  modified = true;
  if ((nextSchId_ & 63) == 0)
    ++nextSchId_;
  if (nextSchId_ > kMaxSchemaId) {
    warning(appMsg("SCHIDTOOBIG"));
    return -1;
  }
  return nextSchId_++;
}
