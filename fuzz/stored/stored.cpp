// Fuzz target: the stored-form loaders. The first byte chooses the form: the
// 16-byte natural Num form (whatever loads must store back to the same
// bytes), the packed Num form of a declaration taken from the input
// (whatever loads must reload to the same value), the String and date/time
// forms in memory, and the FILE and stream forms read in a sequence the input
// chooses until one fails.
#include <zfound/Date.h>
#include <zfound/Num.h>
#include <zfound/Portable.h>
#include <zfound/Stream.h>
#include <zfound/String.h>
#include <zfound/Time.h>

#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void natural(std::string const& b) {
  if (b.size() < 16) return;
  Num n;
  char const* p = b.data();
  if (!n.load(p)) return;
  char back[16];
  char* q = back;
  n.store(q);
  if (std::memcmp(back, b.data(), 16) != 0) std::abort();  // one value, one byte form
}

void packed(zffuzz::Input& in) {
  int32_t length = in.u8(), decimals = in.u8();
  std::string b = in.rest();
  int32_t words = 0, decWords = 0;
  Num::intLength(length, decimals, words, decWords);
  if (words == 0 || size_t(words) * 2 > b.size()) return;
  Num n;
  char const* p = b.data();
  if (!n.load(p, length, decimals)) return;
  std::vector<char> out(size_t(words) * 2 + 16);
  char* q = out.data();
  if (!n.store(q, length, decimals)) std::abort();  // a loaded value fits its field
  Num back;
  char const* r = out.data();
  if (!back.load(r, length, decimals) || !(back == n)) std::abort();
}

void memoryForms(zffuzz::Input& in) {
  std::string b = in.rest();
  char const* p = b.data();
  char const* end = p + b.size();
  while (end - p >= 4) {
    uint8_t kind = uint8_t(*p) % 3;
    ++p;
    if (end - p < 4) break;
    if (kind == 0) {
      int32_t n = ldlong(p);
      if (n != 2147483647 && (n < 0 || n > end - p - 4)) break;  // the caller's bound
      String s;
      s.load(p);
    } else if (kind == 1) {
      if (end - p < 8) break;
      Date d;
      d.load(p);
      Time t;
      t.load(p);
    } else {
      Date d;
      d.loadShort(p);
      Time t;
      t.loadShort(p);
    }
  }
}

void fileForms(zffuzz::Input& in) {
  std::string order = in.text(64);
  std::string body = in.rest();
  std::string path = zffuzz::writeFile("stored.bin", body.data(), body.size());
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return;
  for (char c : order) {
    switch (uint8_t(c) % 8) {
      case 0: ldNum(f); break;
      case 1: ldString(f); break;
      case 2: ldInt(f); break;
      case 3: ldShort(f); break;
      case 4: ldBool(f); break;
      case 5: Date().load(f); break;
      case 6: Time().load(f); break;
      default: ldUnByte(f); break;
    }
    if (ldFailed(f)) break;
  }
  std::fclose(f);
}

void streamForms(zffuzz::Input& in) {
  std::string order = in.text(64);
  std::string body = in.rest();
  InputString is(String(long(body.size()), body.data()));
  for (char c : order) {
    switch (uint8_t(c) % 7) {
      case 0: { Num n; load(is, n); break; }
      case 1: { String s; load(is, s); break; }
      case 2: { int32_t v; load(is, v); break; }
      case 3: { double v; load(is, v); break; }
      case 4: { Date d; d.load(is); break; }
      case 5: { Time t; t.load(is); break; }
      default: { String s; is.get(s, '\n'); break; }
    }
    if (!is.ok()) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  zffuzz::Input in(data, size);
  switch (in.u8() % 5) {
    case 0: natural(in.rest()); break;
    case 1: packed(in); break;
    case 2: memoryForms(in); break;
    case 3: fileForms(in); break;
    default: streamForms(in); break;
  }
  return 0;
}
