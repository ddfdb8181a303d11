// National collating sequences.
//
// Invariants: letters hold positions 32..k-1 and k + ndouble <= 256, so a
// letter's position never reaches the top codes 256 - n .. 255 used for the
// second characters of two-character letters (n, the length of one first
// character's list, is at most ndouble); each CollateSet owns its list.
// Reading stops at the first damage, so no table is written out of range.
#include <zfound/CollateSet.h>
#include <zfound/OutOfMemory.h>

#include <cstring>
#include <new>

#include <zfound/Message.h>
#include <zfound/Stream.h>

namespace {
void reportDamage(String const& text) { displayError(text); }
}  // namespace

CollateSet::CollateSet(String const& path) : list(nullptr), ndouble(0), ok_(true) {
  name_ = path.baseFullName();
  std::memset(posToChar, 0, sizeof posToChar);
  std::memset(charToPos, 0, sizeof charToPos);
  read(path);
}

CollateSet::CollateSet(CollateSet const& c) : list(nullptr) { copyFrom(c); }

CollateSet& CollateSet::operator=(CollateSet const& c) {
  if (this != &c) {
    freeList();
    copyFrom(c);
  }
  return *this;
}

CollateSet::~CollateSet() { freeList(); }

void CollateSet::freeList() {
  while (list != nullptr) {
    DoubleChar* n = list->next;
    delete list;
    list = n;
  }
}

void CollateSet::copyFrom(CollateSet const& c) {
  name_ = c.name_;
  std::memcpy(posToChar, c.posToChar, sizeof posToChar);
  std::memcpy(charToPos, c.charToPos, sizeof charToPos);
  ndouble = c.ndouble;
  ok_ = c.ok_;
  DoubleChar** tail = &list;
  for (DoubleChar const* d = c.list; d != nullptr; d = d->next) {
    DoubleChar* n = new (std::nothrow) DoubleChar(*d);
    if (n == nullptr) zfOutOfMemory(sizeof(DoubleChar));
    n->next = nullptr;
    *tail = n;
    tail = &n->next;
  }
}

DoubleChar const* CollateSet::listOf(unsigned char c) const {
  for (DoubleChar const* d = list; d != nullptr; d = d->next)
    if (d->ch == c) return d;
  return nullptr;
}

bool CollateSet::addDouble(unsigned char c1, unsigned char c2) {
  DoubleChar* d = const_cast<DoubleChar*>(listOf(c1));
  if (d == nullptr) {
    d = new (std::nothrow) DoubleChar{c1, 0, {}, nullptr};
    if (d == nullptr) zfOutOfMemory(sizeof(DoubleChar));
    // Appended, so that the list keeps the order of the file.
    DoubleChar** tail = &list;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = d;
  }
  if (d->nch >= DoubleChar::kMax) return false;
  d->second[d->nch++] = c2;
  return true;
}

void CollateSet::read(String const& path) {
  for (int i = 0; i < 32; ++i) {
    charToPos[i] = int16_t(i);
    charToPos[0x80 + i] = int16_t(32 + i);
    posToChar[i] = (unsigned char)i;
    posToChar[32 + i] = (unsigned char)(0x80 + i);
  }
  if (!path) {
    reportDamage(String("Can't open file ") + path);
    ok_ = false;
    return;
  }
  InputFile in(path, String());
  if (in.withError()) {
    reportDamage(String("Can't open file ") + path);
    ok_ = false;
    return;
  }
  int k = 32;
  String line;
  for (;;) {
    in.get(line, '\n');
    if (in.withError()) {
      ok_ = false;
      break;
    }
    bool last = in.eof();
    if (line.isNull() || line[0] == '#') {
      if (last) break;
      continue;
    }
    long tab = line.index('\t');
    long len = tab < 0 ? line.length() : tab;
    // The letter's position must stay below the top codes, whose number
    // grows with this very line when it holds a two-character letter.
    int doublesAfter = ndouble + (len == 2 ? 1 : 0);
    if (k + doublesAfter > 255) {
      reportDamage(String("Only up to ") + toString(256 - doublesAfter) + " letters allowed");
      ok_ = false;
      return;
    }
    if (len > 2 || len == 0) {
      reportDamage(String("Only up to two characters per letter are allowed"));
      ok_ = false;
      return;
    }
    unsigned char c1 = (unsigned char)line[0];
    posToChar[k] = c1;
    if (charToPos[c1] == 0) charToPos[c1] = int16_t(k);
    else if (charToPos[c1] == -1) charToPos[c1] = int16_t(-k);
    if (len == 2) {
      unsigned char c2 = (unsigned char)line[1];
      if (!addDouble(c1, c2)) {
        reportDamage(String("Only up to ") + toString(long(DoubleChar::kMax)) +
                     " second characters per letter are allowed");
        ok_ = false;
        return;
      }
      // The second character keeps its own position, if any, as -k.
      if (charToPos[c2] >= 0) charToPos[c2] = int16_t(charToPos[c2] == 0 ? -1 : -charToPos[c2]);
      ++ndouble;
    }
    ++k;
    if (last) break;
  }
}

void CollateSet::map(char* out, char const* in, long n) const {
  for (long i = 0; i < n; ++i) {
    unsigned char c = (unsigned char)in[i];
    int v = charToPos[c];
    if (v < 0) {
      int k = -v;
      v = k;
      if (i > 0) {
        DoubleChar const* d = listOf((unsigned char)in[i - 1]);
        for (int j = 0; d != nullptr && j < d->nch; ++j)
          if (d->second[j] == c) {
            v = 256 - d->nch + j;
            break;
          }
      }
    }
    out[i] = char(v);
  }
}

void CollateSet::unMap(char* out, char const* in, long n) const {
  for (long i = 0; i < n; ++i) {
    int v = (unsigned char)in[i];
    if (v <= 255 - ndouble || i == 0) {
      out[i] = char(posToChar[v]);
      continue;
    }
    DoubleChar const* d = listOf((unsigned char)out[i - 1]);
    int j = d != nullptr ? v + d->nch - 256 : -1;
    out[i] = d != nullptr && j >= 0 && j < d->nch ? char(d->second[j]) : char(v);
  }
}

String CollateSet::map(String const& s) const {
  if (!s) return s;
  String r;
  char* out = r.getBuffer(s.length());
  map(out, toCharPtr(s), s.length());
  return r;
}

String CollateSet::unMap(String const& s) const {
  if (!s) return s;
  String r;
  char* out = r.getBuffer(s.length());
  unMap(out, toCharPtr(s), s.length());
  return r;
}
