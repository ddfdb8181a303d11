// Encoder of local schema descriptor files for tests (see DescrEncoder.h).
#include "DescrEncoder.h"

#include <zfound/AnyValue.h>
#include <zfound/Expr.h>
#include <zfound/InCheck.h>
#include <zfound/LoopConnection.h>
#include <zfound/Portable.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

namespace zftest {

namespace {

constexpr uint32_t kNone = 0xffffffffu;

void put16(Bytes& b, size_t at, uint32_t v) { stLe16(v, &b[at]); }
void put32(Bytes& b, size_t at, uint32_t v) { stLe32(v, &b[at]); }
void add16(Bytes& b, uint32_t v) {
  b.resize(b.size() + 2);
  put16(b, b.size() - 2, v);
}
void add32(Bytes& b, uint32_t v) {
  b.resize(b.size() + 4);
  put32(b, b.size() - 4, v);
}

struct Area {
  Bytes b;
  uint32_t item(uint8_t const* p, size_t n) {
    uint32_t at = uint32_t(b.size());
    b.insert(b.end(), p, p + n);
    while (b.size() % 4) b.push_back(' ');
    return at;
  }
  uint32_t text(Text const& t) {
    if (!t) return kNone;
    return item(reinterpret_cast<uint8_t const*>(t->c_str()), t->size() + 1);
  }
  uint32_t bytes(Bytes const& v) { return v.empty() ? kNone : item(v.data(), v.size()); }
  uint32_t longs(std::vector<int32_t> const& v) {
    if (v.empty()) return kNone;
    Bytes tmp(v.size() * 4);
    for (size_t i = 0; i < v.size(); ++i) put32(tmp, 4 * i, uint32_t(v[i]));
    return item(tmp.data(), tmp.size());
  }
};

}  // namespace

Bytes encodeDescriptor(EncSchema const& s) {
  Area a;
  // Part 1.
  uint32_t schLongs = a.longs(s.longs);
  std::vector<uint32_t> enumName;
  std::vector<std::vector<uint32_t>> items;
  for (auto const& e : s.enums) {
    enumName.push_back(a.text(e.name));
    items.emplace_back();
    for (auto const& it : e.items) items.back().push_back(a.text(it.first));
  }
  struct TOff {
    uint32_t longs = kNone, check = kNone, descr = kNone;
    std::vector<std::vector<uint32_t>> f;  // check, mask, default, incheck, name, inctext, descr
    std::vector<uint32_t> ix;
  };
  std::vector<TOff> to(s.tables.size());
  for (size_t t = 0; t < s.tables.size(); ++t) {
    auto const& tb = s.tables[t];
    if (!tb.present) continue;
    to[t].longs = a.longs(tb.longs);
    to[t].check = a.bytes(tb.check);
    for (auto const& f : tb.fields) {
      std::vector<uint32_t> o(7, kNone);
      o[0] = a.bytes(f.check);
      o[1] = a.text(f.mask);
      o[2] = a.bytes(f.deflt);
      o[3] = a.bytes(f.incheck);
      o[4] = a.text(f.name);
      o[5] = a.text(f.inctext);
      to[t].f.push_back(o);
    }
  }
  uint32_t part1 = uint32_t(a.b.size());
  // Part 2.
  uint32_t schDescr = a.text(s.descr);
  for (size_t t = 0; t < s.tables.size(); ++t) {
    auto const& tb = s.tables[t];
    if (!tb.present) continue;
    to[t].descr = a.text(tb.descr);
    for (size_t i = 0; i < tb.fields.size(); ++i) to[t].f[i][6] = a.text(tb.fields[i].descr);
    for (auto const& ix : tb.indexes) to[t].ix.push_back(a.text(ix.name));
  }

  Bytes out(72, 0);
  if (s.patternUnlisted)
    for (size_t i = 0; i < 72; ++i) out[i] = uint8_t(0xa0 + i);
  put16(out, 0, s.magic);
  put16(out, 2, s.lockuid);
  put16(out, 4, s.version);
  std::memset(&out[34], 0, 10);
  std::memcpy(&out[34], s.name.data(), std::min<size_t>(10, s.name.size()));
  put32(out, 48, schDescr);
  out[52] = uint8_t(s.tables.size() + 1);
  put32(out, 56, uint32_t(a.b.size()));
  put16(out, 60, part1);
  put32(out, 64, schLongs);
  put16(out, 68, uint32_t(s.longs.size()));
  out[70] = uint8_t(s.enums.size());
  out.insert(out.end(), a.b.begin(), a.b.end());
  for (size_t e = 0; e < s.enums.size(); ++e) {
    add32(out, enumName[e]);
    add32(out, uint32_t(s.enums[e].items.size()));
    for (size_t i = 0; i < s.enums[e].items.size(); ++i) {
      add32(out, items[e][i]);
      add32(out, uint32_t(s.enums[e].items[i].second));
    }
  }
  for (size_t t = 0; t < s.tables.size(); ++t) {
    auto const& tb = s.tables[t];
    size_t r = out.size();
    out.resize(r + 44, 0);
    if (!tb.present) continue;
    std::memcpy(&out[r], tb.name.data(), std::min<size_t>(10, tb.name.size()));
    put32(out, r + 16, to[t].descr);
    put16(out, r + 20, tb.flags);
    out[r + 22] = uint8_t(tb.fields.size());
    out[r + 23] = uint8_t(tb.indexes.size());
    put16(out, r + 24, tb.len);
    put32(out, r + 28, uint32_t(tb.size));
    put32(out, r + 32, to[t].longs);
    put16(out, r + 36, uint32_t(tb.longs.size()));
    put32(out, r + 40, to[t].check);
    for (size_t i = 0; i < tb.fields.size(); ++i) {
      auto const& f = tb.fields[i];
      auto const& o = to[t].f[i];
      size_t q = out.size();
      out.resize(q + 44, 0);
      put32(out, q, o[4]);
      put32(out, q + 4, o[6]);
      put16(out, q + 8, f.dim);
      put16(out, q + 10, f.offset);
      put16(out, q + 12, f.type);
      put16(out, q + 14, f.itype);
      put16(out, q + 16, f.attr);
      put16(out, q + 18, f.flags);
      put16(out, q + 20, f.len);
      out[q + 22] = f.dec;
      put32(out, q + 24, o[1]);
      put32(out, q + 28, o[2]);
      put32(out, q + 32, o[3]);
      put32(out, q + 36, o[0]);
      put32(out, q + 40, o[5]);
    }
    for (size_t i = 0; i < tb.indexes.size(); ++i) {
      auto const& ix = tb.indexes[i];
      add32(out, to[t].ix[i]);
      add16(out, ix.flags);
      add16(out, ix.klen);
      add16(out, uint32_t(ix.parts.size()));
      add16(out, ix.node);
      for (auto const& p : ix.parts) {
        add16(out, p.itype);
        add16(out, p.flags);
        out.push_back(p.len);
        out.push_back(p.spare);
        add16(out, p.offset);
        add32(out, uint32_t(p.field));
      }
    }
  }
  return out;
}

std::string writeDescriptorFile(std::string const& dir, EncSchema const& s) {
  std::string sdir = dir + "/" + s.name;
  mkdir(sdir.c_str(), 0777);
  std::string path = sdir + "/" + s.name + ".sco";
  Bytes b = encodeDescriptor(s);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f) {
    std::fwrite(b.data(), 1, b.size(), f);
    std::fclose(f);
  }
  return path;
}

Bytes exprBytes(char const* source) {
  Expr e{String(source)};
  Bytes b(size_t(e.storeLength()));
  e.store(b.data());
  return b;
}

namespace {

Bytes checkBytes(InCheck const& check) {
  LoopConnection c;
  check.send(c);
  std::vector<uint32_t> w = c.words();
  Bytes b(2 + 4 * w.size());
  put16(b, 0, uint32_t(b.size()));
  for (size_t i = 0; i < w.size(); ++i) stlong(int32_t(w[i]), &b[2 + 4 * i]);
  return b;
}

}  // namespace

Bytes inListBytes(std::vector<std::string> const& values) {
  InList l(false);
  for (auto const& v : values) {
    l.addKeyVal(AnyValue(String(v.c_str())));
    l.addDspFld(AnyValue(String(v.c_str())));
  }
  return checkBytes(l);
}

Bytes integrityBytes(uint32_t index) {
  Integrity i(false, ObjectId(0, index));
  return checkBytes(i);
}

int32_t privEntry(uint16_t id, uint16_t type, uint16_t priv) {
  return int32_t(uint32_t(id) | (uint32_t(type & 3) << 16) | (uint32_t(priv & 0x3fff) << 18));
}

EncSchema sampleSchema(std::string const& name) {
  EncSchema s;
  s.name = name;
  s.descr = "Shop data";
  s.patternUnlisted = true;
  s.longs = {privEntry(0, 2, 1)};
  s.enums = {{"colour", {{"red", 1}, {"green", 2}}}, {"size", {{"small", 10}}}};

  EncTable item;
  item.name = "item";
  item.descr = "Items for sale";
  item.longs = {privEntry(0, 2, 8)};
  item.check = exprBytes("1 + 1");
  // Every storage type with its element size, laid out after the prefix.
  struct Kind {
    char const* name;
    uint16_t type, itype, len, dim;
  } kinds[] = {{"code", 1, 0, 8, 0},  {"tiny", 0, 1, 2, 0},   {"qty", 0, 2, 4, 0},   {"count", 0, 3, 9, 0},
               {"price", 0, 4, 15, 0}, {"sold", 2, 5, 0, 0},  {"at", 3, 6, 0, 0},    {"ratio", 4, 7, 0, 0},
               {"total", 0, 8, 20, 0}, {"blob", 9, 9, 0, 0},  {"ref", 8, 10, 0, 0},  {"hist", 0, 3, 9, 3},
               {"flag", 5, 1, 1, 0},  {"whole", 10, 3, 9, 0}};
  uint16_t off = 4;
  static uint16_t const elem[] = {0, 1, 2, 4, 8, 2, 2, 8, 16, 12, 8};
  for (auto const& k : kinds) {
    EncField f;
    f.name = k.name;
    f.descr = std::string("The ") + k.name;
    f.type = k.type;
    f.itype = k.itype;
    f.len = k.len;
    f.dim = k.dim;
    f.offset = off;
    off = uint16_t(off + (k.itype == 0 ? k.len + 1 : elem[k.itype]) * (k.dim ? k.dim : 1));
    item.fields.push_back(f);
  }
  item.fields[0].mask = "3n-4n";
  item.fields[0].flags = 1;
  item.fields[2].deflt = exprBytes("7");
  item.fields[2].check = exprBytes("2 * 3");
  item.fields[4].dec = 2;
  item.fields[0].incheck = inListBytes({"A", "B"});
  item.fields[0].inctext = "A, B";
  item.fields[3].incheck = integrityBytes((1 << 8) | 0);  // through index 0 of "clients"
  item.len = off;
  EncIndex primary;
  primary.name = "byCode";
  primary.flags = 1;
  primary.klen = 8;
  primary.parts = {{0, 0, 8, 0, 4, (3 << 8) | 1}};
  EncIndex second;
  second.name = "byQty";
  second.flags = 0;
  second.klen = 6;
  second.node = 2048;
  second.parts = {{2, 0, 2, 0, item.fields[2].offset, (3 << 8) | 3},
                  {3, 0, 4, 0, item.fields[3].offset, (3 << 8) | 4}};
  item.indexes = {primary, second};

  EncTable clients;
  clients.name = "clients";
  clients.fields.push_back(EncField{});
  clients.fields[0].name = "id";
  clients.fields[0].itype = 3;
  clients.fields[0].len = 9;
  clients.len = 8;

  EncTable gone;
  gone.present = false;
  s.tables = {clients, gone, item};
  return s;
}

std::string const& prepareSampleSchema(std::string const& dir, std::string const& name) {
  startUpOnce("zephtest-1.0");
  writeDescriptorFile(dir, sampleSchema(name));
  return dir;
}

}  // namespace zftest
