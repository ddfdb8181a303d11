// The server's field input checks and their wire and catalog-value forms.
//
// Wire form of a check sent by the server (sendConvertedSv), longs in the
// connection's encoding:
//   kind (0 referential, 1 list of values), negation (1 when negated; 0 when
//   not or when the negation is null), key count k, display count d, k key
//   values and d display values (AnyValue form); a referential check then
//   sends its index's ObjectId (class, instance). No check (a null pointer or
//   kind 2) is the single long 2.
//
// Catalog value text of one check value ($integr rows): an object id is the
// byte 26 followed by the class and the instance in signed decimal joined by
// ","; every other value is its text (toString of the AnyValue).
#pragma once

#include <cstdint>

#include <zfound/InCheck.h>

class SvIntegrity : public Integrity {
public:
  SvIntegrity() = default;
  SvIntegrity(bool negated, ObjectId const& index) : Integrity(negated, index) {}
  SvIntegrity(ObjectId const& index, int32_t nKeys, int32_t nDisplay, bool negated)
      : Integrity(index, nKeys, nDisplay, negated) {}
  explicit SvIntegrity(Connection& c) : Integrity(c) {}

  void send(Connection& c) const override;
  String toString(int32_t) const { return String(); }
};

class SvInList : public InList {
public:
  SvInList() = default;
  explicit SvInList(bool negated) : InList(negated) {}
  SvInList(int32_t n, bool negated) : InList(n, n, negated) {}
  explicit SvInList(Connection& c) : InList(c) {}

  void send(Connection& c) const override;
  String toString(int32_t) const { return String(); }
};

// Kind, negation, counts and values of a check (no index).
void sendConvertedSv(InCheck const& check, Connection& c);
// A field's check: the empty check for null or kind 2, else the check's own
// form.
void sendInCheck(InCheck const* check, Connection& c);

// The leading byte of an object-id value text.
constexpr char kObjIdValueMark = 26;
// The catalog text of one check value.
String integrValueText(AnyValue const& v);
// The value of a catalog text: an object id for a well-formed object-id text,
// else the text as a string value.
AnyValue integrValue(String const& text);
