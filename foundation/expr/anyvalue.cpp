// AnyValue construction, copy and its text and integer conversions.
// The value area holds exactly one of: a Num, a String handle, one or two
// 32-bit values, or a pointer to another AnyValue; the tag says which.
#include <zfound/AnyValue.h>
#include <zfound/Assert.h>

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
  if (!a) {
    _assert("a != (0)", __FILE__, __LINE__);
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
    case T_OBJID: return v.long0() == 0 || v.long1() == 0;
    default:
      _assert("0", "expr/anyvalue", __LINE__);
      return true;
  }
}

String const& string(AnyValue const& av) {
  AnyValue const& v = av.deref();
  if (v.ty != AnyValue::T_STRING) {
    _assert("av.ty == (1)", __FILE__, __LINE__);
    static String none;
    return none;
  }
  return *v.str();
}

Num const& num(AnyValue const& av) {
  AnyValue const& v = av.deref();
  if (v.ty != AnyValue::T_NUM) {
    _assert("av.ty == (0)", __FILE__, __LINE__);
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
