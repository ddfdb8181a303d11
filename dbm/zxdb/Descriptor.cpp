// Reader and writer of the schema descriptor file (layout in Descriptor.h).
//
// The reader checks everything against the image before using it: offsets
// must fall inside the part of the string area they belong to, texts must end
// with a NUL before that part ends, counts must fit the file, fields must lie
// inside the record, key parts inside the record and naming a field of their
// table, node sizes must be positive multiples of 1024. A damaged header or
// area gives 9, a damaged table record 5. Nothing is read outside the image.
//
// The writer rebuilds the string area from scratch in the layout's order and
// keeps the bytes the layout does not list as they were read.
#include "Descriptor.h"

#include <zeph/Dict.h>
#include <zeph/Proc.h>
#include <zeph/Records.h>

#include <zfound/Expr.h>
#include <zfound/InCheck.h>
#include <zfound/Portable.h>

#include <array>
#include <cctype>
#include <cstring>

namespace zxdb {

char* keepText(s_schema* sp, char const* text) {
  if (!text) return nullptr;
  size_t n = std::strlen(text);
  return static_cast<char*>(keepBytes(sp, text, n + 1));
}

void* keepBytes(s_schema* sp, void const* bytes, size_t n) {
  void* p = def_Alloc(n ? n : 1, __FILE__, __LINE__);
  if (n) std::memcpy(p, bytes, n);
  sp->u.zx->allocs.push_back(p);
  return p;
}

namespace {

// ---- reading ----------------------------------------------------------------

struct Reader {
  std::vector<uint8_t> const& f;
  s_schema* sp;
  bool design;
  int64_t areaAt = kHeaderSize;
  int64_t part1 = 0;
  int64_t areaSize = 0;
  int64_t pos = 0;  // next record

  bool has(int64_t at, int64_t n) const { return at >= 0 && n >= 0 && at + n <= int64_t(f.size()); }
  uint32_t u32(int64_t at) const { return ldLe32(&f[size_t(at)]); }
  uint16_t u16(int64_t at) const { return ldLe16(&f[size_t(at)]); }

  // A text of part 1 (design false) or part 2 at area offset `off`: true and
  // `out` set (null for -1), false when damaged.
  bool text(uint32_t off, bool part2, char const*& out) {
    out = nullptr;
    if (off == 0xffffffffu) return true;
    int64_t lo = part2 ? part1 : 0, hi = part2 ? areaSize : part1;
    if (int64_t(off) < lo || int64_t(off) >= hi) return false;
    auto s = reinterpret_cast<char const*>(&f[size_t(areaAt + off)]);
    if (!memchr(s, 0, size_t(hi - off))) return false;
    if (part2 && !design) return true;
    out = keepText(sp, s);
    return true;
  }

  // A stored form in part 1 at `off`; its length is decided by its loader,
  // within what part 1 has left.
  bool blobAt(uint32_t off, uint8_t const*& at, int32_t& avail) {
    at = nullptr;
    avail = 0;
    if (off == 0xffffffffu) return true;
    if (int64_t(off) >= part1) return false;
    at = &f[size_t(areaAt + off)];
    avail = int32_t(part1 - off);
    return true;
  }

  bool longs(uint32_t off, uint16_t count, int32_t*& out, uint16_t& n) {
    out = nullptr;
    n = 0;
    if (off == 0xffffffffu || count == 0) return off == 0xffffffffu || count == 0;
    if (int64_t(off) + 4 * int64_t(count) > part1) return false;
    auto v = static_cast<int32_t*>(def_Alloc(4 * size_t(count), __FILE__, __LINE__));
    sp->u.zx->allocs.push_back(v);
    for (uint16_t i = 0; i < count; ++i) v[i] = int32_t(u32(areaAt + off + 4 * i));
    out = v;
    n = count;
    return true;
  }

  int32_t header(char const* name);
  int32_t enums();
  int32_t table(int32_t slot);
  int32_t field(s_table* t, s_field* fp, int64_t at);
  int32_t index(s_table* t, int32_t slot, s_index* ip);
};

// Keeps an expression stored form: loads it to learn its length and to have
// the object, then keeps exactly its bytes.
bool loadExpr(Reader& r, uint32_t off, s_blob& blob, Expr*& obj) {
  uint8_t const* at;
  int32_t avail;
  blob = s_blob{nullptr, 0};
  obj = nullptr;
  if (!r.blobAt(off, at, avail)) return false;
  if (!at) return true;
  obj = DbExpr(at, avail);
  if (!obj) return false;
  int32_t len = obj->storeLength();
  if (len <= 0 || len > avail) return false;
  blob.data = static_cast<uint8_t const*>(keepBytes(r.sp, at, size_t(len)));
  blob.len = len;
  return true;
}

int32_t Reader::header(char const* name) {
  if (!has(0, kHeaderSize)) return kNotDescriptor;
  std::memcpy(sp->raw, f.data(), kHeaderSize);
  sp->d.magic = u16(0);
  sp->d.lockuid = u16(2);
  sp->d.version = u16(4);
  char stored[11] = {};
  std::memcpy(stored, &f[34], 10);
  if (sp->d.magic != kMagic || std::strncmp(stored, name, 10) != 0) return kNotDescriptor;
  if (sp->d.version != kVersion) return kBadVersion;
  std::memcpy(sp->d.name, stored, 11);
  areaSize = u32(56) & 0xffff;
  part1 = u16(60);
  if (part1 > areaSize || !has(areaAt, areaSize)) return kNotDescriptor;
  sp->d.n_tables = f[52];
  if (sp->d.n_tables < 1) return kNotDescriptor;
  if (!text(u32(48), true, sp->d.descr)) return kNotDescriptor;
  if (!longs(u32(64), u16(68), sp->d.privs, sp->d.nprivs)) return kNotDescriptor;
  sp->d.nenums = f[70];
  pos = areaAt + areaSize;
  return 0;
}

int32_t Reader::enums() {
  if (sp->d.nenums == 0) return 0;
  sp->enums = static_cast<s_enum*>(def_Alloc(sizeof(s_enum) * sp->d.nenums, __FILE__, __LINE__));
  sp->u.zx->allocs.push_back(sp->enums);
  for (int32_t e = 0; e < sp->d.nenums; ++e) {
    if (!has(pos, 8)) return kNotDescriptor;
    s_enum& en = sp->enums[e];
    if (!text(u32(pos), false, en.name)) return kNotDescriptor;
    uint32_t n = u32(pos + 4);
    pos += 8;
    if (n > 65535 || !has(pos, 8 * int64_t(n))) return kNotDescriptor;
    en.nitems = int32_t(n);
    en.items = static_cast<s_enum_item*>(def_Alloc(sizeof(s_enum_item) * (n ? n : 1), __FILE__, __LINE__));
    sp->u.zx->allocs.push_back(en.items);
    for (uint32_t i = 0; i < n; ++i, pos += 8) {
      if (!text(u32(pos), false, en.items[i].text)) return kNotDescriptor;
      en.items[i].value = int32_t(u32(pos + 4));
    }
  }
  return 0;
}

int32_t Reader::field(s_table* t, s_field* fp, int64_t at) {
  std::memcpy(fp->raw, &f[size_t(at)], kFieldRecSize);
  auto& d = fp->d;
  d.dim = u16(at + 8);
  d.offset = u16(at + 10);
  d.type = u16(at + 12);
  d.f_itype = u16(at + 14);
  d.attr = u16(at + 16);
  d.flags = u16(at + 18);
  d.len = u16(at + 20);
  d.dec = f[size_t(at + 22)];
  int32_t elem = dbElemSize(d.f_itype, d.len);
  if (d.f_itype > DB_IT_OBJECT || elem <= 0) return kDamagedTable;
  int64_t size = int64_t(elem) * (d.dim ? d.dim : 1);
  if (d.offset < 4 || int64_t(d.offset) + size > t->d.len) return kDamagedTable;
  if (!text(u32(at), false, d.name) || !d.name || !d.name[0]) return kDamagedTable;
  if (!text(u32(at + 4), true, d.descr)) return kDamagedTable;
  if (!text(u32(at + 24), false, d.mask)) return kDamagedTable;
  if (!text(u32(at + 40), false, d.inctext)) return kDamagedTable;
  if (!loadExpr(*this, u32(at + 28), d.deflt, fp->deflt)) return kDamagedTable;
  if (!loadExpr(*this, u32(at + 36), d.check, fp->check)) return kDamagedTable;
  uint8_t const* ic;
  int32_t avail;
  if (!blobAt(u32(at + 32), ic, avail)) return kDamagedTable;
  if (ic) {
    fp->incheck = LoadInCheck(ic, avail);
    if (!fp->incheck) return kDamagedTable;
    int32_t len = ldLe16(ic);
    d.incheck.data = static_cast<uint8_t const*>(keepBytes(sp, ic, size_t(len)));
    d.incheck.len = len;
  }
  if (d.mask && !(sp->oflags & 0x20)) {
    char* both = nullptr;
    if (CompileMask(d.mask, &both) == 0) {
      fp->cmask = both;
      sp->u.zx->allocs.push_back(both);
    }
  }
  return 0;
}

int32_t Reader::index(s_table* t, int32_t slot, s_index* ip) {
  if (!has(pos, kIndexRecSize)) return kDamagedTable;
  if (!text(u32(pos), true, ip->d.name)) return kDamagedTable;
  ip->d.flags = u16(pos + 4);
  ip->d.klen = u16(pos + 6);
  ip->d.nparts = u16(pos + 8);
  ip->d.node = u16(pos + 10);
  pos += kIndexRecSize;
  if (ip->d.nparts == 0 || ip->d.node == 0 || ip->d.node % 1024 != 0) return kDamagedTable;
  if (!has(pos, kKeyPartSize * int64_t(ip->d.nparts))) return kDamagedTable;
  ip->parts = static_cast<s_index_field*>(def_Alloc(sizeof(s_index_field) * ip->d.nparts, __FILE__, __LINE__));
  sp->u.zx->allocs.push_back(ip->parts);
  int64_t klen = 0;
  for (int32_t k = 0; k < ip->d.nparts; ++k, pos += kKeyPartSize) {
    s_index_field& p = ip->parts[k];
    p.itype = u16(pos);
    p.flags = u16(pos + 2);
    p.len = f[size_t(pos + 4)];
    p.spare = f[size_t(pos + 5)];
    p.offset = u16(pos + 6);
    p.field = int32_t(u32(pos + 8));
    int32_t fno = dbLowByte(p.field);
    if (p.len == 0 || p.offset < 4 || int64_t(p.offset) + p.len > t->d.len) return kDamagedTable;
    if (fno < 1 || fno > t->d.nfields || dbTableSlot(p.field) != slot) return kDamagedTable;
    s_field const& fd = t->fields[fno - 1];
    int64_t fsize = int64_t(dbElemSize(fd.d.f_itype, fd.d.len)) * (fd.d.dim ? fd.d.dim : 1);
    if (p.offset < fd.d.offset || int64_t(p.offset) + p.len > fd.d.offset + fsize) return kDamagedTable;
    klen += p.len;
  }
  if (klen != ip->d.klen) return kDamagedTable;
  return 0;
}

int32_t Reader::table(int32_t slot) {
  if (!has(pos, kTableRecSize)) return kDamagedTable;
  int64_t at = pos;
  pos += kTableRecSize;
  if (f[size_t(at)] == 0) return 0;  // empty slot
  auto t = static_cast<s_table*>(def_Alloc(sizeof(s_table), __FILE__, __LINE__));
  sp->u.zx->allocs.push_back(t);
  sp->tables[slot].tab = t;
  t->schema = sp;
  std::memcpy(t->raw, &f[size_t(at)], kTableRecSize);
  std::memcpy(t->d.name, &f[size_t(at)], 10);
  t->d.name[10] = 0;
  sp->u.zx->badTable = t->d.name;
  t->d.flags = u16(at + 20);
  t->d.nfields = f[size_t(at + 22)];
  t->d.nindex = f[size_t(at + 23)];
  t->d.len = u16(at + 24);
  t->d.size = int32_t(u32(at + 28));
  if (!text(u32(at + 16), true, t->d.descr)) return kDamagedTable;
  if (!longs(u32(at + 32), u16(at + 36), t->d.privs, t->d.nprivs)) return kDamagedTable;
  if (!loadExpr(*this, u32(at + 40), t->d.check, t->check)) return kDamagedTable;
  if (t->d.nfields == 0 || t->d.len < 4) return kDamagedTable;
  if (!has(pos, kFieldRecSize * int64_t(t->d.nfields))) return kDamagedTable;
  t->fields = static_cast<s_field*>(def_Alloc(sizeof(s_field) * t->d.nfields, __FILE__, __LINE__));
  sp->u.zx->allocs.push_back(t->fields);
  for (int32_t i = 0; i < t->d.nfields; ++i, pos += kFieldRecSize)
    if (int32_t c = field(t, &t->fields[i], pos)) return c;
  t->nindexes = t->d.nindex;
  if (t->nindexes) {
    t->indexes = static_cast<s_index*>(def_Alloc(sizeof(s_index) * size_t(t->nindexes), __FILE__, __LINE__));
    sp->u.zx->allocs.push_back(t->indexes);
    for (int32_t i = 0; i < t->nindexes; ++i)
      if (int32_t c = index(t, slot, &t->indexes[i])) return c;
  }
  return 0;
}

// ---- writing ----------------------------------------------------------------

struct Area {
  std::vector<uint8_t> bytes;
  bool tooBig = false;

  void align() {
    while (bytes.size() % 4) bytes.push_back(' ');
  }
  uint32_t put(void const* p, size_t n) {
    if (!p) return 0xffffffffu;
    uint32_t at = uint32_t(bytes.size());
    auto b = static_cast<uint8_t const*>(p);
    bytes.insert(bytes.end(), b, b + n);
    align();
    if (bytes.size() > 65535) tooBig = true;
    return at;
  }
  uint32_t text(char const* s) { return s ? put(s, std::strlen(s) + 1) : 0xffffffffu; }
  uint32_t blob(s_blob const& b) { return b.data ? put(b.data, size_t(b.len)) : 0xffffffffu; }
  uint32_t longs(int32_t const* v, uint16_t n) {
    if (!v || !n) return 0xffffffffu;
    std::vector<uint8_t> tmp(4 * size_t(n));
    for (uint16_t i = 0; i < n; ++i) stLe32(uint32_t(v[i]), &tmp[4 * i]);
    return put(tmp.data(), tmp.size());
  }
};

bool stored(s_schema const* sp, int32_t slot) {
  tab_array const& ta = sp->tables[slot];
  return ta.tab && !ta.alias && !(ta.tab->d.flags & 1);
}

bool storedIndex(s_index const& ix) { return ix.d.nparts && ix.d.node && !(ix.d.flags & 2); }

struct Offsets {
  uint32_t longs = 0xffffffffu, check = 0xffffffffu, descr = 0xffffffffu;
  std::vector<std::array<uint32_t, 6>> f;  // check, mask, default, incheck, name, inctext
  std::vector<uint32_t> fdescr, ixname;
};

}  // namespace

int32_t readDescriptor(std::vector<uint8_t> const& file, char const* name, bool design, s_schema* sp) {
  Reader r{file, sp, design};
  if (int32_t c = r.header(name)) return c;
  if (int32_t c = r.enums()) return c;
  int32_t records = sp->d.n_tables - 1;
  if (records > kDbMaxTables) return kNotDescriptor;
  for (int32_t slot = 1; slot <= records; ++slot)
    if (int32_t c = r.table(slot)) return c;
  sp->u.zx->badTable.clear();
  sp->u.zx->designLoaded = design;
  return 0;
}

bool writeDescriptor(s_schema const* sp, std::vector<uint8_t>& out) {
  int32_t last = 0;
  for (int32_t s = 1; s <= kDbMaxTables; ++s)
    if (stored(sp, s)) last = s;

  Area area;
  uint32_t schLongs = area.longs(sp->d.privs, sp->d.nprivs);
  std::vector<uint32_t> enumName;
  std::vector<std::vector<uint32_t>> itemText;
  for (int32_t e = 0; e < sp->d.nenums; ++e)
    if (sp->enums[e].nitems < 0 || sp->enums[e].nitems > 65535) return false;
  for (int32_t e = 0; e < sp->d.nenums; ++e) {
    enumName.push_back(area.text(sp->enums[e].name));
    itemText.emplace_back();
    for (int32_t i = 0; i < sp->enums[e].nitems; ++i) itemText.back().push_back(area.text(sp->enums[e].items[i].text));
  }
  std::vector<Offsets> offs(size_t(last) + 1);
  for (int32_t s = 1; s <= last; ++s) {
    if (!stored(sp, s)) continue;
    s_table const* t = sp->tables[s].tab;
    Offsets& o = offs[size_t(s)];
    o.longs = area.longs(t->d.privs, t->d.nprivs);
    o.check = area.blob(t->d.check);
    for (int32_t i = 0; i < t->d.nfields; ++i) {
      auto const& d = t->fields[i].d;
      std::array<uint32_t, 6> a;
      a[0] = area.blob(d.check);
      a[1] = area.text(d.mask);
      a[2] = area.blob(d.deflt);
      a[3] = area.blob(d.incheck);
      a[4] = area.text(d.name);
      a[5] = area.text(d.inctext);
      o.f.push_back(a);
    }
  }
  size_t part1 = area.bytes.size();
  if (part1 > 65535) return false;
  uint32_t schDescr = area.text(sp->d.descr);
  for (int32_t s = 1; s <= last; ++s) {
    if (!stored(sp, s)) continue;
    s_table const* t = sp->tables[s].tab;
    Offsets& o = offs[size_t(s)];
    o.descr = area.text(t->d.descr);
    for (int32_t i = 0; i < t->d.nfields; ++i) o.fdescr.push_back(area.text(t->fields[i].d.descr));
    for (int32_t i = 0; i < t->nindexes; ++i)
      if (storedIndex(t->indexes[i])) o.ixname.push_back(area.text(t->indexes[i].d.name));
  }
  if (area.tooBig) return false;

  out.assign(sp->raw, sp->raw + kHeaderSize);
  stLe16(kMagic, &out[0]);
  stLe16(sp->d.lockuid, &out[2]);
  stLe16(kVersion, &out[4]);
  std::memset(&out[34], 0, 10);
  std::memcpy(&out[34], sp->d.name, strnlen(sp->d.name, 10));
  stLe32(schDescr, &out[48]);
  out[52] = uint8_t(last + 1);
  stLe32(uint32_t(area.bytes.size()), &out[56]);
  stLe16(uint32_t(part1), &out[60]);
  stLe32(schLongs, &out[64]);
  stLe16(sp->d.nprivs, &out[68]);
  out[70] = uint8_t(sp->d.nenums);
  out.insert(out.end(), area.bytes.begin(), area.bytes.end());

  auto put32 = [&](uint32_t v) {
    uint8_t b[4];
    stLe32(v, b);
    out.insert(out.end(), b, b + 4);
  };
  auto put16 = [&](uint32_t v) {
    uint8_t b[2];
    stLe16(v, b);
    out.insert(out.end(), b, b + 2);
  };
  for (int32_t e = 0; e < sp->d.nenums; ++e) {
    put32(enumName[size_t(e)]);
    put32(uint32_t(sp->enums[e].nitems));
    for (int32_t i = 0; i < sp->enums[e].nitems; ++i) {
      put32(itemText[size_t(e)][size_t(i)]);
      put32(uint32_t(sp->enums[e].items[i].value));
    }
  }
  for (int32_t s = 1; s <= last; ++s) {
    size_t at = out.size();
    out.resize(at + kTableRecSize, 0);
    if (!stored(sp, s)) continue;
    s_table const* t = sp->tables[s].tab;
    Offsets const& o = offs[size_t(s)];
    int32_t nstored = 0;
    for (int32_t i = 0; i < t->nindexes; ++i) nstored += storedIndex(t->indexes[i]);
    if (nstored > 255) return false;
    uint8_t* r = &out[at];
    std::memcpy(r, t->raw, kTableRecSize);
    std::memset(r, 0, 10);
    std::memcpy(r, t->d.name, strnlen(t->d.name, 10));
    stLe32(o.descr, r + 16);
    stLe16(t->d.flags, r + 20);
    r[22] = t->d.nfields;
    r[23] = uint8_t(nstored);
    stLe16(t->d.len, r + 24);
    stLe32(uint32_t(t->d.size), r + 28);
    stLe32(o.longs, r + 32);
    stLe16(t->d.nprivs, r + 36);
    stLe32(o.check, r + 40);
    for (int32_t i = 0; i < t->d.nfields; ++i) {
      s_field const& fp = t->fields[i];
      size_t fa = out.size();
      out.insert(out.end(), fp.raw, fp.raw + kFieldRecSize);
      uint8_t* q = &out[fa];
      auto const& a = o.f[size_t(i)];
      stLe32(a[4], q);
      stLe32(o.fdescr[size_t(i)], q + 4);
      stLe16(fp.d.dim, q + 8);
      stLe16(fp.d.offset, q + 10);
      stLe16(fp.d.type, q + 12);
      stLe16(fp.d.f_itype, q + 14);
      stLe16(fp.d.attr, q + 16);
      stLe16(fp.d.flags, q + 18);
      stLe16(fp.d.len, q + 20);
      q[22] = fp.d.dec;
      stLe32(a[1], q + 24);
      stLe32(a[2], q + 28);
      stLe32(a[3], q + 32);
      stLe32(a[0], q + 36);
      stLe32(a[5], q + 40);
    }
    int32_t k = 0;
    for (int32_t i = 0; i < t->nindexes; ++i) {
      s_index const& ix = t->indexes[i];
      if (!storedIndex(ix)) continue;
      put32(o.ixname[size_t(k++)]);
      put16(ix.d.flags);
      put16(ix.d.klen);
      put16(ix.d.nparts);
      put16(ix.d.node);
      for (int32_t p = 0; p < ix.d.nparts; ++p) {
        s_index_field const& kp = ix.parts[p];
        put16(kp.itype);
        put16(kp.flags);
        out.push_back(kp.len);
        out.push_back(kp.spare);
        put16(kp.offset);
        put32(uint32_t(kp.field));
      }
    }
  }
  return true;
}

}  // namespace zxdb
