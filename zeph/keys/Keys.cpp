// Keys of an index: building them from a record buffer and ordering them.
//
// The byte form is fixed for good, since index files hold it: each part is
// the field element's bytes as the record buffer holds them (a text up to its
// NUL, then zero bytes to the part's length), parts back to back, and for a
// non-unique index (flag bit 0 clear) the record number, big-endian, behind
// the key. Ordering goes part by part by storage type, then by record number.
#include <zeph/Dict.h>
#include <zeph/Keys.h>
#include <zeph/Records.h>

#include <zfound/Format.h>
#include <zfound/Num.h>
#include <zfound/Portable.h>

#include <cstring>

namespace {

s_index const* cmpIndex = nullptr;
int32_t cmpParts = 0;

bool unique(s_index const* ip) { return (ip->d.flags & 1) != 0; }

int32_t sign(int64_t v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// Orders one part of `len` bytes by storage type.
int32_t partCmp(uint16_t itype, uint8_t const* a, uint8_t const* b, int32_t len) {
  switch (itype) {
    case DB_IT_BYTE:
      if (len >= 1) return sign(int64_t(int8_t(a[0])) - int8_t(b[0]));
      break;
    case DB_IT_SHORT:
    case DB_IT_DATE:
    case DB_IT_TIME:
      if (len >= 2) {
        // A time runs from 0 (null) to 43200 (highest): unsigned.
        int32_t c = itype == DB_IT_TIME ? sign(int64_t(ldushort(a)) - ldushort(b))
                                        : sign(int64_t(ldshort(a)) - ldshort(b));
        if (c) return c;
        return len > 2 ? std::memcmp(a + 2, b + 2, size_t(len - 2)) : 0;
      }
      break;
    case DB_IT_LONG:
      if (len >= 4) {
        int32_t c = sign(int64_t(ldlong(a)) - ldlong(b));
        if (c) return c;
        return len > 4 ? std::memcmp(a + 4, b + 4, size_t(len - 4)) : 0;
      }
      break;
    case DB_IT_DOUBLE:
    case DB_IT_FLOAT:
      if (len >= 8) {
        double x = lddbl(a), y = lddbl(b);
        if (x < y) return -1;
        if (x > y) return 1;
        return 0;
      }
      break;
    case DB_IT_NUM:
      if (len >= 16) {
        Num x, y;
        char const* pa = reinterpret_cast<char const*>(a);
        char const* pb = reinterpret_cast<char const*>(b);
        if (x.load(pa) && y.load(pb)) return sign(NumCmp(&x, &y));
      }
      break;
    default:
      break;
  }
  int c = std::memcmp(a, b, size_t(len));
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int32_t compare(s_index const* ip, int32_t nparts, uint8_t const* a, uint8_t const* b) {
  int32_t at = 0;
  bool all = nparts <= 0 || nparts >= ip->d.nparts;
  int32_t n = all ? ip->d.nparts : nparts;
  for (int32_t i = 0; i < n; ++i) {
    s_index_field const& p = ip->parts[i];
    int32_t c = partCmp(p.itype, a + at, b + at, p.len);
    if (c) return c;
    at += p.len;
  }
  if (all && !unique(ip)) return sign(int64_t(ldlong(a + at)) - ldlong(b + at));
  return 0;
}

}  // namespace

int32_t _BuildKey(char* key, s_index const* ip, char const* record, int32_t recno) {
  int32_t at = 0;
  for (int32_t i = 0; i < ip->d.nparts; ++i) {
    s_index_field const& p = ip->parts[i];
    char const* src = record + p.offset;
    if (p.itype == DB_IT_TEXT) {
      size_t n = strnlen(src, p.len);
      std::memcpy(key + at, src, n);
      std::memset(key + at + n, 0, size_t(p.len) - n);
    } else {
      std::memcpy(key + at, src, p.len);
    }
    at += p.len;
  }
  if (!unique(ip)) {
    stlong(recno, key + at);
    at += 4;
  }
  return at;
}

void _UnBuildKey(char* record, s_index const* ip, char const* key) {
  int32_t at = 0;
  for (int32_t i = 0; i < ip->d.nparts; ++i) {
    s_index_field const& p = ip->parts[i];
    std::memcpy(record + p.offset, key + at, p.len);
    at += p.len;
  }
}

int32_t _CheckKey(s_index const* ip, char const* record, int32_t reclen) {
  if (!ip || !record || !ip->parts) return 0;
  for (int32_t i = 0; i < ip->d.nparts; ++i)
    if (int32_t(ip->parts[i].offset) + ip->parts[i].len > reclen) return 0;
  for (int32_t i = 0; i < ip->d.nparts; ++i) {
    s_index_field const& p = ip->parts[i];
    if (!(p.flags & 2)) continue;
    // The part's bytes as a field element of its storage type.
    s_field f{};
    f.d.offset = p.offset;
    f.d.f_itype = p.itype;
    f.d.len = p.itype == DB_IT_TEXT ? uint16_t(p.len > 0 ? p.len - 1 : 0) : p.len;
    if (_IsNull(&f, record, 0)) return 0;
  }
  return 1;
}

int32_t _KeyCmp(s_index const* ip, char const* a, char const* b) {
  return compare(ip, 0, reinterpret_cast<uint8_t const*>(a), reinterpret_cast<uint8_t const*>(b));
}

void _SetKeyCmpIp(s_index const* ip) {
  cmpIndex = ip;
  cmpParts = 0;
}

void _SetKeyParts(int32_t nparts) { cmpParts = nparts; }

int32_t XKeyCmp(void const* a, void const* b) {
  if (!cmpIndex) return 0;
  return compare(cmpIndex, cmpParts, static_cast<uint8_t const*>(a), static_cast<uint8_t const*>(b));
}

int32_t Locate(void const* key, void const* table, int32_t count, int32_t size,
               int32_t (*cmp)(void const*, void const*)) {
  int32_t lo = 0, hi = count - 1;
  auto base = static_cast<char const*>(table);
  while (lo <= hi) {
    int32_t mid = lo + (hi - lo) / 2;
    int32_t c = cmp(key, base + int64_t(mid) * size);
    if (c == 0) return mid;
    if (c < 0) hi = mid - 1;
    else lo = mid + 1;
  }
  return ~lo;
}

char* _KeyText(s_index const* ip, char const* key, char* out, size_t outSize) {
  if (!outSize) return out;
  out[0] = 0;
  size_t used = 0;
  int32_t at = 0;
  for (int32_t i = 0; i < ip->d.nparts && used + 1 < outSize; ++i) {
    s_index_field const& p = ip->parts[i];
    char piece[80];
    uint8_t const* b = reinterpret_cast<uint8_t const*>(key + at);
    switch (p.itype) {
      case DB_IT_TEXT: zfSnprintf(piece, sizeof piece, "%.*s", int(strnlen(key + at, p.len)), key + at); break;
      case DB_IT_BYTE: zfSnprintf(piece, sizeof piece, "%d", int(int8_t(b[0]))); break;
      case DB_IT_SHORT: case DB_IT_DATE: zfSnprintf(piece, sizeof piece, "%d", int(ldshort(b))); break;
      case DB_IT_TIME: zfSnprintf(piece, sizeof piece, "%d", int(ldushort(b))); break;
      case DB_IT_LONG: zfSnprintf(piece, sizeof piece, "%ld", long(ldlong(b))); break;
      default: {
        size_t k = 0;
        static char const hex[] = "0123456789abcdef";
        for (int32_t j = 0; j < p.len && k + 2 < sizeof piece; ++j) {
          piece[k++] = hex[b[j] >> 4];
          piece[k++] = hex[b[j] & 15];
        }
        piece[k] = 0;
      }
    }
    zfSnprintf(out + used, outSize - used, i ? " %s" : "%s", piece);
    used = std::strlen(out);
    at += p.len;
  }
  return out;
}

int32_t KeyDbField(int32_t index, int32_t part) {
  s_index const* ip = _GetIndPtr(index);
  if (!ip || part < 0 || part >= ip->d.nparts || !ip->parts) return -1;
  int32_t n = dbLowByte(ip->parts[part].field);
  // The part's field by the index handle's table: its own slot is current.
  return n > 0 ? (index & 0xffff00) | n : -1;
}
