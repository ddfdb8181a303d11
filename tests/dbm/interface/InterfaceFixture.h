// The fixture of the interface suite: the same test sources run against
// either database library. What the libraries do differently is stated
// once, in `kLib`; the backend (a temporary "dbase" directory here, a live
// server for the client library) is set up and removed by the fixture. The
// build of the suite names its library with a compile definition:
// ZF_IFACE_LOCAL for libzxdb_s, ZF_IFACE_OMDB for libomdb_s. The client
// library's build starts a server of its own for every test (a temporary
// directory, its own ServerId, a journal so that aborts undo, SERVERS
// naming it); the server is stopped and its queues and semaphores removed
// at the end of the test, also when it failed.
//
// Every test starts with schema "shop" made through the design calls and
// opened again by a fresh OpenSchema:
//   table "item"  code (numeric 9, unique index 0 "bycode"), name (text 20),
//                 qty (numeric 4, non-unique index 1 "byqty"), and one field
//                 of every other type the design calls take;
//   table "note"  id (numeric 9, unique index 0), text (text 40).
#pragma once

#include <dbm/DbInterface.h>
#include <zeph/Cursors.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>
#include <zeph/Records.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "SchemaSets.h"
#include "TestSupport.h"
#if defined(ZF_IFACE_OMDB)
#include <unistd.h>

#include "TestServer.h"
#endif

namespace ifacetest {

using namespace zftest;

// What the Parts make differ between the two libraries.
struct LibTraits {
  int32_t dbmsType;        // dbmsType()
  int32_t prefix;          // record bytes before the first field
  bool lockSchemaUsesMode; // LockSchema takes semaphores by its mode (else: 0 always)
  bool tabEquiv;           // GetTabEquiv compares the definitions
  int32_t newTableSize;    // declared size of a table CreateTable makes
  bool writesGiveNumber;   // AddRecord, PutRecord, DelRecord answer with the record number (else 0)
  bool getByNumber;        // GetRecord mode 0 reads by record number
  bool namesAreFiles;      // table names must be plain file-name components
};

#if defined(ZF_IFACE_LOCAL)
inline constexpr LibTraits kLib{2, 4, true, true, 1024, true, true, true};
#elif defined(ZF_IFACE_OMDB)
// The client library: dbmsType 1; a record buffer starts with the 32 bytes
// of the server's record prefix; the server has one schema lock, so
// LockSchema ignores its mode; GetTabEquiv is the local library's
// conversion aid and gives nothing here; the server sizes its tables, so a
// table keeps the declared size it was created with (0). AddRecord,
// PutRecord and DelRecord are requests without an answer: they give 0, and
// a refusal (a duplicate key) reaches the program at the end of its
// transaction, not from the call. Records are found by key only: GetRecord
// mode 0 (by record number) reports "IO_NO_MORE_RECNO".
// Tables are objects of the server, not files of the program, so a name
// like "." is the server's to judge, and CreateTable defines the table
// locally until its last field.
inline constexpr LibTraits kLib{1, 32, false, false, 0, false, false, false};
#else
#error "the build of the interface suite names its library (ZF_IFACE_LOCAL or ZF_IFACE_OMDB)"
#endif

// The name a program gives CreateSchema and OpenSchema for schema `name`.
// The client library's CreateSchema connects to the server named before
// the slash and has no default server: a bare name reaches no server
// (and the connection's failure ends the program), so the client build
// names the test's server.
inline std::string schemaPath(std::string const& name) {
#if defined(ZF_IFACE_OMDB)
  return "ifsrv/" + name;
#else
  return name;
#endif
}

// One field of the test tables: name, type, length, decimals, the storage
// type CalcItype gives, and a value as text that reads back the same.
struct FieldDef {
  char const* name;
  int32_t type, length, decimals, itype;
  char const* value;
};

// "item": the key fields first, then every other field type.
inline std::vector<FieldDef> const& itemFields() {
  static std::vector<FieldDef> const f = {
      {"code", 0, 9, 0, 3, "1"},          {"name", 1, 20, 0, 0, "widget"}, {"qty", 0, 4, 0, 2, "7"},
      {"tiny", 0, 2, 0, 1, "42"},         {"price", 0, 15, 2, 4, "12.5"},  {"big", 0, 20, 0, 8, "123456789012345678"},
      {"sold", 2, 0, 0, 5, "15000"},      {"at", 3, 0, 0, 6, "3600"},      {"ratio", 4, 0, 0, 4, "0.25"},
      {"flag", 5, 1, 0, 1, "1"},          {"whole", 10, 9, 0, 3, "99"},
  };
  return f;
}

class Interface : public ::testing::Test {
protected:
  static constexpr int32_t kSchema = 0x10000;

  void SetUp() override {
    startUpOnce("ifacetest-1.0");
#if defined(ZF_IFACE_OMDB)
    if (::geteuid() != 0) GTEST_SKIP() << "the server must be started by root";
    // The server journals, so that an abort undoes what was written.
    std::string journal = tmp_.file("journal");
    ::mkdir(journal.c_str(), 0700);
    server_ = std::make_unique<TestServer>("ifsrv", "JournalDir\t" + journal + "\nBackup\t1\n");
    ASSERT_TRUE(server_->start()) << server_->log();
    ombrel_ = std::make_unique<ScopedEnv>("OMBREL", server_->dir().path());
    servers_ = std::make_unique<ScopedEnv>("SERVERS", server_->name());
#endif
    env_ = std::make_unique<ScopedEnv>("dbase", tmp_.path());
    ::mkdir((tmp_.path() + "/log").c_str(), 0700);
    logEnv_ = std::make_unique<ScopedEnv>("LOGDIR", tmp_.path() + "/log");
    SetLogStatus(0);
    makeShop();
    if (HasFatalFailure()) return;
    ASSERT_EQ(OpenSchema(schemaPath("shop").c_str(), 0x10), kSchema) << _io_errno_;
    item_ = FindDbTable(kSchema, "item");
    note_ = FindDbTable(kSchema, "note");
    ASSERT_GT(item_, 0);
    ASSERT_GT(note_, 0);
    buf_ = _GetTabBuff(item_);
  }
  void TearDown() override {
    EndTransaction();
    CloseAllSchemas();
#if defined(ZF_IFACE_OMDB)
    if (server_) {
      server_->stop();
      server_->removeIpc();
      EXPECT_FALSE(server_->ipcExists());
    }
#endif
  }

  // Creates "shop" through the design calls and closes it. A new index is
  // finished by CompleteIndex, as the schema tools do: the client library
  // sends it to the server then (the local library has nothing to do).
  void makeShop() {
    int32_t sh = CreateSchema(schemaPath("shop").c_str(), "Test shop");
    ASSERT_EQ(sh, kSchema) << _io_errno_;
    int32_t t = CreateTable(sh, "item", "Items", 0, 0, int32_t(itemFields().size()));
    ASSERT_GT(t, 0) << _io_errno_;
    for (FieldDef const& f : itemFields())
      ASSERT_GT(AddTabField(t, f.name, f.name, 0, f.type, 0, f.length, f.decimals, 0, nullptr, nullptr), 0)
          << f.name << " " << _io_errno_;
    int32_t i0 = CreateIndex(t, "bycode", 1, 0);
    ASSERT_GE(i0, 0);
    ASSERT_EQ(AddIndField(i0, FindDbField(t, "code"), 0, 0, 0), 0);
    ASSERT_GE(CompleteIndex(i0), 0) << _io_errno_;
    int32_t i1 = CreateIndex(t, "byqty", 0, 0);
    ASSERT_GE(i1, 0);
    ASSERT_EQ(AddIndField(i1, FindDbField(t, "qty"), 0, 0, 0), 0);
    ASSERT_GE(CompleteIndex(i1), 0) << _io_errno_;
    int32_t n = CreateTable(sh, "note", "Notes", 0, 0, 2);
    ASSERT_GT(n, 0);
    ASSERT_GT(AddTabField(n, "id", "", 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
    ASSERT_GT(AddTabField(n, "text", "", 0, 1, 0, 40, 0, 0, nullptr, nullptr), 0);
    int32_t ni = CreateIndex(n, "byid", 1, 0);
    ASSERT_EQ(AddIndField(ni, FindDbField(n, "id"), 0, 0, 0), 0);
    ASSERT_GE(CompleteIndex(ni), 0) << _io_errno_;
    ASSERT_EQ(CloseSchema(sh), 0);
  }

  // True when the result of AddRecord or PutRecord means the record was
  // written.
  static bool added(int32_t r) { return kLib.writesGiveNumber ? r > 0 : r == 0; }
  // What PutRecord or DelRecord of record `n` answers.
  static int32_t wrote(int32_t n) { return kLib.writesGiveNumber ? n : 0; }
  int32_t field(int32_t table, char const* name) { return FindDbField(table, name); }
  // Sets field `name` of the table's record buffer from text.
  void put(int32_t table, char const* name, std::string const& text) {
    ASSERT_EQ(SFld(field(table, name), 0, text.c_str()), 0) << name;
  }
  std::string get(int32_t table, char const* name) {
    char out[128] = {};
    GetFld(field(table, name), 0, out, sizeof out);
    return out;
  }
  // An "item" record with code, qty and name; every other field initial.
  void item(int32_t code, int32_t qty, std::string const& name = "") {
    InitRecord(item_);
    put(item_, "code", std::to_string(code));
    put(item_, "qty", std::to_string(qty));
    put(item_, "name", name.empty() ? "n" + std::to_string(code) : name);
  }
  // Reads "item" by code: the record number, -1 when none.
  int32_t find(int32_t code) {
    InitRecord(item_);
    put(item_, "code", std::to_string(code));
    return GetRecord(item_, 1, 0, 0);
  }
  // The codes of a walk over index `idx` through a cursor (forward or back).
  std::vector<int32_t> walk(int32_t idx, bool forward = true) {
    std::vector<int32_t> out;
    int32_t c = CreateCursor(item_ | idx, 0);
    EXPECT_GT(c, 0);
    if (c <= 0) return out;
    while ((forward ? FetchCursor(c) : FetchCursorPrev(c)) > 0) out.push_back(std::stoi(get(item_, "code")));
    DeleteCursor(c);
    return out;
  }

#if defined(ZF_IFACE_OMDB)
  std::unique_ptr<TestServer> server_;
  std::unique_ptr<ScopedEnv> ombrel_, servers_;
#endif
  TempDir tmp_;
  SchemaSetSweep sweep_{tmp_.path()};
  std::unique_ptr<ScopedEnv> env_, logEnv_;
  int32_t item_ = 0, note_ = 0;
  char* buf_ = nullptr;
};

}  // namespace ifacetest
