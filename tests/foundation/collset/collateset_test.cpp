// National collating sequences: positions, two-character letters, sorting
// and restoring words, copies, and damaged or missing files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"
#include <zfound/CollateSet.h>
#include <zfound/Message.h>

namespace {

std::vector<std::string> shown;
int recordDisplay(int, char const*, char const* text) {
  shown.push_back(text);
  return 0;
}

class CollateSetTest : public testing::Test {
protected:
  void SetUp() override {
    shown.clear();
    old = displayErrorHandler(recordDisplay);
  }
  void TearDown() override { displayErrorHandler(old); }
  std::string bytes(String const& s) { return std::string(toCharPtr(s), size_t(s.length())); }
  MsgHandler old;
  zftest::TempDir tmp;
};

// Traditional order: "ch" sorts after every other "c", "ll" after "l".
char const kSpanish[] =
    "# traditional order\n"
    "a\tA\nb\nc\nch\td\nd\ne\nf\ng\nh\ni\nj\nk\nl\nll\nm\nn\n\no\np\nq\nr\ns\nt\nu\nv\nw\nx\ny\nz\n";

}  // namespace

TEST_F(CollateSetTest, LettersTakePositionsInFileOrder) {
  CollateSet cs(String(tmp.write("abc.col", "a\nb\nc\n").c_str()));
  EXPECT_TRUE(cs.ok());
  EXPECT_EQ(cs.name(), String("abc.col"));
  EXPECT_EQ(cs.position('a'), 32);
  EXPECT_EQ(cs.position('b'), 33);
  EXPECT_EQ(cs.position('c'), 34);
  EXPECT_EQ(bytes(cs.map(String("cab"))), std::string("\x22\x20\x21"));
  EXPECT_EQ(cs.unMap(cs.map(String("cab"))), String("cab"));
  // Control characters: 0-31 keep their places, 0x80-0x9F follow them.
  EXPECT_EQ(cs.position(5), 5);
  EXPECT_EQ(cs.position(0x85), 37);
  EXPECT_EQ(cs.character(2), 2);
  EXPECT_TRUE(shown.empty());
}

TEST_F(CollateSetTest, TwoCharacterLetterMapsToTheTopCode) {
  CollateSet cs(String(tmp.write("ch.col", "a\nb\nc\nch\nd\n").c_str()));
  EXPECT_EQ(cs.doubles(), 1);
  EXPECT_EQ(cs.position('h'), -1);
  String m = cs.map(String("ch"));
  EXPECT_EQ(bytes(m), std::string("\x22\xff"));
  EXPECT_EQ(cs.unMap(m), String("ch"));
  EXPECT_EQ(cs.position('d'), 36);
}

TEST_F(CollateSetTest, WordsSortInTheNationalOrderAndMapBack) {
  CollateSet cs(String(tmp.write("es.col", kSpanish).c_str()));
  ASSERT_TRUE(cs.ok());
  EXPECT_EQ(cs.doubles(), 2);
  std::vector<std::string> words = {"llama", "chico", "luz", "cuna", "dedo", "calle", "lima", "coche", "hola", "ala"};
  std::sort(words.begin(), words.end(), [&](std::string const& a, std::string const& b) {
    return bytes(cs.map(String(a.c_str()))) < bytes(cs.map(String(b.c_str())));
  });
  EXPECT_EQ(words, (std::vector<std::string>{"ala", "calle", "coche", "cuna", "chico", "dedo", "hola", "lima",
                                             "luz", "llama"}));
  for (auto const& w : words) EXPECT_EQ(cs.unMap(cs.map(String(w.c_str()))), String(w.c_str())) << w;
  // "l" is a letter of its own and the second character of "ll".
  EXPECT_LT(cs.position('l'), -32);
  EXPECT_TRUE(cs.map(String()).isNull());
}

TEST_F(CollateSetTest, CopiesOwnTheirList) {
  CollateSet* orig = new CollateSet(String(tmp.write("es.col", kSpanish).c_str()));
  CollateSet copy(*orig);
  CollateSet assigned(String(tmp.write("a.col", "a\n").c_str()));
  assigned = *orig;
  assigned = assigned;
  delete orig;
  for (CollateSet const* cs : {&copy, &assigned}) {
    EXPECT_EQ(cs->name(), String("es.col"));
    EXPECT_STREQ(toCharPtr(cs->unMap(cs->map(String("llamochico")))), "llamochico");
    EXPECT_EQ(static_cast<unsigned char>(cs->map(String("ch"))[1]), 255);
  }
}

TEST_F(CollateSetTest, DamagedOrMissingFilesAreReportedAndReadingStops) {
  std::string many;
  for (int i = 0; i < 3; ++i) many += std::string("c") + char('1' + i) + "\n";
  for (int i = 0; i < 230; ++i) many += "a\n";
  // A two-character letter that would take the last position, which its own
  // pair turns into a top code.
  std::string full;
  for (int i = 0; i < 223; ++i) full += "a\n";
  full += "ch\n";
  std::string nine = "c\n";
  for (int i = 0; i < 9; ++i) nine += std::string("c") + char('1' + i) + "\n";
  nine += "z\n";
  struct {
    char const* file;
    std::string text;
    std::string report;
  } cases[] = {
      {"long.col", "a\nabc\nz\n", "Only up to two characters per letter are allowed"},
      {"many.col", many, "Only up to 253 letters allowed"},
      {"nine.col", nine, "Only up to 8 second characters per letter are allowed"},
      {"full.col", full, "Only up to 255 letters allowed"},
  };
  for (auto const& c : cases) {
    shown.clear();
    CollateSet cs(String(tmp.write(c.file, c.text).c_str()));
    EXPECT_FALSE(cs.ok()) << c.file;
    ASSERT_EQ(shown.size(), 1u) << c.file;
    EXPECT_EQ(shown[0], c.report);
    EXPECT_EQ(cs.position('z'), 0) << c.file;  // nothing after the damage
  }

  shown.clear();
  std::string missing = tmp.file("none.col");
  CollateSet cs(String(missing.c_str()));
  EXPECT_FALSE(cs.ok());
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "Can't open file " + missing);
  EXPECT_EQ(cs.position('a'), 0);
  EXPECT_EQ(cs.position(31), 31);
  EXPECT_EQ(cs.position(0x9f), 63);

  shown.clear();
  CollateSet none{String()};
  EXPECT_FALSE(none.ok());
  EXPECT_EQ(shown, std::vector<std::string>{"Can't open file "});
}
