// Field input checks: the values a table field accepts.
//
// InCheck is the base: a negation (null: the field has no check; true: the
// value must NOT be among the values; false: an ordinary check), the key
// values and the display values. Integrity is a referential check (the value
// must be a key of another table, looked up through `index`); InList is a
// fixed list of allowed values with a display text beside each.
//
// Invariants:
//  - a check owns both arrays and every AnyValue in them; copies are not
//    made (a check is passed by pointer or reference);
//  - a check read from a Connection has a non-null negation; its counts are
//    accepted only in 0..kMaxWireValues, and a bad count or a channel that
//    fails while the values are read leaves the check without values and
//    with a null negation, the channel marked bad.
//
// Wire form: a long with the kind (0 Integrity, 1 InList, 2 no check); for
// kinds 0 and 1: negation (1 true, else 0), the key count k, the display
// count d, k key values and d display values in the AnyValue wire form, and
// for Integrity the index ObjectId (class id, instance id).
#pragma once

#include <cstdint>

#include <zfound/AnyValue.h>
#include <zfound/Boolean.h>
#include <zfound/ObjectId.h>
#include <zfound/PtrArray.h>
#include <zfound/String.h>

class Connection;

class InCheck {
public:
  enum : int32_t { INTEGRITY = 0, INLIST = 1, NOCHECK = 2 };
  // Largest key or display count accepted from a Connection.
  static constexpr int32_t kMaxWireValues = 65535;

  // Negation null (no check), both arrays empty.
  InCheck();
  // Negation set, arrays empty.
  explicit InCheck(bool negation);
  // Arrays of nKeys and nDisplay null slots, negation set.
  InCheck(int32_t nKeys, int32_t nDisplay, bool negation);
  InCheck(InCheck const&) = delete;
  InCheck& operator=(InCheck const&) = delete;
  // Deletes every value of both arrays, then the arrays.
  virtual ~InCheck();

  // 0 Integrity, 1 InList, 2 for the base (no check).
  virtual int32_t getType() const { return NOCHECK; }

  // False when the negation is null, else its truth value.
  bool negation() const { return !negation_.isNull() && negation_.value() == 1; }
  void setNegation(bool n) { negation_ = Boolean(n); }
  // Non-null exactly when the field has a check (the negation is not null).
  operator void*() const { return negation_.isNull() ? nullptr : const_cast<InCheck*>(this); }
  bool operator!() const { return negation_.isNull(); }

  // Append a heap copy of v to the key values / the display values.
  void addKeyVal(AnyValue const& v);
  void addDspFld(AnyValue const& v);
  // Sets the number of key values (new slots null, dropped values deleted).
  void setNValues(int32_t n);

  int32_t nKeyValues() const { return int32_t(keyVals.dim()); }
  int32_t nDspFields() const { return int32_t(dspVals.dim()); }
  // The n-th key / display value (null for an empty slot); n outside
  // 0..count-1 fails the assertion "isInRange(n)" and gives null.
  AnyValue* keyValue(int32_t n) const;
  AnyValue* dspField(int32_t n) const;

  // Reads the kind long that starts a check on a Connection.
  static int32_t receive(Connection& c);
  // Writes the kind 2 (no check) and nothing else.
  static void sendEmpty(Connection& c);
  // Writes this check: the kind, then for kinds 0 and 1 the body (a null
  // negation is sent as 0, so the receiver gets an ordinary check).
  virtual void send(Connection& c) const;

protected:
  // Reads the body common to both kinds (negation, counts, values); false
  // (check left empty and null, channel bad) for a bad count or a channel
  // that failed.
  bool receiveBody(Connection& c);
  // Writes the body common to both kinds.
  void sendBody(Connection& c) const;
  // Deletes every value and empties both arrays.
  void clearValues();

  Boolean negation_;     // null: no check
  PtrArrayOf<AnyValue> keyVals;  // owned key values (allowed values of a list)
  PtrArrayOf<AnyValue> dspVals;  // owned display values
};

// A referential check: the value must exist as a key of another table.
class Integrity : public InCheck {
public:
  // No negation, index (0, 0).
  Integrity();
  Integrity(bool negation, ObjectId const& index);
  Integrity(ObjectId const& index, int32_t nKeys, int32_t nDisplay, bool negation);
  // Reads the body of kind 0 (after the kind long).
  explicit Integrity(Connection& c);

  int32_t getType() const override { return INTEGRITY; }
  void send(Connection& c) const override;

  void setIndex(ObjectId const& id) { index_ = id; }
  ObjectId& index() { return index_; }
  // Fixed texts at this level: "tabName" and "indName".
  String tabName() const { return String("tabName"); }
  String indName() const { return String("indName"); }

private:
  ObjectId index_;  // index of the referenced table
};

// A fixed list of allowed values, each with a display value.
class InList : public InCheck {
public:
  InList();
  explicit InList(bool negation);
  InList(int32_t nKeys, int32_t nDisplay, bool negation);
  // Reads the body of kind 1 (after the kind long).
  explicit InList(Connection& c);

  int32_t getType() const override { return INLIST; }

  // The greatest length of the text form of the display values (the
  // highest String counts 2147483647); 0 when there are none.
  int32_t maxDspLen() const;
};
