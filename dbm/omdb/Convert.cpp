// Field converters between record buffers and the wire, and value checks.
//
// Buffer forms of one element (what the program's record buffer holds) and
// wire forms (what the server reads and sends):
//   byte, short, long, double, 16-byte number  ->  Num (shifted right by the
//     field's decimals: the buffer holds the value times 10^decimals)
//   text (length + 1 bytes, NUL-terminated)    ->  String
//   date (2-byte day, -32768 null, 32766 high)  ->  long (0x80000000 null,
//                                                  0x7fffffff highest)
//   time (2-byte: 0 null, else 1 + seconds / 2) ->  long seconds
//   logical (1 byte), integer (4 bytes)         ->  long
//   object (two longs), binary (three longs)    ->  the longs
// A run of k > 1 equal neighbouring elements goes as 0x7ffffffe, k and the
// element once (never for texts); a single element whose first word would
// read as that marker goes behind an explicit count of 1. Received runs are
// bounded by the elements still to fill, and received texts by the field
// length, so a peer never makes the library write past the field.
#include <zeph/Dict.h>

#include <zfound/DbConnection.h>
#include <zfound/InCheck.h>
#include <zfound/Num.h>
#include <zfound/ObjectId.h>
#include <zfound/Portable.h>
#include <zfound/String.h>
// After the foundation: the interface's function TimeStamp hides the class.
#include <dbm/DbInterface.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "Omdb.h"

namespace {

// A work buffer for receives into no buffer.
std::vector<char> scratch;

// Bytes of a field element by internal type (texts: length + 1).
int32_t elemSize(s_field const* f) { return dbElemSize(f->d.f_itype, f->d.len); }

// Reads a word with its run count (1 without one); false when malformed.
bool readCounted(Connection& c, int32_t& value, int32_t& count) {
  c >> value;
  count = 1;
  if (value == kOmRunMarker) {
    c >> count >> value;
    if (count < 1) return false;
  }
  return !c.bad();
}

// ---- numbers ------------------------------------------------------------------------

// A number field: the element's buffer form <-> Num, decimals applied.
class ZxNumber : public ZxField {
public:
  using ZxField::ZxField;

  void sendOne(Connection& c, char const* elem) override {
    Num n = load(elem);
    if (fp_->d.dec && !n.isNull() && !n.isZero() && !n.isMax()) n.shift(-int32_t(fp_->d.dec));
    c << n;
  }

protected:
  bool receiveOne(Connection& c, char* elem, int32_t& count) override {
    Num n;
    c >> n;
    count = c.counter() == -1 ? 1 : c.counter();
    if (c.bad()) return false;
    if (fp_->d.dec && !n.isNull() && !n.isZero() && !n.isMax()) n.shift(fp_->d.dec);
    store(n, elem);
    return true;
  }

  virtual Num load(char const* elem) const = 0;
  virtual void store(Num const& n, char* elem) const = 0;
};

// The integer of a Num bounded to [lo, hi]: null gives lo, highest hi.
int32_t bounded(Num const& n, int32_t lo, int32_t hi) {
  if (n.isNull()) return lo;
  if (n.isMax()) return hi;
  int32_t v = toInt(n);
  return std::min(std::max(v, lo), hi);
}

class ZxByteField : public ZxNumber {
public:
  using ZxNumber::ZxNumber;

protected:
  Num load(char const* e) const override { return toNum(char(e[0])); }
  void store(Num const& n, char* e) const override { e[0] = char(int8_t(bounded(n, -128, 127))); }
};

class ZxShortField : public ZxNumber {
public:
  using ZxNumber::ZxNumber;

protected:
  Num load(char const* e) const override { return toNum(int16_t(ldshort(e))); }
  void store(Num const& n, char* e) const override { stshort(bounded(n, INT16_MIN, INT16_MAX), e); }
};

class ZxLongField : public ZxNumber {
public:
  using ZxNumber::ZxNumber;

protected:
  Num load(char const* e) const override { return Num(long(ldlong(e))); }
  void store(Num const& n, char* e) const override { stlong(NumToL(&n), e); }
};

class ZxDoubleField : public ZxNumber {
public:
  using ZxNumber::ZxNumber;

protected:
  Num load(char const* e) const override { return Num(lddbl(e)); }
  void store(Num const& n, char* e) const override { stdbl(NumToF(&n), e); }
};

class ZxNumField : public ZxNumber {
public:
  using ZxNumber::ZxNumber;

protected:
  Num load(char const* e) const override {
    Num n;
    ldnum(&n, e);
    return n;
  }
  void store(Num const& n, char* e) const override { stnum(&n, e); }
};

// ---- texts ----------------------------------------------------------------------------

class ZxStringField : public ZxField {
public:
  using ZxField::ZxField;

  int32_t ilength(int32_t n) const override { return std::min<int32_t>(std::max(n, 0), fp_->d.len); }

  void sendOne(Connection& c, char const* elem) override { sendText(c, elem, fp_->d.len); }

  void send(Connection& c, char const* data, int32_t n, bool full) override {
    int32_t len = full ? int32_t(fp_->d.len) : ilength(n);
    int32_t const step = int32_t(fp_->d.len) + 1;
    for (int32_t i = 0; i < elements(); ++i) sendText(c, data + i * step, len);
  }

  bool receive(Connection& c, char* data) override {
    int32_t const len = fp_->d.len, step = len + 1;
    if (!data) {
      scratch.assign(size_t(step) * size_t(elements()), 0);
      data = scratch.data();
    }
    for (int32_t i = 0; i < elements(); ++i) {
      String s;
      c >> s;
      if (c.bad()) return false;
      char* e = data + i * step;
      std::memset(e, 0, size_t(step));
      if (s.isHighest()) {
        std::memset(e, 0xff, size_t(len));
      } else if (!s.isNull()) {
        size_t n = std::min<size_t>(std::strlen(toCharPtr(s)), size_t(len));
        std::memcpy(e, toCharPtr(s), n);
      }
    }
    return true;
  }

protected:
  bool receiveOne(Connection&, char*, int32_t&) override { return false; }

private:
  // At most `len` characters of the element, up to its NUL.
  static void sendText(Connection& c, char const* e, int32_t len) {
    size_t n = strnlen(e, size_t(std::max(len, 0)));
    c << String(e, long(n));
  }
};

// ---- dates and times --------------------------------------------------------------------

class ZxDateField : public ZxField {
public:
  using ZxField::ZxField;

  void sendOne(Connection& c, char const* elem) override {
    int16_t d = ldshort(elem);
    c << int32_t(d == INT16_MIN ? kOmWireNull : d == 32766 ? kOmWireHigh : int32_t(d));
  }

protected:
  bool receiveOne(Connection& c, char* elem, int32_t& count) override {
    int32_t v = 0;
    c.recFirstInt(v);
    count = c.counter() == -1 ? 1 : c.counter();
    if (c.bad()) return false;
    stshort(v < -32767 ? INT16_MIN : v > 32765 ? 32766 : v, elem);
    return true;
  }
};

class ZxTimeField : public ZxField {
public:
  using ZxField::ZxField;

  void sendOne(Connection& c, char const* elem) override {
    int32_t t = uint16_t(ldshort(elem));
    c << int32_t(t == 0 ? kOmWireNull : t * 2 - 2);
  }

protected:
  bool receiveOne(Connection& c, char* elem, int32_t& count) override {
    int32_t v = 0;
    c.recFirstInt(v);
    count = c.counter() == -1 ? 1 : c.counter();
    if (c.bad()) return false;
    int32_t s = 0;
    if (v == kOmWireNull)
      s = 0;
    else if (v == kOmWireHigh)
      s = 43200;
    else
      s = ((v % 86400 + 86400) % 86400) / 2 + 1;
    stshort(s, elem);
    return true;
  }
};

// ---- words -----------------------------------------------------------------------------

// Elements of one or more big-endian longs (integer, logical, object,
// binary), each long a word on the wire.
class ZxWordsField : public ZxField {
public:
  ZxWordsField(s_field const* f, int32_t words) : ZxField(f), words_(words) {}

  void sendOne(Connection& c, char const* elem) override {
    for (int32_t i = 0; i < words_; ++i) c << ldlong(elem + 4 * i);
  }

protected:
  bool receiveOne(Connection& c, char* elem, int32_t& count) override {
    int32_t first = 0;
    if (!readCounted(c, first, count)) return false;
    stlong(first, elem);
    for (int32_t i = 1; i < words_; ++i) {
      int32_t w = 0;
      c >> w;
      stlong(w, elem + 4 * i);
    }
    return !c.bad();
  }

  int32_t words_;
};

class ZxBoolField : public ZxField {
public:
  using ZxField::ZxField;

  void sendOne(Connection& c, char const* elem) override { c << int32_t(int8_t(elem[0])); }

protected:
  bool receiveOne(Connection& c, char* elem, int32_t& count) override {
    int32_t v = 0;
    if (!readCounted(c, v, count)) return false;
    elem[0] = char(int8_t(v));
    return true;
  }
};

// True when an element's first word would read back as the run marker.
bool firstWordIsMarker(s_field const* f, char const* e) {
  switch (f->d.f_itype) {
    case DB_IT_LONG:
    case DB_IT_OBJECT:
    case DB_IT_BINARY:
      return ldlong(e) == kOmRunMarker;
    default:
      return false;
  }
}

}  // namespace

// ---- ZxField ------------------------------------------------------------------------------

int32_t ZxField::ilength(int32_t) const { return elemSize(fp_); }

int32_t ZxField::elements() const { return fp_->d.dim > 1 ? fp_->d.dim : 1; }

void ZxField::send(Connection& c, char const* data, int32_t n, bool) {
  int32_t const count = elements(), size = ilength(n);
  int32_t run = 1;
  for (int32_t i = 0; i < count; ++i) {
    char const* e = data + i * size;
    if (i + 1 < count && std::memcmp(e, e + size, size_t(size)) == 0) {
      ++run;
      continue;
    }
    if (run > 1) {
      c << kOmRunMarker << run;
    } else if (firstWordIsMarker(fp_, e)) {
      c << kOmRunMarker << int32_t(1);
    }
    sendOne(c, e);
    run = 1;
  }
}

bool ZxField::receive(Connection& c, char* data) {
  int32_t const count = elements(), size = ilength(0);
  if (!data) {
    scratch.assign(size_t(size) * size_t(count), 0);
    data = scratch.data();
  }
  std::vector<char> one(size_t(size), 0);
  int32_t due = count;
  char* e = data;
  while (due > 0) {
    int32_t run = 1;
    if (!receiveOne(c, one.data(), run) || run < 1 || run > due) {
      c.setBad();
      return false;
    }
    for (int32_t k = 0; k < run; ++k) std::memcpy(e + k * size, one.data(), size_t(size));
    e += run * size;
    due -= run;
  }
  return true;
}

ZxField* BuildZxField(s_field const* f) {
  if (!f) return nullptr;
  switch (f->d.f_itype) {
    case DB_IT_TEXT:
      return new ZxStringField(f);
    case DB_IT_BYTE:
      if (f->d.type == 5) return new ZxBoolField(f);
      return new ZxByteField(f);
    case DB_IT_SHORT:
      return new ZxShortField(f);
    case DB_IT_LONG:
      if (f->d.type == 10) return new ZxWordsField(f, 1);
      return new ZxLongField(f);
    case DB_IT_DOUBLE:
    case DB_IT_FLOAT:
      return new ZxDoubleField(f);
    case DB_IT_NUM:
      return new ZxNumField(f);
    case DB_IT_DATE:
      return new ZxDateField(f);
    case DB_IT_TIME:
      return new ZxTimeField(f);
    case DB_IT_OBJECT:
      return new ZxWordsField(f, 2);
    case DB_IT_BINARY:
      if (f->d.dim > 1) return nullptr;
      return new ZxWordsField(f, 3);
    default:
      return nullptr;
  }
}

int32_t CalcItype(int32_t type, int32_t length) {
  switch (type) {
    case 0:
      if (length < 0) return -1;
      if (length <= 2) return DB_IT_BYTE;
      if (length <= 4) return DB_IT_SHORT;
      if (length <= 9) return DB_IT_LONG;
      if (length <= 15) return DB_IT_DOUBLE;
      if (length <= 28) return DB_IT_NUM;
      return -1;
    case 1: return DB_IT_TEXT;
    case 2: return DB_IT_DATE;
    case 3: return DB_IT_TIME;
    case 4: return DB_IT_DOUBLE;
    case 5: return DB_IT_BYTE;
    case 8: return DB_IT_OBJECT;
    case 9: return DB_IT_BINARY;
    case 10: return DB_IT_LONG;
    default: return -1;
  }
}

// ---- value checks ------------------------------------------------------------------------

namespace {

// The object-id values of a check's lists, in place.
template <class F>
void eachObjectId(InCheck& check, F f) {
  for (int32_t i = 0; i < check.nKeyValues(); ++i)
    if (AnyValue* v = check.keyValue(i)) f(*v);
  for (int32_t i = 0; i < check.nDspFields(); ++i)
    if (AnyValue* v = check.dspField(i)) f(*v);
}

}  // namespace

// (server table number, element n) -> (0, table handle | (n + 1)) with the
// table of schema `schema`; false when the schema has no such table or n
// does not fit the handle's low byte.
static bool toLibraryId(ObjectId& id, int32_t schema) {
  if (id.classId() == 0) return true;
  int32_t tab = findDbTable(int32_t(id.classId()), schema);
  if (tab == -1 || id.instId() >= 0xff) return false;
  id = ObjectId(0, uint32_t(tab) | (id.instId() + 1));
  return true;
}

// The inverse: (0, handle) -> (server table number, low byte - 1).
static ObjectId toServerId(ObjectId const& id) {
  if (id.classId() != 0 || (id.instId() & 0xff) == 0) return id;
  s_schema* sp = omSchema(int32_t(id.instId() & 0xff0000));
  int32_t slot = dbTableSlot(int32_t(id.instId()));
  s_table* tp = sp && sp->tables && slot >= 1 && slot <= kDbMaxTables ? sp->tables[slot].tab : nullptr;
  om_table* ot = omOf(tp);
  if (!ot) return id;
  return ObjectId(uint32_t(ot->number), (id.instId() & 0xff) - 1);
}

bool omServerIndex(int32_t index, ObjectId& out) {
  om_table* ot = omOf(omTable(index));
  int32_t n = omIndexNumber(ot, dbLowByte(index), true);
  if (!ot || n < 0) return false;
  out = ObjectId(uint32_t(ot->number), uint32_t(n));
  return true;
}

bool omLibraryIndex(s_schema* sp, ObjectId& id) {
  int32_t tab = sp ? findDbTable(int32_t(id.classId()), sp->handle) : -1;
  if (tab == -1) return false;
  int32_t slot = dbTableSlot(tab);
  s_table* tp = sp->tables && slot >= 1 && slot <= kDbMaxTables ? sp->tables[slot].tab : nullptr;
  if (tp && tp->d.len == 0) tp = _AttachTable(tp);
  int32_t n = id.instId() < uint32_t(kOmNoIndex) ? omIndexNumber(omOf(tp), int32_t(id.instId()), false) : -1;
  id = ObjectId(0, uint32_t(tab) | uint32_t(n < 0 ? kOmNoIndex : n));
  return true;
}

bool convertZx(InCheck& check, s_schema* sp) {
  if (!sp) return false;
  // Every id is checked before any is changed: a refused check stays as
  // it came.
  bool ok = true;
  eachObjectId(check, [&](AnyValue& v) {
    ObjectId id = v.getType() == AnyValue::T_OBJID ? toObjectId(v) : ObjectId();
    if (!toLibraryId(id, sp->handle)) ok = false;
  });
  ObjectId* ix = check.getType() == InCheck::INTEGRITY ? &static_cast<Integrity&>(check).index() : nullptr;
  int32_t ixTab = ix && ix->classId() != 0 ? findDbTable(int32_t(ix->classId()), sp->handle) : 0;
  if (!ok || ixTab == -1) return false;
  eachObjectId(check, [&](AnyValue& v) {
    if (v.getType() != AnyValue::T_OBJID) return;
    ObjectId id = toObjectId(v);
    toLibraryId(id, sp->handle);
    v = AnyValue(id);
  });
  // The referenced index: (server table number, index number) -> (0,
  // table handle | the library's index).
  if (ix && ix->classId() != 0) omLibraryIndex(sp, *ix);
  return true;
}

void sendConvertedZx(InCheck const& check, Connection& c) {
  InCheck& ck = const_cast<InCheck&>(check);
  c << check.getType();
  c << int32_t(check.negation() ? 1 : 0) << check.nKeyValues() << check.nDspFields();
  eachObjectId(ck, [&](AnyValue& v) {
    if (v.getType() == AnyValue::T_OBJID)
      c << AnyValue(toServerId(toObjectId(v)));
    else
      c << v;
  });
}

void sendCheck(Connection& c, InCheck const& check) {
  if (!check) {
    InCheck::sendEmpty(c);
    return;
  }
  sendConvertedZx(check, c);
  if (check.getType() != InCheck::INTEGRITY) return;
  ObjectId ix = const_cast<Integrity&>(static_cast<Integrity const&>(check)).index();
  // (0, table handle | index) -> (server table number, index number).
  if (ix.classId() == 0 && ix.instId() != 0 && !omServerIndex(int32_t(ix.instId()), ix)) ix = ObjectId();
  c << ix;
}

void ZxIntegrity::send(Connection& c) const { sendCheck(c, *this); }

void ZxInList::send(Connection& c) const { sendCheck(c, *this); }
