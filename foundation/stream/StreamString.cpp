// The stream operations on Strings: text output of a String, line and word
// input, and InputString, which reads a text, a String or a list of texts in
// place without a buffer of its own.
#include <zfound/CharClass.h>
#include <zfound/Stream.h>
#include <zfound/String.h>

#include <cstring>

OutputStream& OutputStream::operator<<(String const& s) {
  if (s.isHighest()) return *this << "(high value)";
  write(toCharPtr(s), s.length());
  return *this;
}

InputStream& InputStream::operator>>(String& s) { return get(s, '\n'); }

InputStream& InputStream::get(String& s, char delim) {
  s = String();
  char chunk[255];
  int n = 0;
  for (;;) {
    char c = getc();
    if (!ok()) break;
    if (c == delim) break;
    if (c == 13) continue;
    if (delim == '\0' && !isAlnumChar(c)) break;
    if (n == static_cast<int>(sizeof chunk)) {
      s += String(static_cast<long>(n), chunk);
      n = 0;
    }
    chunk[n++] = c;
  }
  if (n > 0) s += String(static_cast<long>(n), chunk);
  return *this;
}

static void setText(char*& buf, char*& cur, int32_t& count, char const* text) {
  buf = cur = const_cast<char*>(text ? text : "");
  count = static_cast<int32_t>(std::strlen(buf));
}

InputString::InputString(char const* text) : InputStream(0), str_(nullptr), list_(nullptr), index_(0) {
  setText(buf_, cur_, count_, text);
}

InputString::InputString(String const& s) : InputStream(0), str_(nullptr), list_(nullptr), index_(0) {
  str_ = new String(s.isHighest() ? String() : s);
  buf_ = cur_ = const_cast<char*>(toCharPtr(*str_));
  count_ = static_cast<int32_t>(str_->length());
}

InputString::InputString(char const* const* list) : InputStream(0), str_(nullptr), list_(list), index_(0) {
  setText(buf_, cur_, count_, list ? list[0] : nullptr);
  if (list && list[0]) index_ = 1;
}

InputString::~InputString() { delete str_; }

int InputString::fill() {
  if (list_ && index_ != 0) {
    char const* e = list_[index_];
    if (e) {
      setText(buf_, cur_, count_, e);
      ++index_;
    } else {
      index_ = 0;
      count_ = 0;
    }
    return '\n';
  }
  count_ = 0;
  addState(EofBit);
  return 0;
}
