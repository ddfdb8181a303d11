// AnyValue construction, copy, conversions, comparison and arithmetic.
// The value area holds exactly one of: a Num, a String handle, one or two
// 32-bit values, or a pointer to another AnyValue; the tag says which.
// Date and time sums saturate (the null and highest 32-bit values act as
// minus and plus infinity), as the saturating helpers of Date.h do.
#include <zfound/AnyValue.h>
#include <zfound/Assert.h>
#include <zfound/Boolean.h>
#include <zfound/CharClass.h>

#include <cstring>
#include <new>

static_assert(sizeof(Num) <= 16, "a Num fits the value area");
static_assert(sizeof(String) <= 16, "a String fits the value area");

AnyValue::AnyValue() : ty(T_VOID) { std::memset(area, 0, sizeof area); }

AnyValue::AnyValue(AnyValue const& v) : ty(T_VOID) {
  std::memset(area, 0, sizeof area);
  set(v);
}

AnyValue::AnyValue(char const* s) : ty(T_STRING) { new (area) String(s); }
AnyValue::AnyValue(String const& s) : ty(T_STRING) { new (area) String(s); }

AnyValue::AnyValue(bool b) : ty(T_BOOL) { setLongs(b ? 1 : 0, 0); }
AnyValue::AnyValue(Boolean const& b) : ty(T_BOOL) { setLongs(b.isNull() ? INT32_MIN : b.value(), 0); }

AnyValue::AnyValue(long n) : ty(T_NUM) { new (area) Num(toNum(long(int32_t(n)))); }
AnyValue::AnyValue(int n) : ty(T_NUM) { new (area) Num(toNum(long(n))); }
AnyValue::AnyValue(short n) : ty(T_NUM) { new (area) Num(toNum(n)); }
AnyValue::AnyValue(double d) : ty(T_NUM) { new (area) Num(toNum(d)); }
AnyValue::AnyValue(Num const& n) : ty(T_NUM) { new (area) Num(n); }

AnyValue::AnyValue(Date const& d) : ty(T_DATE) { setLongs(d.value(), 0); }
AnyValue::AnyValue(Time const& t) : ty(T_TIME) { setLongs(t.value(), 0); }

AnyValue::AnyValue(long x, long y) : ty(T_POINT) { setLongs(int32_t(x), int32_t(y)); }

AnyValue::AnyValue(AnyValue* a) : ty(T_REF) {
  std::memset(area, 0, sizeof area);
  if (!ZF_ASSERT(a)) {
    ty = T_VOID;
    return;
  }
  std::memcpy(area, &a, sizeof a);
}

AnyValue::~AnyValue() { release(); }

void AnyValue::release() {
  if (ty == T_STRING) str()->~String();
  else if (ty == T_NUM) numPtr()->~Num();
  ty = T_VOID;
  std::memset(area, 0, sizeof area);
}

void AnyValue::setLongs(int32_t a, int32_t b) {
  std::memset(area, 0, sizeof area);
  std::memcpy(area, &a, 4);
  std::memcpy(area + 4, &b, 4);
}

int32_t AnyValue::long0() const {
  int32_t v;
  std::memcpy(&v, area, 4);
  return v;
}

int32_t AnyValue::long1() const {
  int32_t v;
  std::memcpy(&v, area + 4, 4);
  return v;
}

void AnyValue::set(AnyValue const& v) {
  if (this == &v) return;
  release();
  ty = v.ty;
  if (v.ty == T_STRING) new (area) String(*v.str());
  else if (v.ty == T_NUM) new (area) Num(*v.numPtr());
  else std::memcpy(area, v.area, sizeof area);
}

AnyValue const& AnyValue::deref() const {
  AnyValue const* p = this;
  while (p->ty == T_REF) {
    AnyValue* next;
    std::memcpy(&next, p->area, sizeof next);
    p = next;
  }
  return *p;
}

AnyValue& AnyValue::operator=(AnyValue const& v) {
  if (this == &v) return *this;
  if (ty == T_REF) {
    AnyValue* target;
    std::memcpy(&target, area, sizeof target);
    *target = v;
    return *this;
  }
  if (v.ty == T_REF) return *this = v.deref();
  set(v);
  return *this;
}

bool AnyValue::isString() const { return deref().ty == T_STRING; }

bool AnyValue::isNull() const {
  AnyValue const& v = deref();
  switch (v.ty) {
    case T_VOID: return true;
    case T_NUM: return v.numPtr()->isNull();
    case T_STRING: return v.str()->isNull();
    case T_DATE:
    case T_TIME: return v.long0() == INT32_MIN;
    case T_BOOL: return v.long0() < 0;
    case T_POINT: return v.long0() == -1 || v.long1() == -1;
    case T_OBJID: return v.long0() == 0 && v.long1() == 0;
    default:
      ZF_ASSERT(0);
      return true;
  }
}

String const& string(AnyValue const& av) {
  AnyValue const& v = av.deref();
  if (!ZF_ASSERT(v.ty == AnyValue::T_STRING)) {
    static String none;
    return none;
  }
  return *v.str();
}

Num const& num(AnyValue const& av) {
  AnyValue const& v = av.deref();
  if (!ZF_ASSERT(v.ty == AnyValue::T_NUM)) {
    static Num none;
    return none;
  }
  return *v.numPtr();
}

String toString(AnyValue const& av) {
  AnyValue const& v = av.deref();
  switch (v.ty) {
    case AnyValue::T_NUM: return toString(*v.numPtr(), 255, 2147483647);
    case AnyValue::T_STRING: return *v.str();
    case AnyValue::T_DATE: return String(toCharPtr(toDate(v.long0()), 4));
    case AnyValue::T_TIME: return String(toCharPtr(toTime(v.long0()), 6));
    case AnyValue::T_BOOL: return v.long0() < 0 ? String() : String(v.long0() ? "1" : "0");
    case AnyValue::T_POINT:
    case AnyValue::T_OBJID: {
      String s(v.ty == AnyValue::T_OBJID ? "*(" : "(");
      s += toString(long(v.long0()), long(0), long(-10));
      s += ",";
      s += toString(long(v.long1()), long(0), long(-10));
      s += ")";
      return s;
    }
    default: return String();
  }
}

int32_t toInt(AnyValue const& av) {
  AnyValue const& v = av.deref();
  switch (v.ty) {
    case AnyValue::T_NUM: return int32_t(toInt(*v.numPtr()));
    case AnyValue::T_STRING: return toInt(*v.str(), 0);
    case AnyValue::T_DATE:
    case AnyValue::T_TIME:
    case AnyValue::T_BOOL: return v.long0();
    default: return INT32_MIN;
  }
}

void AnyValue::setLong0(int32_t a) { setLongs(a, 0); }

AnyValue* AnyValue::target() const {
  AnyValue* t;
  std::memcpy(&t, area, sizeof t);
  return t;
}

AnyValue& AnyValue::deref() {
  AnyValue* p = this;
  while (p->ty == T_REF) p = p->target();
  return *p;
}

int32_t AnyValue::x() const {
  AnyValue const& v = deref();
  return (v.ty == T_POINT || v.ty == T_OBJID) ? v.long0() : -1;
}

int32_t AnyValue::y() const {
  AnyValue const& v = deref();
  return (v.ty == T_POINT || v.ty == T_OBJID) ? v.long1() : -1;
}

void AnyValue::clear() {
  switch (ty) {
    case T_VOID: return;
    case T_NUM: *numPtr() = Num(); return;
    case T_STRING: *str() = String(); return;
    case T_DATE:
    case T_TIME:
    case T_BOOL: setLongs(INT32_MIN, 0); return;
    case T_POINT: setLongs(-1, -1); return;
    case T_OBJID: setLongs(0, 0); return;
    case T_REF: target()->clear(); return;
    default: ZF_ASSERT(0); return;
  }
}

// ---- conversions -------------------------------------------------------------

Num toNum(AnyValue const& av) {
  AnyValue const& v = av.deref();
  switch (v.getType()) {
    case AnyValue::T_NUM: return num(v);
    case AnyValue::T_STRING: return toNum(string(v));
    case AnyValue::T_DATE:
    case AnyValue::T_TIME:
    case AnyValue::T_BOOL: return Num(int(toInt(v)));
    default: return Num();
  }
}

Date toDate(AnyValue const& av) {
  AnyValue const& v = av.deref();
  switch (v.getType()) {
    case AnyValue::T_NUM: return toDate(toInt(num(v)));
    case AnyValue::T_STRING: return toDate(string(v));
    case AnyValue::T_DATE: return toDate(toInt(v));
    case AnyValue::T_TIME: return toDate(toTime(toInt(v)));
    default: return toDate(String());
  }
}

Time toTime(AnyValue const& av) {
  AnyValue const& v = av.deref();
  switch (v.getType()) {
    case AnyValue::T_NUM: return toTime(toInt(num(v)));
    case AnyValue::T_STRING: return toTime(string(v));
    case AnyValue::T_DATE: return toTime(toDate(toInt(v)));
    case AnyValue::T_TIME: return toTime(toInt(v));
    default: return toTime(String());
  }
}

bool toBool(AnyValue const& av) {
  AnyValue const& v = av.deref();
  switch (v.getType()) {
    case AnyValue::T_NUM: return toInt(num(v)) != 0;
    case AnyValue::T_STRING: return toInt(string(v), 0) != 0;
    case AnyValue::T_BOOL: return toInt(v) != 0;
    default: return true;
  }
}

Boolean toBoolean(AnyValue const& av) {
  AnyValue const& v = av.deref();
  switch (v.getType()) {
    case AnyValue::T_NUM: return toBoolean(toInt(num(v)));
    case AnyValue::T_STRING: return toBoolean(toInt(string(v), 0));
    case AnyValue::T_BOOL: return toBoolean(toInt(v));
    default: return Boolean();
  }
}

char const* toCharPtr(AnyValue const& av) {
  AnyValue const& v = av.deref();
  switch (v.getType()) {
    case AnyValue::T_NUM: return NumToStr(&num(v), 255, 2147483647);
    case AnyValue::T_STRING: return toCharPtr(string(v));
    case AnyValue::T_DATE: return toCharPtr(toDate(toInt(v)), 4);
    case AnyValue::T_TIME: return toCharPtr(toTime(toInt(v)), 6);
    case AnyValue::T_BOOL: return toCharPtr(toBoolean(toInt(v)));
    default: return nullptr;
  }
}

// ---- comparison ----------------------------------------------------------------

static int32_t sign3(int64_t d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }

int32_t cmp(AnyValue const& ar, AnyValue const& br) {
  AnyValue const& a = ar.deref();
  AnyValue const& b = br.deref();
  switch (a.ty) {
    case AnyValue::T_VOID: return b.ty == AnyValue::T_VOID ? 0 : -1;
    case AnyValue::T_NUM: {
      Num nb = toNum(b);
      return NumCmp(a.numPtr(), &nb);
    }
    case AnyValue::T_STRING: return cmp(*a.str(), toString(b));
    case AnyValue::T_DATE: return sign3(int64_t(toDate(a).value()) - toDate(b).value());
    case AnyValue::T_TIME: return sign3(int64_t(toTime(a).value()) - toTime(b).value());
    case AnyValue::T_BOOL: return int32_t(toBool(a)) - int32_t(toBool(b));
    case AnyValue::T_POINT: {
      int64_t d = (int64_t(a.x()) - b.x()) + (int64_t(a.y()) - b.y());
      if (d > INT32_MAX) return INT32_MAX;
      if (d < -INT32_MAX) return -INT32_MAX;
      return int32_t(d);
    }
    case AnyValue::T_OBJID: {
      uint32_t ac = uint32_t(a.x()), bc = uint32_t(b.x());
      if (ac != bc) return ac < bc ? -1 : 1;
      uint32_t ai = uint32_t(a.y()), bi = uint32_t(b.y());
      return ai < bi ? -1 : ai > bi ? 1 : 0;
    }
    default: ZF_ASSERT(0); return 0;
  }
}

// ---- arithmetic ----------------------------------------------------------------

// Negation that keeps the infinities: null and highest change places.
static int32_t neg32(int32_t v) {
  if (v == INT32_MIN) return INT32_MAX;
  if (v == INT32_MAX) return INT32_MIN;
  return -v;
}

AnyValue& AnyValue::operator+=(AnyValue const& br) {
  AnyValue& a = deref();
  AnyValue const& b = br.deref();
  switch (a.ty) {
    case T_STRING: *a.str() += toString(b); break;
    case T_NUM:
      if (b.ty == T_DATE) {
        int32_t d = add(toDate(a).value(), toInt(toNum(b)));
        a = AnyValue(toDate(d));
      } else if (b.ty == T_TIME) {
        int32_t t = add(toTime(a).value(), toTime(b).value());
        a = AnyValue(toTime(t));
      } else if (b.ty == T_NUM) {
        NumAdd(a.numPtr(), b.numPtr());
      }
      break;
    case T_DATE: a.setLong0(add(toDate(a).value(), toInt(toNum(b)))); break;
    case T_TIME: a.setLong0(add(toTime(a).value(), toTime(b).value())); break;
    default: a.clear(); break;
  }
  return *this;
}

AnyValue& AnyValue::operator-=(AnyValue const& br) {
  AnyValue& a = deref();
  AnyValue const& b = br.deref();
  switch (a.ty) {
    case T_STRING: *a.str() = String(); break;
    case T_NUM: {
      Num nb = toNum(b);
      NumSub(a.numPtr(), &nb);
      break;
    }
    case T_DATE: {
      int32_t d = add(toDate(a).value(), neg32(toInt(toNum(b))));
      if (b.ty == T_NUM) a.setLong0(d);
      else if (b.ty == T_DATE) a = AnyValue(Num(int(d)));
      break;
    }
    case T_TIME:
      if (b.ty == T_NUM) a.setLong0(add(toTime(a).value(), neg32(toTime(b).value())));
      else if (b.ty == T_TIME) a = AnyValue(Num(int(add(toTime(a).value(), neg32(toTime(b).value())))));
      break;
    default: a.clear(); break;
  }
  return *this;
}

AnyValue& AnyValue::operator*=(AnyValue const& br) {
  AnyValue& a = deref();
  AnyValue const& b = br.deref();
  switch (a.ty) {
    case T_NUM: {
      Num nb = toNum(b);
      NumMul(a.numPtr(), &nb);
      break;
    }
    case T_DATE: a.setLong0(mult(toDate(a).value(), toInt(toNum(b)))); break;
    case T_TIME: a.setLong0(mult(toTime(a).value(), toTime(b).value())); break;
    default: a.clear(); break;
  }
  return *this;
}

AnyValue& AnyValue::operator/=(AnyValue const& br) {
  AnyValue& a = deref();
  AnyValue const& b = br.deref();
  switch (a.ty) {
    case T_NUM: {
      Num nb = toNum(b);
      NumDiv(a.numPtr(), &nb);
      break;
    }
    case T_DATE: a.setLong0(intDiv(toDate(a).value(), toInt(toNum(b)))); break;
    case T_TIME: a.setLong0(intDiv(toTime(a).value(), toTime(b).value())); break;
    default: a.clear(); break;
  }
  return *this;
}
