// Privilege: the access list of a schema or a table, and PrivPerm, one entry.
//
// A PrivPerm is 4 bytes: a 16-bit id (a user id, a group id, or 0xFFFF for
// everyone) and a 16-bit word whose bits 0-1 hold the id type (0 group,
// 1 user, 2 everyone) and whose bits 2-15 hold 14 privilege bits. The right
// to grant a privilege lies 6 bits above the privilege's own bit.
//
// Invariants of a Privilege:
//  - it owns its entries; entry 0 is the everyone entry whenever the list
//    holds any other entry (add() puts one there first);
//  - user and group ids are compared at full width: an id that does not fit
//    the 16-bit entry id never matches an entry, and only the id 0 itself is
//    the super-user;
//  - a list read from a Connection is accepted only when its count and every
//    value fit their fields; otherwise the list is left empty and the
//    channel is marked bad.
#pragma once

#include <cstdint>

#include <zfound/PtrArray.h>

class Connection;

class PrivPerm {
public:
  enum : uint16_t { GROUP = 0, USER = 1, EVERYONE = 2 };
  // The id of the everyone entry.
  static constexpr uint16_t kEveryoneId = 0xFFFF;
  // Mask of the 14 privilege bits (after shifting them down by 2).
  static constexpr uint16_t kPrivMask = 0x3FFF;
  // Distance of a grant bit above its privilege bit.
  static constexpr int kGrantShift = 6;

  // Id 0, group, no privileges.
  PrivPerm() = default;
  // {id, idtype & 3, priv & 0x3FFF}.
  PrivPerm(uint16_t id, uint16_t idtype, uint16_t priv)
      : id_(id), word_(uint16_t((idtype & 3u) | ((priv & kPrivMask) << 2))) {}
  PrivPerm(PrivPerm const&) = default;
  PrivPerm& operator=(PrivPerm const&) = default;

  uint16_t id() const { return id_; }
  uint16_t idType() const { return uint16_t(word_ & 3u); }
  // The 14 privilege bits (grant bits included), bit 0 first.
  uint16_t priv() const { return uint16_t(word_ >> 2); }

private:
  uint16_t id_ = 0;    // user id, group id or 0xFFFF
  uint16_t word_ = 0;  // bits 0-1 id type, bits 2-15 privilege bits
};

ZF_PTRARRAY(PrivPerm);

class Privilege {
public:
  // An empty list.
  Privilege();
  Privilege(Privilege const& p);
  ~Privilege();

  // Frees every entry; the list becomes empty.
  void clear();
  // Appends {id, idtype & 3, priv & 0x3FFF}; for an entry that is not the
  // everyone entry, the everyone entry {0xFFFF, 2, 0} is appended first when
  // the list is empty or its first slot is empty.
  void add(uint16_t id, uint16_t idtype, uint16_t priv);
  // True when `user` may use any privilege of `mask`: the super-user (0) and
  // the owner always; then the first user entry for `user` or group entry
  // for `group` holding a bit of mask; else the everyone entry's bits.
  bool allowed(int32_t owner, int32_t user, int32_t group, int32_t mask) const;
  // allowed() on the grant bits: mask shifted left by 6.
  bool canGrant(int32_t owner, int32_t user, int32_t group, int32_t mask) const;
  // Entries, the everyone entry included.
  int32_t size() const;
  // The n-th entry's fields; false when n is out of range or the slot empty.
  bool elem(int32_t n, uint16_t& id, uint16_t& idtype, uint16_t& priv) const;
  // Nothing for self-assignment; else clears and adds copies of p's entries
  // in order.
  Privilege& operator=(Privilege const& p);
  // Writes each entry as "id %ld, idtype %ld, priv %ld\n" to standard error.
  void print() const;

  // Largest entry count accepted from a Connection.
  static constexpr int32_t kMaxWireEntries = 65536;

private:
  PrivPermPtrArray perms;  // owned entries; entry 0 is everyone
};

// The entry count, then id, id type and privilege bits of each entry, each
// as one word.
Connection& operator<<(Connection& c, Privilege const& p);
// Clears p and reads the form above through add(). A count outside
// 0..kMaxWireEntries or a value outside 0..0xFFFF leaves p empty and marks
// the channel bad.
Connection& operator>>(Connection& c, Privilege& p);
