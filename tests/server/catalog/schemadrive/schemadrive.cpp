// schemadrive DIR: a schema built, filled, checkpointed, closed and opened
// again on a temporary directory; exits 0 only when the structure reads back
// the same and every record reads back.
//
// Under DIR: the disk layout file, the database directory DIR/db with the
// schema "demo", and the structure listings DIR/before.txt and DIR/after.txt
// (the six catalog tables' contents and each table's structure).
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <blkfile/StorageEnv.h>
#include <svcatalog/CatalogOps.h>
#include <svcatalog/CatalogTables.h>
#include <svcatalog/SvField.h>
#include <svcatalog/SvInCheck.h>
#include <svcatalog/SvTable.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/Process.h>

#include "../SchemaFixture.h"

namespace {

int failures = 0;
std::string captured;

void check(bool ok, std::string const& what) {
  if (ok) return;
  ++failures;
  std::fprintf(stderr, "schemadrive: FAILED: %s\n", what.c_str());
}

int capture(int, char const*, char const* text) {
  captured += text != nullptr ? text : "";
  captured += "\n";
  return 0;
}

std::string lastError() { return toCharPtr(Exception::last().message()) ? toCharPtr(Exception::last().message()) : ""; }

struct FieldDef {
  char const* name;
  int32_t type, len, dec, dim;
  TabFldFlags flags;
};

SvTable* table(SvSchema* s, char const* name, TabFlags flags, std::vector<FieldDef> const& fields) {
  SvTable* t = svcatalog::consTable(nullptr, s, String(name), String("table ") + name, 0, flags, 0);
  check(t != nullptr, std::string("table ") + name + ": " + lastError());
  if (t == nullptr) return nullptr;
  SvTabRep* r = t->tabRep();
  int32_t n = 0;
  for (FieldDef const& f : fields) {
    InCheck* in = nullptr;
    String enumName;
    if (std::string(f.name) == "color") {
      auto* list = new SvInList(false);
      for (int v : {1, 2, 3}) list->addKeyVal(AnyValue(long(v)));
      in = list;
      enumName = String("Colors");
    }
    SvField* made = svcatalog::consField(nullptr, r, n++, String(f.name), String(), nullptr, String(), f.len, f.dec,
                                         f.type, 0, ObjectId(), f.flags, f.dim, in, nullptr, nullptr, enumName);
    check(made != nullptr, std::string("field ") + name + "." + f.name + ": " + lastError());
  }
  check(t->updateRecLength(nullptr, r->nextOffset() - r->prefixSize()), std::string("record length of ") + name);
  return r->attachment(-1);
}

std::string customerName(int i) {
  char b[16];
  std::snprintf(b, sizeof b, "cust%04d", i);
  return b;
}

// The texts stored for record i, by field name (stamps and computed fields
// excluded).
std::vector<std::pair<std::string, std::string>> values(int i) {
  char credit[32], born[32];
  std::snprintf(credit, sizeof credit, "%d.%02d", i, i % 100);
  // The short stored time keeps every second second.
  std::snprintf(born, sizeof born, "%02d:%02d:%02d", i % 24, i % 60, (i * 14) % 60);
  return {{"name", customerName(i)}, {"credit", credit},       {"at", born},
          {"ratio", std::to_string(i % 17)}, {"vip", i % 2 ? "1" : "0"}, {"ref", "<12, " + std::to_string(i) + ">"},
          {"age", std::to_string(i % 90)},   {"color", std::to_string(1 + i % 3)}};
}

bool storeText(SvTable* t, char const* field, std::string const& text, int elem = 0) {
  SvField* f = t->field(String(field));
  if (f == nullptr) return false;
  char* p = t->buffer() + f->tableOffset() + elem * f->ilength(true);
  return f->store(p, String(text.c_str()), true, -1);
}

std::string loadText(SvTable* t, char const* field, int elem = 0) {
  SvField* f = t->field(String(field));
  if (f == nullptr) return "<no field>";
  char const* p = t->buffer() + f->tableOffset() + elem * f->ilength(true);
  String s;
  f->load(s, p, true, -1);
  return s.isNull() ? "" : toCharPtr(s);
}

std::string listing(SvSchema* s) {
  captured.clear();
  s->dumpStructureTables(nullptr);
  for (int32_t i = 0; i < s->tablesDim(); ++i)
    if (SvTabRep* t = s->table(i); t != nullptr && !s->isCatalogRep(t)) svcatalog::listStructure(nullptr, t);
  return captured;
}

void writeFile(std::string const& path, std::string const& text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool exists(std::string const& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: schemadrive DIR\n");
    return 2;
  }
  std::string const dir = argv[1];
  // The directory may be new; anything else in its place is refused.
  struct stat st;
  if (::mkdir(dir.c_str(), 0777) != 0 && (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
    std::fprintf(stderr, "schemadrive: %s is not a directory that can be made or used\n", dir.c_str());
    return 2;
  }
  svstore::StorageEnv::startUpAsServer();
  MsgHandler const old = displayErrorHandler(capture);
  int32_t id = -1;
  {
    catalogtest::SchemaEnv env(dir);
    SvSchema* s = SvSchema::consSchema(nullptr, String("demo"), String(env.db().c_str()), String("demo schema"), 0);
    check(s != nullptr, "schema demo: " + lastError());
    if (s == nullptr) return 1;
    id = s->id();
    check(s->enumCreate(nullptr, String("Colors"), {{String("Red"), 1}, {String("Green"), 2}, {String("Blue"), 3}}) ==
              0,
          "enumeration Colors");
    using F = SvField;
    SvTable* cust = table(s, "Customers", TabFlag::kCreationStamp,
                          {{"name", F::STRING, 20, 0, 1, FldFlag::kNotNull},
                           {"credit", F::NUM, 10, 2, 1, 0},
                           {"born", F::DATE, 0, 0, 1, 0},
                           {"at", F::TIME, 0, 0, 1, 0},
                           {"ratio", F::FLOAT, 0, 0, 1, 0},
                           {"vip", F::BOOL, 0, 0, 1, 0},
                           {"ref", F::OBJECT, 0, 0, 1, 0},
                           {"vso", F::VSO, 0, 0, 1, 0},
                           {"age", F::INT, 0, 0, 1, 0},
                           {"tags", F::INT, 0, 0, 3, 0},
                           {"color", F::INT, 0, 0, 1, 0},
                           {"changed", F::TIME, 0, 0, 1, FldFlag::kVirtual | FldFlag::kMStamp},
                           {"created", F::DATE, 0, 0, 1, FldFlag::kVirtual | FldFlag::kCStamp}});
    SvTable* one = table(s, "Customer", 0, {{"code", F::INT, 0, 0, 1, 0}, {"text", F::STRING, 30, 0, 1, 0}});
    SvTable* orders = table(s, "2Orders", 0, {{"amount", F::NUM, 12, 4, 1, 0}, {"day", F::DATE, 0, 0, 1, 0}});
    SvTable* a = table(s, "A", 0, {{"x", F::STRING, 4, 0, 2, 0}});
    check(one && orders && a, "tables Customer, 2Orders, A");
    if (cust == nullptr) return 1;
    SvTabRep* r = cust->tabRep();
    SvIndRep* byName = svcatalog::consIndex(nullptr, r, 0, String("byName"), 20, 1, 0);
    SvIndRep* byAge = svcatalog::consIndex(nullptr, r, 1, String("byAge"), 4, 1, IndFlag::kDup);
    check(byName && byAge, "indexes: " + lastError());
    if (byName == nullptr || byAge == nullptr) return 1;
    check(svcatalog::consIndField(nullptr, byName, 0, r->field(String("name")), 0, -1, 20) != nullptr, "part name");
    check(svcatalog::consIndField(nullptr, byAge, 0, r->field(String("age")), 0, -1, 4) != nullptr, "part age");
    Privilege p;
    p.add(5, 1, 8);
    p.add(3, 0, 9);
    check(svcatalog::updateTablePrivg(nullptr, r, p), "privileges");
    Privilege sp;
    sp.add(5, 1, 1);
    check(s->updatePrivg(nullptr, sp), "schema privileges");
    for (int i = 0; i < 1000; ++i) {
      cust->initRecord(cust->buffer());
      bool ok = true;
      for (auto const& [f, v] : values(i)) ok = storeText(cust, f.c_str(), v) && ok;
      for (int e = 0; e < 3; ++e) ok = storeText(cust, "tags", std::to_string(i + e), e) && ok;
      ok = storeText(cust, "born", "15/03/1999") && ok;
      check(ok, "record " + std::to_string(i) + " values: " + lastError());
      check(cust->addCurrRecord(nullptr, true, true, -1, nullptr, 0) > 0,
            "record " + std::to_string(i) + " added: " + lastError());
    }
    std::string const before = listing(s);
    writeFile(dir + "/before.txt", before);
    catalogtest::SchemaEnv::checkpoint();
    catalogtest::SchemaEnv::closeAll();

    env.addLayout(String("demo"));
    captured.clear();
    s = new SvSchema(nullptr, String("demo"), id);
    check(!s->damaged(), "schema read back whole: " + captured);
    check(s->verify(true), "every table and index verifies");
    std::string const after = listing(s);
    writeFile(dir + "/after.txt", after);
    check(before == after, "before.txt and after.txt differ");
    SvTabRep* rr = s->findTabRep(String("Customers"));
    SvTable* t = rr != nullptr ? rr->attachment(-1) : nullptr;
    check(t != nullptr, "Customers read back");
    int readBack = 0;
    for (int i = 0; t != nullptr && i < 1000; ++i) {
      t->initRecord(t->buffer());
      storeText(t, "name", customerName(i));
      if (t->readThis(nullptr) <= 0) continue;
      bool same = !loadText(t, "born").empty();
      for (auto const& [f, v] : values(i)) {
        std::string const got = loadText(t, f.c_str());
        // Numbers come back with every declared decimal.
        bool const ok = f == "credit" || f == "ratio" ? !got.empty() && std::stod(got) == std::stod(v) : got == v;
        if (!ok && i - readBack < 3) check(false, "record " + std::to_string(i) + " " + f + " = '" + got + "'");
        same = same && ok;
      }
      for (int e = 0; e < 3; ++e) same = same && loadText(t, "tags", e) == std::to_string(i + e);
      readBack += same;
      if (!same && i - readBack < 3) check(false, "record " + std::to_string(i) + " reads back different");
    }
    check(readBack == 1000, "records read back: " + std::to_string(readBack) + " of 1000");
    std::string const d = env.db() + "/demo/";
    for (char const* f : {"$class.tab", "$class.i00", "$member.tab", "$member.i00", "$member.i01", "$mindex.tab",
                          "$mindex.i00", "$mindex.i01", "$mimembr.tab", "$mimembr.i00", "$mimembr.i01", "$privg.tab",
                          "$privg.i00", "$privg.i01", "$integr.tab", "$integr.i00", "$integr.i01", "_custome.tab",
                          "_custome.i00", "_custome.i01", "_custom1.tab", "_orders.tab", "_a.tab"})
      check(exists(d + f), std::string("file ") + f);
    catalogtest::SchemaEnv::closeAll();
  }
  displayErrorHandler(old);
  if (failures != 0) {
    std::fprintf(stderr, "schemadrive: %d failures\n", failures);
    return 1;
  }
  std::fprintf(stderr, "schemadrive: all checks passed\n");
  return 0;
}
