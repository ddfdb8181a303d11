// SvField: the descriptor of one column of a table representation, and the
// one place that knows how a value of its type lies in a record image, in an
// index key, in text, as an AnyValue and on the wire.
//
// The family: one concrete class per type code (SvFieldTypes.h), built by
// SvField::mkField. A descriptor belongs to its SvTabRep, which keeps it in
// its field array and destroys it.
//
// Record layout: a field's offset is fixed when it is built, right after the
// last real (not virtual) field before it, or after the record prefix for the
// first one. An array field's elements lie one after the other. A virtual
// field takes no bytes; a virtual number, time or date field shows a stamp of
// the record prefix: the creation stamp (bytes 20-27) when flag bit 3 is set,
// else the modification stamp (bytes 8-15).
//
// Sizes of one element (record / key / client record form):
//
//   type (code)   record      key     client           null element
//   number (0)    2*units     2*units Num::conLength   first unit 00 00
//   string (1)    L + 1       L       roundup4(L) + 4  first byte 00
//   date (2)      2           2       4                00 00
//   time (3)      2           2       4                00 00
//   float (4)     16          16      16               the null Num
//   bool (5)      1           1       4                7F
//   object (8)    8           8       8                both longs 0
//   VSO (9)       12          12      12               all three longs 0
//   int (10)      4           4       4                00 00 00 00
//
// units = (length - decimals + 3) / 4 + (decimals + 3) / 4.
//
// Array on the wire (every type but string): equal neighbouring elements go
// once behind the run marker and their count: marker 0x7FFFFFFE, k, element.
// An int, object or VSO element whose first word is the marker itself goes
// behind an explicit count of 1 (marker, 1, element), so that it reads back
// as itself. Strings travel element by element with no runs.
//
// Receiving never writes past the field: a run count outside 1..(elements
// still due), a string length word outside 0..L+z (other than 0x7FFFFFFF, the
// highest value) or a channel that runs dry ends the receive with false, the
// channel marked bad and InvalidData naming the field pending.
//
// Errors: value and protocol faults are recorded as InvalidData through
// keepFirstError (the first error of a request wins); nothing here asserts
// on data that came from a client, a catalog row or a stored file.
#pragma once

#include <cstdint>

#include <sindex/IndexHost.h>
#include <zfound/AnyValue.h>
#include <zfound/ObjectId.h>
#include <zfound/PObject.h>
#include <zfound/String.h>

class Connection;
class CollateSet;
class InCheck;
class SvExpr;
class SvTabRep;
class SvTable;
class TimeStamp;

class SvStringField;
class SvNumField;
class SvFloatField;
class SvTimeField;
class SvDateField;
class SvBoolField;
class SvObjectField;
class SvVSOField;
class SvIntField;

// Field flag bits.
using TabFldFlags = uint32_t;
namespace FldFlag {
constexpr TabFldFlags kNotNull = 1;   // the field must not be null
constexpr TabFldFlags kVirtual = 2;   // no bytes in the record; computed
constexpr TabFldFlags kMStamp = 4;    // shows the modification stamp
constexpr TabFldFlags kCStamp = 8;    // shows the creation stamp
}  // namespace FldFlag

// Records `e` as the current exception unless an error is already pending,
// so that the first error of a request is the one its reply carries.
void keepFirstError(class Exception const& e);

// A field is also the table field that an index key part reads
// (svstore::IndexField): a key part holds one element in its key form.
class SvField : public PObject, public svstore::IndexField {
public:
  // Type codes (6 and 7 name no class).
  enum Type : int32_t {
    NUM = 0,
    STRING = 1,
    DATE = 2,
    TIME = 3,
    FLOAT = 4,
    BOOL = 5,
    OBJECT = 8,
    VSO = 9,
    INT = 10,
  };
  // Operation codes of the record-update request's field updates.
  enum Update : int32_t { ADD = 0, SUB = 1, MUL = 2, DIV = 3, SET = 4, COPY = 5 };
  // The run marker word on the wire.
  static constexpr int32_t kRunMarker = 0x7FFFFFFE;

  // Builds the field of the type code, computes its offset and appends it to
  // the table's field array; the field owns check and both expressions. A
  // type code outside 0-5, 8, 9, 10, an invalid number shape, an id already
  // registered or a field that would end the record image past 256 MB
  // records InvalidData, frees what it was given and makes no field (null).
  static SvField* mkField(SvTabRep* table, uint32_t id, String const& name, String const& descr,
                          SvExpr* deflt, String const& mask, int32_t length, int32_t decimals,
                          int32_t type, int32_t sqlType, TabFldFlags flags, int32_t dim,
                          InCheck* check, SvExpr* expression, CollateSet* collate,
                          ObjectId const& objRef, String const& enumName);

  ~SvField() override;
  SvField(SvField const&) = delete;
  SvField& operator=(SvField const&) = delete;

  // ---- record and wire forms -------------------------------------------
  // Sends every element from p with runs of equal neighbours; p advances by
  // dim() * ilength(zero).
  virtual void send(Connection* c, char*& p, bool zero);
  // Receives every element into p and advances p past the field; false
  // (nothing past the field written, InvalidData pending) on a protocol
  // fault or a number that does not fit. `zero` and `ilen` matter to
  // strings only: elements with their terminating byte, element length
  // (-1: the declared one).
  virtual bool receive(Connection* c, char*& p, bool zero, int32_t ilen) = 0;
  virtual int32_t nDecimals() const { return 0; }
  virtual int32_t length() const { return 0; }
  // Shape changes of a live field: refused (false, InvalidData) when they
  // would change the stored size or the number's unit counts.
  virtual bool length(int32_t) { return true; }
  virtual bool nDecimals(int32_t) { return true; }
  // Bytes of one element in the record (true) or in a key (false).
  virtual int32_t ilength(bool record) const = 0;
  // Bytes of one element in the client's record form.
  virtual int32_t clength() const = 0;
  // Key-part store: len bytes of the field's key part at key from src (the
  // field's bytes in the record image `record`); a virtual number, time or
  // date field writes its stamp from the record's prefix. Other virtual
  // fields are refused (false, InvalidData, len zero bytes written). key
  // advances by len.
  virtual bool store(SvTable* table, char*& key, char const* src, int32_t len, char const* record);
  // One element from text; p advances by the element's size. False
  // (InvalidData pending, element unchanged) when the text is refused.
  virtual bool store(char*& p, String const& text, bool zero, int32_t ilen) const = 0;
  // One element from a long; false when the type takes no long.
  virtual bool store(char*& p, int32_t value) const;
  // One element as text; p advances by the element's size.
  virtual void load(String& text, char const*& p, bool zero, int32_t ilen) const = 0;
  // One element as a long (numbers only); false for other types.
  virtual bool loadInt(int32_t& value, char const* p) const;
  virtual bool isNull(char const* p) const = 0;
  // Same stored representation as another field of the same class.
  virtual bool equivRep(SvField const* other) const = 0;

  // Checked downcasts (null unless the field is of that class).
  virtual SvStringField* stringField() { return nullptr; }
  virtual SvNumField* numField() { return nullptr; }
  virtual SvFloatField* floatField() { return nullptr; }
  virtual SvTimeField* timeField() { return nullptr; }
  virtual SvDateField* dateField() { return nullptr; }
  virtual SvBoolField* boolField() { return nullptr; }
  virtual SvObjectField* objectField() { return nullptr; }
  virtual SvVSOField* vsoField() { return nullptr; }
  virtual SvIntField* intField() { return nullptr; }

  // One element as an AnyValue.
  virtual AnyValue value(char const* p) const = 0;
  // Sends one element.
  virtual void sendOne(Connection* c, char const* p) const = 0;

  // Arithmetic updates of n elements from p with one operand read from c;
  // false for a type that does not take the operation (nothing read or
  // changed), for n outside 0..dim() and for a channel fault.
  virtual bool receiveAdd(Connection* c, char* p, int32_t n);
  virtual bool receiveSub(Connection* c, char* p, int32_t n);
  virtual bool receiveMul(Connection* c, char* p, int32_t n);
  virtual bool receiveDiv(Connection* c, char* p, int32_t n);
  virtual bool receiveSet(Connection* c, char* p, int32_t n);

  // Whether the field differs between two record images (len bytes at the
  // field's offset; stamp fields compare their stamps).
  virtual bool differ(SvTable* table, char const* a, char const* b, int32_t len) const;

  // ---- descriptor --------------------------------------------------------
  int32_t getType() const { return type_; }
  int32_t getSqlType() const { return sqlType_; }
  int32_t getDim() const { return dim_; }
  int32_t dim() const { return dim_ < 1 ? 1 : dim_; }
  String const& name() const { return name_; }
  String const& descr() const { return descr_; }
  String const& mask() const { return mask_; }
  String const& getEnum() const { return enumName_; }
  SvTabRep* table() const { return table_; }
  int32_t tableOffset() const { return offset_; }
  TabFldFlags flags() const { return flags_; }
  bool notNull() const { return (flags_ & FldFlag::kNotNull) != 0; }
  bool isVirtual() const { return (flags_ & FldFlag::kVirtual) != 0; }
  bool isMStamp() const { return (flags_ & FldFlag::kMStamp) != 0; }
  bool isCStamp() const { return (flags_ & FldFlag::kCStamp) != 0; }
  bool extended() const { return false; }
  bool defaultIsNull() const { return false; }
  InCheck* inCheck() const { return check_; }
  SvExpr* deflt() const { return deflt_; }
  SvExpr* expression() const { return expression_; }
  char const* check() const { return checkText_; }
  void setCheck(char const* text) { checkText_ = text; }
  uint32_t indices() const { return indices_; }
  void addIndex(int32_t n) { if (n >= 0 && n < 32) indices_ |= 1u << n; }
  void delIndex(int32_t n) { if (n >= 0 && n < 32) indices_ &= ~(1u << n); }
  SvField* getField() { return this; }
  void idStop() {}
  void idStart() {}
  void idCheck() {}

  // The table's qualified name, "." and the field name.
  String qualifiedName() const;
  // Position in the table's field array (-1 when not in it).
  int32_t number() const;
  // Same type code, same dimension (0 counted as 1) and equivRep.
  bool sameRep(SvField const* other) const;
  // When sameRep(from): copies dim() * ilength(true) bytes within the record
  // image from from's offset to this field's offset; else false, nothing.
  bool copyFrom(char* record, SvField const* from) const;

  // Direct changes of a live descriptor. setData keeps the name when the new
  // one is null or highest; a change of the stored size or unit counts is
  // refused (false, InvalidData) and the field keeps its whole shape.
  // Whether setData would take this shape; else InvalidData and false.
  bool canTakeShape(int32_t dim, int32_t length, int32_t decimals, TabFldFlags flags, int32_t type) const;
  bool setData(String const& name, String const& descr, int32_t dim, String const& mask,
               int32_t length, int32_t decimals, TabFldFlags flags, int32_t type, int32_t sqlType);
  // Each replaces (and destroys) what the field held.
  void setInCheck(InCheck* check);
  void setDeflt(SvExpr* deflt);
  void setExpression(SvExpr* expression);
  void setEnum(String const& name) { enumName_ = name; }

  // Records InvalidData with the text qualifiedName() + " = " + what.
  void invalid(String const& what) const;

  // ---- svstore::IndexField -----------------------------------------------
  String fieldName() const override { return name_; }
  int32_t fieldOffset() const override { return offset_; }
  int32_t keyLength() const override { return ilength(false); }
  bool keyStore(SvTable* t, char*& key, char const* src, int32_t len, char const* record) override {
    return store(t, key, src, len, record);
  }
  void keyLoad(String& text, char const*& p, int32_t len) const override { load(text, p, false, len); }
  void keySend(Connection* c, char*& p) override;
  bool keyReceive(Connection* c, char*& p, int32_t len) override;
  bool keyIsNull(char const* p) const override { return isNull(p); }
  // a and b point at the part's bytes; a virtual (stamp) field compares
  // the stamps of the records around them.
  bool keyDiffer(SvTable* t, char const* a, char const* b, int32_t len) const override;
  bool sameField(svstore::IndexField const* other) const override;
  void useIndex(int32_t n) override { addIndex(n); }
  void unuseIndex(int32_t n) override { delIndex(n); }

protected:
  SvField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
          String const& mask, int32_t type, int32_t sqlType, TabFldFlags flags, int32_t dim,
          InCheck* check, SvExpr* expression, String const& enumName);

  // True when the element's first word would read as the run marker.
  virtual bool firstWordIsMarker(char const*) const { return false; }
  // Receives the elements of a run-length array with readOne reading one
  // element into its argument (count from the connection's counter when
  // `counted` is set, else read here). Checks every count.
  template <class ReadOne>
  bool receiveRuns(Connection* c, char*& p, int32_t size, bool counted, ReadOne readOne);
  // Fails a receive: channel bad, InvalidData for the field.
  bool receiveFault(Connection* c) const;
  // The stamp a virtual stamp field shows for a record image.
  TimeStamp stamp(char const* record) const;
  // n in 0..dim(); else InvalidData.
  bool countOk(int32_t n) const;

  void setOffset(int32_t off) { offset_ = off; }

private:
  friend class SvTabRep;

  int32_t dim_;
  String name_;
  String descr_;
  SvExpr* deflt_;
  String mask_;
  SvTabRep* table_;
  int32_t type_;
  int32_t sqlType_;
  int32_t offset_ = 0;
  TabFldFlags flags_;
  InCheck* check_;
  SvExpr* expression_;
  char const* checkText_ = nullptr;
  uint32_t indices_ = 0;
  String enumName_;
};
