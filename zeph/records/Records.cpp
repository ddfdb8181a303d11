// Field elements of a record buffer, value checks, field expressions and
// display masks in their stored forms.
//
// Every stored form that reaches these functions comes from a file: its
// length is checked against what the caller has, and its body is checked as
// it is read, so a damaged form gives null rather than a half-made object.
#include <zeph/Dict.h>
#include <zeph/Proc.h>
#include <zeph/Records.h>

#include <dbm/DbInterface.h>

#include <zfound/EditMask.h>
#include <zfound/Format.h>
#include <zfound/Environ.h>
#include <zfound/Expr.h>
#include <zfound/InCheck.h>
#include <zfound/LoopConnection.h>
#include <zfound/Num.h>
#include <zfound/ObjectId.h>
#include <zfound/Portable.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

InCheck* LoadInCheck(void const* stored, int32_t avail) {
  if (!stored || avail < 2) return nullptr;
  auto p = static_cast<uint8_t const*>(stored);
  int32_t len = ldLe16(p);
  if (len < 6 || len > avail || (len - 2) % 4 != 0) return nullptr;
  std::vector<uint32_t> words;
  for (int32_t at = 2; at < len; at += 4) words.push_back(uint32_t(ldlong(p + at)));
  LoopConnection c(int32_t(words.size()) + 1);
  c.feed(words);
  int32_t kind = InCheck::receive(c);
  InCheck* check = nullptr;
  if (kind == InCheck::INLIST) check = new InList(c);
  else if (kind == InCheck::INTEGRITY) check = new Integrity(c);
  else if (kind == InCheck::NOCHECK && !c.bad()) check = new InCheck();
  if (!check || c.bad() || c.wordsLeft() != 0) {
    delete check;
    return nullptr;
  }
  return check;
}

uint8_t* StoreInCheck(InCheck const* check, int32_t* len) {
  LoopConnection c;
  if (check) check->send(c);
  else InCheck::sendEmpty(c);
  std::vector<uint32_t> words = c.words();
  int64_t n = 2 + 4 * int64_t(words.size());
  if (n > 65535) {
    *len = 0;
    return nullptr;
  }
  auto out = static_cast<uint8_t*>(def_Alloc(size_t(n), __FILE__, __LINE__));
  out[0] = uint8_t(n & 0xff);
  out[1] = uint8_t(n >> 8);
  for (size_t i = 0; i < words.size(); ++i) stlong(int32_t(words[i]), out + 2 + 4 * i);
  *len = int32_t(n);
  return out;
}

Expr* DbExpr(void const* stored, int32_t avail) {
  if (!stored || avail <= 0) return nullptr;
  Expr* e = new Expr();
  if (!e->load(stored, avail)) {
    delete e;
    return nullptr;
  }
  return e;
}

int32_t InCheckIsInList(InCheck const* check) { return check && check->getType() == InCheck::INLIST; }
int32_t InCheckIsNegated(InCheck const* check) { return check && check->negation(); }
int32_t InCheckNKeyVal(InCheck const* check) { return check ? check->nKeyValues() : 0; }
int32_t InCheckNDspFld(InCheck const* check) { return check ? check->nDspFields() : 0; }

AnyValue const* InCheckGetKeyVal(InCheck const* check, int32_t n) {
  return check && n >= 0 && n < check->nKeyValues() ? check->keyValue(n) : nullptr;
}

AnyValue const* InCheckGetDspVal(InCheck const* check, int32_t n) {
  return check && n >= 0 && n < check->nDspFields() ? check->dspField(n) : nullptr;
}

int32_t InCheckAccepts(InCheck const* check, AnyValue const* value) {
  if (!check || !*check || check->getType() != InCheck::INLIST || !value) return 1;
  bool found = false;
  for (int32_t i = 0; i < check->nKeyValues() && !found; ++i) {
    AnyValue const* v = check->keyValue(i);
    found = v && cmp(*v, *value) == 0;
  }
  return found != check->negation();
}

namespace {

// Every reference check of sp's tables naming, as (0, table handle |
// index), an index of the table in slot `slot` gets the instance id
// `moved` gives (the same id: unchanged); the changed ones are stored
// again and the schema marked for rewriting. The number changed.
template <typename Move>
int32_t moveIndexRefs(s_schema* sp, int32_t slot, Move moved) {
  int32_t changed = 0;
  for (int32_t s = 1; s <= kDbMaxTables; ++s) {
    s_table* t = sp->tables[s].tab;
    if (!t || sp->tables[s].alias) continue;
    for (int32_t i = 0; i < t->d.nfields; ++i) {
      s_field& f = t->fields[i];
      if (!f.incheck || f.incheck->getType() != InCheck::INTEGRITY) continue;
      ObjectId& ix = static_cast<Integrity*>(f.incheck)->index();
      if (ix.classId() != 0 || int32_t((ix.instId() >> 8) & 0xff) != slot) continue;
      uint32_t const inst = moved(ix.instId());
      if (inst == ix.instId()) continue;
      ix = ObjectId(0, inst);
      int32_t len = 0;
      uint8_t* bytes = StoreInCheck(f.incheck, &len);
      if (!bytes) continue;
      f.d.incheck.data = static_cast<uint8_t const*>(_MemValPut(sp, bytes, len));
      f.d.incheck.len = len;
      def_Free(bytes, __FILE__, __LINE__);
      sp->rewrite = 1;
      ++changed;
    }
  }
  return changed;
}

}  // namespace

int32_t _CorrectRefs(s_schema* sp, int32_t from, int32_t to) {
  if (!sp || !sp->tables || from < 1 || from > kDbMaxTables || to < 1 || to > kDbMaxTables) return 0;
  return moveIndexRefs(sp, from, [to](uint32_t inst) { return (inst & ~uint32_t(0xff00)) | (uint32_t(to) << 8); });
}

int32_t _CorrectIndexRefs(s_schema* sp, int32_t slot, int32_t number) {
  if (!sp || !sp->tables || slot < 1 || slot > kDbMaxTables || number < 0 || number >= 0xff) return 0;
  return moveIndexRefs(sp, slot, [number](uint32_t inst) {
    int32_t const k = int32_t(inst & 0xff);
    int32_t const n = k == number ? 0xff : k > number && k != 0xff ? k - 1 : k;
    return (inst & ~uint32_t(0xff)) | uint32_t(n);
  });
}

int32_t CompileMask(char const* mask, char** out) {
  *out = nullptr;
  if (!mask) return -1;
  char const* source = mask;
  if (mask[0] == 1) {
    ReadEnvHandler old = SetReadEnvHandler(nullptr);
    source = def_ReadEnv(mask + 1, __FILE__, __LINE__);
    SetReadEnvHandler(old);
    if (!source) return -1;
  }
  char checks[kMaskCheckSize];
  char edit[kMaskEditSize];
  if (compileMask(source, checks, edit) != 0) return -1;
  size_t le = std::strlen(edit), lc = std::strlen(checks);
  char* both = static_cast<char*>(def_Alloc(le + lc + 2, __FILE__, __LINE__));
  std::memcpy(both, edit, le + 1);
  std::memcpy(both + le + 1, checks, lc + 1);
  *out = both;
  return 0;
}

char* _FldAddr(s_field const* fld, char* record, int32_t elem) {
  if (!fld || !record) return nullptr;
  int32_t n = fld->d.dim ? fld->d.dim : 1;
  if (elem < 0 || elem >= n) return nullptr;
  return record + fld->d.offset + int64_t(elem) * dbElemSize(fld->d.f_itype, fld->d.len);
}

int32_t _IsNull(s_field const* fld, char const* record, int32_t elem) {
  auto p = reinterpret_cast<uint8_t const*>(_FldAddr(fld, const_cast<char*>(record), elem));
  if (!p) return 1;
  switch (fld->d.f_itype) {
    case DB_IT_TEXT: return p[0] == 0;
    case DB_IT_BYTE: return p[0] == 0x80;
    case DB_IT_SHORT: case DB_IT_DATE: return ldushort(p) == 0x8000;
    case DB_IT_TIME: return ldushort(p) == 0;
    case DB_IT_LONG: return uint32_t(ldlong(p)) == 0x80000000u;
    case DB_IT_DOUBLE: case DB_IT_FLOAT: return lddbl(p) == -1e50;
    case DB_IT_OBJECT: return ldlong(p) == 0 && ldlong(p + 4) == 0;
    // The exponent word of the stored null is 0 (its digit words are not).
    case DB_IT_NUM: return p[0] == 0 && p[1] == 0;
    default: {
      int32_t n = dbElemSize(fld->d.f_itype, fld->d.len);
      for (int32_t i = 0; i < n; ++i)
        if (p[i]) return 0;
      return 1;
    }
  }
}

namespace {

// The table's record buffer and the field of a field handle.
bool fieldPlace(int32_t field, s_field*& fld, char*& record) {
  fld = _GetFldPtr(field);
  record = fld ? _GetTabBuff(field & 0xffff00) : nullptr;
  return fld && record;
}

}  // namespace

int32_t GetFld(int32_t field, int32_t elem, char* out, size_t outSize) {
  s_field* fld;
  char* record;
  if (!outSize) return -1;
  out[0] = 0;
  if (!fieldPlace(field, fld, record)) return -1;
  auto p = reinterpret_cast<uint8_t const*>(_FldAddr(fld, record, elem));
  if (!p) return -1;
  if (_IsNull(fld, record, elem)) return 0;
  switch (fld->d.f_itype) {
    case DB_IT_TEXT: zfSnprintf(out, outSize, "%.*s", int(strnlen((char const*)p, fld->d.len)), p); break;
    case DB_IT_BYTE: zfSnprintf(out, outSize, "%d", int(int8_t(p[0]))); break;
    case DB_IT_SHORT: case DB_IT_DATE: zfSnprintf(out, outSize, "%d", int(ldshort(p))); break;
    case DB_IT_TIME: zfSnprintf(out, outSize, "%d", int(ldushort(p))); break;
    case DB_IT_LONG: zfSnprintf(out, outSize, "%ld", long(ldlong(p))); break;
    case DB_IT_DOUBLE: case DB_IT_FLOAT: zfSnprintf(out, outSize, "%.15g", lddbl(p)); break;
    case DB_IT_NUM: {
      Num n;
      if (ldnum(&n, reinterpret_cast<char const*>(p)) != 0) return -1;
      zfSnprintf(out, outSize, "%s", NumToStr(&n, 255, Num::kMaxPrecision));
      break;
    }
    default: return -1;
  }
  return 0;
}

int32_t SetFld(int32_t field, int32_t elem, void const* value, int32_t len) {
  s_field* fld;
  char* record;
  if (!fieldPlace(field, fld, record)) return -1;
  char* p = _FldAddr(fld, record, elem);
  int32_t size = dbElemSize(fld->d.f_itype, fld->d.len);
  if (!p || !value || len < 0 || len > size) return -1;
  std::memcpy(p, value, size_t(len));
  std::memset(p + len, 0, size_t(size - len));
  if (fld->d.f_itype == DB_IT_TEXT) p[size - 1] = 0;
  return 0;
}

int32_t SFld(int32_t field, int32_t elem, char const* text) {
  s_field* fld;
  char* record;
  if (!text || !fieldPlace(field, fld, record)) return -1;
  uint8_t b[16] = {};
  char* end = nullptr;
  long v = 0;
  switch (fld->d.f_itype) {
    case DB_IT_TEXT: {
      size_t n = strnlen(text, fld->d.len);
      return SetFld(field, elem, text, int32_t(n));
    }
    case DB_IT_DOUBLE: case DB_IT_FLOAT: {
      double d = std::strtod(text, &end);
      if (end == text || *end || !std::isfinite(d)) return -1;
      stdbl(d, b);
      return SetFld(field, elem, b, 8);
    }
    case DB_IT_NUM: {
      // The whole text must be one number: sign, digits with at most one
      // point, an optional exponent; the reader would stop early otherwise.
      char const* q = text;
      while (*q == ' ' || *q == '\t') ++q;
      if (*q == '+' || *q == '-') ++q;
      bool digits = false;
      for (bool point = false; (*q >= '0' && *q <= '9') || (*q == '.' && !point); ++q) {
        if (*q == '.') point = true;
        else digits = true;
      }
      if (digits && (*q == 'e' || *q == 'E')) {
        ++q;
        if (*q == '+' || *q == '-') ++q;
        if (!(*q >= '0' && *q <= '9')) return -1;
        while (*q >= '0' && *q <= '9') ++q;
      }
      if (*q) return -1;
      if (!digits) return -1;
      Num n = toNum(text);
      if (n.isNull()) return -1;
      stnum(&n, reinterpret_cast<char*>(b));
      return SetFld(field, elem, b, 16);
    }
    case DB_IT_BYTE: case DB_IT_SHORT: case DB_IT_DATE: case DB_IT_TIME: case DB_IT_LONG:
      v = std::strtol(text, &end, 10);
      if (end == text || *end) return -1;
      break;
    default:
      return -1;
  }
  switch (fld->d.f_itype) {
    case DB_IT_BYTE:
      if (v < -127 || v > 127) return -1;
      b[0] = uint8_t(int8_t(v));
      return SetFld(field, elem, b, 1);
    case DB_IT_LONG:
      if (v < -2147483647L || v > 2147483647L) return -1;
      stlong(int32_t(v), b);
      return SetFld(field, elem, b, 4);
    case DB_IT_TIME:
      // 0 null, else 1 + seconds / 2, up to 43200 (highest).
      if (v < 0 || v > 43200) return -1;
      stshort(int32_t(v), b);
      return SetFld(field, elem, b, 2);
    default:
      if (v < -32767 || v > 32767) return -1;
      stshort(int32_t(v), b);
      return SetFld(field, elem, b, 2);
  }
}

int32_t BtoI(void const* p) { return p ? int32_t(*static_cast<int8_t const*>(p)) : 0; }

int32_t GetDspFld(int32_t field, int32_t elem, char* out, size_t outSize) {
  if (GetFld(field, elem, out, outSize) != 0) return -1;
  s_field const* fld = _GetFldPtr(field);
  uint16_t it = fld->d.f_itype;
  bool scaled = fld->d.type == 0 && fld->d.dec > 0 && (it == DB_IT_BYTE || it == DB_IT_SHORT || it == DB_IT_LONG);
  if (!scaled || !out[0]) return 0;
  // The digits with at least one before the point: "-5" with 2 decimals
  // shows "-0.05".
  std::string text(out);
  std::string sign = text[0] == '-' ? "-" : "";
  std::string digits = text.substr(sign.size());
  size_t dec = fld->d.dec;
  if (digits.size() <= dec) digits.insert(0, dec + 1 - digits.size(), '0');
  digits.insert(digits.size() - dec, 1, '.');
  zfSnprintf(out, outSize, "%s%s", sign.c_str(), digits.c_str());
  return 0;
}

namespace {

// The field of `table` that gives key part `p` of a related index: the
// field of the same name, storage type and length; -1 when none.
int32_t relField(int32_t table, s_index_field const& p) {
  s_field const* kf = dbLowByte(p.field) ? _GetFldPtr(p.field) : nullptr;
  if (!kf || !kf->d.name) return -1;
  int32_t h = FindDbField(table, kf->d.name);
  s_field const* f = h > 0 ? _GetFldPtr(h) : nullptr;
  if (!f || f->d.f_itype != kf->d.f_itype || f->d.len != kf->d.len) return -1;
  return h;
}

bool gInRel = false;

}  // namespace

int32_t _SetRel(int32_t table, int32_t index) {
  s_table* t = _GetTabPtr(table);
  if (!t) return -1;
  if (index == 0) {
    t->rel = 0;
    return 0;
  }
  s_index const* ip = (index & 0xffff00) != (table & 0xffff00) ? _GetIndPtr(index) : nullptr;
  if (!ip) return -1;
  for (int32_t i = 0; i < ip->d.nparts; ++i)
    if (relField(table, ip->parts[i]) < 0) return -1;
  t->rel = index & 0xffffff;
  return 0;
}

int32_t _GetRel(int32_t table) {
  s_table* t = _GetTabPtr(table);
  if (!t || t->rel == 0 || gInRel) return 0;
  int32_t index = t->rel;
  s_index const* ip = _GetIndPtr(index);
  char const* from = _GetTabBuff(table);
  if (!ip || !from || InitRecord(index & 0xffff00) != 0) return -1;
  char* to = _GetTabBuff(index);
  if (!to) return -1;
  for (int32_t i = 0; i < ip->d.nparts; ++i) {
    int32_t h = relField(table, ip->parts[i]);
    if (h < 0) return -1;  // the related table changed since
    s_field const* f = _GetFldPtr(h);
    s_field const* kf = _GetFldPtr(ip->parts[i].field);
    int32_t size = dbElemSize(f->d.f_itype, f->d.len);
    std::memcpy(to + kf->d.offset, from + f->d.offset, size_t(size));
  }
  gInRel = true;
  int32_t r = GetRecord(index, 1, 0, 0);
  gInRel = false;
  if (r < 0) {
    InitRecord(index & 0xffff00);
    return -1;
  }
  return r;
}
