// The wire form of AnyValue: the tag as one long, then the value in the
// encodings of its kind. Only 32-bit words and the value types' own forms go
// on the channel; a reference travels as the value it leads to.
#include <zfound/AnyValue.h>
#include <zfound/Boolean.h>
#include <zfound/Connection.h>
#include <zfound/Date.h>
#include <zfound/Num.h>
#include <zfound/ObjectId.h>
#include <zfound/String.h>
#include <zfound/Time.h>

Connection& operator<<(Connection& c, AnyValue const& av) {
  AnyValue const& v = av.deref();
  int16_t ty = v.getType();
  c << int32_t(ty);
  switch (ty) {
    case AnyValue::T_NUM: c << num(v); break;
    case AnyValue::T_STRING: c << string(v); break;
    case AnyValue::T_DATE:
    case AnyValue::T_TIME:
    case AnyValue::T_BOOL: c << toInt(v); break;
    case AnyValue::T_POINT:
    case AnyValue::T_OBJID: c << v.x() << v.y(); break;
    default: break;
  }
  return c;
}

Connection& operator>>(Connection& c, AnyValue& v) {
  int32_t ty = 0;
  c >> ty;
  AnyValue r;
  switch (ty) {
    case AnyValue::T_NUM: {
      Num n;
      c >> n;
      r = AnyValue(n);
      break;
    }
    case AnyValue::T_STRING: {
      String s;
      c >> s;
      r = AnyValue(s);
      break;
    }
    // A date or time is one plain word (as the sender writes it), not the
    // Date/Time channel form, which takes one value for a counter marker.
    case AnyValue::T_DATE: {
      int32_t w = 0;
      c >> w;
      r = AnyValue(toDate(w));
      break;
    }
    case AnyValue::T_TIME: {
      int32_t w = 0;
      c >> w;
      r = AnyValue(toTime(w));
      break;
    }
    case AnyValue::T_BOOL: {
      int32_t w = 0;
      c >> w;
      r = w < 0 ? AnyValue(Boolean()) : AnyValue(w != 0);
      break;
    }
    case AnyValue::T_POINT: {
      int32_t x = 0, y = 0;
      c >> x >> y;
      r = AnyValue(long(x), long(y));
      break;
    }
    case AnyValue::T_OBJID: {
      int32_t cl = 0, in = 0;
      c >> cl >> in;
      r = AnyValue(ObjectId(uint32_t(cl), uint32_t(in)));
      break;
    }
    case AnyValue::T_VOID:
    case 4:
    case 7:
    case 9:
    case 10: break;
    default: c.setBad(); break;
  }
  v = r;
  return c;
}
