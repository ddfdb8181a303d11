// Index test fixture: a fake table (representation and current attachment)
// and fake fields that implement the storage interfaces, record images with
// an int and a text field, and helpers to build indexes over real files.
//
// Record image: 20-byte prefix (instance id at 16), then
//   20-23  int field: value ^ 0x80000000 big-endian (0 is null)
//   24-35  text field: 12 bytes, zero padded (all zero is null)
#pragma once

#include "StorageFixture.h"

#include <sindex/IndexHost.h>
#include <sindex/SvIndRep.h>
#include <sindex/SvIndex.h>

#include <zfound/BoolArray.h>
#include <zfound/Connection.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace storagetest {

constexpr int32_t kIntAt = 20;
constexpr int32_t kTextAt = 24;
constexpr int32_t kTextLen = 12;
constexpr int32_t kRecLen = 36;

class FakeField : public svstore::IndexField {
public:
  FakeField(char const* name, int32_t offset, int32_t length, bool text)
      : name_(name), offset_(offset), length_(length), text_(text) {}
  String fieldName() const override { return name_; }
  int32_t fieldOffset() const override { return offset_; }
  int32_t keyLength() const override { return length_; }
  bool keyStore(SvTable*, char*& key, char const* src, int32_t len, char const*) override {
    std::memcpy(key, src, size_t(len));
    key += len;
    return true;
  }
  void keyLoad(String& s, char const*& p, int32_t len) const override {
    if (text_) {
      int32_t n = 0;
      while (n < len && p[n])
        ++n;
      s = String(long(n), p);
    } else {
      s = toString(long(int32_t(uint32_t(ldlong(p)) ^ 0x80000000u)));
    }
    p += len;
  }
  void keySend(Connection* c, char*& p) override {
    if (text_)
      *c << String(long(strnlen(p, size_t(length_))), p);
    else
      *c << int32_t(uint32_t(ldlong(p)) ^ 0x80000000u);
    p += length_;
  }
  bool keyReceive(Connection* c, char*& p, int32_t len) override {
    if (text_) {
      String s;
      *c >> s;
      std::memset(p, 0, size_t(len));
      std::memcpy(p, s.isNull() ? "" : toCharPtr(s), size_t(std::min<long>(s.length(), len)));
    } else {
      int32_t v = 0;
      *c >> v;
      stlong(int32_t(uint32_t(v) ^ 0x80000000u), p);
    }
    p += len;
    return !c->bad();
  }
  bool keyIsNull(char const* p) const override {
    for (int32_t i = 0; i < length_; ++i)
      if (p[i])
        return false;
    return true;
  }
  bool keyDiffer(SvTable*, char const* a, char const* b, int32_t len) const override {
    return std::memcmp(a, b, size_t(len)) != 0;
  }
  bool sameField(svstore::IndexField const* o) const override { return o == this; }
  void useIndex(int32_t n) override { uses |= 1u << (n & 31); }
  void unuseIndex(int32_t n) override { uses &= ~(1u << (n & 31)); }
  uint32_t uses = 0;

private:
  String name_;
  int32_t offset_, length_;
  bool text_;
};

class FakeTable : public svstore::IndexTableRep, public svstore::IndexTable {
public:
  explicit FakeTable(char const* qname = "p.t") : qname_(qname) {}
  String qualifiedName() const override { return qname_; }
  String schemaName() const override { return "p"; }
  uint32_t schemaId() const override { return 0x10203; }
  String physName() const override { return "_t.tab"; }
  String newFileName(String const& base, String const& ext) override {
    static int files = 0;  // unique across the fixture's tables
    return String("_") + base + toString(long(++files)) + "." + ext;
  }
  String newIndExt() override {
    char b[8];
    snprintf(b, sizeof b, "i%02d", exts_++);
    return b;
  }
  int32_t lastTableRec() override { return lastRec; }
  int32_t nRecords() override { return nRecs; }
  int32_t nDefDels() const override { return defDels; }
  int32_t verifyFree(BoolArray* marks) override {
    for (int32_t f : freeRecs)
      if (f < marks->dim() && (*marks)[f])
        return f;
    return 0;
  }
  void addIndexRep(SvIndRep* r) override {
    for (SvIndRep* x : reps)
      if (x == r)
        return;
    reps.push_back(r);
  }
  void delIndexRep(SvIndRep* r) override { reps.erase(std::remove(reps.begin(), reps.end(), r), reps.end()); }
  int32_t indexNumber(SvIndRep const* r) const override {
    for (size_t i = 0; i < reps.size(); ++i)
      if (reps[i] == r)
        return int32_t(i);
    return -1;
  }
  svstore::IndexTable* findTable(int32_t v) override { return v == -1 && attached ? this : nullptr; }
  void checkIndepKeys() override { ++indepChecks; }

  SvTable* table() override { return nullptr; }
  bool isDeferredDel(Client*, int32_t recno) override { return hidden.count(recno) != 0; }
  bool delByMe(Client*, int32_t recno) override { return StorageEnv::restarting || mine.count(recno) != 0; }
  void addIndex(SvIndex* ix) override {
    addIndexRep(ix->indRep());
    open.push_back(ix);
  }
  void delIndex(SvIndex* ix) override { open.erase(std::remove(open.begin(), open.end(), ix), open.end()); }
  String tableName() const override { return "t"; }

  int32_t lastRec = 0;
  int32_t nRecs = 0;
  int32_t defDels = 0;
  int indepChecks = 0;
  bool attached = true;
  std::set<int32_t> freeRecs, hidden, mine;
  std::vector<SvIndRep*> reps;
  std::vector<SvIndex*> open;

private:
  String qname_;
  int exts_ = 0;
};

// A record image with instance id, int and text (null text when empty and
// nullText is set).
inline std::vector<char> record(int32_t inst, int32_t v, std::string const& text, bool intNull = false) {
  std::vector<char> r(kRecLen, 0);
  stlong(inst, r.data() + 16);
  if (!intNull)
    stlong(int32_t(uint32_t(v) ^ 0x80000000u), r.data() + kIntAt);
  std::memcpy(r.data() + kTextAt, text.data(), std::min<size_t>(text.size(), kTextLen));
  return r;
}

class IndexTest : public StorageTest {
public:
  // The stored big-endian forms of a 32- and a 16-bit number.
  static std::string be32(int32_t v) {
    char b[4];
    stlong(v, b);
    return std::string(b, 4);
  }
  static std::string be16(int32_t v) {
    char b[2];
    stshort(v, b);
    return std::string(b, 2);
  }
  void TearDown() override {
    closeAll();
    StorageTest::TearDown();
  }

  // Creates an index (temporary unless named) with the given parts:
  // each {field or null for the object id, flags, offset, length}.
  struct Part {
    FakeField* field;
    IndFldFlags flags;
    int32_t offset;
    int32_t length;
  };
  SvIndex* makeIndex(FakeTable& t, String const& name, IndFlags flags, std::vector<Part> const& parts,
                     Client* creator = nullptr) {
    int32_t len = 0;
    for (Part const& p : parts)
      len += p.field ? (p.offset == -1 ? p.field->keyLength() : p.length) : 4;
    SvIndRep* rep = SvIndRep::consIndex(creator, &t, int32_t(t.reps.size()), name, len, int32_t(parts.size()), flags);
    if (!rep)
      return nullptr;
    for (size_t i = 0; i < parts.size(); ++i)
      SvIndFld::consIndField(creator, rep, int32_t(i), parts[i].field, parts[i].flags, parts[i].offset,
                             parts[i].length);
    return rep->index();
  }

  void closeAll() {
    for (FakeTable* t : tables_)
      while (!t->open.empty())
        delete t->open.back();
  }

  FakeTable& table(char const* qname = "p.t") {
    tables_.push_back(new FakeTable(qname));
    owned_.emplace_back(tables_.back());
    return *tables_.back();
  }

  // Simulated server checkpoint: index headers, file headers, dirty pages,
  // parity flip, new checkpoint stamp.
  static void indexCheckpoint() {
    SvIndex::updateAllHeaders(Time());
    checkpoint();
  }

  // The printTree lines of an index.
  static std::vector<std::string> tree(SvIndex* ix) {
    shown().clear();
    ix->printTree();
    std::vector<std::string> v = shown();
    shown().clear();
    return v;
  }

  // Every record number in key order, by next() from the first key.
  static std::vector<int32_t> walk(SvIndex* ix) {
    std::vector<int32_t> v;
    for (int32_t r = ix->findKey(nullptr, SvIndex::kFirst); r != -1; r = ix->next())
      v.push_back(r);
    return v;
  }
  static std::vector<int32_t> walkBack(SvIndex* ix) {
    std::vector<int32_t> v;
    for (int32_t r = ix->findKey(nullptr, SvIndex::kLast); r != -1; r = ix->prev())
      v.push_back(r);
    return v;
  }

  FakeField intF{"num", kIntAt, 4, false};
  FakeField textF{"name", kTextAt, kTextLen, true};
  std::vector<FakeTable*> tables_;
  std::vector<std::unique_ptr<FakeTable>> owned_;
};

}  // namespace storagetest
