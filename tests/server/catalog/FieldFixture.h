// Shared fixture of the catalog tests: started-up state, the error objects,
// and temporary table representations to hold fields.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <svcatalog/SvField.h>
#include <svcatalog/SvFieldTypes.h>
#include <svcatalog/SvTabRep.h>
#include <zfound/Exception.h>
#include <zfound/LoopConnection.h>

#include "TestSupport.h"

class FieldTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    // As the server, whose catalogue holds the texts the catalog reports.
    zftest::startUpOnce("ombrel-3.3.2");
    Exception::init(true);
  }
  void SetUp() override { Exception::last(Exception(0)); }

  // A temporary table "s.t" (not registered by id).
  static std::unique_ptr<SvTabRep> makeTable(TabFlags flags = 0) {
    return std::make_unique<SvTabRep>(ObjectId(0x5001, 7), String("t"), String("s"), flags, 4, true);
  }
  // A field of that shape appended to t.
  static SvField* add(SvTabRep& t, int32_t type, int32_t len = 0, int32_t dec = 0, int32_t dim = 1,
                      TabFldFlags flags = 0, char const* name = "f") {
    return SvField::mkField(&t, 0, String(name), String(), nullptr, String(), len, dec, type, -1, flags, dim,
                            nullptr, nullptr, nullptr, ObjectId(), String());
  }
  // The pending error's code and text.
  static int32_t pending() { return Exception::last().code(); }
  static std::string pendingText() { return zftest::str(Exception::last().message()); }
  static void clearError() { Exception::last(Exception(0)); }

  // Stores each text into consecutive elements of f in rec.
  static void fill(SvField* f, std::vector<char>& rec, std::vector<std::string> const& texts) {
    char* p = rec.data() + f->tableOffset();
    for (auto const& t : texts) f->store(p, String(t.c_str()), true, -1);
  }
  // The texts of f's elements in rec.
  static std::vector<std::string> texts(SvField* f, std::vector<char> const& rec) {
    std::vector<std::string> out;
    char const* p = rec.data() + f->tableOffset();
    for (int32_t i = 0; i < f->dim(); ++i) {
      String t;
      f->load(t, p, true, -1);
      out.push_back(zftest::str(t));
    }
    return out;
  }
  // A zeroed record image of t.
  static std::vector<char> record(SvTabRep const& t) { return std::vector<char>(size_t(t.nextOffset()), 0); }
};
