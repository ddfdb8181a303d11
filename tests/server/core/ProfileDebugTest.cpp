// The profile file's layout and offsets, and the Debug request of the
// server object: its answers, its exact log texts and the checkpoint hold.
#include "CoreFixture.h"

#include "FaultFs.h"
#include "LoopPort.h"

#include <svcore/ProfileFile.h>
#include <svcore/ServerObject.h>
#include <svobject/Client.h>
#include <zfound/CollateSet.h>
#include <zfound/LoopConnection.h>

#include <fstream>
#include <sstream>

namespace coretest {
namespace {

std::string slurp(std::string const& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

size_t count(std::string const& text, std::string const& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

using ProfileTest = CoreTest;

TEST_F(ProfileTest, HeaderThenSectionsAppendedWithoutNan) {
  std::string const path = tmp.file("ombrel.prof");
  {
    ProfileFile pf(String(path.c_str()), TimeStamp(Time(12, 30, 0)));
    ASSERT_TRUE(pf.ok());
    pf.writeHeader();
    pf.writeSections(3, 1);
    pf.writeSections(3, 1);
  }
  std::string const text = slurp(path);
  ASSERT_EQ(text.substr(0, 2), "\n\n");
  EXPECT_NE(text.find("12:30"), std::string::npos) << text;
  std::string const dashes(59, '-');
  EXPECT_EQ(count(text, dashes + "\n\n"), 6u);  // three per pass, both passes kept
  EXPECT_EQ(count(text, "\tAdd"), 0u);         // names are centred in 12 columns
  EXPECT_EQ(count(text, "\t    Add     "), 2u);
  EXPECT_EQ(count(text, "                      Object                      \t\t"), 2u);
  EXPECT_EQ(count(text, " reads, "), 2u);
  EXPECT_EQ(count(text, ",ratio:->0.00 %\n"), 2u);  // no tries yet: 0.00, never nan
  EXPECT_EQ(count(text, "\n\n\t3 flush, 1 time flush\n"), 2u);
  EXPECT_EQ(text.find("nan"), std::string::npos);
}

TEST_F(ProfileTest, RatioOfZeroTriesIsZero) {
  struct Case {
    int64_t hits, tries;
    char const* want;
  };
  for (Case const k : {Case{0, 0, "0.00"}, Case{5, 0, "0.00"}, Case{1, 4, "0.25"}, Case{3, 3, "1.00"}})
    EXPECT_EQ(zftest::str(ProfileFile::ratio(k.hits, k.tries)), k.want) << k.hits << "/" << k.tries;
}

TEST_F(ProfileTest, FailedWriteNeverMovesTheOffsetBack) {
  std::string const path = tmp.file("ombrel.prof");
  zftest::FaultFs fs;
  ProfileFile pf(String(path.c_str()), TimeStamp(Time(1, 0, 0)));
  pf.writeHeader();
  int64_t const before = pf.written();
  ASSERT_GT(before, 0);
  fs.failWrite(1, 5, "ombrel.prof", 3);  // the three pieces of the section fail
  pf.writeIOGralStats();
  EXPECT_EQ(pf.written(), before);
  pf.writeIOJrnlStats(0, 0);
  std::string const text = slurp(path);
  EXPECT_EQ(int64_t(text.size()), pf.written());
  EXPECT_NE(text.find("0 flush, 0 time flush"), std::string::npos);
  EXPECT_EQ(text.find('\0'), std::string::npos);  // no hole
}

// ---- Debug ------------------------------------------------------------------

class DebugTest : public CoreTest {
protected:
  // The request words of a Debug command with its arguments.
  static std::vector<uint32_t> request(char const* command, int32_t n, std::vector<char const*> const& args) {
    LoopConnection enc;
    enc << String(command) << n;
    for (char const* a : args) enc << String(a);
    return enc.words();
  }
  // Runs the command; its answer (the reply it began, else its result).
  zftest::LoopPort::Reply debug(char const* command, int32_t n, std::vector<char const*> const& args = {}) {
    port.feed(request(command, n, args));
    long const r = server.dbg(&client);
    if (port.begun()) return port.take();
    zftest::LoopPort::Reply out;
    out.result = int32_t(r);
    return out;
  }

  ServerObject server;
  zftest::LoopPort port;
  Client client{getpid(), "/bin/admin", "", 0, 0, "node", "tty", true};
};

TEST_F(DebugTest, EchoAndTheExactTexts) {
  zftest::LoopPort::Reply const echo = debug("echo", 1, {"hi"});
  EXPECT_EQ(echo.result, 0);
  LoopConnection enc;
  enc << String("hi");
  EXPECT_EQ(echo.body, enc.words());

  struct Case {
    char const* command;
    int32_t n;
    std::vector<char const*> args;
    char const* text;
  };
  std::vector<Case> const cases = {
      {"echo", 0, {}, "Wrong number of parameters for dbg message, expected 1 and received 0"},
      {"von", 2, {"a", "b"}, "Wrong number of parameters for dbg message, expected 0 and received 2"},
      {"frob", 0, {}, "Debug type 'frob' is not known"},
      {"pt", 3, {"nosuch", "t", "0"}, "No index 0 of table nosuch.t"},
      {"vind", 3, {"nosuch", "t", "-7"}, "No index -7 of table nosuch.t"},
      {"ptv", 4, {"nosuch", "t", "x", "0"}, "No index x of table nosuch.t"},
  };
  for (Case const& k : cases) {
    SCOPED_TRACE(k.command);
    shown().clear();
    zftest::LoopPort::Reply const r = debug(k.command, k.n, k.args);
    EXPECT_EQ(r.result, 0);
    EXPECT_TRUE(r.body.empty());
    EXPECT_TRUE(sawWarning(k.text)) << (shown().empty() ? std::string("(nothing)") : shown().back());
  }
  // A count the request does not carry is refused, not read past.
  port.feed(request("echo", 0x7fffffff, {}));
  EXPECT_EQ(server.dbg(&client), 0);
  EXPECT_FALSE(port.begun());
}

TEST_F(DebugTest, PctListsTheCompletedTransactions) {
  TimeStamp ts;
  ts.setUserId(7);
  std::vector<CompleteTransaction> list{CompleteTransaction(2, ts)};
  std::vector<CompleteTransaction>* const keep = Server::ctrans;
  Server::ctrans = &list;
  shown().clear();
  EXPECT_EQ(debug("pct", 0).result, 0);
  Server::ctrans = keep;
  EXPECT_TRUE(sawWarning("List of completed transactions..."));
  EXPECT_TRUE(sawWarning("transId: " + zftest::str(ts.descr())));
  EXPECT_TRUE(sawWarning("End of list"));
  EXPECT_FALSE(sawWarning("is not known"));
}

TEST_F(DebugTest, CponOnlyUndoesAnEarlierCpoff) {
  Server::nProcessLock = 1;  // a client's process lock
  EXPECT_EQ(debug("cpoff", 0).result, 0);
  EXPECT_TRUE(sawWarning("Checkpoints disabled"));
  EXPECT_EQ(debug("cpoff", 0).result, 0);
  EXPECT_EQ(Server::nProcessLock, 3);
  debug("cpon", 0);
  EXPECT_TRUE(sawWarning("Checkpoints enabled"));
  EXPECT_EQ(Server::nProcessLock, 2);  // one cpoff still holds checkpoints
  debug("cpon", 0);
  debug("cpon", 0);
  debug("cpon", 0);
  EXPECT_EQ(Server::nProcessLock, 1);  // the client's lock stays
  Server::nProcessLock = 0;
}

TEST_F(DebugTest, VerboseEchoesTheCommand) {
  debug("von", 0);
  shown().clear();
  debug("lcl", 0);
  EXPECT_TRUE(sawWarning("Server received debug: 'lcl'"));
  debug("voff", 0);
  shown().clear();
  debug("po", 0);
  EXPECT_FALSE(sawWarning("Server received debug"));
  EXPECT_TRUE(sawWarning("oid(1879048192): Server("));
}

TEST_F(DebugTest, CollationSetsLoadOnceOrWarn) {
  tmp.write("data/es/es.cs", "a\tA\nb\nc\nch\nd\n");
  zftest::ScopedEnv data("DATADIR", tmp.file("data"));
  EXPECT_EQ(Server::findCollateSet(String()), nullptr);
  CollateSet* const es = Server::findCollateSet("es");
  ASSERT_NE(es, nullptr);
  EXPECT_EQ(Server::findCollateSet("es"), es);  // loaded once
  shown().clear();
  EXPECT_EQ(Server::findCollateSet("xx"), nullptr);
  EXPECT_TRUE(sawWarning(tmp.file("data") + "/xx/xx.cs"));
}

}  // namespace
}  // namespace coretest
