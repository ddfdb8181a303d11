// AnyValue: a value of one of several kinds with its type tag.
//
// Layout: the 16-bit tag `ty`, then a 16-byte value area read by the tag:
//   -1 void; 0 number (a Num); 1 text (a String handle, shared by count);
//   2 date and 3 time (the 32-bit value); 5 logical (0 false, 1 true,
//   negative null); 6 point (two 32-bit values x, y); 11 reference (a pointer
//   to another AnyValue, never null).
// A copy copies the tag and the area (a text adds a share; a reference stays
// a reference). Conversions follow references first.
//
// This file holds the construction, the copy and the text and integer
// conversions that messages and reports use; the comparison, the arithmetic,
// the object-id kind and the wire form belong with the expression language.
#pragma once

#include <cstdint>

#include <zfound/Date.h>
#include <zfound/Num.h>
#include <zfound/String.h>
#include <zfound/Time.h>

class Boolean;

class AnyValue {
public:
  enum : int16_t {
    T_VOID = -1,
    T_NUM = 0,
    T_STRING = 1,
    T_DATE = 2,
    T_TIME = 3,
    T_BOOL = 5,
    T_POINT = 6,
    T_OBJID = 8,
    T_REF = 11,
  };

  // void.
  AnyValue();
  AnyValue(AnyValue const& v);
  // text (the String form shares the representation).
  AnyValue(char const* s);
  AnyValue(String const& s);
  // logical 0 or 1.
  AnyValue(bool b);
  // number.
  AnyValue(long n);
  AnyValue(int n);
  AnyValue(short n);
  AnyValue(double d);
  AnyValue(Num const& n);
  // date or time holding its value.
  AnyValue(Date const& d);
  AnyValue(Time const& t);
  // point (x, y).
  AnyValue(long x, long y);
  // reference to a (asserts "a != (0)").
  explicit AnyValue(AnyValue* a);
  ~AnyValue();

  // Copies tag and area of v (sharing a text); nothing when v is this value.
  void set(AnyValue const& v);
  // Writes through a reference on the left, reads through one on the right.
  AnyValue& operator=(AnyValue const& v);

  // The tag.
  int16_t getType() const { return ty; }
  bool isVoid() const { return ty == T_VOID; }
  // Tag 1 after following references.
  bool isString() const;
  // The null of each kind (void is always null).
  bool isNull() const;

  // The value a reference leads to (this value when it is no reference).
  AnyValue const& deref() const;

  friend String const& string(AnyValue const& av);
  friend Num const& num(AnyValue const& av);
  friend String toString(AnyValue const& v);
  friend int32_t toInt(AnyValue const& v);

private:
  void release();
  String* str() { return reinterpret_cast<String*>(area); }
  String const* str() const { return reinterpret_cast<String const*>(area); }
  Num* numPtr() { return reinterpret_cast<Num*>(area); }
  Num const* numPtr() const { return reinterpret_cast<Num const*>(area); }
  int32_t long0() const;
  int32_t long1() const;
  void setLongs(int32_t a, int32_t b);

  int16_t ty;
  alignas(8) unsigned char area[16];
};

// The String held (references followed); asserts "av.ty == (1)".
String const& string(AnyValue const& av);
// The Num held (references followed); asserts "av.ty == (0)".
Num const& num(AnyValue const& av);
// The text of a value: number toString(Num, 255, 2147483647), text itself,
// date and time their text forms, logical "1"/"0" (null: empty),
// point "(x,y)", void the null String.
String toString(AnyValue const& v);
// The value as an integer: number NumToL, text toInt(s, 0), date, time and
// logical their raw value, others -2147483648.
int32_t toInt(AnyValue const& v);
