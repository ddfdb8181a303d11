// Input histories and their text and binary forms (see StrHistory.h).
#include <winkit/StrHistory.h>

#include <winkit/ScrollMenu.h>

#include <zfound/Assert.h>
#include <zfound/Portable.h>
#include <zfound/Stream.h>

#include <cstdlib>
#include <utility>

namespace {

constexpr char kNewlineMark = '\x01';
constexpr int32_t kHighLen = 2147483647;

String trimmed(String s) { return s.prune(); }

// s with every occurrence of byte `from` turned into `to`.
String translate(String const& s, char from, char to) {
  if (s.isNull() || s.index(from) < 0) return s;
  String out = s;
  for (long i = 0; i < out.length(); ++i)
    if (out[i] == from) out.setChar(to, i);
  return out;
}

// A capacity line: decimal digits only, 1..65,535; else -1.
long parseCapacity(String const& line) {
  if (line.isNull() || line.length() > 10) return -1;
  long v = 0;
  for (long i = 0; i < line.length(); ++i) {
    char c = line[i];
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v >= 1 && v <= StrHistory::kMaxCapacity ? v : -1;
}

}  // namespace

StrHistory::StrHistory(long capacity) : entries_(static_cast<size_t>(capacity > 0 ? capacity : 0)) {}

StrHistory::~StrHistory() = default;

String StrHistory::entry(long i) const {
  return i >= 0 && i < capacity() ? entries_[static_cast<size_t>(i)] : String();
}

StrHistory& StrHistory::operator<<(String const& s) {
  long cap = capacity();
  if (s.isNull() || cap == 0) return *this;
  String key = trimmed(s);
  long found = -1;
  for (long i = 0; i < cap; ++i)
    if (!entries_[static_cast<size_t>(i)].isNull() && cmp(trimmed(entries_[static_cast<size_t>(i)]), key) == 0) {
      found = i;
      break;
    }
  long from = found >= 0 ? found : cap - 1;
  bool dropped = found < 0 && !entries_[static_cast<size_t>(from)].isNull();
  for (long i = from; i > 0; --i) entries_[static_cast<size_t>(i)] = entries_[static_cast<size_t>(i - 1)];
  entries_[0] = s;
  if (found < 0 && !dropped && count_ < cap) ++count_;
  return *this;
}

bool StrHistory::replace(std::vector<String>&& entries) {
  entries_ = std::move(entries);
  count_ = 0;
  for (auto const& e : entries_)
    if (!e.isNull()) ++count_;
  return true;
}

bool StrHistory::store(OutputStream& out) const {
  out << capacity() << '\n';
  for (auto const& e : entries_) out << translate(e, '\n', kNewlineMark) << '\n';
  return true;
}

bool StrHistory::load(InputStream& in) {
  String line;
  in.get(line, '\n');
  long cap = parseCapacity(line);
  if (cap < 0) return false;
  std::vector<String> entries(static_cast<size_t>(cap));
  for (auto& e : entries) {
    if (in.eof()) break;
    String text;
    in.get(text, '\n');
    e = translate(text, kNewlineMark, '\n');
  }
  return replace(std::move(entries));
}

long StrHistory::storeLength() const {
  long n = 4;
  for (auto const& e : entries_) n += e.isHighest() ? 4 : e.length() + 4;
  return n;
}

void StrHistory::store(char*& pos) const {
  stlong(static_cast<int32_t>(capacity()), pos);
  pos += 4;
  for (auto const& e : entries_) e.store(pos);
}

bool StrHistory::load(char const*& pos, char const* end) {
  char const* p = pos;
  if (!p || end - p < 4) return false;
  int32_t cap = ldlong(p);
  p += 4;
  if (cap < 1 || cap > kMaxCapacity) return false;
  std::vector<String> entries(static_cast<size_t>(cap));
  for (auto& e : entries) {
    if (end - p < 4) return false;
    int32_t len = ldlong(p);
    if (len == kHighLen) {
      e = String(static_cast<long>(kHighLen), static_cast<char const*>(nullptr));
      p += 4;
      continue;
    }
    if (len < 0 || len > 65535 || end - p - 4 < len) return false;
    e = String(static_cast<long>(len), p + 4);
    p += 4 + len;
  }
  pos = p;
  return replace(std::move(entries));
}

ExtStrHistory& ExtStrHistory::operator<<(String const& s) {
  StrHistory::operator<<(s);
  currpos_ = -1;
  return *this;
}

String ExtStrHistory::operator--() {
  long next = currpos_ + 1;
  if (next >= capacity() || entries_[static_cast<size_t>(next)].isNull()) return String();
  currpos_ = next;
  return entries_[static_cast<size_t>(next)];
}

String ExtStrHistory::operator++() {
  if (currpos_ <= 0) {
    currpos_ = -1;
    return String();
  }
  ZF_ASSERT(currpos_ > 0);
  --currpos_;
  return entries_[static_cast<size_t>(currpos_)];
}

bool StrHistory::execute(String& out) {
  if (count_ == 0) return false;
  StringMenu menu(String(), entries_.data(), capacity(), -1, -1, -1);
  if (menu.execute(0) < 0 || menu.currOpt() < 0) return false;
  out = entry(menu.currOpt());
  return true;
}

bool ExtStrHistory::execute(String& out) {
  if (count_ == 0) return false;
  ExtStringMenu menu("Query Selector", entries_.data(), capacity(), infoHeight_, 19, 20, 50);
  // Shown for the whole choice, so Tab toggles the panel without the menu
  // closing in between.
  menu.display(-1, -1);
  bool chosen = false;
  for (;;) {
    long r = menu.execute(0);
    if (r == 0 && menu.lastKey() == 146) {
      menu.dispinfo(menu.infoShown() ? 1 : 0);
      menu.setCurrent(menu.lastItem(), false);
      continue;
    }
    long i = menu.currOpt();
    if (r == 0 && i >= 0) {
      out = entry(i);
      currpos_ = i;
      chosen = true;
    }
    break;
  }
  menu.unDisplay();
  return chosen;
}
