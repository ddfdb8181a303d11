// omdbdemo SERVER/SCHEMA: the server quick start on the database interface.
// On a running server it creates the schema and a table "item" (a number
// key "code" with a unique index, a text "name", a price with 2 decimals
// and a creation date "cdate" the server fills in), adds three records in
// one transaction, reads each back by key and then all of them through a
// cursor, printing every record read on a line beginning "record ", and
// last asks the server to stop. Exit status 0 when every step worked, 1
// after the first failure (named on standard error).
#include <zfound/Date.h>
#include <zfound/DbConnection.h>
#include <zfound/MsgHeader.h>
#include <zfound/Process.h>
// After the foundation: the interface's function TimeStamp hides the class.
#include <dbm/DbInterface.h>
#include <zeph/Cursors.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>
#include <zeph/Records.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Article {
  char const* code;
  char const* name;
  char const* cents;  // the price field holds hundredths
};

constexpr Article kArticles[] = {
    {"1", "pencil", "95"},
    {"2", "notebook", "350"},
    {"3", "eraser", "120"},
};

int32_t fCode, fName, fPrice, fCdate;

[[noreturn]] void fail(char const* step) {
  std::fprintf(stderr, "omdbdemo: %s failed (error number %ld)\n", step, long(_io_errno_));
  Stop(1);
  std::exit(1);
}

std::string text(int32_t field) {
  char out[64];
  if (GetFld(field, 0, out, sizeof out) != 0) return "?";
  return out;
}

// One line for the record in the table's buffer.
void show(char const* how, int32_t table) {
  long cents = std::strtol(text(fPrice).c_str(), nullptr, 10);
  std::string day = text(fCdate);
  Date d(int16_t(std::atoi(day.c_str())));
  char date[16] = "-";
  if (!day.empty() && !d.isNull())
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", int(d.year()), int(d.month()), int(d.day()));
  std::printf("record %s: code %s, name %-8s price %ld.%02ld, created %s\n", how, text(fCode).c_str(),
              (text(fName) + ",").c_str(), cents / 100, cents % 100, date);
  (void)table;
}

// Asks the server of `path` ("server/schema") to stop, as its only client.
bool stopServer(std::string const& path) {
  std::string server = path.substr(0, path.find('/'));
  DbConnection* c = DbConnection::findServer(String(server.c_str()), true, ConnMode(abortOnInit | reportErrors));
  if (c == nullptr) return false;
  (*c)(DbConnection::kServerObject, DBM_STOP) << int32_t(0);
  int32_t r = c->execute();
  // The server removed this client with its answer: nothing more is sent.
  c->setInvalid();
  DbConnection::dispose(c);
  return r == 0;
}

}  // namespace

int main(int argc, char** argv) {
  startUp("omdbdemo-1.0", argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::string path = argc > 1 ? argv[1] : "demo/shop";

  int32_t schema = CreateSchema(path.c_str(), "quick start");
  if (schema < 0) fail("CreateSchema");
  std::printf("schema %s created (handle 0x%lx)\n", path.c_str(), long(schema));

  int32_t table = CreateTable(schema, "item", "articles", 0, 0, 4);
  if (table < 0) fail("CreateTable");
  fCode = AddTabField(table, "code", "article number", 0, 0, 0, 6, 0, 1, nullptr, nullptr);
  fName = AddTabField(table, "name", "name", 0, 1, 0, 20, 0, 0, nullptr, nullptr);
  fPrice = AddTabField(table, "price", "price", 0, 0, 0, 8, 2, 0, nullptr, nullptr);
  // The last declared field sends the table to the server.
  fCdate = AddTabField(table, "cdate", "created on", 0, 2, 0, 0, 0, 0, nullptr, nullptr);
  if (fCode < 0 || fName < 0 || fPrice < 0 || fCdate < 0) fail("AddTabField");
  int32_t index = CreateIndex(table, "bycode", 1, 0);
  if (index < 0 || AddIndField(index, fCode, 0, 0, 0) < 0 || CompleteIndex(index) < 0) fail("CreateIndex");
  std::printf("table item created: code, name, price, cdate; unique index bycode\n");

  BeginTransaction();
  for (Article const& a : kArticles) {
    InitRecord(table);
    if (SFld(fCode, 0, a.code) != 0 || SFld(fName, 0, a.name) != 0 || SFld(fPrice, 0, a.cents) != 0)
      fail("SFld");
    AddRecord(table);
  }
  if (!EndTransaction()) fail("EndTransaction");
  std::printf("3 records added in one transaction\n");

  for (Article const& a : kArticles) {
    InitRecord(table);
    SFld(fCode, 0, a.code);
    if (GetRecord(table, 1, 0, 0) < 0) fail("GetRecord");
    show("by key", table);
  }

  int32_t cursor = CreateCursor(index, 0);
  if (cursor < 0) fail("CreateCursor");
  int32_t n = 0;
  while (FetchCursor(cursor) >= 0) {
    show("by cursor", table);
    ++n;
  }
  DeleteCursor(cursor);
  if (n != 3) fail("FetchCursor");

  CloseSchema(schema);
  if (!stopServer(path)) fail("Stop");
  std::printf("asked the server to stop\n");
  return 0;
}
