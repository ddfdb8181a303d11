// AnyValue: a value of one of several kinds with its type tag.
//
// Layout: the 16-bit tag `ty`, then a 16-byte value area read by the tag:
//   -1 void; 0 number (a Num); 1 text (a String handle, shared by count);
//   2 date and 3 time (the 32-bit value, null 0x80000000); 5 logical (0
//   false, 1 true, negative null; a null logical is held as 0x80000000);
//   6 point (two 32-bit values x, y); 8 object id (class id, instance id,
//   null when both are 0); 11 reference (a pointer to another AnyValue,
//   never null).
// A copy copies the tag and the area (a text adds a share; a reference stays
// a reference). Conversions, comparison and arithmetic follow references
// first. A pointer never reaches the wire form: a reference is sent as the
// value it leads to.
#pragma once

#include <cstdint>

#include <zfound/Date.h>
#include <zfound/Num.h>
#include <zfound/String.h>
#include <zfound/Time.h>

class Boolean;
class Connection;
class ObjectId;

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
  // logical holding the Boolean's value; the null Boolean is held as 0x80000000.
  AnyValue(Boolean const& b);
  // object id (class id, instance id).
  AnyValue(ObjectId const& id);
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
  AnyValue& deref();

  // First and second 32-bit value of a point or an object id (references
  // followed); -1 for any other kind.
  int32_t x() const;
  int32_t y() const;
  // Makes the value the null of its own kind, keeping the tag (a reference
  // clears the value it leads to; void stays void).
  void clear();

  // Arithmetic in place (a reference on the left changes the value it leads to).
  AnyValue& operator+=(AnyValue const& b);
  AnyValue& operator-=(AnyValue const& b);
  AnyValue& operator*=(AnyValue const& b);
  AnyValue& operator/=(AnyValue const& b);

  friend String const& string(AnyValue const& av);
  friend Num const& num(AnyValue const& av);
  friend String toString(AnyValue const& v);
  friend int32_t toInt(AnyValue const& v);
  friend int32_t cmp(AnyValue const& a, AnyValue const& b);
  friend Connection& operator>>(Connection& c, AnyValue& v);

private:
  void release();
  String* str() { return reinterpret_cast<String*>(area); }
  String const* str() const { return reinterpret_cast<String const*>(area); }
  Num* numPtr() { return reinterpret_cast<Num*>(area); }
  Num const* numPtr() const { return reinterpret_cast<Num const*>(area); }
  int32_t long0() const;
  int32_t long1() const;
  void setLongs(int32_t a, int32_t b);
  void setLong0(int32_t a);
  AnyValue* target() const;

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

// Conversions (references followed first).
// number itself; text read as a number; date, time, logical their value as a
// number (0 zero, 0x80000000 null); others the null number.
Num toNum(AnyValue const& v);
// number NumToL as a day number; text read as a date; time its date; others null.
Date toDate(AnyValue const& v);
// number NumToL as seconds; text read as a time; date its time; others null.
Time toTime(AnyValue const& v);
// number NumToL != 0; text toInt(s, 0) != 0; logical its value != 0 (a null
// logical gives true); every other kind true.
bool toBool(AnyValue const& v);
// number and text by their integer value; logical its value (null stays
// null); others null.
Boolean toBoolean(AnyValue const& v);
// an object id itself; every other kind the null id.
ObjectId toObjectId(AnyValue const& v);
// As toString; point, object id and void give a null pointer. Texts point into
// the value, the others into the static buffers of their text forms.
char const* toCharPtr(AnyValue const& v);

// Zero for equal, negative when a sorts first; the kind of a decides (see the
// source). Two void values compare equal (0); void sorts before any value.
int32_t cmp(AnyValue const& a, AnyValue const& b);

// Wire form: the tag as a long, then the value (number Num, text String, date,
// time and logical one long, point and object id two longs, void nothing).
// A reference sends the value it leads to.
Connection& operator<<(Connection& c, AnyValue const& v);
// Reads the form above and assigns it to v (through a reference). A logical
// arrives as false (0), null (negative) or true. Tags 4, 7, 9, 10 give void;
// any other unknown tag gives void and marks the channel bad.
Connection& operator>>(Connection& c, AnyValue& v);
