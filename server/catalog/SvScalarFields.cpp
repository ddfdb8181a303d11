// The fixed-size field classes: int, time, date, bool, object and VSO.
//
// int     4 bytes, stInt (sign bit flipped); wire one long; arithmetic in
//         32-bit wrap-around, x / 0 and 0x80000000 / -1 give 0x80000000.
// time    2-byte short form of the time of day; wire a Time.
// date    2-byte short form of the date; wire a Date.
// bool    1 byte = wire value + 128: 7F null, 80 false, 81 true.
// object  class then instance, 4 bytes each; wire two longs.
// VSO     three longs of 4 bytes; wire three longs.
#include <svcatalog/SvFieldTypes.h>

#include <cstring>

#include <zfound/Boolean.h>
#include <zfound/Connection.h>
#include <zfound/Date.h>
#include <zfound/Exception.h>
#include <zfound/Portable.h>
#include <zfound/Time.h>
#include <zfound/TimeStamp.h>

#include "FieldWire.h"

using svcatalog::blankText;
using svcatalog::idListText;
using svcatalog::parseIdList;

namespace {

// Writes `bytes` bytes of form at key and zero bytes up to len; key advances
// by len.
void putKeyPart(char*& key, int32_t len, char const* form, int32_t bytes) {
  std::memset(key, 0, size_t(len));
  std::memcpy(key, form, size_t(bytes < len ? bytes : len));
  key += len;
}

// True when the text, past its blanks, opens an object-id list.
bool opensList(String const& text) {
  char const* s = toCharPtr(text);
  long n = text.length();
  long i = 0;
  while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
  return i < n && s[i] == '<';
}

}  // namespace

// ---- SvIntField ----------------------------------------------------------------------------

SvIntField::SvIntField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
                       String const& mask, int32_t sqlType, TabFldFlags flags, int32_t dim, InCheck* check,
                       SvExpr* expression, String const& enumName)
    : SvField(table, id, name, descr, deflt, mask, INT, sqlType, flags, dim, check, expression, enumName) {}

int32_t SvIntField::get(char const* p) { return ldInt(p); }

void SvIntField::put(char* p, int32_t v) { stInt(v, p); }

int32_t SvIntField::apply(int32_t a, int32_t b, int32_t op) {
  uint32_t const ua = static_cast<uint32_t>(a);
  uint32_t const ub = static_cast<uint32_t>(b);
  switch (op) {
    case ADD: return static_cast<int32_t>(ua + ub);
    case SUB: return static_cast<int32_t>(ua - ub);
    case MUL: return static_cast<int32_t>(ua * ub);
    case DIV:
      if (b == 0 || (a == INT32_MIN && b == -1)) return INT32_MIN;
      return a / b;
    default: return b;
  }
}

bool SvIntField::firstWordIsMarker(char const* p) const { return get(p) == kRunMarker; }

bool SvIntField::isNull(char const* p) const { return get(p) == INT32_MIN; }

bool SvIntField::receive(Connection* c, char*& p, bool, int32_t) {
  return receiveRuns(c, p, 4, false, [&](char* e, int32_t first) {
    put(e, first);
    return 0;
  });
}

bool SvIntField::store(char*& p, String const& text, bool, int32_t) const {
  put(p, toInt(text, 0));
  p += 4;
  return true;
}

bool SvIntField::store(char*& p, int32_t value) const {
  put(p, value);
  p += 4;
  return true;
}

void SvIntField::load(String& text, char const*& p, bool, int32_t) const {
  // The null int (0x80000000) renders as the null text, like the null of
  // every other class; the null text stores it back.
  int32_t v = get(p);
  text = v == INT32_MIN ? String() : svcatalog::decimal(v);
  p += 4;
}

bool SvIntField::equivRep(SvField const* other) const {
  return other != nullptr && other->getType() == getType();
}

AnyValue SvIntField::value(char const* p) const {
  Num n;
  LToNum(get(p), n);  // 0x80000000 gives the null number
  return AnyValue(n);
}

void SvIntField::sendOne(Connection* c, char const* p) const { *c << get(p); }

bool SvIntField::update(Connection* c, char* p, int32_t n, int32_t op) {
  int32_t operand = 0;
  *c >> operand;
  if (c->bad()) return receiveFault(c);
  if (!countOk(n)) return false;
  for (int32_t i = 0; i < n; ++i) put(p + 4 * i, apply(get(p + 4 * i), operand, op));
  return true;
}

bool SvIntField::receiveAdd(Connection* c, char* p, int32_t n) { return update(c, p, n, ADD); }
bool SvIntField::receiveSub(Connection* c, char* p, int32_t n) { return update(c, p, n, SUB); }
bool SvIntField::receiveMul(Connection* c, char* p, int32_t n) { return update(c, p, n, MUL); }
bool SvIntField::receiveDiv(Connection* c, char* p, int32_t n) { return update(c, p, n, DIV); }
bool SvIntField::receiveSet(Connection* c, char* p, int32_t n) { return update(c, p, n, SET); }

// ---- SvTimeField ---------------------------------------------------------------------------

namespace {

Time loadTime(char const* p) {
  Time t;
  t.loadShort(p);
  return t;
}

void storeTime(char* p, Time const& t) { t.storeShort(p); }

Date loadDate(char const* p) {
  Date d;
  d.loadShort(p);
  return d;
}

void storeDate(char* p, Date const& d) { d.storeShort(p); }

}  // namespace

SvTimeField::SvTimeField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
                         String const& mask, TabFldFlags flags, int32_t dim, InCheck* check,
                         SvExpr* expression, String const& enumName)
    : SvField(table, id, name, descr, deflt, mask, TIME, -1, flags, dim, check, expression, enumName) {}

bool SvTimeField::receive(Connection* c, char*& p, bool, int32_t) {
  return receiveRuns(c, p, 2, true, [&](char* e, int32_t) {
    Time t;
    *c >> t;
    storeTime(e, t);
    return 0;
  });
}

bool SvTimeField::store(char*& p, String const& text, bool, int32_t) const {
  storeTime(p, toTime(text));
  p += 2;
  return true;
}

void SvTimeField::load(String& text, char const*& p, bool, int32_t) const {
  text = String(toCharPtr(loadTime(p), Time::Colons | Time::Seconds));
  p += 2;
}

bool SvTimeField::equivRep(SvField const* other) const {
  return other != nullptr && other->getType() == getType();
}

AnyValue SvTimeField::value(char const* p) const { return AnyValue(loadTime(p)); }

void SvTimeField::sendOne(Connection* c, char const* p) const { *c << loadTime(p); }

bool SvTimeField::store(SvTable* table, char*& key, char const* src, int32_t len, char const* record) {
  if (!isVirtual() || key == nullptr || len < 0) return SvField::store(table, key, src, len, record);
  char form[2];
  storeTime(form, stamp(record).time());
  putKeyPart(key, len, form, 2);
  return true;
}

bool SvTimeField::differ(SvTable* table, char const* a, char const* b, int32_t len) const {
  if (!isVirtual()) return SvField::differ(table, a, b, len);
  Time const ta = stamp(a).time();
  Time const tb = stamp(b).time();
  return ta.hour() != tb.hour() || ta.minute() != tb.minute() || ta.second() != tb.second();
}

// ---- SvDateField ---------------------------------------------------------------------------

SvDateField::SvDateField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
                         String const& mask, TabFldFlags flags, int32_t dim, InCheck* check,
                         SvExpr* expression, String const& enumName)
    : SvField(table, id, name, descr, deflt, mask, DATE, -1, flags, dim, check, expression, enumName) {}

bool SvDateField::receive(Connection* c, char*& p, bool, int32_t) {
  return receiveRuns(c, p, 2, true, [&](char* e, int32_t) {
    Date d;
    *c >> d;
    storeDate(e, d);
    return 0;
  });
}

bool SvDateField::store(char*& p, String const& text, bool, int32_t) const {
  storeDate(p, toDate(text));
  p += 2;
  return true;
}

void SvDateField::load(String& text, char const*& p, bool, int32_t) const {
  text = String(toCharPtr(loadDate(p), Date::Slashes));
  p += 2;
}

bool SvDateField::equivRep(SvField const* other) const {
  return other != nullptr && other->getType() == getType();
}

AnyValue SvDateField::value(char const* p) const { return AnyValue(loadDate(p)); }

void SvDateField::sendOne(Connection* c, char const* p) const { *c << loadDate(p); }

bool SvDateField::store(SvTable* table, char*& key, char const* src, int32_t len, char const* record) {
  if (!isVirtual() || key == nullptr || len < 0) return SvField::store(table, key, src, len, record);
  char form[2];
  storeDate(form, toDate(stamp(record).time()));
  putKeyPart(key, len, form, 2);
  return true;
}

bool SvDateField::differ(SvTable* table, char const* a, char const* b, int32_t len) const {
  if (!isVirtual()) return SvField::differ(table, a, b, len);
  return toDate(stamp(a).time()) != toDate(stamp(b).time());
}

// ---- SvBoolField ---------------------------------------------------------------------------

SvBoolField::SvBoolField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
                         String const& mask, int32_t sqlType, TabFldFlags flags, int32_t dim, InCheck* check,
                         SvExpr* expression, String const& enumName)
    : SvField(table, id, name, descr, deflt, mask, BOOL, sqlType, flags, dim, check, expression, enumName) {}

namespace {

// The wire value of a record byte.
int32_t boolWire(char const* p) { return int32_t(static_cast<unsigned char>(p[0])) - 128; }

char boolByte(int32_t wire) { return static_cast<char>(static_cast<uint32_t>(wire + 128) & 0xFFu); }

}  // namespace

bool SvBoolField::receive(Connection* c, char*& p, bool, int32_t) {
  return receiveRuns(c, p, 1, false, [&](char* e, int32_t first) {
    e[0] = boolByte(first);
    return 0;
  });
}

bool SvBoolField::store(char*& p, String const& text, bool, int32_t) const {
  p[0] = blankText(text) ? static_cast<char>(kNullByte) : boolByte(toInt(text, 0));
  p += 1;
  return true;
}

void SvBoolField::load(String& text, char const*& p, bool, int32_t) const {
  int32_t v = boolWire(p);
  text = v == -1 ? String() : svcatalog::decimal(v);
  p += 1;
}

bool SvBoolField::equivRep(SvField const* other) const {
  return other != nullptr && other->getType() == getType();
}

AnyValue SvBoolField::value(char const* p) const {
  if (isNull(p)) return AnyValue(Boolean());
  return AnyValue(Boolean(boolWire(p) != 0));
}

void SvBoolField::sendOne(Connection* c, char const* p) const { *c << boolWire(p); }

// ---- SvObjectField -------------------------------------------------------------------------

SvObjectField::SvObjectField(SvTabRep* table, uint32_t id, String const& name, String const& descr,
                             SvExpr* deflt, String const& mask, TabFldFlags flags, int32_t dim,
                             InCheck* check, SvExpr* expression, ObjectId const& objRef,
                             String const& enumName)
    : SvField(table, id, name, descr, deflt, mask, OBJECT, -1, flags, dim, check, expression, enumName),
      objRef_(objRef) {}

void SvObjectField::loadInts(int32_t& cls, int32_t& inst, char const* p) {
  cls = ldlong(p);
  inst = ldlong(p + 4);
}

bool SvObjectField::firstWordIsMarker(char const* p) const { return ldlong(p) == kRunMarker; }

bool SvObjectField::isNull(char const* p) const { return ldlong(p) == 0 && ldlong(p + 4) == 0; }

bool SvObjectField::receive(Connection* c, char*& p, bool, int32_t) {
  return receiveRuns(c, p, 8, false, [&](char* e, int32_t first) {
    int32_t inst = 0;
    *c >> inst;
    stlong(first, e);
    stlong(inst, e + 4);
    return 0;
  });
}

bool SvObjectField::store(char*& p, String const& text, bool, int32_t) const {
  int32_t w[2] = {0, 0};
  bool ok = true;
  if (blankText(text)) {
    // the null object id
  } else if (opensList(text)) {
    ok = parseIdList(text, w, 2);
  } else {
    w[1] = toInt(text, 0);  // a bare number: class 0, that instance
  }
  if (!ok) {
    invalid(text);
  } else {
    stlong(w[0], p);
    stlong(w[1], p + 4);
  }
  p += 8;
  return ok;
}

bool SvObjectField::store(char*& p, int32_t value) const {
  stlong(0, p);
  stlong(value, p + 4);
  p += 8;
  return true;
}

void SvObjectField::load(String& text, char const*& p, bool, int32_t) const {
  int32_t w[2];
  loadInts(w[0], w[1], p);
  text = idListText(w, 2);
  p += 8;
}

bool SvObjectField::equivRep(SvField const* other) const {
  return other != nullptr && other->getType() == getType();
}

AnyValue SvObjectField::value(char const* p) const { return AnyValue(long(ldlong(p)), long(ldlong(p + 4))); }

void SvObjectField::sendOne(Connection* c, char const* p) const {
  *c << ldlong(p);
  *c << ldlong(p + 4);
}

// ---- SvVSOField ----------------------------------------------------------------------------

SvVSOField::SvVSOField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
                       String const& mask, int32_t sqlType, TabFldFlags flags, int32_t dim, InCheck* check,
                       SvExpr* expression, String const& enumName)
    : SvField(table, id, name, descr, deflt, mask, VSO, sqlType, flags, dim, check, expression, enumName) {}

void SvVSOField::loadInts(int32_t& a, int32_t& b, int32_t& c, char const* p) {
  a = ldlong(p);
  b = ldlong(p + 4);
  c = ldlong(p + 8);
}

bool SvVSOField::firstWordIsMarker(char const* p) const { return ldlong(p) == kRunMarker; }

bool SvVSOField::isNull(char const* p) const { return ldlong(p) == 0 && ldlong(p + 4) == 0 && ldlong(p + 8) == 0; }

bool SvVSOField::receive(Connection* c, char*& p, bool, int32_t) {
  return receiveRuns(c, p, 12, false, [&](char* e, int32_t first) {
    int32_t b = 0, d = 0;
    *c >> b;
    *c >> d;
    stlong(first, e);
    stlong(b, e + 4);
    stlong(d, e + 8);
    return 0;
  });
}

bool SvVSOField::store(char*& p, String const& text, bool, int32_t) const {
  int32_t w[3] = {0, 0, 0};
  bool ok = blankText(text) || parseIdList(text, w, 3);
  if (!ok) {
    invalid(text);
  } else {
    stlong(w[0], p);
    stlong(w[1], p + 4);
    stlong(w[2], p + 8);
  }
  p += 12;
  return ok;
}

bool SvVSOField::store(char*& p, int32_t value) const {
  invalid(svcatalog::decimal(value));
  p += 12;
  return false;
}

void SvVSOField::load(String& text, char const*& p, bool, int32_t) const {
  int32_t w[3];
  loadInts(w[0], w[1], w[2], p);
  text = idListText(w, 3);
  p += 12;
}

bool SvVSOField::equivRep(SvField const* other) const {
  return other != nullptr && other->getType() == getType();
}

AnyValue SvVSOField::value(char const* p) const { return AnyValue(long(ldlong(p + 4)), long(ldlong(p + 8))); }

void SvVSOField::sendOne(Connection* c, char const* p) const {
  *c << ldlong(p);
  *c << ldlong(p + 4);
  *c << ldlong(p + 8);
}
