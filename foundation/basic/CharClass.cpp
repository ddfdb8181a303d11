// The character class table, case mappings, the national-letter/ASCII
// translation, 32-bit saturating arithmetic, integer-to-text conversion,
// text search, the check digit and the plain-function object-id tests.
//
// The class table is built at compile time. Case mappings only move a letter
// to a letter of the other case, so 0xDF and 0xFF (no upper-case partner in
// the table) and the signs 0xD7 and 0xF7 stay as they are. The translation
// tables and the check-digit settings are read on first use.
#include <zfound/CharClass.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <zfound/EnvVar.h>

namespace {

constexpr unsigned char classOf(int c) {
  if (c < 0) return 0;  // end of file
  unsigned char k = 0;
  if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) k |= ZFX_CNTRL;
  if (c == ' ' || (c >= 9 && c <= 13)) k |= ZFX_SPACE;
  if (c == ' ') k |= ZFX_BLANK;
  if (c >= '0' && c <= '9') k |= ZFX_DIGIT | ZFX_XDIGIT;
  if (c >= 'A' && c <= 'Z') k |= ZFX_UPPER;
  if (c >= 'a' && c <= 'z') k |= ZFX_LOWER;
  if ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')) k |= ZFX_XDIGIT;
  if ((c > 0x20 && c < 0x7F) && !(k & (ZFX_DIGIT | ZFX_UPPER | ZFX_LOWER))) k |= ZFX_PUNCT;
  if (c >= 0xA0 && c <= 0xBF) k |= ZFX_PUNCT;
  if (c == 0xD7 || c == 0xF7) k |= ZFX_PUNCT;
  else if (c >= 0xC0 && c <= 0xDE) k |= ZFX_UPPER;
  else if (c >= 0xDF) k |= ZFX_LOWER;
  return k;
}

struct CtypeTable {
  unsigned char t[257];
  constexpr CtypeTable() : t{} {
    for (int i = 0; i < 257; ++i) t[i] = classOf(i - 1);
  }
};
constexpr CtypeTable kCtype;

// National-to-ASCII table for 0xC0..0xFF and its reverse for 0x80..0xFF.
unsigned char asciiTab[64];
unsigned char reverseTab[128];
bool asciiReady = false;

char const kBuiltinAscii[] =
    "AAAAAAACEEEEIIII"
    " NOOOOOOOUUUUY  "
    "aaaaaaaceeeeiiii"
    " nooooooouuuuy  ";

void loadAsciiTables() {
  if (asciiReady) return;
  std::memcpy(asciiTab, kBuiltinAscii, 64);
  char const* dir = readEnvVar("ZEPHRA");
  char const* lang = readEnvVar("LANGUAGE");
  std::string path = std::string(dir ? dir : "/usr/zephra") + "/data/" + (lang ? lang : "english") + "/codetab.bin";
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    unsigned char buf[64];
    if (std::fread(buf, 1, 64, f) == 64) std::memcpy(asciiTab, buf, 64);
    std::fclose(f);
  }
  for (int i = 0; i < 128; ++i) reverseTab[i] = static_cast<unsigned char>(0x80 + i);
  bool seen[128] = {};
  for (int i = 0; i < 64; ++i) {
    unsigned char v = asciiTab[i];
    if (v >= 0x80 && !seen[v - 0x80]) {
      reverseTab[v - 0x80] = static_cast<unsigned char>(0xC0 + i);
      seen[v - 0x80] = true;
    }
  }
  asciiReady = true;
}

// A char or an int character code as 0..255 (or -1 for end of file).
int code(int c) { return (c < -1 || c > 255) ? (c & 0xFF) : c; }

}  // namespace

unsigned char const _zfx_ctype[257] = {
#define ROW(i) kCtype.t[i], kCtype.t[i + 1], kCtype.t[i + 2], kCtype.t[i + 3], \
               kCtype.t[i + 4], kCtype.t[i + 5], kCtype.t[i + 6], kCtype.t[i + 7]
#define ROW64(i) ROW(i), ROW(i + 8), ROW(i + 16), ROW(i + 24), ROW(i + 32), ROW(i + 40), ROW(i + 48), ROW(i + 56)
    ROW64(0), ROW64(64), ROW64(128), ROW64(192), kCtype.t[256]
#undef ROW64
#undef ROW
};

// --- characters ----------------------------------------------------------

int toUpperCase(int c) {
  c = code(c);
  if (c < 0) return c;
  if ((_zfx_ctype[c + 1] & ZFX_LOWER) && c >= 32 && (_zfx_ctype[c - 32 + 1] & ZFX_UPPER)) return c - 32;
  return c;
}

char toUpperCase(char c) { return char(toUpperCase(int(static_cast<unsigned char>(c)))); }

int toLowerCase(int c) {
  c = code(c);
  if (c < 0) return c;
  if ((_zfx_ctype[c + 1] & ZFX_UPPER) && c + 32 <= 255 && (_zfx_ctype[c + 32 + 1] & ZFX_LOWER)) return c + 32;
  return c;
}

char toLowerCase(char c) { return char(toLowerCase(int(static_cast<unsigned char>(c)))); }

int memCmpI(char const* a, char const* b, long n) {
  for (long i = 0; i < n; ++i) {
    int x = toUpperCase(int(static_cast<unsigned char>(a[i])));
    int y = toUpperCase(int(static_cast<unsigned char>(b[i])));
    if (x != y) return x - y;
  }
  return 0;
}

int zeph_toascii(int c) {
  c = code(c);
  if (c < 0xC0) return c;
  loadAsciiTables();
  return asciiTab[c - 0xC0];
}

int fromascii(int c) {
  c = code(c);
  if (c < 0x80) return c;
  loadAsciiTables();
  return reverseTab[c - 0x80];
}

void StrToAscii(char* s) {
  for (; s != nullptr && *s; ++s) *s = char(zeph_toascii(static_cast<unsigned char>(*s)));
}

void StrFromAscii(char* s) {
  for (; s != nullptr && *s; ++s) *s = char(fromascii(static_cast<unsigned char>(*s)));
}

void resetAsciiTables() { asciiReady = false; }

// --- search ----------------------------------------------------------------

char const* strStr(char const* text, char const* pattern) {
  if (text == nullptr || pattern == nullptr || *text == '\0' || *pattern == '\0') return nullptr;
  return std::strstr(text, pattern);
}

char const* strStrBackw(char const* start, char const* pattern, char const* end) {
  if (start == nullptr || pattern == nullptr || end == nullptr || *pattern == '\0') return nullptr;
  size_t n = std::strlen(pattern);
  for (char const* p = end - 1; p >= start; --p)
    if (std::strncmp(p, pattern, n) == 0) return p;
  return nullptr;
}

// --- 32-bit integers -----------------------------------------------------

void swap(int32_t& a, int32_t& b) {
  int32_t t = a;
  a = b;
  b = t;
}

int32_t toInt(char const* s) { return s == nullptr ? 0 : int32_t(std::atol(s)); }

char const* toCharPtr(long value, long width, long base) {
  static char buf[256];
  static char const digits[] = "0123456789abcdef";
  bool isSigned = base < 0;
  long b = isSigned ? -base : base;
  if (b < 2 || b > 16) b = 10;
  int32_t v32 = int32_t(uint32_t(uint64_t(value)));
  buf[0] = '\0';
  if (b == 10 && v32 == INT32_MIN) return buf;
  bool neg = isSigned && v32 < 0;
  uint32_t u = neg ? 0u - uint32_t(v32) : uint32_t(v32);
  char tmp[40];
  int n = 0;
  do {
    tmp[n++] = digits[u % uint32_t(b)];
    u /= uint32_t(b);
  } while (u != 0);
  long w = width < 0 ? -width : width;
  if (w > 255) w = 255;
  long len = n + (neg ? 1 : 0);
  long pad = w > len ? w - len : 0;
  long o = 0;
  if (width < 0) {
    if (neg) buf[o++] = '-';
    for (long i = 0; i < pad; ++i) buf[o++] = '0';
  } else {
    for (long i = 0; i < pad; ++i) buf[o++] = ' ';
    if (neg) buf[o++] = '-';
  }
  while (n > 0) buf[o++] = tmp[--n];
  buf[o] = '\0';
  return buf;
}

// --- check digits ----------------------------------------------------------

namespace {

struct CheckSettings {
  bool loaded = false;
  int32_t weights = 1397139713;
  int32_t modulus = 10;
  int32_t method = 0;
};
CheckSettings checkSettings;

void loadCheckSettings() {
  if (checkSettings.loaded) return;
  checkSettings = CheckSettings();
  checkSettings.loaded = true;
  char const* v = readEnvVar("CHECKDIGIT");
  if (v == nullptr || *v == '\0') return;
  char* end = nullptr;
  long w = std::strtol(v, &end, 10);
  checkSettings.weights = int32_t(w);
  if (*end == ':') {
    long m = std::strtol(end + 1, &end, 10);
    if (m > 0 && m <= INT32_MAX) checkSettings.modulus = int32_t(m);
    if (*end == ':') checkSettings.method = int32_t(std::strtol(end + 1, &end, 10));
  }
}

}  // namespace

int32_t CheckDigit(int32_t n) {
  if (n < 0) return -1;
  loadCheckSettings();
  uint32_t w = uint32_t(checkSettings.weights < 0 ? -int64_t(checkSettings.weights) : checkSettings.weights);
  int64_t sum = 0;
  for (int32_t m = n; m > 0; m /= 10, w /= 10) {
    int32_t p = (m % 10) * int32_t(w % 10);
    if (checkSettings.method == 0) sum += p % 10;
    else if (checkSettings.method == 1) sum += p;
    else sum += p / 10 + p % 10;
  }
  int32_t mod = checkSettings.modulus;
  int32_t r = int32_t((mod - sum % mod) % mod);
  return r > 9 ? -1 : r;
}

void SetCheckFactor(int32_t weights) {
  loadCheckSettings();
  checkSettings.weights = weights;
}

void TEST_resetCheckDigit() { checkSettings.loaded = false; }

