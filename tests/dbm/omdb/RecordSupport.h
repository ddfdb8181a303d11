// Record tests' table: schema "sales" with table "items" made by the raw
// client, opened through the library, and typed access to the fields of
// its record buffer.
//
//   items: id (int, unique index 0 "pk"), name (text 20), price (number 9,
//          2 decimals), day (date), at (time), vals (int[3]), cdate
//          (creation-stamp date), mdate (modification-stamp date), code
//          (int, not null: fill() sets it to the id), small (number 4),
//          obj (object id);
//          index 1 "byname" on name with duplicates.
#pragma once

#include <zfound/Portable.h>

#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include <unistd.h>

#include <cstring>
#include <string>

#include "OmdbFixture.h"

namespace omtest {

// Field numbers (1-based, as field handles take them).
enum : int32_t { fId = 1, fName, fPrice, fDay, fAt, fVals, fCdate, fMdate, fCode, fSmall, fObj };

class RecordFixture : public OmdbFixture {
protected:
  void SetUp() override {
    OmdbFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    rawSchema_ = makeSchema("sales");
    ASSERT_GT(rawSchema_, 0) << server().log();
    rawTable_ = makeTable(rawSchema_, "items",
                          {{"id", kInt}, {"name", kText, 20}, {"price", kNumber, 9, 2}, {"day", kDate},
                           {"at", kTime}, {"vals", kInt, 0, 0, 3}, {"cdate", kDate, 0, 0, 0, 2 | 8},
                           {"mdate", kDate, 0, 0, 0, 2 | 4}, {"code", kInt, 0, 0, 0, 1}, {"small", kNumber, 4},
                           {"obj", kObject}},
                          1);
    ASSERT_GT(rawTable_, 0) << server().log();
    ASSERT_TRUE(makeIndex(rawTable_, "pk", {0}));
    ASSERT_TRUE(makeIndex(rawTable_, "byname", {1}, 1));
    schema_ = OpenSchema(path("sales").c_str(), 0);
    ASSERT_EQ(schema_, 0x10000) << server().log();
    table_ = FindDbTable(schema_, "items");
    ASSERT_GT(table_, 0);
    ASSERT_NE(_GetTabPtr(table_), nullptr);
    buf_ = _GetTabBuff(table_);
    ASSERT_NE(buf_, nullptr);
  }

  s_table* tab() { return _GetTabPtr(table_); }
  char* at(int32_t f, int32_t elem = 0) {
    s_field* fp = _GetFldPtr(table_ | f);
    return buf_ + fp->d.offset + elem * dbElemSize(fp->d.f_itype, fp->d.len);
  }
  void setLong(int32_t f, int32_t v, int32_t elem = 0) { stlong(v, at(f, elem)); }
  int32_t getLong(int32_t f, int32_t elem = 0) { return ldlong(at(f, elem)); }
  void setShort(int32_t f, int32_t v) { stshort(v, at(f)); }
  int32_t getShort(int32_t f) { return ldshort(at(f)); }
  void setText(int32_t f, char const* s) {
    s_field* fp = _GetFldPtr(table_ | f);
    std::memset(at(f), 0, size_t(fp->d.len) + 1);
    std::strncpy(at(f), s, fp->d.len);
  }
  std::string getText(int32_t f) { return std::string(at(f)); }
  int32_t recno() { return ldlong(buf_ + tab()->d.len); }

  // Requests the server counted for this process's clients (the raw
  // client's and the library's share the process id), asked through the
  // raw client: -1 when the answer cannot be read.
  int32_t requestsOfThisProcess() {
    zftest::RawReply r = raw().request(kServerObj, DBM_GETCLIENTSINFO, Body().w(1).words());
    if (!r.ok || r.status != 0) return -1;
    LoopConnection in(4096);
    in.feed(r.body);
    int32_t n = r.result, total = 0;  // the count of clients, then theirs
    for (int32_t i = 0; i < n && !in.bad(); ++i) {
      int32_t pid = 0, count = 0;
      String s;
      in >> pid;
      for (int k = 0; k < 6; ++k) in >> s;
      in >> count;
      if (pid == int32_t(getpid())) total += count;
    }
    return in.bad() ? -1 : total;
  }
  // Requests the library sent while `f` ran.
  template <class F>
  int32_t sent(F f) {
    if (step_ < 0) {
      int32_t a = requestsOfThisProcess();
      step_ = requestsOfThisProcess() - a;
    }
    int32_t a = requestsOfThisProcess();
    f();
    return requestsOfThisProcess() - a - step_;
  }
  int32_t step_ = -1;

  // A record: id, name, price (buffer form), day, at, and vals.
  void fill(int32_t id, char const* name, int32_t price, int32_t day, int32_t at, int32_t v0, int32_t v1,
            int32_t v2) {
    InitRecord(table_);
    setLong(fId, id);
    setText(fName, name);
    setLong(fPrice, price);
    setShort(fDay, day);
    setShort(fAt, at);
    setLong(fVals, v0, 0);
    setLong(fVals, v1, 1);
    setLong(fVals, v2, 2);
    setLong(fCode, id);
  }
  // Reads the record of id by the primary key: its number, -1 none.
  int32_t readId(int32_t id, int32_t lockflags = 0) {
    InitRecord(table_);
    setLong(fId, id);
    return GetRecord(table_, 1, lockflags, 0);
  }

  int32_t rawSchema_ = 0, rawTable_ = 0;
  int32_t schema_ = -1, table_ = -1;
  char* buf_ = nullptr;
};

}  // namespace omtest
