// SubString and StrCursor: slices and fields of a String.
//
// A SubString's start and length are 16-bit; a position that does not fit
// gives the empty slice at 0 with no owner, which reads as null and takes
// no writes. Field search never reads past the owner's
// length. A StrCursor's position is -1 once it has passed either end.
#include <zfound/SubString.h>

#include <cstring>
#include <string>

#include <zfound/CharClass.h>

namespace {

char const* const kHighPtr = reinterpret_cast<char const*>(uintptr_t(1));

// The first occurrence of sep[0..seplen) in text[from..len), or -1.
long findSep(char const* text, long len, char const* sep, long seplen, long from) {
  for (long i = from; i + seplen <= len; ++i)
    if (std::memcmp(text + i, sep, size_t(seplen)) == 0) return i;
  return -1;
}

}  // namespace

// --- SubString -----------------------------------------------------------

SubString::SubString(String const* s, long from, long len) : str_(s), from_(0), len_(0) {
  if (from < 0 || from > String::kMaxLength || len < 0 || len > String::kMaxLength) {
    // A slice no text can hold: it reads as null and writing it changes
    // nothing (it must not land at position 0 instead).
    str_ = nullptr;
    return;
  }
  from_ = uint16_t(from);
  len_ = uint16_t(len);
}

SubString::SubString(String const* s, String const& sep, long n) : str_(s), from_(0), len_(0) {
  if (s == nullptr || !*s || !sep) return;
  make(*s, toCharPtr(sep), uint16_t(sep.length()), n);
}

SubString::SubString(String const* s, char const* sep, long n) : str_(s), from_(0), len_(0) {
  if (s == nullptr || !*s || sep == nullptr || sep == kHighPtr || *sep == '\0') return;
  size_t sl = std::strlen(sep);
  if (sl > size_t(String::kMaxLength)) return;
  make(*s, sep, uint16_t(sl), n);
}

void SubString::make(String const& s, char const* sep, uint16_t seplen, long n) {
  char const* text = toCharPtr(s);
  long len = s.length();
  from_ = 0;
  len_ = 0;
  if (seplen == 0) return;
  if (n < 0) {
    long fields = 1;
    for (long i = findSep(text, len, sep, seplen, 0); i >= 0; i = findSep(text, len, sep, seplen, i + seplen))
      ++fields;
    n += fields;
    if (n < 0) return;
  }
  long pos = 0;
  for (long k = 0; k < n; ++k) {
    long hit = findSep(text, len, sep, seplen, pos);
    if (hit < 0) {
      from_ = uint16_t(len);
      return;
    }
    pos = hit + seplen;
  }
  if (pos >= len || findSep(text, len, sep, seplen, pos) == pos) {
    from_ = uint16_t(len);
    return;
  }
  long end = findSep(text, len, sep, seplen, pos);
  if (end < 0) end = len;
  from_ = uint16_t(pos);
  len_ = uint16_t(end - pos);
}

String::String(SubString const& sub) : p(nullptr) {
  String const* o = sub.str_;
  if (o == nullptr) return;
  if (!*o) {
    *this = *o;
    return;
  }
  long olen = o->length();
  if (sub.from_ < olen && sub.len_ > 0) {
    long n = sub.len_;
    if (n > olen - sub.from_) n = olen - sub.from_;
    *this = String(n, toCharPtr(*o) + sub.from_);
  }
}

SubString& SubString::operator=(String const& v) {
  String* o = const_cast<String*>(str_);
  if (o == nullptr || o->isHighest()) return *this;
  if (v.isHighest()) {
    *o = v;
    return *this;
  }
  long olen = o->length();
  char const* t = toCharPtr(*o);
  std::string out;
  if (!o->isNull() && long(from_) + long(len_) <= olen) {
    out.assign(t, from_);
    out.append(toCharPtr(v), size_t(v.length()));
    out.append(t + from_ + len_, size_t(olen - from_ - len_));
  } else {
    long keep = from_ < olen ? from_ : olen;
    out.assign(t, size_t(keep));
    out.append(size_t(from_ - keep), ' ');
    out.append(toCharPtr(v), size_t(v.length()));
  }
  long n = long(out.size());
  if (n > String::kMaxLength) n = String::kMaxLength;
  *o = String(n, out.data());
  return *this;
}

// --- StrCursor -------------------------------------------------------------

StrCursor::StrCursor(String const& text, String const& sep) : str_(text), sep_(sep), len_(-1), pos_(-1) {
  reStart();
}

StrCursor::StrCursor(String const& text) : str_(text), sep_("\t"), len_(-1), pos_(-1) { reStart(); }

void StrCursor::reStart() {
  len_ = -1;
  pos_ = (sep_ && !str_.isNull()) ? 0 : -1;
}

long StrCursor::fieldLen() {
  if (len_ < 0) {
    long len = str_.length();
    long hit = findSep(toCharPtr(str_), len, toCharPtr(sep_), sep_.length(), pos_);
    len_ = int32_t((hit < 0 ? len : hit) - pos_);
  }
  return len_;
}

String StrCursor::value() {
  if (pos_ == -1) return String();
  if (!str_) return str_;
  long n = fieldLen();
  return String(n, toCharPtr(str_) + pos_);
}

StrCursor& StrCursor::operator++() {
  if (pos_ == -1) return *this;
  if (!str_) {
    pos_ = -1;
    return *this;
  }
  long next = pos_ + fieldLen() + sep_.length();
  pos_ = next > str_.length() ? -1 : int32_t(next);
  len_ = -1;
  return *this;
}

StrCursor& StrCursor::operator--() {
  long seplen = sep_.length();
  len_ = -1;
  if (pos_ == -1 || !str_ || pos_ < seplen) {
    pos_ = -1;
    return *this;
  }
  // The separator that ends the previous field lies at pos_ - seplen; the
  // one before that field must lie wholly before it.
  char const* text = toCharPtr(str_);
  long limit = pos_ - seplen - (seplen - 1);
  char const* hit = limit > 0 ? strStrBackw(text, toCharPtr(sep_), text + limit) : nullptr;
  pos_ = hit ? int32_t(hit - text + seplen) : 0;
  return *this;
}
