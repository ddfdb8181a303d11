// Fuzz target: a journal file, replayed by the server's recovery. The input
// is a flag byte and the file's bytes; an in-process server with schema
// "fz" and table "T" (ServerFuzz.h) takes it as its one journal file (from
// offset 80, or from its oldest file with flag bit 0) and restarts: records
// read forwards and replayed into the table, aborted transactions rolled
// back by walking their clients' records backwards, then a checkpoint. A
// damaged journal is a fatal report that ends the input (the server is made
// afresh for the next one); nothing a file holds may reach an assertion,
// crash or overrun. The server is made afresh every kRebuild inputs.
#include "FuzzSupport.h"
#include "ServerFuzz.h"

#include <svcore/Journal.h>
#include <svcore/Server.h>
#include <svcore/StateFile.h>

#include <filesystem>

namespace {

constexpr int kRebuild = 200;

zffuzz::FuzzServer server;
int inputs = 0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  zffuzz::Input in(data, size);
  uint8_t const flags = in.u8();
  std::string const body = in.rest();
  if (!server.running() || ++inputs % kRebuild == 0) {
    server.stop();
    std::filesystem::remove_all(zffuzz::init() + "/journal");
    std::filesystem::create_directories(zffuzz::init() + "/journal");
    server.start(std::string(), "JournalDir\t" + zffuzz::init() + "/journal\n");
    server.makeSchema();
  }
  std::string const dir = zffuzz::init() + "/journal";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  zffuzz::writeFile("journal/rlog1", body.data(), body.size());
  Server::stateFile->journalFile = String((flags & 1) ? "" : "rlog1");
  Server::stateFile->journalPos = Journal::kPrefixSize;
  bool const ok = zffuzz::guarded([] {
    Server::openJournal();
    Server::restart();
    Server::closeJournal();
  });
  if (!ok) server.stop();  // refused part-way: made afresh
  return 0;
}
