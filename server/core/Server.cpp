// The Server statics and the small services over them: settings access,
// temporary ids, version numbers of stamps, deferred unlinks, the ignore
// list, schema registration and the assertion report.
#include <svcore/Journal.h>
#include <svcore/Server.h>
#include <svobject/Client.h>

#include <svcore/StateFile.h>
#include <svcore/SvConfigFile.h>

#include <blkfile/CacheBuffer.h>

#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/OsFile.h>
#include <zfound/PhysLayout.h>

#include <cerrno>

String Server::name_sd;
SvConfigFile* Server::configFile = nullptr;
StateFile* Server::stateFile = nullptr;
bool Server::foreground_sd = false;
int32_t Server::verboseLevel_sd = 0;
int32_t Server::status_sd = 0;
bool Server::logDisable = false;
bool Server::mirror_sd = false;
bool Server::mustInvert_sd = false;
String Server::ignore_sd;
std::vector<DeferFile>* Server::defunlink = nullptr;
std::vector<CompleteTransaction>* Server::ctrans = nullptr;

namespace {

// The growth step of the server's small lists.
constexpr size_t kListStep = 4;

void assertHook(char const* expr, char const* file, int line, bool fatal) {
  Server::_assert(expr, file, line, fatal);
}

}  // namespace

PhysLayout* Server::physLayout() {
  SV_ASSERT(physLayout_sd != nullptr, "physLayout_sd != (0)");
  return physLayout_sd;
}

int32_t Server::id() { return configFile ? configFile->getServerId() : -1; }

uint32_t Server::newTempId() {
  if (++lastTempId == 0)
    lastTempId = 1;
  return lastTempId;
}

int32_t Server::versNum(TimeStamp const& ts) {
  if (!configFile || !configFile->handleVersions())
    return -1;
  if (!stateFile)
    return 0;
  int32_t top = currVersion > StateFile::kNStamps ? StateFile::kNStamps : currVersion;
  for (int32_t v = top - 1; v >= 0; --v)
    if (stateFile->versionStamp(v) < ts)
      return v + 1;
  return 0;
}

void Server::deferUnlink(String const& path, String const& a, String const& b) {
  if (!defunlink) {
    defunlink = new std::vector<DeferFile>;
    defunlink->reserve(kListStep);
  }
  defunlink->emplace_back(path, a, b);
}

bool Server::belongsDeferUnlink(String const& a, String const& b) {
  if (!defunlink)
    return false;
  for (DeferFile const& d : *defunlink) {
    if (b.isNull() ? d.path() == a : (d.second() == b && d.third() == a))
      return true;
  }
  return false;
}

bool Server::ignoreTrans(int32_t n) {
  if (ignore_sd.isNull())
    return false;
  String want = toString(n);
  char const* s = toCharPtr(ignore_sd);
  char const* end = s + ignore_sd.length();
  while (s <= end) {
    char const* comma = s;
    while (comma < end && *comma != ',')
      ++comma;
    if (String(s, comma - s) == want)
      return true;
    s = comma + 1;
  }
  return false;
}

bool Server::setCacheSize(int32_t kb) { return CacheBuffer::setSize(kb); }



bool Server::addSchema(String const& dir, String const& name, int32_t schId) {
  if (!configFile || !configFile->addSchema(name, schId))
    return false;
  PhysLayout* layout = physLayout();
  layout->addPackedEntry(name + ".$*", dir, name);
  layout->addPackedEntry(name + ".*", dir, name);
  return true;
}

bool Server::delSchema(String const& name) {
  if (!configFile || !configFile->delSchema(name))
    return false;
  delDiskConfigEntries(name);
  return true;
}

Exception& Server::convLastException() {
  Exception& e = Exception::last();
  if (e.code() == 4) {
    Locked const* l = e.getLocked();
    SV_ASSERT(l != nullptr, "(Exception::last()).getLocked() != (0)");
    if (l)
      Exception::last(ModLocked(*l));
  }
  return Exception::last();
}

void Server::closeFiles() {
  CacheBuffer::flushAll(nullptr, false);
  OsFile::syncAllCache();
}

void Server::_assert(char const* expr, char const* file, int line, bool fatal) {
  String text = assertText(expr, file, line);
  reportLastRequest();
  if (fatal) {
    closeFiles();
    error(String("Error: %S"), &text);
  } else {
    warning(String("Warning: %S"), &text);
  }
}

void Server::reset() {
  StorageEnv::reset();
  // ---- recovery and mirroring ----
  transFound = transRolledBack = 0;
  activeTransSeen = false;
  for (Client* c : replayed) delete c;
  replayed.clear();
  closeProfile();
  dropCollateSets();
  verb = 0;
  dbgCpOffs = 0;
  resetLoop();
  resetRequests();
  delete configFile;
  configFile = nullptr;
  delete stateFile;
  stateFile = nullptr;
  name_sd = String();
  foreground_sd = false;
  verboseLevel_sd = 0;
  status_sd = 0;
  logDisable = false;
  mirror_sd = false;
  mustInvert_sd = false;
  ignore_sd = String();
  delete defunlink;
  defunlink = nullptr;
  delete ctrans;
  ctrans = nullptr;
  installStorageHooks();
}

void Server::installStorageHooks() {
  svstore::StorageHooks h;
  h.versNum = &Server::versNum;
  h.deferUnlink = &Server::deferUnlink;
  h.assertReport = &assertHook;
  setHooks(h);
}

namespace svcore {

String logicalName(String const& a, String const& b) {
  if (b.length() > 0 && toCharPtr(b)[0] == '2')
    return a + "." + String(toCharPtr(b) + 1, b.length() - 1);
  return a + "." + b;
}

bool canRecover(int err) {
  switch (err) {
  case EINTR: case EAGAIN: case EACCES: case EFBIG: case ENOSPC: case EDEADLK: case ENOLCK:
    return true;
  default:
    return false;
  }
}

}  // namespace svcore
