// fuzz_seeds DIR: writes the seed corpus of every fuzz target into
// DIR/<target>/corpus/ and the inputs of the defects once found into
// DIR/<target>/regress/. Binary seeds are made by the system's own writers
// (stored forms, channel words, expression code, message files), the others
// are texts in each reader's format, plus edge cases. Run by hand when a
// harness's input format changes; the files it writes are kept in the
// repository.
#include <msgcat/MsgEditor.h>
#include <msgcat/MsgSection.h>
#include <zfound/AnyValue.h>
#include <zfound/Date.h>
#include <zfound/DbConnection.h>
#include <zfound/Exception.h>
#include <zfound/Expr.h>
#include <zfound/LoopConnection.h>
#include <zfound/MsgHeader.h>
#include <zfound/Num.h>
#include <zfound/ObjectId.h>
#include <zfound/Portable.h>
#include <zfound/Privilege.h>
#include <zfound/Stream.h>
#include <zfound/String.h>
#include <zfound/Time.h>

#include "FuzzSupport.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
std::string top;

void put(std::string const& target, std::string const& kind, std::string const& name, std::string const& bytes) {
  fs::path dir = fs::path(top) / target / kind;
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
}
void seed(std::string const& t, std::string const& n, std::string const& b) { put(t, "corpus", n, b); }
void regress(std::string const& t, std::string const& n, std::string const& b) { put(t, "regress", n, b); }

std::string u8(int v) { return std::string(1, char(v)); }
std::string u16(int v) { return u8(v >> 8 & 0xFF) + u8(v & 0xFF); }
std::string u32(uint32_t v) { return u16(int(v >> 16)) + u16(int(v & 0xFFFF)); }
std::string text(std::string const& s) { return u8(int(s.size())) + s; }
// Words in the input's big-endian order.
std::string beWords(std::vector<uint32_t> const& w) {
  std::string s;
  for (uint32_t x : w) s += u32(x);
  return s;
}
// Words as the host holds them (what a socket or a queue carries).
std::string hostWords(std::vector<uint32_t> const& w) {
  return std::string(reinterpret_cast<char const*>(w.data()), w.size() * 4);
}
std::string fileBytes(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void regexpSeeds() {
  struct { int flags; char const* p; std::string t; } const cases[] = {
      {0, "abc", "xxabcxx"}, {0, "^ab*c$", "abbbc"}, {0, "\\(a*\\)b\\1", "aabaa"}, {0, "[^a-z]+", "ab12"},
      {0, "a{2,3}", "aaaa"}, {0, "x\\{0,2\\}", "x{0,2}"}, {1, "a?c*.dat", "abc.dat"}, {1, "*.tab", "x.tab"},
      {4, "a\\tb\\x41", "a\tbA"}, {2, "ab", "xab"},
  };
  int i = 0;
  for (auto const& c : cases) seed("regexp", "case" + std::to_string(i++), u8(c.flags) + text(c.p) + text(c.t) + text("<&\\1>") + u16(0) + u8(0) + u8(255));
  // Exponential blow-up of unbounded repetitions.
  regress("regexp", "dotstar-128", u8(0) + text(".*.*.*.*.*x") + text(std::string(128, 'a')) + text("") + u16(0));
  regress("regexp", "filestar-64", u8(3) + text("*******x") + text(std::string(64, 'a')) + text("") + u16(0));
  std::string br = "\\(a*\\)";
  for (int k = 0; k < 8; ++k) br += "\\1*";
  regress("regexp", "backref-budget", u8(0) + text(br + "x") + text(std::string(200, 'a')) + text("") + u16(0));
}

void formatSeeds() {
  char const* formats[] = {"%d %5.2f %s %S %N %c", "%-10s|%010d|%x|%X|%o|%b", "%#,2N %e %g", "%\"3n-4n\"s %>s %<S",
                           "%.3%= %4%- %$HOME %${LANGUAGE}", "%B %*d %.*s", "%\"*\"s", "100%%"};
  int i = 0;
  for (char const* f : formats) seed("format", "format" + std::to_string(i++), u8(0) + f);
  char const* masks[] = {"3n-4n", "3N-4n", "3nc", "10x", "r5n", "R3n.2n", "2a", "3U-3L", "511x"};
  i = 0;
  for (char const* m : masks) seed("format", "mask" + std::to_string(i++), u8(1) + text(m) + "1234567abc");
  String compiled("3n-4n");
  compiled.compileMask();
  seed("format", "compiled", u8(1) + text(std::string(toCharPtr(compiled), size_t(compiled.length()))) + "1234567");
  seed("format", "datemask", u8(2) + text("dd/mm/yyyy hh:mm") + u32(12345));
  seed("format", "check", u8(3) + text("123456") + u8(4) + u8('7'));
  // A mask quoted in a format, and a mask, that begin with byte 1.
  regress("format", "marker-quoted", u8(0) + "%\"\1x\"s %\"\1\"S");
  regress("format", "marker-mask", u8(1) + text("\1l___") + "1234");
  // A String format that would make millions of characters to cut away.
  std::string big;
  for (int k = 0; k < 256; ++k) big += "%.65535q";
  regress("format", "full-string", u8(0) + big);
}

void storedSeeds() {
  char const* nums[] = {"0", "1", "-1", "123.456", "-99999999999999999999999999.99", "1e-150", "9.999e195"};
  int i = 0;
  for (char const* t : nums) {
    Num n(t);
    char b[16];
    char* p = b;
    n.store(p);
    seed("stored", "natural" + std::to_string(i), u8(0) + std::string(b, 16));
    std::vector<char> packed(64);
    char* q = packed.data();
    if (n.store(q, 12, 2)) seed("stored", "packed" + std::to_string(i), u8(1) + u8(12) + u8(2) + std::string(packed.data(), size_t(q - packed.data())));
    ++i;
  }
  for (Num const& n : {Num(), -Num(), Num(0)}) {
    char b[16];
    char* p = b;
    n.store(p);
    seed("stored", "special" + std::to_string(i++), u8(0) + std::string(b, 16));
  }
  std::string mem;
  for (char const* s : {"", "hello"}) {
    String v(s);
    std::vector<char> b(size_t(v.storeLength()));
    char* p = b.data();
    v.store(p);
    mem += u8(0) + std::string(b.data(), b.size());
  }
  seed("stored", "memory", u8(2) + mem + u8(1) + u32(0x80000005) + u32(0x80000006) + u8(2) + u16(5) + u16(7));
  std::string path = zffuzz::init() + "/seed.bin";
  FILE* f = std::fopen(path.c_str(), "wb");
  stNum(f, Num("-12.5"));
  stString(f, String("text"));
  stInt(f, -7);
  std::fclose(f);
  seed("stored", "file", u8(3) + text(std::string{0, 1, 2}) + fileBytes(path));
  // Forms no store writes: digits under zero, a leading zero digit.
  regress("stored", "digits-under-zero", u8(0) + std::string("\x00\x64\x01\x23", 4) + std::string(12, '\0'));
  regress("stored", "leading-zero-digit", u8(0) + std::string("\x00\x97\x00\x00\x00\x01", 6) + std::string(10, '\0'));
}

void connSeeds() {
  LoopConnection c(64);
  String s("abc");
  Num n("-12.25");
  AnyValue a(n);
  Privilege p;
  c << int32_t(7) << s << n << toDate(100) << toTime(3600) << a << ObjectId(5, 6) << p;
  std::string kinds;
  for (int k : {0, 1, 3, 4, 5, 6, 7, 9}) kinds += char(k);
  seed("conn", "values", u8(63) + text(kinds) + beWords(c.words()));
  LoopConnection e(64);
  InvalidTable(42).send(&e);
  seed("conn", "error", u8(63) + text(std::string(1, char(11 + 14 * 11))) + beWords(e.words()));
  Expr x{String("1 + 2 * 3")};
  LoopConnection w(64);
  w << x;
  seed("conn", "expr", u8(63) + text(std::string(1, char(12))) + beWords(w.words()));
  seed("conn", "hostile-length", u8(3) + text(std::string(1, char(1))) + beWords({60000, 0x61626364}));
}

void msgheaderSeeds() {
  std::vector<uint32_t> w(3 + 2 + 3 + 1);
  s_MsgBuff h;
  h.clientId = 0x70000000;
  h.objId = 5;
  h.serverOp = int16_t(DBM_PUTRECORD);
  h.setLength(2);
  h.write(w.data());
  w[3] = 1;
  w[4] = 2;
  h.serverOp = int16_t(DBM_GETINFO);
  h.setLength(1);
  h.write(w.data() + 5);
  w[8] = 9;
  std::string bytes = hostWords(w);
  seed("msgheader", "batch", u16(1000) + u16(int(bytes.size()) + 4) + text(bytes) + text("") + text("") + text("") + text(""));
  h.setLength(0);
  h.setContinued(true);
  std::vector<uint32_t> c(3);
  h.write(c.data());
  std::string cont = hostWords(c);
  seed("msgheader", "parts", u16(10) + u16(16) + text(cont) + text("") + text("") + text("") + text("") + u16(4) + text(""));
}

// A reply part in the input's form: return word, status, length, flags, body.
std::string part(int32_t ret, int16_t status, std::vector<uint32_t> const& body, bool more = false) {
  return u32(uint32_t(ret)) + u16(uint16_t(status)) + u8(int(body.size())) + u8(more ? 0x40 : 0) + beWords(body);
}

void clientReplySeeds() {
  std::string script = {0, 3, 4, 0, 2};
  seed("clientreply", "plain", u8(60) + text(script) + u8(2) + part(3, 0, {7, 3, 0x61626300}) + part(1, 0, {}));
  LoopConnection e(64);
  InvalidTable(42).send(&e);
  seed("clientreply", "error", u8(60) + text(std::string{0, 2}) + u8(1) + part(-1, 12, e.words()));
  seed("clientreply", "parts", u8(4) + text(std::string{0, 3, 3, 3, 3, 3, 3}) + u8(2) + part(2, 0, {1, 2, 3, 4}, true) + part(2, 0, {5, 6}));
  // The library's own "reply pending" word with an error status: two 12-byte
  // reply parts.
  regress("clientreply", "pending-marker", u8(60) + text(std::string{0, 2, 3, 3}) + u8(2) +
                                              part(DbConnection::kReplyPending, 12, {}, true) +
                                              part(DbConnection::kReplyPending, 12, {}));
  regress("clientreply", "pending-marker-plain", u8(60) + text(std::string{0, 3, 3, 0, 2}) + u8(3) +
                                                    part(DbConnection::kReplyPending, 0, {7, 8}) + part(5, 0, {1}) +
                                                    part(6, 0, {2}));
}

// A Connect part as a client sends it through the relay, host order.
std::string connectPart(std::string const& server, bool hugeName = false) {
  LoopConnection c(253);
  c << int32_t(1101);
  if (hugeName)
    c << int32_t(60000) << int32_t(0x61616161);
  else
    c << String(server.c_str());
  if (!hugeName) c << String("node") << String("prog") << String("args") << String("tty") << int32_t(0) << String("user") << int32_t(0);
  std::vector<uint32_t> body = c.words();
  std::vector<uint32_t> w(3);
  s_MsgBuff h;
  h.clientId = int32_t(12 + 4 * body.size());
  h.objId = DbConnection::kServerObject;
  h.serverOp = int16_t(DBM_CONNECT);
  h.setLength(int32_t(body.size()));
  h.write(w.data());
  w.insert(w.end(), body.begin(), body.end());
  return hostWords(w);
}

void relaySeeds() {
  seed("relay", "connect", u8(0) + connectPart("alpha"));
  seed("relay", "short", u8(0) + std::string("\x0c\0\0\0\0\0\0\x70\x01\0\0\0", 12));
  regress("relay", "server-dotdot", u8(0) + connectPart("../outside"));
  regress("relay", "server-dot", u8(0) + connectPart("."));
  regress("relay", "connect-cut-name", u8(0) + connectPart("", true));
}

void configSeeds() {
  seed("config", "served", u8(1) + text("s3") + "# served\nServerId\t\t7\nSchemas\t\ts1,s2:x\nCacheSize\t\t512\nObjectRepository\t\t/obj\n");
  seed("config", "remote", u8(0) + text("n1") + "Host\t\th\nServerId\t\t3\nNamespaces\t\tn1,n2\nLockWait\t30\nUnknown\tzz\n");
  std::string longList(1200, 'x');
  regress("config", "merged-lists", u8(0) + text("s1") + "Host\t\th\nSchemas\t\ts1," + longList + "\nSchemas\t\t" + longList + "y\n");
  regress("config", "nul-value", u8(1) + text("s2") + std::string("Host\t\th\nSchemas\t\ts1\nLockWait\t\t3\0 0\n", 35));
  regress("config", "hash-key", u8(1) + text("s2") + "Host\t\th\nSchemas\t\ts1\n  #Kept\t\t1\n");
}

void textSeeds() {
  std::string lay = u8(5) + "dbf01" + u32(123456) + u8(3) + u16(1024);
  seed("disklayout", "entries", lay + "# layout\ndb*\tPACKED\t/data/a\nix*\tROUNDROBIN\t8K\t/x,/y,/z\nlg*\tRANGED\t/p:1M,/q:2.5K,/r\n");
  seed("disklayout", "bad", lay + "a\tROUNDROBIN\t2x\t/x\n");
  regress("disklayout", "nul-in-line", lay + std::string("a\tPACKED\t/x\0/y\n", 15));

  std::string es = ",\n.\ninter\n";
  for (char const* d : {"dom", "lun", "mar", "mie", "jue", "vie", "sab"}) es += std::string(d) + "\n";
  for (int m = 1; m <= 12; ++m) es += "mes" + std::to_string(m) + "\n";
  seed("natsettings", "spanish", es);
  seed("natsettings", "short", ";\n:\n");
  seed("natsettings", "equal", ".\n.\n");

  seed("envfile", "plain", "# env\nZF_A=1\nZF_B=$ZF_A/x:$HOME\n\nZF_C=\n");
  seed("envfile", "long-name", "ZF_D=$" + std::string(40, 'N') + "\n");
  seed("argfile", "words", "-f --count 5 \"a quoted word\" last");
  seed("argfile", "open-quote", "\"never closed");
  seed("collset", "spanish", u8(4) + "chal" + "# order\na\tA\nb\nc\nch\td\nd\nll\nn\n\no\nz\n");
  seed("collset", "small", u8(3) + "abc" + "a\nb\nc\n");
  seed("oparser", "options", std::string("-f\0--count\0005\0-t\0abc\0--mode\0sl\0rest", 36));
  seed("oparser", "bad-number", std::string("--count\0x1", 10));
  seed("oparser", "negated", std::string("--noflagged\0-n\0-3", 17));
}

// The stored form of `depth` nested calls of "string" around the long 1,
// written by the byte table of the stored form: the text, the flags, the
// code length in units, then each unit with its operands (a text as a String
// stored form, a long as 4 bytes; pad units as in memory).
std::string nestedCode(int depth) {
  std::string out;
  auto l32 = [&](int32_t v) {
    char b[4];
    stlong(v, b);
    out.append(b, 4);
  };
  auto unit = [&](uint16_t u) {
    char b[2];
    stshort(u, b);
    out.append(b, 2);
  };
  int32_t n = 0;  // units in memory
  std::vector<std::pair<uint16_t, int>> code;  // unit, operand kind (0 none, 1 text, 2 long)
  auto op = [&](uint16_t u, int kind) {
    if (kind != 0 && n % 2 == 0) {
      code.push_back({Instruction::pad, 0});
      ++n;
    }
    code.push_back({u, kind});
    n += 1 + (kind != 0 ? 2 : 0);
  };
  for (int k = 0; k < depth; ++k) {
    op(Instruction::string_type, 1);
    op(Instruction::int_type, 2);
    op(Instruction::function, 0);
  }
  op(Instruction::int_type, 2);
  for (int k = 0; k < depth; ++k) op(Instruction::arg_end, 0);
  op(Instruction::stop, 0);
  op(Instruction::null, 0);
  l32(0);  // no source text
  l32(0);  // flags
  l32(n);
  for (auto const& [u, kind] : code) {
    unit(u);
    if (kind == 1) {
      l32(6);
      out += "string";
    } else if (kind == 2) {
      l32(u == Instruction::int_type ? 1 : 0);
    }
  }
  return out;
}

void exprSeeds() {
  char const* sources[] = {
      "1 + 2 * 3 - -4",
      "object i = 0; while (i < 5) { i += 1; if (i == 3) continue; } i",
      "object s = 'x'; if (s like 'x') s = s + (today - today); else s = 'n'; s",
      "k in (1, 2, 5) ? 'in' : 'out'",
      "year(date(0)) between 1980 and 1990",
      "object n = 3; n *= 2; return n - 1;",
      "'a' when 1 == 2 'b'",
      "string(monthname(date(40)))",
      "'abc' match 'a*'",
  };
  int i = 0;
  for (char const* s : sources) {
    seed("exprcompile", "source" + std::to_string(i), s);
    Expr e{String(s)};
    if (!e.isNull()) {
      std::vector<char> b(size_t(e.storeLength()));
      e.store(b.data());
      seed("exprload", "code" + std::to_string(i), std::string(b.data(), b.size()));
    }
    ++i;
  }
  // Code nested deeper than an evaluation runs: refused when loaded or bound.
  std::string deep;
  for (int k = 0; k < 3000; ++k) deep += "string(";
  deep += "1";
  deep += std::string(3000, ')');
  regress("exprcompile", "nested-calls", deep);
  regress("exprload", "nested-calls", nestedCode(5000));
  Expr shallow;
  std::string ten = nestedCode(10);
  if (!shallow.load(ten.data(), int32_t(ten.size())))
    std::fprintf(stderr, "fuzz_seeds: nested code of depth 10 does not load: %s\n", toCharPtr(shallow.errorDescr()));

}

void msgSeeds() {
  std::string const& dir = zffuzz::init();
  (void)dir;
  MsgEditor ed(String("seed"), String("english"));
  ed.path();
  MsgSection* main = ed.section(String("main"));
  main->add(String("HELLO"), String("Hello, %s."));
  main->add(String("LINK"), String("~HELLO"));
  main->add(String("LOOP"), String("~LOOP"));
  main->add(String("HIGH"), String(String::kHighLength, nullptr));
  ed.section(String("gn"))->add(String("K"), String("other"));
  if (!ed.write()) {
    std::fprintf(stderr, "fuzz_seeds: %s\n", toCharPtr(ed.errorText()));
    return;
  }
  std::string file = fileBytes(toCharPtr(ed.path() + "/seed.msg"));
  seed("msgedit", "written", file);
  seed("msgfile", "written", text("main") + text("HELLO") + text("LINK") + text("LOOP") + file);
  seed("msgfile", "other", text("gn") + text("K") + text("") + text("") + file);
  // A cut file whose first text claims 32,767 bytes.
  regress("msgedit", "cut-text", std::string("\0\0\0\x20\x7f\xff" "a", 7));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds FUZZDIR\n");
    return 2;
  }
  top = argv[1];
  regexpSeeds();
  formatSeeds();
  storedSeeds();
  connSeeds();
  msgheaderSeeds();
  clientReplySeeds();
  relaySeeds();
  configSeeds();
  textSeeds();
  exprSeeds();
  msgSeeds();
  return 0;
}
