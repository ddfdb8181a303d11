// The statics of StorageEnv and the defaults of its hooks.
#include <blkfile/StorageEnv.h>

#include <zfound/Assert.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/Process.h>

namespace svstore {

int32_t StorageEnv::cachePageSize_sd = 1024;
int32_t StorageEnv::currCP = -1;
TimeStamp StorageEnv::lastChkPoint;
int32_t StorageEnv::currVersion = -1;
TimeStamp StorageEnv::timeStamp;
PhysLayout* StorageEnv::physLayout_sd = nullptr;
int64_t StorageEnv::nMeth = 0;
uint32_t StorageEnv::lastTempId = 0;
bool StorageEnv::profiling_sd = false;
bool StorageEnv::restarting = false;
StorageHooks StorageEnv::hooks_;

int32_t StorageEnv::versNum(TimeStamp const& ts) {
  return hooks_.versNum ? hooks_.versNum(ts) : -1;
}

void StorageEnv::deferUnlink(String const& path, String const& schema, String const& file) {
  if (hooks_.deferUnlink)
    hooks_.deferUnlink(path, schema, file);
}

void StorageEnv::exception(Exception const& e) {
  if (Exception::last().code() == 0)
    Exception::last(e);
}

void StorageEnv::startUpAsServer() {
  static char prog[] = "ombrel";
  static char* av[] = {prog, nullptr};
  int ac = 1;
  char** avp = av;
  startUp(String("ombrel-3.3.2"), ac, avp);
  Exception::init(true);
}

String StorageEnv::assertText(char const* expr, char const* file, int line) {
  return String(file) + ":" + toString(line) + " assertion failed (" + expr + ").";
}

void StorageEnv::_assert(char const* expr, char const* file, int line, bool fatal) {
  if (hooks_.assertReport) {
    hooks_.assertReport(expr, file, line, fatal);
    return;
  }
  String text = assertText(expr, file, line);
  if (fatal)
    error(String("Error: %S"), &text);
  else
    warning(String("Warning: %S"), &text);
}

void StorageEnv::setHooks(StorageHooks const& h) { hooks_ = h; }

void StorageEnv::reset() {
  cachePageSize_sd = 1024;
  currCP = -1;
  lastChkPoint = TimeStamp();
  currVersion = -1;
  timeStamp = TimeStamp();
  physLayout_sd = nullptr;
  nMeth = 0;
  lastTempId = 0;
  profiling_sd = false;
  restarting = false;
  hooks_ = StorageHooks();
}

}  // namespace svstore
