// A storage test fixture: a temporary directory with a disk layout of one
// packed and one round-robin entry, the storage statics at their start
// values with a chosen page size, and the warnings of the test captured.
#pragma once

#include <blkfile/BlockedFile.h>
#include <blkfile/CacheBuffer.h>
#include <blkfile/StorageEnv.h>

#include "TestSupport.h"

#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/PhysLayout.h>
#include <zfound/Portable.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace storagetest {

using svstore::StorageEnv;

using zftest::recordWarning;
using zftest::shown;

// A file with a table's 20-byte prefix (or another, for the header tests).
class PrefixFile : public BlockedFile {
public:
  explicit PrefixFile(int32_t prefix = 20) : prefix_(prefix) {}
  int32_t prefixSize() const override { return prefix_; }
  int reReads = 0;
  void reRead(CacheBuffer*) override { ++reReads; }

private:
  int32_t prefix_;
};

class StorageTest : public ::testing::Test {
protected:
  // Page size in KB and cache size in KB.
  void SetUp() override { setUpWith(1, 64); }

  void setUpWith(int32_t pageKb, int32_t cacheKb) {
    zftest::startUpOnce("ombrel-3.3.2");
    Exception::init(true);
    tearDownCache();
    StorageEnv::reset();
    StorageEnv::cachePageSize_sd = pageKb * 1024;
    StorageEnv::currCP = 0;
    StorageEnv::timeStamp.setNow();
    StorageEnv::lastChkPoint = StorageEnv::timeStamp;
    ++StorageEnv::timeStamp;
    std::string layout = "p*\tPACKED\t" + tmp.path() + "\n" + "n*\tROUNDROBIN\t64K\t" + tmp.path() + "\n";
    tmp.write("layout", layout);
    layout_ = std::make_unique<PhysLayout>(String(tmp.file("layout").c_str()));
    StorageEnv::physLayout_sd = layout_.get();
    shown().clear();
    old_ = displayErrorHandler(recordWarning);
    // A failing system call gives up at once instead of asking a terminal.
    oldAri_ = ariErrorHandler(recordWarning);
    if (cacheKb > 0) {
      ASSERT_TRUE(CacheBuffer::init(cacheKb));
    }
    Exception::last(Exception(0));
  }

  void TearDown() override {
    files_.clear();
    tearDownCache();
    displayErrorHandler(old_);
    ariErrorHandler(oldAri_);
    StorageEnv::reset();
    layout_.reset();
    Exception::last(Exception(0));
  }

  static void tearDownCache() {
    CacheBuffer::cleanUp();
  }

  // A file opened under the fixture's layout (names starting with p are
  // packed, with n round-robin).
  PrefixFile& openFile(char const* name, int32_t recLen, int32_t prefix = 20, int32_t parity = 0) {
    files_.push_back(std::make_unique<PrefixFile>(prefix));
    PrefixFile& f = *files_.back();
    EXPECT_TRUE(f.open(name, String(), "blk", recLen, parity));
    return f;
  }

  // Adds a record holding its own number at prefix offset 20 (and the
  // current stamp at 8); returns the number.
  static int32_t addRec(BlockedFile& f) {
    ++StorageEnv::timeStamp;
    char* p;
    int32_t recno = 0;
    CacheBuffer* cb = f.add(p, recno, true);
    EXPECT_NE(cb, nullptr);
    if (!cb)
      return 0;
    char* sp = p + 8;
    StorageEnv::timeStamp.store(sp);
    if (f.recordLength() >= 24)
      stlong(recno, p + 20);
    cb->unlock();
    return recno;
  }

  // Simulated checkpoint: headers, flush, flip.
  static void checkpoint() {
    BlockedFile::writeAllHeaders(TimeStamp());
    CacheBuffer::flushAll(nullptr, false);
    ++StorageEnv::timeStamp;
    StorageEnv::lastChkPoint = StorageEnv::timeStamp;
    StorageEnv::currCP = 1 - StorageEnv::currCP;
    ++StorageEnv::timeStamp;
  }

  std::string fileBytes(std::string const& name) { return zftest::readFile(tmp.file(name)); }

  static bool sawWarning(std::string const& part) { return zftest::wasShown(part); }

  zftest::TempDir tmp;
  std::unique_ptr<PhysLayout> layout_;
  std::vector<std::unique_ptr<PrefixFile>> files_;
  MsgHandler old_ = nullptr;
  MsgHandler oldAri_ = nullptr;
};

}  // namespace storagetest
