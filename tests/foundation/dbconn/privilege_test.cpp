// Privilege lists: the everyone entry, grants and refusals by user, group
// and everyone, grant rights, copies, and the Connection form with its
// checks on hostile input.
#include <gtest/gtest.h>

#include <zfound/LoopConnection.h>
#include <zfound/Privilege.h>

#include <cstdint>
#include <tuple>
#include <vector>

namespace {

using Entry = std::tuple<int, int, int>;  // id, id type, privilege bits

std::vector<Entry> entries(Privilege const& p) {
  std::vector<Entry> out;
  for (int32_t i = 0; i < p.size(); ++i) {
    uint16_t id = 0, type = 0, priv = 0;
    EXPECT_TRUE(p.elem(i, id, type, priv));
    out.emplace_back(id, type, priv);
  }
  return out;
}

enum : int32_t { READ = 1, WRITE = 2, DROP = 4 };
constexpr int32_t grant(int32_t bits) { return bits << 6; }

TEST(Privilege, EveryoneEntryComesFirst) {
  Privilege p;
  EXPECT_EQ(p.size(), 0);
  p.add(17, PrivPerm::USER, READ);
  EXPECT_EQ(entries(p), (std::vector<Entry>{{0xFFFF, 2, 0}, {17, 1, READ}}));
  p.add(3, PrivPerm::GROUP, WRITE);
  EXPECT_EQ(p.size(), 3);

  Privilege q;
  q.add(0xFFFF, PrivPerm::EVERYONE, READ);
  EXPECT_EQ(entries(q), (std::vector<Entry>{{0xFFFF, 2, READ}}));

  // Type and bits are masked to their fields.
  Privilege r;
  r.add(5, 5, 0xFFFF);
  EXPECT_EQ(entries(r), (std::vector<Entry>{{0xFFFF, 2, 0}, {5, 1, 0x3FFF}}));

  testing::internal::CaptureStderr();
  p.print();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "id 65535, idtype 2, priv 0\nid 17, idtype 1, priv 1\nid 3, idtype 0, priv 2\n");

  uint16_t id, type, priv;
  EXPECT_FALSE(p.elem(-1, id, type, priv));
  EXPECT_FALSE(p.elem(3, id, type, priv));
}

TEST(Privilege, GrantsAndRefusalsByUserGroupAndEveryone) {
  Privilege p;
  EXPECT_FALSE(p.allowed(9, 100, 50, READ)) << "an empty list allows nothing";
  EXPECT_TRUE(p.allowed(9, 0, 50, READ)) << "the super-user";
  EXPECT_TRUE(p.allowed(100, 100, 50, READ)) << "the owner";

  p.add(0xFFFF, PrivPerm::EVERYONE, READ);
  p.add(100, PrivPerm::USER, DROP | grant(READ));  // user 100 lacks WRITE
  p.add(50, PrivPerm::GROUP, WRITE);              // but group 50 has it
  p.add(200, PrivPerm::USER, WRITE | grant(WRITE));

  struct Case {
    int32_t user, group, mask;
    bool allowed, canGrant;
  } cases[] = {
      {100, 50, WRITE, true, false},  // by the group, although the user entry lacks it
      {100, 51, WRITE, false, false},
      {100, 51, DROP, true, false},   // by the user entry
      {100, 51, READ, true, true},    // everyone reads; user 100 may grant reading
      {300, 77, READ, true, false},   // everyone
      {300, 77, DROP, false, false},
      {200, 77, WRITE, true, true},
      {200, 77, WRITE | DROP, true, true},  // any bit of the mask
      {300, 50, WRITE, true, false},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(testing::Message() << "user " << c.user << " group " << c.group << " mask "
                                    << c.mask);
    EXPECT_EQ(p.allowed(9, c.user, c.group, c.mask), c.allowed);
    EXPECT_EQ(p.canGrant(9, c.user, c.group, c.mask), c.canGrant);
  }
  // canGrant of bit 1 is allowed() of bit 64.
  EXPECT_EQ(p.canGrant(9, 100, 51, READ), p.allowed(9, 100, 51, 64));
}

TEST(Privilege, IdsThatDoNotFitAreNeitherMatchedNorTheSuperUser) {
  Privilege p;
  p.add(0, PrivPerm::USER, READ);
  p.add(1, PrivPerm::GROUP, READ);
  // 65536 would be 0 in 16 bits, 65537 would be 1.
  EXPECT_FALSE(p.allowed(9, 65536, 70000, READ));
  EXPECT_FALSE(p.allowed(9, 70000, 65537, READ));
  EXPECT_FALSE(p.allowed(65536, 65536 * 2, 7, READ));
  EXPECT_FALSE(p.allowed(-1, -1, -1, READ));
  EXPECT_TRUE(p.allowed(9, 0, 7, READ));
}

TEST(Privilege, CopiesAreDeepAndSelfAssignmentKeepsTheList) {
  Privilege p;
  p.add(4, PrivPerm::GROUP, WRITE);
  Privilege q(p);
  p.clear();
  EXPECT_EQ(entries(q), (std::vector<Entry>{{0xFFFF, 2, 0}, {4, 0, WRITE}}));
  Privilege& same = q;
  q = same;
  EXPECT_EQ(q.size(), 2);
  p = q;
  EXPECT_EQ(entries(p), entries(q));
}

TEST(Privilege, RoundTripsOnAConnection) {
  Privilege p;
  p.add(0xFFFF, PrivPerm::EVERYONE, READ | grant(READ));
  p.add(100, PrivPerm::USER, 0x3FFF);
  p.add(7, PrivPerm::GROUP, WRITE);
  p.add(100, PrivPerm::USER, 0);

  LoopConnection c(4);  // small parts: the list spans several
  c << p;
  EXPECT_EQ(c.words(), (std::vector<uint32_t>{4, 0xFFFF, 2, READ | grant(READ), 100, 1, 0x3FFF, 7, 0,
                                              WRITE, 100, 1, 0}));
  c.rewind();
  Privilege q;
  q.add(1, PrivPerm::USER, READ);  // replaced by what is read
  c >> q;
  EXPECT_FALSE(c.bad());
  EXPECT_EQ(entries(q), entries(p));
  EXPECT_EQ(c.wordsLeft(), 0);

  Privilege empty;
  LoopConnection e;
  e << empty;
  e.rewind();
  e >> q;
  EXPECT_EQ(q.size(), 0);
}

TEST(Privilege, HostileInputLeavesTheListEmpty) {
  std::vector<std::vector<uint32_t>> inputs = {
      {0x80000000u},                      // negative count
      {0x7FFFFFF0u},                      // absurd count
      {1, 0x10000, 1, 1},                 // id 65536 would read as user 0
      {2, 0xFFFF, 2, 0, 5, 0xFFFFFFFFu, 1},  // negative type
      {1, 5, 1, 0x10001},                 // bits beyond 16
      {3, 0xFFFF, 2, 0},                  // count beyond the words sent
  };
  for (auto const& in : inputs) {
    SCOPED_TRACE(in.size());
    LoopConnection c;
    c.feed(in);
    Privilege p;
    p.add(1, PrivPerm::USER, READ);
    c >> p;
    EXPECT_TRUE(c.bad());
    EXPECT_EQ(p.size(), 0);
  }
}

}  // namespace
