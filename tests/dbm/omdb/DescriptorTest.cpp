// Table descriptors from the server's description: field layout, internal
// types, flags, key parts, the record-number index; and replies that are
// malformed, which must leave no descriptor behind. The malformed ones come
// from a test endpoint that plays the server.
// Before the interface, whose function TimeStamp hides the class.
#include <zfound/Message.h>

#include "OmdbFixture.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <zeph/Cursors.h>
#include <zeph/Dict.h>
#include <zeph/Keys.h>
#include <zeph/Proc.h>
#include <zfound/DbConnection.h>
#include <zfound/InCheck.h>
#include <zfound/ObjectId.h>
#include <zfound/Portable.h>
#include <zfound/Privilege.h>
#include <zfound/TimeStamp.h>

#include "ChildRun.h"
#include "Omdb.h"
#include "OmdbRecords.h"
#include "OmdbTrans.h"
#include "SysVEndpoint.h"

namespace {

using omtest::FieldDef;
using omtest::kDate;
using omtest::kInt;
using omtest::kNumber;
using omtest::kText;
using omtest::kTime;
using omtest::OmdbFixture;

class OmdbDescriptor : public OmdbFixture {};

TEST_F(OmdbDescriptor, LaysOutFieldsAndKeysAsTheServerDescribesThem) {
  int32_t sch = makeSchema("shop");
  ASSERT_GT(sch, 0);
  int32_t tab = makeTable(sch, "items", {{"id", kInt},
                                         {"name", kText, 20},
                                         {"price", kNumber, 9, 2},
                                         {"day", kDate},
                                         {"at", kTime},
                                         {"vals", kInt, 0, 0, 5},
                                         {"big", kNumber, 20, 4}});
  ASSERT_GT(tab, 0) << server().log();
  ASSERT_TRUE(makeIndex(tab, "pk", {0}, 0));
  ASSERT_TRUE(makeIndex(tab, "byname", {1}, 1));
  int32_t h = OpenSchema(path("shop").c_str(), 0);
  ASSERT_EQ(h, 0x10000);
  int32_t th = FindDbTable(h, "items");
  ASSERT_EQ(th, h | 1 << 8);
  s_table* tp = _GetTabPtr(th);
  ASSERT_NE(tp, nullptr);
  ASSERT_EQ(tp->d.nfields, 7);
  struct Want {
    char const* name;
    uint16_t itype, offset, len, dim;
  } const want[] = {
      {"id", DB_IT_LONG, 32, 9, 0},    {"name", DB_IT_TEXT, 36, 20, 0}, {"price", DB_IT_LONG, 57, 9, 0},
      {"day", DB_IT_DATE, 61, 0, 0},   {"at", DB_IT_TIME, 63, 0, 0},    {"vals", DB_IT_LONG, 65, 9, 5},
      {"big", DB_IT_NUM, 85, 20, 0},
  };
  for (int32_t i = 0; i < 7; ++i) {
    s_field const& f = tp->fields[i];
    EXPECT_STREQ(f.d.name, want[i].name);
    EXPECT_EQ(f.d.f_itype, want[i].itype) << want[i].name;
    EXPECT_EQ(f.d.offset, want[i].offset) << want[i].name;
    EXPECT_EQ(f.d.dim, want[i].dim) << want[i].name;
    if (want[i].len) {
      EXPECT_EQ(f.d.len, want[i].len) << want[i].name;
    }
    EXPECT_NE(omOf(tp)->fields[size_t(i)].conv, nullptr);
  }
  EXPECT_EQ(tp->fields[2].d.dec, 2);
  EXPECT_EQ(tp->d.len, 85 + 16);
  ASSERT_EQ(tp->nindexes, 2);
  EXPECT_STREQ(tp->indexes[0].d.name, "pk");
  EXPECT_EQ(tp->indexes[0].d.flags & 1, 1) << "unique";
  EXPECT_EQ(tp->indexes[0].d.klen, 4);
  EXPECT_EQ(tp->indexes[0].parts[0].offset, 32);
  EXPECT_EQ(tp->indexes[0].parts[0].field, th | 1);
  EXPECT_EQ(tp->indexes[1].d.flags & 1, 0) << "duplicates";
  EXPECT_EQ(tp->indexes[1].parts[0].offset, 36);
  EXPECT_EQ(tp->indexes[1].parts[0].len, 20);
  EXPECT_EQ(tp->indexes[1].parts[0].itype, DB_IT_TEXT);
  EXPECT_EQ(tp->privg, DB_TAB_ALL);
  EXPECT_NE(omOf(tp)->objId, -1);
  EXPECT_NE(_GetTabBuff(th), nullptr);
  EXPECT_EQ(FindDbField(th, "price"), th | 3);
  EXPECT_EQ(FindDbIndex(th, "byname"), th | 1);

  // Reset: detached and described again on the next use.
  omResetTable(tp);
  EXPECT_EQ(tp->d.len, 0);
  ASSERT_EQ(_GetTabPtr(th), tp);
  EXPECT_EQ(tp->d.len, 85 + 16);
}

// ---- replies of a test endpoint ---------------------------------------------------------

constexpr int32_t kSchemaObj = 0x1001;
constexpr int32_t kTableObj = 0x2002;
constexpr int32_t kNewTableObj = 0x3003;
constexpr int32_t kCursorObj = 0x4004;

// One field of a described table, as the server sends it.
struct WireField {
  std::string name = "f";
  int32_t type = 10, dim = 0, len = 9, dec = 0, flags = 0, indices = 0;
  std::string mask = "";
};
struct WirePart {
  int32_t field = 0, flags = 0, offset = 0, length = 0;
};
struct WireIndex {
  std::string name = "pk";
  int32_t flags = 0;
  std::vector<WirePart> parts = {WirePart{}};
};

struct Description {
  int32_t tflags = 0;
  int32_t nfields = -1;  // -1: the number of fields given
  std::vector<WireField> fields = {WireField{}};
  int32_t nindexes = -1;
  std::vector<WireIndex> indexes = {WireIndex{}};
  bool privileges = true;
  bool highTexts = false;  // description, collating set and field descriptions as the highest text
};

std::vector<uint32_t> describe(Description const& d) {
  return zftest::encodeWords([&](Connection& c) {
    char const* const high = reinterpret_cast<char const*>(1);
    char const* text = d.highTexts ? high : "";
    c << (d.highTexts ? high : "a table") << d.tflags << int32_t(0) << Expr() << int32_t(0x5001);
    c << (d.nfields == -1 ? int32_t(d.fields.size()) : d.nfields);
    for (WireField const& f : d.fields) {
      c << String(f.name.c_str()) << f.type << int32_t(0) << Expr() << String(f.mask.c_str()) << f.dim << f.len
        << f.dec << f.indices;
      InCheck::sendEmpty(c);
      c << Expr() << text << ObjectId() << text << f.flags;
    }
    c << (d.nindexes == -1 ? int32_t(d.indexes.size()) : d.nindexes);
    int32_t n = 0;
    for (WireIndex const& ix : d.indexes) {
      c << n++ << String(ix.name.c_str()) << ix.flags << int32_t(ix.parts.size());
      for (WirePart const& p : ix.parts) c << p.field << p.flags << p.offset << p.length;
    }
    if (d.privileges) c << Privilege();
  });
}

// A server played by a test endpoint: a schema "s" with the table list and
// table description the test sets.
class OmdbEndpoint : public ::testing::Test {
protected:
  void SetUp() override {
    zftest::startUpOnce("omdbtest");
    ombrel_ = std::make_unique<zftest::ScopedEnv>("OMBREL", dir_.path());
    servers_ = std::make_unique<zftest::ScopedEnv>("SERVERS", "fake");
  }
  void TearDown() override { CloseAllSchemas(); }

  // Starts an endpoint under keys of its own (never those of one just ended).
  bool start() {
    ep_.reset();
    id_ = zftest::uniqueServerId();
    dir_.write("servers/fake.sv", "ServerId\t" + std::to_string(id_) + "\n");
    ep_ = std::make_unique<zftest::SysVEndpoint>(
        id_, dir_.file("requests.log"), "fake", [this](zftest::EndpointRequest const& r) { return answer(r); });
    return ep_->start();
  }

  zftest::EndpointReply answer(zftest::EndpointRequest const& r) {
    zftest::EndpointReply rep;
    if (r.op == DBM_ATTACH && r.objId == kSchemaObj && r.body.size() >= 3 && r.body[0] == 32 && r.body[2] != 0) {
      // A table made here: its object, its number and, when temporary,
      // the name the server gave it (unless the test leaves it out).
      rep.retValue = kNewTableObj;
      rep.body = zftest::encodeWords([&](Connection& c) {
        c << int32_t(4098);
        if (tempName) c << String("tmp0001");
      });
    } else if (r.op == DBM_GETRECORD) {
      rep = recordReply;
    } else if (r.op == DBM_ALTER) {
      rep.retValue = 1;
      rep.body = zftest::encodeWords([&](Connection& c) {
        for (int32_t v : alterList) c << v;
      });
    } else if (r.op == DBM_ATTACH && r.objId == omtest::kServerObj) {
      rep.retValue = kSchemaObj;
      rep.body = zftest::encodeWords([&](Connection& c) {
        c << protocol << int32_t(0) << String("d") << Privilege();
        enums(c);
      });
    } else if (r.op == DBM_GETTABLES) {
      rep.retValue = ntables;
      rep.body = zftest::encodeWords([&](Connection& c) { c << String(tables.c_str()); });
    } else if (r.op == DBM_BEGTRANSACT) {
      rep.body = zftest::encodeWords([&](Connection& c) { class TimeStamp ts; c << ts; });
    } else if (r.op == DBM_ATTACH && r.objId == kSchemaObj && !r.body.empty() && r.body[0] == 64) {
      rep.retValue = kCursorObj;
    } else if ((r.op == DBM_GETNEXTBLOCK || r.op == DBM_GETPREVBLOCK) && r.objId == kCursorObj) {
      // Records of the one-field table: instance, modification stamp,
      // the field, then the record number.
      std::vector<int32_t> const& ids = r.op == DBM_GETNEXTBLOCK ? nextBlock : prevBlock;
      rep.retValue = -int32_t(ids.size());
      rep.body = zftest::encodeWords([&](Connection& c) {
        for (int32_t id : ids) c << id << int32_t(0) << int32_t(0) << id * 10 << id;
      });
    } else if (r.op == DBM_ATTACH && r.objId == kSchemaObj) {
      rep.retValue = kTableObj;
      rep.body = describe(table);
    }
    return rep;
  }

  // The first body word of every EndTransact the endpoint received.
  std::vector<std::string> endWishes() const {
    std::vector<std::string> out;
    std::ifstream in(dir_.file("requests.log"));
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string tag, number, op, obj, parts, first;
      words >> tag >> number >> op >> obj >> parts >> first;
      if (op == std::to_string(DBM_ENDTRANSACT)) out.push_back(first);
    }
    return out;
  }

  // The log lines of the requests the endpoint received with operation op:
  // "<objId> <body words>".
  std::vector<std::string> requestsOf(int32_t op) const {
    std::vector<std::string> out;
    std::ifstream in(dir_.file("requests.log"));
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string tag, number, code, obj, parts, rest;
      words >> tag >> number >> code >> obj >> parts;
      std::getline(words, rest);
      if (code == std::to_string(op)) out.push_back(obj + rest);
    }
    return out;
  }

  // The requests the endpoint received: "<op> <objId>" lines.
  std::vector<std::string> requests() const {
    std::vector<std::string> out;
    std::ifstream in(dir_.file("requests.log"));
    std::string tag, number, op, obj;
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      words >> tag >> number >> op >> obj;
      out.push_back(op + " " + obj);
    }
    return out;
  }

  int32_t protocol = 1101;
  bool tempName = true;                // a temporary table's create reply names it
  std::vector<int32_t> alterList{-1};  // an Alter answer's index list
  zftest::EndpointReply recordReply;   // the answer to every GetRecord
  std::function<void(Connection&)> enums = [](Connection& c) { c << int32_t(0); };
  std::vector<int32_t> nextBlock{1, 2, 3}, prevBlock{3, 2};  // records of a cursor's blocks (all last)
  std::string tables = "t:4097";
  int32_t ntables = 1;
  Description table;

  zftest::TempDir dir_;
  int32_t id_ = 0;
  std::unique_ptr<zftest::ScopedEnv> ombrel_, servers_;
  std::unique_ptr<zftest::SysVEndpoint> ep_;
};

TEST_F(OmdbEndpoint, OldProtocolsAreRefused) {
  MsgHandler old = displayErrorHandler(zftest::recordWarning);
  for (int32_t version : {1100, 900, int32_t(0x80000000u | 1100)}) {
    protocol = version;
    ASSERT_TRUE(start());
    _io_errno_ = 0;
    zftest::shown().clear();
    EXPECT_EQ(OpenSchema("fake/s", 0), -1) << version;
    EXPECT_EQ(_io_errno_, 11);
    EXPECT_EQ(CurrentSchema(), -1);
    std::string text = "Incompatible Ombrel Protocol Version (Cl: 1101, Sv: " + std::to_string(version & 0x7fffffff) + ")";
    EXPECT_TRUE(zftest::wasShown(text)) << text;
    ep_.reset();
  }
  displayErrorHandler(old);
  protocol = 1101;
  ASSERT_TRUE(start());
  EXPECT_EQ(OpenSchema("fake/s", 0), 0x10000);
}

// Enumerations come with the schema; counts out of bounds fail the open.
TEST_F(OmdbEndpoint, EnumerationsAreReadWithinBounds) {
  struct Case {
    char const* what;
    std::function<void(Connection&)> write;
    bool opens;
  } const cases[] = {
      {"two items",
       [](Connection& c) { c << int32_t(1) << String("colour") << int32_t(2) << String("red") << int32_t(1)
                             << String("blue") << int32_t(7); },
       true},
      {"too many enumerations", [](Connection& c) { c << int32_t(300); }, false},
      {"negative count", [](Connection& c) { c << int32_t(-1); }, false},
      {"negative items", [](Connection& c) { c << int32_t(1) << String("e") << int32_t(-4); }, false},
      {"items beyond the reply", [](Connection& c) { c << int32_t(1) << String("e") << int32_t(1000); }, false},
  };
  for (Case const& c : cases) {
    enums = c.write;
    ASSERT_TRUE(start());
    _io_errno_ = 0;
    int32_t h = OpenSchema("fake/s", 0);
    EXPECT_EQ(h, c.opens ? 0x10000 : -1) << c.what;
    if (c.opens) {
      s_schema* sp = _GetSchPtr(h);
      ASSERT_EQ(sp->d.nenums, 1);
      EXPECT_STREQ(sp->enums[0].name, "colour");
      ASSERT_EQ(sp->enums[0].nitems, 2);
      EXPECT_STREQ(sp->enums[0].items[1].text, "blue");
      EXPECT_EQ(sp->enums[0].items[1].value, 7);
      int32_t v = 0;
      EXPECT_TRUE(_FindEnumItem(sp, "colour", "blue", &v));
      EXPECT_EQ(v, 7);
    } else {
      EXPECT_EQ(_io_errno_, 11) << c.what;
      EXPECT_EQ(CurrentSchema(), -1) << c.what;
    }
    CloseAllSchemas();
    ep_.reset();
  }
}

// A table list that disagrees with its count, or is malformed, fails the
// open and leaves nothing open; so does a schema of more tables than
// handles can number.
TEST_F(OmdbEndpoint, BadTableListsFailTheOpen) {
  std::string many;
  for (int32_t i = 0; i < 255; ++i) many += (i ? "\t" : "") + std::string("t") + std::to_string(i) + ":" + std::to_string(i + 1);
  struct Case {
    std::string list;
    int32_t count;
  } const cases[] = {
      {"a:1\tb:2", 3}, {"a:1\tb:2", 1}, {"a:1", 0},   {"", 1},      {"a:x", 1},
      {"a:", 1},       {":5", 1},       {"a:1\t", 2}, {"a:-1", 1},  {"a:99999999999", 1},
      {many, 255},     {"a:1", -1},
  };
  for (Case const& c : cases) {
    tables = c.list;
    ntables = c.count;
    ASSERT_TRUE(start());
    _io_errno_ = 0;
    EXPECT_EQ(OpenSchema("fake/s", 0), -1) << c.list.substr(0, 20) << " / " << c.count;
    EXPECT_EQ(_io_errno_, 11);
    EXPECT_EQ(CurrentSchema(), -1);
    EXPECT_EQ(findDbTable(1), -1);
    ep_.reset();
  }
  tables = "a:1\tb:2";
  ntables = 2;
  ASSERT_TRUE(start());
  int32_t h = OpenSchema("fake/s", 0);
  ASSERT_EQ(h, 0x10000);
  EXPECT_EQ(findDbTable(1), h | 1 << 8);
  EXPECT_EQ(findDbTable(2), h | 2 << 8);
}

// A table description with a count, a type or a key part out of bounds
// leaves the table unattached (and detached on the server).
TEST_F(OmdbEndpoint, BadDescriptionsLeaveTheTableUnattached) {
  int32_t const h = 0x10000, th = h | 1 << 8;
  auto with = [](std::function<void(Description&)> f) {
    Description d;
    f(d);
    return d;
  };
  struct Case {
    char const* what;
    Description d;
  } const cases[] = {
      {"field count negative", with([](Description& d) { d.nfields = -1 - 1; })},
      {"field count too large", with([](Description& d) { d.nfields = 300; })},
      {"field count beyond the reply", with([](Description& d) { d.nfields = 3; })},
      {"unknown type", with([](Description& d) { d.fields[0].type = 6; })},
      {"number too long", with([](Description& d) { d.fields[0] = WireField{"n", 0, 0, 40, 0, 0}; })},
      {"negative dimension", with([](Description& d) { d.fields[0].dim = -3; })},
      {"record too long", with([](Description& d) { d.fields[0] = WireField{"t", 1, 200, 1000, 0, 0}; })},
      {"index count too large", with([](Description& d) { d.nindexes = 256; })},
      {"key part field beyond the table", with([](Description& d) { d.indexes[0].parts[0].field = 1; })},
      {"key part field negative", with([](Description& d) { d.indexes[0].parts[0].field = -2; })},
      {"no key parts", with([](Description& d) { d.indexes[0].parts.clear(); })},
      {"text part beyond the field",
       with([](Description& d) {
         d.fields[0] = WireField{"t", 1, 0, 8, 0, 0};
         d.indexes[0].parts[0] = WirePart{0, 0, 6, 5};
       })},
      {"no privileges", with([](Description& d) { d.privileges = false; })},
      {"binary array", with([](Description& d) { d.fields[0] = WireField{"b", 9, 3, 12, 0, 0}; })},
  };
  for (Case const& c : cases) {
    // The endpoint is a child process: it answers with what it was started with.
    table = c.d;
    ASSERT_TRUE(start());
    ASSERT_EQ(OpenSchema("fake/s", 0), h);
    EXPECT_EQ(_GetTabPtr(th), nullptr) << c.what;
    s_table* tp = _GetSchPtr(h)->tables[1].tab;
    EXPECT_EQ(tp->d.len, 0) << c.what;
    EXPECT_EQ(tp->fields, nullptr) << c.what;
    EXPECT_EQ(tp->nindexes, 0) << c.what;
    std::vector<std::string> seen = requests();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), std::to_string(DBM_DETACH) + " " + std::to_string(kSchemaObj)) << c.what;
    CloseAllSchemas();
    ep_.reset();
    std::remove(dir_.file("requests.log").c_str());
  }
  table = Description{};
  ASSERT_TRUE(start());
  ASSERT_EQ(OpenSchema("fake/s", 0), h);
  s_table* tp = _GetTabPtr(th);
  ASSERT_NE(tp, nullptr);
  EXPECT_EQ(tp->d.nfields, 1);
  EXPECT_EQ(omOf(tp)->objId, kTableObj);
}

// Texts of a description are taken safely: the highest text (length word
// 0x7fffffff) is no text, and a mask beginning with the byte 1 is the value
// of the environment variable it names.
TEST_F(OmdbEndpoint, ReceivedTextsAreTakenSafely) {
  zftest::ScopedEnv maskVar("OMTEST_FIELD_MASK", "999.99");
  table.highTexts = true;
  table.fields = {WireField{"a", 10, 0, 9, 0, 0, 0, "\001OMTEST_FIELD_MASK"}, WireField{"b", 10, 0, 9, 0, 0, 0, "99"}};
  table.indexes.clear();
  ASSERT_TRUE(start());
  int32_t h = OpenSchema("fake/s", 0);
  ASSERT_EQ(h, 0x10000);
  s_table* tp = _GetTabPtr(h | 1 << 8);
  ASSERT_NE(tp, nullptr);
  EXPECT_STREQ(tp->d.descr, "");
  ASSERT_EQ(tp->d.nfields, 2);
  EXPECT_STREQ(tp->fields[0].d.descr, "");
  EXPECT_EQ(omOf(tp)->fields[0].collate, "");
  EXPECT_STREQ(tp->fields[0].d.mask, "999.99");
  EXPECT_STREQ(tp->fields[1].d.mask, "99");
}

// Two servers may give their tables the same number: each schema keeps its
// own registration, and the current schema's comes first.
TEST_F(OmdbEndpoint, TableNumbersAreKeptPerSchema) {
  ASSERT_TRUE(start());
  int32_t id2 = zftest::uniqueServerId();
  dir_.write("servers/fake2.sv", "ServerId\t" + std::to_string(id2) + "\n");
  zftest::SysVEndpoint second(id2, dir_.file("requests2.log"), "fake2",
                              [this](zftest::EndpointRequest const& r) { return answer(r); });
  ASSERT_TRUE(second.start());
  int32_t a = OpenSchema("fake/s", 0), b = OpenSchema("fake2/s", 0);
  ASSERT_EQ(a, 0x10000);
  ASSERT_EQ(b, 0x20000);
  EXPECT_NE(omConnection(a), omConnection(b));
  EXPECT_EQ(findDbTable(4097, a), a | 1 << 8);
  EXPECT_EQ(findDbTable(4097, b), b | 1 << 8);
  EXPECT_EQ(findDbTable(4097), b | 1 << 8) << "the current schema's";
  EXPECT_EQ(SwitchToSchema(a), b);
  EXPECT_EQ(GetDbTable(4097), a | 1 << 8);
  EXPECT_EQ(CloseSchema(a), 0);
  EXPECT_EQ(findDbTable(4097), b | 1 << 8) << "the other schema's entry stays";
  EXPECT_EQ(CloseSchema(b), 0);
  EXPECT_EQ(findDbTable(4097), -1);
}

// Table and field flags turn from the server's bits into the interface's.
TEST_F(OmdbEndpoint, FlagsAreConverted) {
  struct Case {
    int32_t server, indices;
    uint16_t mine;
  } const cases[] = {{0x01, 0, 0x001}, {0x10, 0, 0x004}, {0x40, 0, 0x008}, {0x20, 0, 0x010},
                     {0x04, 0, 0x080}, {0x08, 0, 0x040}, {0x08, 1, 0x100}, {0x02, 0, 0x000}};
  table.tflags = 7;
  table.fields.clear();
  for (Case const& c : cases) table.fields.push_back(WireField{"f" + std::to_string(table.fields.size()), 10, 0, 9, 0, c.server, c.indices});
  ASSERT_TRUE(start());
  int32_t h = OpenSchema("fake/s", 0);
  ASSERT_EQ(h, 0x10000);
  s_table* tp = _GetTabPtr(h | 1 << 8);
  ASSERT_NE(tp, nullptr);
  ASSERT_EQ(tp->d.nfields, int32_t(sizeof cases / sizeof cases[0]));
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
    EXPECT_EQ(tp->fields[i].d.flags, cases[i].mine) << cases[i].server << "/" << cases[i].indices;
  // Server bits 0, 1, 2 give 0x02, 0x08, 0x20; the modification-stamp field
  // adds 4 (the creation-stamp one 2).
  EXPECT_EQ(tp->d.flags, 0x02 | 0x08 | 0x20 | 0x04);
  EXPECT_EQ(omOf(tp)->srvFlags, 7);
  CloseAllSchemas();
  ep_.reset();
  // A modification stamp alone gives table flag 4; a creation stamp 2.
  for (auto [server, want] : {std::pair<int32_t, uint16_t>{0x04, 4}, {0x08, 2}}) {
    table.tflags = 0;
    table.fields = {WireField{"stamp", 10, 0, 9, 0, server, 0}};
    ASSERT_TRUE(start());
    ASSERT_EQ(OpenSchema("fake/s", 0), h);
    tp = _GetTabPtr(h | 1 << 8);
    ASSERT_NE(tp, nullptr);
    EXPECT_EQ(tp->d.flags, want) << server;
    CloseAllSchemas();
    ep_.reset();
  }
}

// A key part on the record number lies on the record number of the
// prefix's object id (bytes 4-7), not on its table number (bytes 0-3),
// which every record of the table shares; a unique index of that part
// alone is the table's record-number index.
// A cursor's requests and blocks byte for byte: the attach, the range sent
// before a walk (range flags, no field list, the open ends as the lowest and
// highest keys; at the end for a backward walk), a last block of three
// arriving as -3 filling three entries in key order, a backward block
// filling the block from its last entry.
TEST_F(OmdbEndpoint, CursorRangesAndBlocksAsTheWireHoldsThem) {
  ASSERT_TRUE(start());
  int32_t h = OpenSchema("fake/s", 0);
  ASSERT_EQ(h, 0x10000);
  int32_t t = h | 1 << 8;
  s_table* tp = _GetTabPtr(t);
  ASSERT_NE(tp, nullptr);
  int32_t cur = CreateCursor(t, 0);
  ASSERT_GT(cur, 0);
  char* buf = _GetTabBuff(t);
  for (int32_t id = 1; id <= 3; ++id) {
    ASSERT_EQ(FetchCursor(cur), id);
    EXPECT_EQ(ldlong(_GetFldBuff(t | 1, 0)), id * 10);
    EXPECT_EQ(ldlong(buf + tp->d.len), id) << "the number after the record";
    EXPECT_EQ(ldlong(buf + omdb::kPfxInst), id);
  }
  EXPECT_EQ(_GetCursorPtr(cur)->fnrec, -3);
  EXPECT_EQ(FetchCursor(cur), -1);
  EXPECT_EQ(FetchCursorPrev(cur), 3) << "back from past the end";
  EXPECT_EQ(FetchCursorPrev(cur), 2);
  ASSERT_EQ(_RewindCursor(cur), 0);
  EXPECT_EQ(FetchCursorPrev(cur), 3);
  s_dbcurs const* c = _GetCursorPtr(cur);
  EXPECT_EQ(c->bnrec, -2);
  EXPECT_EQ(c->pos, c->capacity - 1);
  EXPECT_EQ(FetchCursorPrev(cur), 2);
  EXPECT_EQ(FetchCursorPrev(cur), -1);
  EXPECT_EQ(DeleteCursor(cur), 0);

  EXPECT_EQ(requestsOf(DBM_ATTACH).back(), "4097 00000040 00000000 00000000 00002002 00000000 00000000");
  EXPECT_EQ(requestsOf(DBM_SETRANGE),
            (std::vector<std::string>{"16388 0000000a 00000000 80000000 7fffffff",
                                      "16388 0000008a 00000000 80000000 7fffffff"}));
  EXPECT_EQ(requestsOf(DBM_GETNEXTBLOCK), std::vector<std::string>{"16388"});
  EXPECT_EQ(requestsOf(DBM_GETPREVBLOCK), std::vector<std::string>{"16388"});
  EXPECT_EQ(requestsOf(DBM_DETACH).back(), "1879048192 00004004");
}

TEST_F(OmdbEndpoint, RecordNumberPartsLieOnTheRecordNumber) {
  table.indexes = {WireIndex{"byname", 1, {WirePart{0, 6, 0, 0}, WirePart{-1, 0, 0, 0}}},
                   WireIndex{"recno", 0, {WirePart{-1, 0, 0, 0}}}};
  ASSERT_TRUE(start());
  int32_t h = OpenSchema("fake/s", 0);
  ASSERT_EQ(h, 0x10000);
  s_table* tp = _GetTabPtr(h | 1 << 8);
  ASSERT_NE(tp, nullptr);
  ASSERT_EQ(tp->nindexes, 2);
  s_index_field const& part = tp->indexes[0].parts[1];
  EXPECT_EQ(part.offset, 4);
  EXPECT_EQ(part.len, 4);
  EXPECT_EQ(part.itype, DB_IT_LONG);
  EXPECT_EQ(tp->indexes[0].d.klen, 8);
  EXPECT_EQ(omOf(tp)->recnoIndex, (h | 1 << 8) | 1);
  // The record calls take it for the record number, not for a field.
  EXPECT_TRUE(omdb::isRecnoPart(part));
  EXPECT_FALSE(omdb::isRecnoPart(tp->indexes[0].parts[0]));
  // The server's part flags 2 (descending) and 4 (not null) in this
  // library's bits 0 and 1, as AddIndField keeps them.
  EXPECT_EQ(tp->indexes[0].parts[0].flags, 3);
  // A part added here on field 0 has the same form.
  int32_t ix = CreateIndex(h | 1 << 8, "another", 1, 0);
  ASSERT_GE(ix, 0);
  ASSERT_EQ(AddIndField(ix, 0, 0, 0, 0), 0);
  EXPECT_TRUE(omdb::isRecnoPart(tp->indexes[dbLowByte(ix)].parts[0]));
  // Two records differing only in their numbers give different keys.
  std::vector<char> a(size_t(tp->d.len) + 4, 0), b(a);
  stlong(4097, a.data());
  stlong(4097, b.data());
  stlong(5, a.data() + 4);
  stlong(6, b.data() + 4);
  char ka[16] = {}, kb[16] = {};
  _BuildKey(ka, &tp->indexes[1], a.data(), 5);
  _BuildKey(kb, &tp->indexes[1], b.data(), 6);
  EXPECT_LT(_KeyCmp(&tp->indexes[1], ka, kb), 0);
}

// A design reply that lacks what the request needs is a failure: a
// temporary table's create reply without its name, an Alter index list
// longer than the new table's indexes or without its -1 end.
// A unique index on the first field of table t, made on the server.
int32_t serverIndexForAlter(int32_t t) {
  int32_t ix = CreateIndex(t, "pk", 1, 0);
  if (ix < 0 || AddIndField(ix, (t & 0xffff00) | 1, 0, 0, 0) != 0) return -1;
  return CompleteIndex(ix) >= 0 ? 1 : -1;
}

TEST_F(OmdbEndpoint, DesignRepliesMissingTheirPartsAreFailures) {
  tempName = false;
  ASSERT_TRUE(start());
  int32_t h = OpenSchema("fake/s", 0);
  ASSERT_EQ(h, 0x10000);
  int32_t tmp = CreateTable(h, "scratch", "", 1, 0, 1);
  ASSERT_GT(tmp, 0);
  EXPECT_EQ(AddTabField(tmp, "a", "", 0, 10, 0, 9, 0, 0, nullptr, nullptr), -1) << "no name in the reply";
  CloseAllSchemas();
  ep_.reset();
  tempName = true;

  struct Case {
    char const* what;
    std::vector<int32_t> list;
    int32_t result;
  } const cases[] = {
      {"longer than the new table's indexes", {0, 1, 2, -1}, -1},
      {"without its end", {}, -1},
      {"an index and the end", {0, -1}, 1},
  };
  for (Case const& c : cases) {
    alterList = c.list;
    ASSERT_TRUE(start());
    h = OpenSchema("fake/s", 0);
    ASSERT_EQ(h, 0x10000);
    int32_t old = FindDbTable(h, "t");
    ASSERT_GT(old, 0);
    ASSERT_NE(_GetTabPtr(old), nullptr);
    int32_t nt = CreateTable(h, "n", "", 0, 0, 1);
    ASSERT_GT(nt, 0);
    ASSERT_GT(AddTabField(nt, "f", "", 0, 10, 0, 9, 0, 0, nullptr, nullptr), 0);
    ASSERT_GT(serverIndexForAlter(nt), 0) << c.what;
    int32_t* indices = nullptr;
    EXPECT_EQ(AlterTable(old, nt, 0, &indices), c.result) << c.what;
    if (c.result == 1) {
      ASSERT_NE(indices, nullptr);
      EXPECT_EQ(indices[0], 0);
      EXPECT_EQ(indices[1], -1);
    } else {
      EXPECT_EQ(indices, nullptr) << c.what;
    }
    def_Free(indices, __FILE__, __LINE__);
    CloseAllSchemas();
    ep_.reset();
  }
}

// "SYNCLOG" decides whether EndTransaction asks the server to sync its
// journal before answering. A program reads it once, at its first
// EndTransaction: each case runs in a child of its own, which forgets what
// the test process may have read before (a child inherits it), and a
// second transaction after the variable changed keeps the first value.
TEST_F(OmdbEndpoint, SynclogAsksForASyncedEnd) {
  struct Case {
    char const* value;  // null: unset
    char const* later;  // the value set before the second transaction
    char const* wish;
  } const cases[] = {{nullptr, "1", "00000000"}, {"", "1", "00000000"}, {"0", "1", "00000000"}, {"1", "0", "00000001"}};
  for (Case const& c : cases) {
    std::remove(dir_.file("requests.log").c_str());
    ASSERT_TRUE(start());
    zftest::ScopedEnv synclog("SYNCLOG", c.value ? c.value : "", c.value == nullptr);
    zftest::RunResult r = zftest::runInChild([&c] {
      omdb::rereadSyncLog();
      ZF_CHILD_CHECK(OpenSchema("fake/s", 0) == 0x10000);
      DbConnection* conn = DbConnection::head();
      ZF_CHILD_CHECK(conn != nullptr);
      for (int n = 0; n < 2; ++n) {
        if (n == 1)
          setenv("SYNCLOG", c.later, 1);
        BeginTransaction();
        ZF_CHILD_CHECK(omdb::joinTrans(conn, false));
        ZF_CHILD_CHECK(conn->inTransaction());
        ZF_CHILD_CHECK(EndTransaction() == 1);
      }
      return 0;
    });
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(endWishes(), (std::vector<std::string>{c.wish, c.wish})) << (c.value ? c.value : "unset");
    ep_.reset();
  }
}

// Record replies that would write past the record buffer (the library's
// own allocation of record length + 4 bytes, where an address checker sees
// any byte written beyond it): a run longer than the array that ends the
// record is refused and leaves the buffer as it was; a text longer than
// the field that ends the record is cut to the field length.
TEST_F(OmdbEndpoint, RecordRepliesStayInsideTheRecordBuffer) {
  int32_t const h = 0x10000, th = h | 1 << 8;
  WireField const id{"id"}, vals{"vals", 10, 3, 9}, name{"name", 1, 0, 5};
  struct Case {
    char const* what;
    std::vector<WireField> fields;
    std::function<void(Connection&)> body;
    int32_t result;
  } const cases[] = {
      {"run longer than the array",
       {id, name, vals},
       [](Connection& c) { c << int32_t(7) << String("ab") << int32_t(0x7ffffffe) << int32_t(5) << int32_t(9); },
       -1},
      {"run of the whole array",
       {id, name, vals},
       [](Connection& c) { c << int32_t(7) << String("ab") << int32_t(0x7ffffffe) << int32_t(3) << int32_t(9); },
       1},
      {"text longer than the field",
       {id, vals, name},
       [](Connection& c) {
         c << int32_t(7) << int32_t(0x7ffffffe) << int32_t(3) << int32_t(9) << String("abcdefghijklmnopqrstuvwxyz");
       },
       1},
  };
  for (Case const& c : cases) {
    table = Description{};
    table.fields = c.fields;
    recordReply = zftest::EndpointReply{};
    recordReply.retValue = 1;
    recordReply.body = zftest::encodeWords([&](Connection& w) {
      w << int32_t(1) << int32_t(0) << int32_t(0);  // record number, modification stamp
      c.body(w);
    });
    ASSERT_TRUE(start());
    ASSERT_EQ(OpenSchema("fake/s", 0), h) << c.what;
    s_table* tp = _GetTabPtr(th);
    ASSERT_NE(tp, nullptr) << c.what;
    char* buf = _GetTabBuff(th);
    ASSERT_NE(buf, nullptr);
    std::vector<char> before(size_t(tp->d.len) + 4, char(0x5a));
    std::memcpy(buf, before.data(), before.size());
    stlong(7, buf + tp->fields[0].d.offset);
    std::memcpy(before.data(), buf, before.size());
    EXPECT_EQ(GetRecord(th, 1, 0, 0), c.result) << c.what;
    s_field const& v = tp->fields[(FindDbField(th, "vals") & 0xff) - 1];
    s_field const& n = tp->fields[(FindDbField(th, "name") & 0xff) - 1];
    if (c.result == -1) {
      EXPECT_EQ(std::memcmp(buf, before.data(), before.size()), 0) << c.what;
    } else {
      for (int32_t e = 0; e < 3; ++e) EXPECT_EQ(ldlong(buf + v.d.offset + 4 * e), 9) << c.what;
      EXPECT_EQ(std::string(buf + n.d.offset), c.fields[2].name == "name" ? "abcde" : "ab") << c.what;
      EXPECT_EQ(ldlong(buf + tp->d.len), 1) << c.what;
    }
    CloseAllSchemas();
    ep_.reset();
  }
}

// A read with lock flag 4 asks for a record that must exist: a missing
// one is a fatal report naming the key, as in the local library.
TEST_F(OmdbEndpoint, AMissingRecordThatMustExistIsFatal) {
  recordReply = zftest::EndpointReply{};
  recordReply.retValue = -1;
  ASSERT_TRUE(start());
  zftest::RunResult r = zftest::runInChild([] {
    ZF_CHILD_CHECK(OpenSchema("fake/s", 0) == 0x10000);
    int32_t th = 0x10000 | 1 << 8;
    ZF_CHILD_CHECK(_GetTabPtr(th) != nullptr);
    InitRecord(th);
    stlong(4242, _GetTabBuff(th) + _GetTabPtr(th)->fields[0].d.offset);
    ZF_CHILD_CHECK(GetRecord(th, 1, 0, 0) == -1);  // without flag 4: not found
    GetRecord(th, 1, 4, 0);
    return 0;
  });
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("no record with key"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("4242"), std::string::npos) << r.err;
}

}  // namespace
