// The concrete field classes, one per type code (see SvField.h for the
// sizes table and the array wire form).
//
// Forms of one element (record and key forms are big-endian and sort
// bytewise like the values):
//
//   class   record / key form                       wire                 text (load)
//   string  characters, 00 to the end (+1 byte 00   length word, bytes   the characters
//           in the record); highest all FF
//   number  Num::_store packed form of the shape    a Num                Num text, all decimals
//   float   Num::store, 16 bytes                    a Num                as number
//   int     stInt: 4 bytes, sign bit flipped        a long               signed decimal
//   time    Time::storeShort, 2 bytes               a Time               "hh:mm:ss"
//   date    Date::storeShort, 2 bytes               a Date               date format | 4
//   bool    1 byte: wire + 128; 7F null,            a long (byte - 128)  byte - 128; null ""
//           80 false, 81 true
//   object  class, instance: 4 bytes each           two longs            "<c, i>"
//   VSO     three longs, 4 bytes each               three longs          "<a, b, c>"
//
// Stores from text: string cut to its length; number/float parsed; int
// toInt(text, 0); time and date their text readers; bool "" null, else
// toInt + 128; object "<c, i>" or a bare number (class 0); VSO "<a, b, c>";
// an empty object or VSO text stores the null element. Stores from a long:
// number (LToNum), int, object (class 0, instance the long).
//
// Int arithmetic is unsigned 32-bit wrap-around (0x7FFFFFFF + 1 gives the
// null 0x80000000); x / 0 and 0x80000000 / -1 give 0x80000000.
#pragma once

#include <svcatalog/SvField.h>

class SvStringField : public SvField {
public:
  SvStringField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
                String const& mask, int32_t length, int32_t sqlType, TabFldFlags flags, int32_t dim,
                InCheck* check, SvExpr* expression, CollateSet* collate, String const& enumName);

  void send(Connection* c, char*& p, bool zero) override;
  bool receive(Connection* c, char*& p, bool zero, int32_t ilen) override;
  int32_t length() const override { return length_; }
  bool length(int32_t n) override;
  int32_t ilength(bool record) const override { return record ? length_ + 1 : length_; }
  int32_t clength() const override { return (length_ + 3) / 4 * 4 + 4; }
  bool store(SvTable* table, char*& key, char const* src, int32_t len, char const* record) override;
  bool store(char*& p, String const& text, bool zero, int32_t ilen) const override;
  using SvField::store;
  void load(String& text, char const*& p, bool zero, int32_t ilen) const override;
  bool isNull(char const* p) const override { return p[0] == 0; }
  bool equivRep(SvField const* other) const override;
  SvStringField* stringField() override { return this; }
  AnyValue value(char const* p) const override;
  void sendOne(Connection* c, char const* p) const override;
  bool receiveSet(Connection* c, char* p, int32_t n) override;
  // A key element is the text without its terminating byte.
  void keySend(Connection* c, char*& p) override;

  CollateSet* collate() const { return collate_; }
  void setCollateSet(CollateSet* c) { collate_ = c; }

private:
  // Sends one element of l bytes (z: with its terminating byte).
  void sendElement(Connection* c, char const* p, int32_t l, int32_t z) const;
  // Stores text into one element of l bytes and z terminating bytes.
  void storeText(char* p, String const& text, int32_t l, int32_t z) const;

  int32_t length_;
  CollateSet* collate_;  // not owned
};

class SvNumField : public SvField {
public:
  SvNumField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
             String const& mask, int32_t length, int32_t decimals, int32_t sqlType, TabFldFlags flags,
             int32_t dim, InCheck* check, SvExpr* expression, String const& enumName);

  // True when length and decimals make a valid shape.
  static bool validShape(int32_t length, int32_t decimals);

  bool receive(Connection* c, char*& p, bool zero, int32_t ilen) override;
  int32_t nDecimals() const override { return decimals_; }
  int32_t length() const override { return digits_; }
  bool length(int32_t n) override;
  bool nDecimals(int32_t n) override;
  int32_t ilength(bool) const override { return size_; }
  int32_t clength() const override;
  bool store(SvTable* table, char*& key, char const* src, int32_t len, char const* record) override;
  bool store(char*& p, String const& text, bool zero, int32_t ilen) const override;
  bool store(char*& p, int32_t value) const override;
  void load(String& text, char const*& p, bool zero, int32_t ilen) const override;
  bool loadInt(int32_t& value, char const* p) const override;
  bool isNull(char const* p) const override { return p[0] == 0 && p[1] == 0; }
  bool equivRep(SvField const* other) const override;
  SvNumField* numField() override { return this; }
  AnyValue value(char const* p) const override;
  void sendOne(Connection* c, char const* p) const override;
  bool receiveAdd(Connection* c, char* p, int32_t n) override;
  bool receiveSub(Connection* c, char* p, int32_t n) override;
  bool receiveMul(Connection* c, char* p, int32_t n) override;
  bool receiveDiv(Connection* c, char* p, int32_t n) override;
  bool receiveSet(Connection* c, char* p, int32_t n) override;
  bool differ(SvTable* table, char const* a, char const* b, int32_t len) const override;

  // The element at p as a Num (null for bytes that are no packed number).
  Num get(char const* p) const;
  // Writes n at p; false (InvalidData, bytes unchanged) when it does not fit.
  bool put(char* p, Num const& n) const;
  int32_t units() const { return units_; }
  int32_t fracUnits() const { return fracUnits_; }
  // Takes a new shape of the same unit counts; false (InvalidData) else.
  bool setShape(int32_t length, int32_t decimals);

private:
  bool update(Connection* c, char* p, int32_t n, int32_t op);

  int32_t digits_;
  int32_t decimals_;
  int32_t size_;       // stored bytes of one element, fixed when built
  int32_t units_;      // base-10,000 units in all
  int32_t fracUnits_;  // units of the fraction
};

class SvFloatField : public SvField {
public:
  SvFloatField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
               String const& mask, int32_t sqlType, TabFldFlags flags, int32_t dim, InCheck* check,
               SvExpr* expression, String const& enumName);

  bool receive(Connection* c, char*& p, bool zero, int32_t ilen) override;
  int32_t ilength(bool) const override { return 16; }
  int32_t clength() const override { return 16; }
  bool store(char*& p, String const& text, bool zero, int32_t ilen) const override;
  using SvField::store;
  void load(String& text, char const*& p, bool zero, int32_t ilen) const override;
  bool isNull(char const* p) const override;
  bool equivRep(SvField const* other) const override;
  SvFloatField* floatField() override { return this; }
  AnyValue value(char const* p) const override;
  void sendOne(Connection* c, char const* p) const override;
  bool receiveAdd(Connection* c, char* p, int32_t n) override;
  bool receiveSub(Connection* c, char* p, int32_t n) override;
  bool receiveMul(Connection* c, char* p, int32_t n) override;
  bool receiveDiv(Connection* c, char* p, int32_t n) override;
  bool receiveSet(Connection* c, char* p, int32_t n) override;

  static Num get(char const* p);
  static void put(char* p, Num const& n);

private:
  bool update(Connection* c, char* p, int32_t n, int32_t op);
};

class SvIntField : public SvField {
public:
  SvIntField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
             String const& mask, int32_t sqlType, TabFldFlags flags, int32_t dim, InCheck* check,
             SvExpr* expression, String const& enumName);

  bool receive(Connection* c, char*& p, bool zero, int32_t ilen) override;
  int32_t ilength(bool) const override { return 4; }
  int32_t clength() const override { return 4; }
  bool store(char*& p, String const& text, bool zero, int32_t ilen) const override;
  bool store(char*& p, int32_t value) const override;
  using SvField::store;
  void load(String& text, char const*& p, bool zero, int32_t ilen) const override;
  bool isNull(char const* p) const override;
  bool equivRep(SvField const* other) const override;
  SvIntField* intField() override { return this; }
  AnyValue value(char const* p) const override;
  void sendOne(Connection* c, char const* p) const override;
  bool receiveAdd(Connection* c, char* p, int32_t n) override;
  bool receiveSub(Connection* c, char* p, int32_t n) override;
  bool receiveMul(Connection* c, char* p, int32_t n) override;
  bool receiveDiv(Connection* c, char* p, int32_t n) override;
  bool receiveSet(Connection* c, char* p, int32_t n) override;

  static int32_t get(char const* p);
  static void put(char* p, int32_t v);
  // One step of the integer arithmetic (op ADD..SET) in 32-bit wrap-around.
  static int32_t apply(int32_t a, int32_t b, int32_t op);

protected:
  bool firstWordIsMarker(char const* p) const override;

private:
  bool update(Connection* c, char* p, int32_t n, int32_t op);
};

class SvTimeField : public SvField {
public:
  SvTimeField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
              String const& mask, TabFldFlags flags, int32_t dim, InCheck* check, SvExpr* expression,
              String const& enumName);

  bool receive(Connection* c, char*& p, bool zero, int32_t ilen) override;
  int32_t ilength(bool) const override { return 2; }
  int32_t clength() const override { return 4; }
  bool store(SvTable* table, char*& key, char const* src, int32_t len, char const* record) override;
  bool store(char*& p, String const& text, bool zero, int32_t ilen) const override;
  using SvField::store;
  void load(String& text, char const*& p, bool zero, int32_t ilen) const override;
  bool isNull(char const* p) const override { return p[0] == 0 && p[1] == 0; }
  bool equivRep(SvField const* other) const override;
  SvTimeField* timeField() override { return this; }
  AnyValue value(char const* p) const override;
  void sendOne(Connection* c, char const* p) const override;
  bool receiveAdd(Connection*, char*, int32_t) override { return false; }
  bool receiveSub(Connection*, char*, int32_t) override { return false; }
  bool receiveSet(Connection*, char*, int32_t) override { return false; }
  bool differ(SvTable* table, char const* a, char const* b, int32_t len) const override;
};

class SvDateField : public SvField {
public:
  SvDateField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
              String const& mask, TabFldFlags flags, int32_t dim, InCheck* check, SvExpr* expression,
              String const& enumName);

  bool receive(Connection* c, char*& p, bool zero, int32_t ilen) override;
  int32_t ilength(bool) const override { return 2; }
  int32_t clength() const override { return 4; }
  bool store(SvTable* table, char*& key, char const* src, int32_t len, char const* record) override;
  bool store(char*& p, String const& text, bool zero, int32_t ilen) const override;
  using SvField::store;
  void load(String& text, char const*& p, bool zero, int32_t ilen) const override;
  bool isNull(char const* p) const override { return p[0] == 0 && p[1] == 0; }
  bool equivRep(SvField const* other) const override;
  SvDateField* dateField() override { return this; }
  AnyValue value(char const* p) const override;
  void sendOne(Connection* c, char const* p) const override;
  bool receiveAdd(Connection*, char*, int32_t) override { return false; }
  bool receiveSub(Connection*, char*, int32_t) override { return false; }
  bool receiveSet(Connection*, char*, int32_t) override { return false; }
  bool differ(SvTable* table, char const* a, char const* b, int32_t len) const override;
};

class SvBoolField : public SvField {
public:
  // Record bytes of the three logical values.
  static constexpr unsigned char kNullByte = 0x7F;
  static constexpr unsigned char kFalseByte = 0x80;
  static constexpr unsigned char kTrueByte = 0x81;

  SvBoolField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
              String const& mask, int32_t sqlType, TabFldFlags flags, int32_t dim, InCheck* check,
              SvExpr* expression, String const& enumName);

  bool receive(Connection* c, char*& p, bool zero, int32_t ilen) override;
  int32_t ilength(bool) const override { return 1; }
  int32_t clength() const override { return 4; }
  bool store(char*& p, String const& text, bool zero, int32_t ilen) const override;
  using SvField::store;
  void load(String& text, char const*& p, bool zero, int32_t ilen) const override;
  bool isNull(char const* p) const override { return static_cast<unsigned char>(p[0]) == kNullByte; }
  bool equivRep(SvField const* other) const override;
  SvBoolField* boolField() override { return this; }
  AnyValue value(char const* p) const override;
  void sendOne(Connection* c, char const* p) const override;
  bool receiveSet(Connection*, char*, int32_t) override { return false; }
};

class SvObjectField : public SvField {
public:
  SvObjectField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
                String const& mask, TabFldFlags flags, int32_t dim, InCheck* check, SvExpr* expression,
                ObjectId const& objRef, String const& enumName);

  bool receive(Connection* c, char*& p, bool zero, int32_t ilen) override;
  int32_t ilength(bool) const override { return 8; }
  int32_t clength() const override { return 8; }
  bool store(char*& p, String const& text, bool zero, int32_t ilen) const override;
  bool store(char*& p, int32_t value) const override;
  using SvField::store;
  void load(String& text, char const*& p, bool zero, int32_t ilen) const override;
  bool isNull(char const* p) const override;
  bool equivRep(SvField const* other) const override;
  SvObjectField* objectField() override { return this; }
  AnyValue value(char const* p) const override;
  void sendOne(Connection* c, char const* p) const override;
  bool receiveSet(Connection*, char*, int32_t) override { return false; }

  // The two longs of an element.
  static void loadInts(int32_t& cls, int32_t& inst, char const* p);
  ObjectId const& objReference() const { return objRef_; }
  void setObjReference(ObjectId const& id) { objRef_ = id; }

protected:
  bool firstWordIsMarker(char const* p) const override;

private:
  ObjectId objRef_;
};

class SvVSOField : public SvField {
public:
  SvVSOField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
             String const& mask, int32_t sqlType, TabFldFlags flags, int32_t dim, InCheck* check,
             SvExpr* expression, String const& enumName);

  bool receive(Connection* c, char*& p, bool zero, int32_t ilen) override;
  int32_t ilength(bool) const override { return 12; }
  int32_t clength() const override { return 12; }
  bool store(char*& p, String const& text, bool zero, int32_t ilen) const override;
  bool store(char*& p, int32_t value) const override;
  using SvField::store;
  void load(String& text, char const*& p, bool zero, int32_t ilen) const override;
  bool isNull(char const* p) const override;
  bool equivRep(SvField const* other) const override;
  SvVSOField* vsoField() override { return this; }
  AnyValue value(char const* p) const override;
  void sendOne(Connection* c, char const* p) const override;

  // The three longs of an element.
  static void loadInts(int32_t& a, int32_t& b, int32_t& c, char const* p);

protected:
  bool firstWordIsMarker(char const* p) const override;
};
