// Removes, when it goes, the schema-lock semaphore set of every descriptor
// file under a test's directory: a test whose processes were killed (or
// that failed half-way) leaves no set behind. Declare it after the
// directory, so that it goes first.
#pragma once

#include <dbm/DbInterface.h>

#include "DescrEncoder.h"
#include "TestSupport.h"

#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace zftest {

class SchemaSetSweep {
public:
  explicit SchemaSetSweep(std::string dir) : dir_(std::move(dir)) {}
  ~SchemaSetSweep() {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->path().extension() != ".sco") continue;
      int fd = ::open(it->path().c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      int id = semget(_get_key(fd), 2, 0);
      if (id >= 0) semctl(id, 0, IPC_RMID);
      ::close(fd);
    }
  }
  SchemaSetSweep(SchemaSetSweep const&) = delete;
  SchemaSetSweep& operator=(SchemaSetSweep const&) = delete;

private:
  std::string dir_;
};

// Started up, with sampleSchema(name) written to a fresh temporary directory
// that "dbase" names while this lives; its schema-lock set goes with it.
struct SampleSchemaDir {
  explicit SampleSchemaDir(std::string const& name) : env("dbase", prepareSampleSchema(tmp.path(), name)) {}
  TempDir tmp;
  SchemaSetSweep sweep{tmp.path()};
  ScopedEnv env;
};

}  // namespace zftest
