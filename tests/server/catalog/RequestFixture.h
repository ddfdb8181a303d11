// Request test fixture: a real schema in a temporary directory, requests
// sent to its server objects as words on a loop connection (SvObject::con)
// and the replies read back, clients made directly with their real object
// lists and held requests.
//
// The request helpers build the same words a client library sends, so the
// scripted exchanges here can be replayed against a live server.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <svcatalog/CatalogOps.h>
#include <svcatalog/RequestEnv.h>
#include <svcatalog/TableEnv.h>
#include <svobject/Coroutine.h>
#include <svcatalog/SvSchema.h>
#include <svcatalog/SvTable.h>
#include <svobject/Client.h>
#include <svobject/ClientEnv.h>
#include <svobject/SvObject.h>
#include <sindex/SvIndex.h>
#include <zfound/Exception.h>
#include <zfound/Expr.h>
#include <zfound/LoopConnection.h>
#include <zfound/Message.h>
#include <zfound/Privilege.h>
#include <zfound/TimeStamp.h>

#include "SchemaFixture.h"
#include "TestSupport.h"

namespace requesttest {

// The clients' object lists as the server keeps them: a table that is
// destroyed leaves every list first.
class Objects : public svcatalog::TableObjects {
public:
  explicit Objects(std::vector<Client*> clients) : clients_(std::move(clients)) {}
  void delObject(Client* c, SvObject* o) override {
    if (c != nullptr) c->delObject(o);
  }
  void takeFromClients(SvTable* t) override {
    taking = true;
    for (Client* c : clients_)
      while (c->findObject(t) >= 0) c->delObject(t);
    taking = false;
  }
  // While set, a detached object is left alive (its owner destroys it).
  static inline bool taking = false;

private:
  std::vector<Client*> clients_;
};

// One request: its words are written first, then it is run on an object
// and its reply read back.
class Req {
public:
  template <class T>
  Req& operator<<(T const& v) {
    con_ << v;
    return *this;
  }
  Req& w(int32_t v) {
    con_ << v;
    return *this;
  }
  Req& s(char const* v) {
    con_ << String(v);
    return *this;
  }
  // Runs message msg on o for c: the result word; error() the error code.
  long run(GServObj* o, int32_t msg, Client* c) {
    con_.rewind();
    Exception::last(Exception(0));
    SvObject::con = &con_;
    long r = o->execute(msg, c);
    SvObject::con = nullptr;
    err_ = Exception::last().code();
    out_.feed(con_.words());
    return r;
  }
  int32_t error() const { return err_; }
  LoopConnection& out() { return out_; }
  int32_t word() {
    int32_t v = 0;
    out_ >> v;
    return v;
  }
  std::string str() {
    String v;
    out_ >> v;
    return zftest::str(v);
  }
  // n ints of an int field (runs of equal neighbours expanded).
  std::vector<int32_t> ints(int32_t n) {
    std::vector<int32_t> v;
    while (int32_t(v.size()) < n) {
      int32_t x = 0;
      out_.recFirstInt(x);
      int32_t k = out_.counter() > 1 ? out_.counter() : 1;
      for (int32_t i = 0; i < k; ++i) v.push_back(x);
    }
    return v;
  }
  int32_t left() const { return out_.wordsLeft(); }

private:
  LoopConnection con_;
  LoopConnection out_;
  int32_t err_ = 0;
};

class RequestTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    zftest::startUpOnce("ombrel-3.3.2");
    Exception::init(true);
  }
  void SetUp() override {
    env_ = std::make_unique<catalogtest::SchemaEnv>(tmp.path());
    old_ = displayErrorHandler(zftest::recordWarning);
    zftest::shown().clear();
    Exception::last(Exception(0));
    ClientEnv::reset();
    ClientEnv::setStamp(&svstore::StorageEnv::timeStamp);
    ASSERT_TRUE(svcatalog::LockTables::initLocks(256, 64));
    ClientEnv::hooks().detachObject = [](Client*, SvObject* o) { return !Objects::taking && o->isTemp(); };
    svcatalog::TableEnv::objects = &objects;
    schema = SvSchema::consSchema(nullptr, String("demo"), String(env_->db().c_str()), String("d"), 7);
    ASSERT_NE(schema, nullptr);
  }
  void TearDown() override {
    for (Client* c : {&alice, &bob, &carol, &dave}) {
      if (c->hasTrans()) c->delTrans();
      c->clearPending();
      while (c->nObjects() > 0) c->delObject(c->object(c->nObjects() - 1));
    }
    env_.reset();
    svcatalog::LockTables::cleanUpLocks();
    svcatalog::TableEnv::reset();
    ClientEnv::reset();
    displayErrorHandler(old_);
    Exception::last(Exception(0));
  }

  // The words of one field of a table creation.
  static void field(Req& r, char const* name, int32_t type, int32_t len, int32_t dim) {
    r.s(name).s("").w(dim).w(type).w(0).w(len).w(0).w(0) << Expr();
    r.s("").s("");
  }
  // Creates "T" (id int, name string 10, vals int[4]) through Attach, with a
  // primary index on id and a unique index on name; its attachment.
  SvTable* makeTable(Client* c = nullptr) {
    Req r;
    r.w(32).w(0).w(1).s("T").s("a table").w(0).w(0).w(3);
    field(r, "id", SvField::INT, 0, 1);
    field(r, "name", SvField::STRING, 10, 1);
    field(r, "vals", SvField::INT, 0, 4);
    long id = r.run(schema, DBM_ATTACH, c ? c : &alice);
    EXPECT_EQ(r.error(), 0);
    if (id <= 0) {
      for (auto const& l : zftest::shown()) ADD_FAILURE() << l;
      return nullptr;
    }
    SvTable* t = GServObj::object(uint32_t(id))->getSvObject()->getTable();
    EXPECT_EQ(index(t, "pk", 0, {0}), 0);
    EXPECT_EQ(index(t, "byname", 0, {1}), 1);
    return t;
  }
  long index(SvTable* t, char const* name, int32_t flags, std::vector<int32_t> const& fields) {
    Req r;
    r.s(name).w(flags).w(int32_t(fields.size()));
    for (int32_t f : fields) r.w(f).w(0).w(0).w(0);
    long n = r.run(t, DBM_CREATE, &alice);
    if (n < 0) ADD_FAILURE() << "index " << name << ": " << zftest::str(Exception::last().message());
    return n;
  }
  // Adds (id, name, vals) with AddRecord (normal): the record number.
  long add(SvTable* t, int32_t id, char const* name, std::vector<int32_t> vals = {1, 2, 3, 4},
           Client* c = nullptr) {
    Req r;
    r.w(1).w(id).s(name);
    for (int32_t v : vals) r.w(v);
    return r.run(t, DBM_ADDRECORD, c ? c : &alice);
  }
  // Every record by the primary index, as "id name v0 v1 v2 v3" lines.
  std::vector<std::string> dump(SvTable* t) {
    std::vector<std::string> out;
    for (int32_t rec = 1; rec <= t->getLast(); ++rec) {
      if (!t->liveRecord(nullptr, rec)) continue;
      t->fillBuffer(rec);
      int32_t id = 0;
      String name;
      t->getFld(0, id);
      t->getFld(1, name);
      std::string line = std::to_string(id) + " " + zftest::str(name);
      char const* p = t->buffer() + t->field(2)->tableOffset();
      for (int32_t i = 0; i < 4; ++i) {
        // Stored big-endian with the sign bit flipped.
        auto const* b = reinterpret_cast<unsigned char const*>(p + 4 * i);
        int32_t v = int32_t(((uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3]) ^
                            0x80000000u);
        line += " " + std::to_string(v);
      }
      out.push_back(line);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  zftest::TempDir tmp;
  std::unique_ptr<catalogtest::SchemaEnv> env_;
  MsgHandler old_ = nullptr;
  SvSchema* schema = nullptr;
  Client alice{201, "/bin/a", "", 0, 0, "node", "tty1", true};
  Client bob{202, "/bin/b", "", 0, 0, "node", "tty2", true};
  Client carol{203, "/bin/c", "", 0, 0, "node", "tty3", true};
  // A user with no privilege on anything.
  Client dave{204, "/bin/d", "", 9, 9, "node", "tty4", true};
  Objects objects{{&alice, &bob, &carol, &dave}};
};

}  // namespace requesttest
