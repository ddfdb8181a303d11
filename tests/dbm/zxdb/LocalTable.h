// The local-table fixture of the record and cursor tests: a schema "shop"
// with table "item" (code, grp, val) in a temporary "dbase" directory, and
// helpers that read and damage the files' bytes.
#pragma once

#include <dbm/DbInterface.h>
#include <zeph/Dict.h>

#include <zfound/Portable.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "DescrEncoder.h"
#include "SchemaSets.h"
#include "TestSupport.h"

namespace zxdbtest {

using namespace zftest;

// Table "item": code (long, unique index 0), grp (long, non-unique index 1).
inline EncSchema itemSchema(int32_t size) {
  EncSchema s;
  s.name = "shop";
  s.longs = {privEntry(0, 2, 8)};
  EncTable t;
  t.name = "item";
  t.longs = {privEntry(0, 2, 1023)};
  t.size = size;
  t.len = 16;
  EncField code;
  code.name = "code", code.itype = 3, code.len = 9, code.offset = 4;
  EncField grp;
  grp.name = "grp", grp.itype = 3, grp.len = 9, grp.offset = 8;
  EncField val;
  val.name = "val", val.itype = 3, val.len = 9, val.offset = 12;
  t.fields = {code, grp, val};
  EncIndex i0;
  i0.name = "bycode", i0.flags = 1, i0.klen = 4, i0.parts = {{3, 0, 4, 0, 4, 0x101}};
  EncIndex i1;
  i1.name = "bygrp", i1.flags = 0, i1.klen = 4, i1.parts = {{3, 0, 4, 0, 8, 0x102}};
  t.indexes = {i0, i1};
  s.tables = {t};
  return s;
}

class LocalTable : public ::testing::Test {
protected:
  void SetUp() override {
    startUpOnce("zxdbtest-1.0");
    env_ = std::make_unique<ScopedEnv>("dbase", tmp_.path());
  }
  void TearDown() override {
    EndTransaction();
    CloseAllSchemas();
  }
  void open(int32_t size) {
    writeDescriptorFile(tmp_.path(), itemSchema(size));
    ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
    tab_ = 0x10100;
    buf_ = _GetTabBuff(tab_);
  }
  void set(int32_t code, int32_t grp, int32_t val) {
    stlong(code, buf_ + 4);
    stlong(grp, buf_ + 8);
    stlong(val, buf_ + 12);
  }
  std::string file(char const* ext) { return readFile(tmp_.path() + "/shop/item." + ext); }

  TempDir tmp_;
  SchemaSetSweep sweep_{tmp_.path()};
  std::unique_ptr<ScopedEnv> env_;
  int32_t tab_ = 0;
  char* buf_ = nullptr;
};

inline int32_t at(std::string const& f, size_t off) { return ldlong(f.data() + off); }

// Overwrites bytes of a file in place.
inline void poke(std::string const& path, int64_t off, std::vector<uint8_t> const& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), off), ssize_t(bytes.size()));
  ::close(fd);
}
inline std::vector<uint8_t> be32(int32_t v) {
  std::vector<uint8_t> b(4);
  stlong(v, b.data());
  return b;
}
inline std::vector<uint8_t> be16(int32_t v) {
  std::vector<uint8_t> b(2);
  stshort(v, b.data());
  return b;
}

}  // namespace zxdbtest
