// SvStringField: fixed-length text. An element is L characters followed by
// zero bytes to its end; in the record it carries one more byte, always 0
// (z = 1). The highest value fills the L characters with 0xFF. Strings travel
// element by element, each as a length word and its bytes, with no runs.
#include <svcatalog/SvFieldTypes.h>

#include <cstring>
#include <vector>

#include <zfound/CollateSet.h>
#include <zfound/Connection.h>
#include <zfound/Exception.h>

#include "FieldWire.h"

SvStringField::SvStringField(SvTabRep* table, uint32_t id, String const& name, String const& descr,
                             SvExpr* deflt, String const& mask, int32_t length, int32_t sqlType,
                             TabFldFlags flags, int32_t dim, InCheck* check, SvExpr* expression,
                             CollateSet* collate, String const& enumName)
    : SvField(table, id, name, descr, deflt, mask, STRING, sqlType, flags, dim, check, expression, enumName),
      length_(length),
      collate_(collate) {}

bool SvStringField::length(int32_t n) {
  // The stored size is L + 1: a live field keeps its length.
  if (n == length_) return true;
  invalid(String("length ") + svcatalog::decimal(n));
  return false;
}

void SvStringField::sendElement(Connection* c, char const* p, int32_t l, int32_t z) const {
  int32_t n = p[l + z - 1] != 0 ? l : int32_t(strnlen(p, size_t(l + z)));
  if (collate_ != nullptr && n > 0) {
    std::vector<char> plain(size_t(l + z));
    collate_->unMap(plain.data(), p, n);
    c->push(plain.data(), n);
  } else {
    c->push(p, n);
  }
}

void SvStringField::send(Connection* c, char*& p, bool zero) {
  int32_t const z = zero ? 1 : 0;
  for (int32_t i = 0; i < dim(); ++i) {
    sendElement(c, p, length_, z);
    p += length_ + z;
  }
}

void SvStringField::sendOne(Connection* c, char const* p) const { sendElement(c, p, length_, 1); }

void SvStringField::keySend(Connection* c, char*& p) {
  sendElement(c, p, length_, 0);
  p += length_;
}

bool SvStringField::receive(Connection* c, char*& p, bool zero, int32_t ilen) {
  int32_t const l = ilen < 0 ? length_ : ilen;
  int32_t const z = zero ? 1 : 0;
  char* const start = p;
  p += dim() * (l + z);
  std::vector<char> scratch;
  char* e = start;
  for (int32_t i = 0; i < dim(); ++i, e += l + z) {
    int32_t w = 0;
    *c >> w;
    if (c->bad()) return receiveFault(c);
    if (w == Connection::kHighLength) {
      std::memset(e, 0xFF, size_t(l));
      std::memset(e + l, 0, size_t(z));
      continue;
    }
    if (w < 0 || w > l + z) return receiveFault(c);
    if (w > 0) {
      if (collate_ != nullptr) {
        scratch.assign(size_t(w), 0);
        c->pop(scratch.data(), w);
        collate_->map(e, scratch.data(), w);
      } else {
        c->pop(e, w);
      }
      if (c->bad()) return receiveFault(c);
    }
    std::memset(e + w, 0, size_t(l + z - w));
    // A text of L + 1 bytes keeps L: the record form's last byte stays 0.
    if (z != 0) e[l] = 0;
  }
  return true;
}

void SvStringField::storeText(char* p, String const& text, int32_t l, int32_t z) const {
  if (text.isHighest()) {
    std::memset(p, 0xFF, size_t(l));
    std::memset(p + l, 0, size_t(z));
    return;
  }
  int32_t n = int32_t(text.length());
  if (n > l) n = l;
  if (n > 0) {
    if (collate_ != nullptr)
      collate_->map(p, toCharPtr(text), n);
    else
      std::memcpy(p, toCharPtr(text), size_t(n));
  }
  std::memset(p + n, 0, size_t(l + z - n));
}

bool SvStringField::store(char*& p, String const& text, bool zero, int32_t ilen) const {
  int32_t const l = ilen < 0 ? length_ : ilen;
  int32_t const z = zero ? 1 : 0;
  storeText(p, text, l, z);
  p += l + z;
  return true;
}

void SvStringField::load(String& text, char const*& p, bool zero, int32_t ilen) const {
  int32_t const l = ilen < 0 ? length_ : ilen;
  int32_t const z = zero ? 1 : 0;
  char const* e = p;
  p += l + z;
  // All 0xFF is the highest value, which a store from the highest text makes.
  int32_t ff = 0;
  while (ff < l && static_cast<unsigned char>(e[ff]) == 0xFF) ++ff;
  if (l > 0 && ff == l) {
    text = String(String::kHighLength, nullptr);
    return;
  }
  int32_t n = int32_t(strnlen(e, size_t(l)));
  if (z == 0)
    while (n > 0 && (e[n - 1] == ' ' || e[n - 1] == '\t' || e[n - 1] == '\n' || e[n - 1] == '\r')) --n;
  if (n == 0) {
    text = String();
    return;
  }
  if (collate_ != nullptr) {
    std::vector<char> plain(static_cast<size_t>(n));
    collate_->unMap(plain.data(), e, n);
    text = String(long(n), plain.data());
  } else {
    text = String(long(n), e);
  }
}

bool SvStringField::store(SvTable* table, char*& key, char const* src, int32_t len, char const* record) {
  if (isVirtual() || key == nullptr || src == nullptr) return SvField::store(table, key, src, len, record);
  if (len < 0) return false;
  int32_t n = int32_t(strnlen(src, size_t(len)));
  std::memcpy(key, src, size_t(n));
  std::memset(key + n, 0, size_t(len - n));
  key += len;
  return true;
}

bool SvStringField::equivRep(SvField const* other) const {
  if (other == nullptr || other->getType() != STRING) return false;
  return static_cast<SvStringField const*>(other)->length_ == length_;
}

AnyValue SvStringField::value(char const* p) const {
  String t;
  load(t, p, true, -1);
  return AnyValue(t);
}

bool SvStringField::receiveSet(Connection* c, char* p, int32_t n) {
  String s;
  *c >> s;
  if (c->bad()) return receiveFault(c);
  if (!countOk(n)) return false;
  for (int32_t i = 0; i < n; ++i) storeText(p + i * (length_ + 1), s, length_, 1);
  return true;
}
