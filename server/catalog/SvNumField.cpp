// SvNumField and SvFloatField: decimal numbers.
//
// A number field of `length` digits and `decimals` decimals stores one
// element in the packed sortable form of Num::_store: 2 bytes for each of its
// base-10,000 units; a value that does not fit is refused with InvalidData
// ("<qualified name> = <number>") and the element keeps its bytes. A float
// field stores the 16-byte natural form of Num::store, which holds any value.
// Both travel as Num values (the Num reader takes a run marker itself).
#include <svcatalog/SvFieldTypes.h>

#include <cstring>

#include <zfound/Connection.h>
#include <zfound/Exception.h>
#include <zfound/Num.h>
#include <zfound/TimeStamp.h>

#include "FieldWire.h"

namespace {

// Applies one arithmetic update to v (SET takes the operand).
void applyNum(Num& v, Num const& operand, int32_t op) {
  switch (op) {
    case SvField::ADD: NumAdd(&v, &operand); break;
    case SvField::SUB: NumSub(&v, &operand); break;
    case SvField::MUL: NumMul(&v, &operand); break;
    case SvField::DIV: NumDiv(&v, &operand); break;
    default: v = operand; break;
  }
}

// The text of a number: null the null text, the highest number the highest
// text (which a store reads back as the highest number), else all decimals.
String numText(Num const& n) {
  if (n.isNull()) return String();
  if (n.isMax()) return String(String::kHighLength, nullptr);
  return toString(n, 255, Num::kMaxPrecision);
}

// The shape in which a number field shows a stamp's user id.
constexpr int32_t kUserDigits = 5;

}  // namespace

// ---- SvNumField -------------------------------------------------------------------------

SvNumField::SvNumField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
                       String const& mask, int32_t length, int32_t decimals, int32_t sqlType,
                       TabFldFlags flags, int32_t dim, InCheck* check, SvExpr* expression,
                       String const& enumName)
    : SvField(table, id, name, descr, deflt, mask, NUM, sqlType, flags, dim, check, expression, enumName),
      digits_(length),
      decimals_(decimals),
      size_(0),
      units_(0),
      fracUnits_(0) {
  Num::intLength(length, decimals, units_, fracUnits_);
  size_ = 2 * units_;
}

bool SvNumField::validShape(int32_t length, int32_t decimals) {
  int32_t units = 0, frac = 0;
  Num::intLength(length, decimals, units, frac);
  return units > 0;
}

bool SvNumField::setShape(int32_t length, int32_t decimals) {
  int32_t units = 0, frac = 0;
  Num::intLength(length, decimals, units, frac);
  if (units == 0 || units != units_ || frac != fracUnits_) {
    invalid(String("number ") + svcatalog::decimal(length) + "," + svcatalog::decimal(decimals));
    return false;
  }
  digits_ = length;
  decimals_ = decimals;
  return true;
}

bool SvNumField::length(int32_t n) { return setShape(n, decimals_); }
bool SvNumField::nDecimals(int32_t n) { return setShape(digits_, n); }

int32_t SvNumField::clength() const { return Num::conLength(digits_, decimals_); }

Num SvNumField::get(char const* p) const {
  Num n;
  if (n._load(p, digits_, decimals_) == nullptr) return Num();
  return n;
}

bool SvNumField::put(char* p, Num const& n) const {
  if (n._store(p, digits_, decimals_) != nullptr) return true;
  invalid(toString(n, 255, Num::kMaxPrecision));
  return false;
}

bool SvNumField::receive(Connection* c, char*& p, bool, int32_t) {
  return receiveRuns(c, p, size_, true, [&](char* e, int32_t) {
    Num v;
    *c >> v;
    if (c->bad()) return -1;
    return put(e, v) ? 0 : 1;
  });
}

bool SvNumField::store(char*& p, String const& text, bool, int32_t) const {
  bool ok = put(p, toNum(text));
  p += size_;
  return ok;
}

bool SvNumField::store(char*& p, int32_t value) const {
  Num n;
  LToNum(value, n);
  bool ok = put(p, n);
  p += size_;
  return ok;
}

void SvNumField::load(String& text, char const*& p, bool, int32_t) const {
  text = numText(get(p));
  p += size_;
}

bool SvNumField::loadInt(int32_t& value, char const* p) const {
  Num n = get(p);
  value = NumToL(&n);
  return true;
}

bool SvNumField::equivRep(SvField const* other) const {
  if (other == nullptr || other->getType() != NUM) return false;
  SvNumField const* n = static_cast<SvNumField const*>(other);
  return n->units_ == units_ && n->fracUnits_ == fracUnits_;
}

AnyValue SvNumField::value(char const* p) const { return AnyValue(get(p)); }

void SvNumField::sendOne(Connection* c, char const* p) const { *c << get(p); }

bool SvNumField::update(Connection* c, char* p, int32_t n, int32_t op) {
  Num operand;
  *c >> operand;
  if (c->bad()) return receiveFault(c);
  if (!countOk(n)) return false;
  for (int32_t i = 0; i < n; ++i) {
    char* e = p + i * size_;
    Num v = op == SET ? Num() : get(e);
    applyNum(v, operand, op);
    put(e, v);  // a result that does not fit is reported and skipped
  }
  return true;
}

bool SvNumField::receiveAdd(Connection* c, char* p, int32_t n) { return update(c, p, n, ADD); }
bool SvNumField::receiveSub(Connection* c, char* p, int32_t n) { return update(c, p, n, SUB); }
bool SvNumField::receiveMul(Connection* c, char* p, int32_t n) { return update(c, p, n, MUL); }
bool SvNumField::receiveDiv(Connection* c, char* p, int32_t n) { return update(c, p, n, DIV); }
bool SvNumField::receiveSet(Connection* c, char* p, int32_t n) { return update(c, p, n, SET); }

bool SvNumField::store(SvTable* table, char*& key, char const* src, int32_t len, char const* record) {
  if (!isVirtual() || key == nullptr || len < 0) return SvField::store(table, key, src, len, record);
  // The stamp's user id as a number of 5 digits (user 0: the null number).
  int32_t uid = stamp(record).userId();
  Num u;
  if (uid != 0) LToNum(uid, u);
  char form[8] = {};
  u._store(form, kUserDigits, 0);
  int32_t n = len < int32_t(sizeof form) ? len : int32_t(sizeof form);
  std::memset(key, 0, size_t(len));
  std::memcpy(key, form, size_t(n));
  key += len;
  return true;
}

bool SvNumField::differ(SvTable* table, char const* a, char const* b, int32_t len) const {
  if (!isVirtual()) return SvField::differ(table, a, b, len);
  return stamp(a).userId() != stamp(b).userId();
}

// ---- SvFloatField -----------------------------------------------------------------------

SvFloatField::SvFloatField(SvTabRep* table, uint32_t id, String const& name, String const& descr,
                           SvExpr* deflt, String const& mask, int32_t sqlType, TabFldFlags flags,
                           int32_t dim, InCheck* check, SvExpr* expression, String const& enumName)
    : SvField(table, id, name, descr, deflt, mask, FLOAT, sqlType, flags, dim, check, expression, enumName) {}

Num SvFloatField::get(char const* p) {
  Num n;
  n.load(p);  // a malformed form loads as null
  return n;
}

void SvFloatField::put(char* p, Num const& n) { n.store(p); }

bool SvFloatField::isNull(char const* p) const { return get(p).isNull(); }

bool SvFloatField::receive(Connection* c, char*& p, bool, int32_t) {
  return receiveRuns(c, p, 16, true, [&](char* e, int32_t) {
    Num v;
    *c >> v;
    if (c->bad()) return -1;
    put(e, v);
    return 0;
  });
}

bool SvFloatField::store(char*& p, String const& text, bool, int32_t) const {
  put(p, toNum(text));
  p += 16;
  return true;
}

void SvFloatField::load(String& text, char const*& p, bool, int32_t) const {
  text = numText(get(p));
  p += 16;
}

bool SvFloatField::equivRep(SvField const* other) const {
  return other != nullptr && other->getType() == getType();
}

AnyValue SvFloatField::value(char const* p) const { return AnyValue(get(p)); }

void SvFloatField::sendOne(Connection* c, char const* p) const { *c << get(p); }

bool SvFloatField::update(Connection* c, char* p, int32_t n, int32_t op) {
  Num operand;
  *c >> operand;
  if (c->bad()) return receiveFault(c);
  if (!countOk(n)) return false;
  for (int32_t i = 0; i < n; ++i) {
    char* e = p + i * 16;
    Num v = op == SET ? Num() : get(e);
    applyNum(v, operand, op);
    put(e, v);
  }
  return true;
}

bool SvFloatField::receiveAdd(Connection* c, char* p, int32_t n) { return update(c, p, n, ADD); }
bool SvFloatField::receiveSub(Connection* c, char* p, int32_t n) { return update(c, p, n, SUB); }
bool SvFloatField::receiveMul(Connection* c, char* p, int32_t n) { return update(c, p, n, MUL); }
bool SvFloatField::receiveDiv(Connection* c, char* p, int32_t n) { return update(c, p, n, DIV); }
bool SvFloatField::receiveSet(Connection* c, char* p, int32_t n) { return update(c, p, n, SET); }
