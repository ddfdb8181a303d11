// The field family's common part: the factory, the identity and layout of a
// field, the run-length array send, the key-part store, comparison and the
// direct changes of a live descriptor.
#include <svcatalog/SvField.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <svcatalog/SvExpr.h>
#include <svcatalog/SvFieldTypes.h>
#include <svcatalog/SvTabRep.h>
#include <zfound/Connection.h>
#include <zfound/Exception.h>
#include <zfound/InCheck.h>
#include <zfound/Num.h>
#include <zfound/Portable.h>
#include <zfound/TimeStamp.h>

#include "FieldWire.h"

void keepFirstError(Exception const& e) {
  if (Exception::last().code() == 0) Exception::last(e);
}

namespace {

// The class word of a field of `table`: the table's class word with the kind
// 2 ("field") in its low 12 bits.
uint32_t fieldClassId(SvTabRep const* table) {
  return table != nullptr ? ((table->classId() & ~0xFFFu) | 2u) : 2u;
}

// Largest dimension and string length a field may declare.
constexpr int32_t kMaxDim = 65535;
constexpr int32_t kMaxStringLength = 65535;
// Largest end of a field in the record image: record and client-form
// lengths (at most four times as long) stay inside 32-bit sizes.
constexpr int64_t kMaxRecordEnd = INT32_MAX / 8;

}  // namespace

SvField::SvField(SvTabRep* table, uint32_t id, String const& name, String const& descr, SvExpr* deflt,
                 String const& mask, int32_t type, int32_t sqlType, TabFldFlags flags, int32_t dim,
                 InCheck* check, SvExpr* expression, String const& enumName)
    : PObject(fieldClassId(table), id, id == 0),
      dim_(dim == 0 ? 1 : dim),
      name_(name),
      descr_(descr),
      deflt_(deflt),
      mask_(mask),
      table_(table),
      type_(type),
      sqlType_(sqlType),
      flags_(flags),
      check_(check),
      expression_(expression),
      enumName_(enumName) {}

SvField::~SvField() {
  delete check_;
  delete expression_;
  delete deflt_;
}

SvField* SvField::mkField(SvTabRep* table, uint32_t id, String const& name, String const& descr,
                          SvExpr* deflt, String const& mask, int32_t length, int32_t decimals,
                          int32_t type, int32_t sqlType, TabFldFlags flags, int32_t dim, InCheck* check,
                          SvExpr* expression, CollateSet* collate, ObjectId const& objRef,
                          String const& enumName) {
  String why;
  if (dim < 0 || dim > kMaxDim) why = String("dimension ") + svcatalog::decimal(dim);
  switch (type) {
    case NUM:
      if (!SvNumField::validShape(length, decimals))
        why = String("number ") + svcatalog::decimal(length) + "," + svcatalog::decimal(decimals);
      break;
    case STRING:
      if (length < 1 || length > kMaxStringLength) why = String("length ") + svcatalog::decimal(length);
      break;
    case DATE: case TIME: case FLOAT: case BOOL: case OBJECT: case VSO: case INT:
      break;
    default:
      why = String("type ") + svcatalog::decimal(type);
      break;
  }
  // A damaged catalog may repeat a field's id; a second registration under
  // the same id is refused here rather than by the registry.
  if (why.isNull() && id != 0 && PObject::find(ObjectId(fieldClassId(table), id)) != nullptr)
    why = String("id ") + svcatalog::decimal(int32_t(id));
  if (!why.isNull()) {
    String qname = table != nullptr ? table->qualifiedName() + "." + name : name;
    keepFirstError(InvalidData(qname + " = " + why));
    delete check;
    delete expression;
    delete deflt;
    return nullptr;
  }
  SvField* f = nullptr;
  switch (type) {
    case NUM:
      f = new SvNumField(table, id, name, descr, deflt, mask, length, decimals, sqlType, flags, dim, check,
                         expression, enumName);
      break;
    case STRING:
      f = new SvStringField(table, id, name, descr, deflt, mask, length, sqlType, flags, dim, check,
                            expression, collate, enumName);
      break;
    case DATE:
      f = new SvDateField(table, id, name, descr, deflt, mask, flags, dim, check, expression, enumName);
      break;
    case TIME:
      f = new SvTimeField(table, id, name, descr, deflt, mask, flags, dim, check, expression, enumName);
      break;
    case FLOAT:
      f = new SvFloatField(table, id, name, descr, deflt, mask, sqlType, flags, dim, check, expression,
                           enumName);
      break;
    case BOOL:
      f = new SvBoolField(table, id, name, descr, deflt, mask, sqlType, flags, dim, check, expression,
                          enumName);
      break;
    case OBJECT:
      f = new SvObjectField(table, id, name, descr, deflt, mask, flags, dim, check, expression, objRef,
                            enumName);
      break;
    case VSO:
      f = new SvVSOField(table, id, name, descr, deflt, mask, sqlType, flags, dim, check, expression,
                         enumName);
      break;
    default:  // INT; the codes were checked above
      f = new SvIntField(table, id, name, descr, deflt, mask, sqlType, flags, dim, check, expression,
                         enumName);
      break;
  }
  if (table != nullptr) {
    int64_t const end = int64_t(table->nextOffset()) + int64_t(f->ilength(true)) * f->dim();
    if (!f->isVirtual() && end > kMaxRecordEnd) {
      f->invalid(String("dimension ") + svcatalog::decimal(dim));
      delete f;  // with the check and expressions it owns
      return nullptr;
    }
    f->setOffset(table->nextOffset());
    table->addField(f);
  }
  return f;
}

// ---- identity ------------------------------------------------------------------

String SvField::qualifiedName() const {
  if (table_ == nullptr) return name_;
  return table_->qualifiedName() + "." + name_;
}

int32_t SvField::number() const { return table_ != nullptr ? table_->nField(this) : -1; }

void SvField::invalid(String const& what) const {
  keepFirstError(InvalidData(qualifiedName() + " = " + what));
}

bool SvField::receiveFault(Connection* c) const {
  c->setBad();
  keepFirstError(InvalidData(qualifiedName()));
  return false;
}

bool SvField::countOk(int32_t n) const {
  if (n >= 0 && n <= dim()) return true;
  invalid(String("elements ") + svcatalog::decimal(n));
  return false;
}

TimeStamp SvField::stamp(char const* record) const {
  TimeStamp ts;
  if (record == nullptr) return ts;
  if (isCStamp()) {
    if (table_ == nullptr || !table_->hasCreationStamp()) return ts;
    char const* q = record + SvTabRep::kCStampAt;
    ts.load(q);
  } else {
    char const* q = record + SvTabRep::kMStampAt;
    ts.load(q);
  }
  return ts;
}

// ---- record and wire forms ------------------------------------------------------

void SvField::send(Connection* c, char*& p, bool zero) {
  int32_t const n = dim();
  int32_t const s = ilength(zero);
  int32_t run = 1;
  for (int32_t i = 0; i < n; ++i) {
    char const* e = p + i * s;
    if (i + 1 < n && std::memcmp(e, e + s, size_t(s)) == 0) {
      ++run;
      continue;
    }
    if (run > 1) {
      c->sendCounter(run);
    } else if (firstWordIsMarker(e)) {
      // The element would read back as a run marker: it goes behind an
      // explicit count of one.
      *c << kRunMarker;
      *c << int32_t{1};
    }
    sendOne(c, e);
    run = 1;
  }
  p += n * s;
}

void SvField::keySend(Connection* c, char*& p) {
  sendOne(c, p);
  p += ilength(false);
}

bool SvField::keyReceive(Connection* c, char*& p, int32_t len) {
  if (len < 0)
    return false;
  // The whole field arrives (an array's every element); the key keeps the
  // first element's len bytes.
  int32_t elem = std::max(ilength(false), len) + 1;
  std::vector<char> scratch(size_t(dim()) * size_t(elem), 0);
  char* q = scratch.data();
  bool ok = receive(c, q, false, len);
  std::memcpy(p, scratch.data(), size_t(std::min<int64_t>(len, int64_t(scratch.size()))));
  p += len;
  return ok;
}

bool SvField::keyDiffer(SvTable* t, char const* a, char const* b, int32_t len) const {
  if (isVirtual())
    return differ(t, a - offset_, b - offset_, len);
  return len > 0 && std::memcmp(a, b, size_t(len)) != 0;
}

bool SvField::sameField(svstore::IndexField const* other) const {
  SvField const* f = dynamic_cast<SvField const*>(other);
  return f != nullptr && sameRep(f);
}

bool SvField::store(SvTable*, char*& key, char const* src, int32_t len, char const*) {
  if (key == nullptr || len < 0) return false;
  if (isVirtual() || src == nullptr) {
    std::memset(key, 0, size_t(len));
    key += len;
    invalid(String("virtual key part"));
    return false;
  }
  std::memcpy(key, src, size_t(len));
  key += len;
  return true;
}

bool SvField::store(char*& p, int32_t) const {
  p += ilength(true);
  return false;
}

bool SvField::loadInt(int32_t&, char const*) const { return false; }

bool SvField::receiveAdd(Connection*, char*, int32_t) { return false; }
bool SvField::receiveSub(Connection*, char*, int32_t) { return false; }
bool SvField::receiveMul(Connection*, char*, int32_t) { return false; }
bool SvField::receiveDiv(Connection*, char*, int32_t) { return false; }
bool SvField::receiveSet(Connection*, char*, int32_t) { return false; }

bool SvField::differ(SvTable*, char const* a, char const* b, int32_t len) const {
  if (len <= 0 || isVirtual()) return false;
  return std::memcmp(a + offset_, b + offset_, size_t(len)) != 0;
}

// ---- representation ---------------------------------------------------------------

bool SvField::sameRep(SvField const* other) const {
  return other != nullptr && other->getType() == type_ && other->dim() == dim() && equivRep(other);
}

bool SvField::copyFrom(char* record, SvField const* from) const {
  if (!sameRep(from) || isVirtual() || from->isVirtual()) return false;
  std::memmove(record + offset_, record + from->tableOffset(), size_t(dim()) * size_t(ilength(true)));
  return true;
}

// ---- changes of a live descriptor -------------------------------------------------

bool SvField::canTakeShape(int32_t dim, int32_t length, int32_t decimals, TabFldFlags flags, int32_t type) const {
  // Offsets are fixed when fields are built: whatever moves bytes is refused
  // before anything changes.
  String why;
  if (type != type_) {
    why = String("type ") + svcatalog::decimal(type);
  } else if ((dim < 1 ? 1 : dim) != this->dim()) {
    why = String("dimension ") + svcatalog::decimal(dim);
  } else if (((flags ^ flags_) & FldFlag::kVirtual) != 0) {
    why = String("virtual flag");
  } else if (SvNumField const* nf = const_cast<SvField*>(this)->numField(); nf != nullptr) {
    int32_t units = 0, frac = 0, myUnits = 0, myFrac = 0;
    Num::intLength(length, decimals, units, frac);
    Num::intLength(this->length(), nDecimals(), myUnits, myFrac);
    if (units == 0 || units != myUnits || frac != myFrac)
      why = String("number ") + svcatalog::decimal(length) + "," + svcatalog::decimal(decimals);
  } else if (const_cast<SvField*>(this)->stringField() != nullptr && length != this->length()) {
    why = String("length ") + svcatalog::decimal(length);
  }
  if (why.isNull()) return true;
  invalid(why);
  return false;
}

bool SvField::setData(String const& name, String const& descr, int32_t dim, String const& mask,
                      int32_t length, int32_t decimals, TabFldFlags flags, int32_t type,
                      int32_t sqlType) {
  if (!canTakeShape(dim, length, decimals, flags, type))
    return false;
  if (!name.isNull() && !name.isHighest()) name_ = name;
  descr_ = descr;
  dim_ = dim;
  mask_ = mask;
  if (SvNumField* nf = numField())
    nf->setShape(length, decimals);
  else
    this->length(length);
  flags_ = flags;
  sqlType_ = sqlType;
  return true;
}

void SvField::setInCheck(InCheck* check) {
  if (check == check_) return;
  delete check_;
  check_ = check;
}

void SvField::setDeflt(SvExpr* deflt) {
  if (deflt == deflt_) return;
  delete deflt_;
  deflt_ = deflt;
}

void SvField::setExpression(SvExpr* expression) {
  if (expression == expression_) return;
  delete expression_;
  expression_ = expression;
}

// ---- helpers ----------------------------------------------------------------------------

namespace svcatalog {

namespace {

void skipBlanks(char const*& s, char const* end) {
  while (s < end && (*s == ' ' || *s == '\t')) ++s;
}

bool readWord(char const*& s, char const* end, int32_t& out) {
  skipBlanks(s, end);
  bool neg = false;
  if (s < end && (*s == '-' || *s == '+')) neg = *s++ == '-';
  if (s >= end || *s < '0' || *s > '9') return false;
  int64_t v = 0;
  while (s < end && *s >= '0' && *s <= '9') {
    v = v * 10 + (*s++ - '0');
    if (v > 0xFFFFFFFFLL) return false;
  }
  if (neg) {
    if (v > 0x80000000LL) return false;
    v = -v;
  }
  out = static_cast<int32_t>(static_cast<uint32_t>(v));
  skipBlanks(s, end);
  return true;
}

}  // namespace

bool parseIdList(String const& text, int32_t* words, int n) {
  if (!text) return false;
  char const* s = toCharPtr(text);
  char const* end = s + text.length();
  skipBlanks(s, end);
  if (s >= end || *s++ != '<') return false;
  for (int i = 0; i < n; ++i) {
    if (!readWord(s, end, words[i])) return false;
    char want = i + 1 < n ? ',' : '>';
    if (s >= end || *s++ != want) return false;
  }
  skipBlanks(s, end);
  return s == end;
}

String decimal(int32_t v) {
  char buf[16];
  char* e = buf + sizeof buf;
  char* p = e;
  uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  do {
    *--p = char('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (v < 0) *--p = '-';
  return String(long(e - p), p);
}

String idListText(int32_t const* words, int n) {
  String t("<");
  for (int i = 0; i < n; ++i) {
    if (i > 0) t += ", ";
    t += decimal(words[i]);
  }
  t += ">";
  return t;
}

bool blankText(String const& text) {
  if (text.isNull()) return true;
  if (text.isHighest()) return false;
  char const* s = toCharPtr(text);
  for (long i = 0; i < text.length(); ++i)
    if (s[i] != ' ' && s[i] != '\t') return false;
  return true;
}

}  // namespace svcatalog
