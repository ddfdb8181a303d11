// The disk-layout file and its entries: loading and writing the text form,
// the amount rule, and the mapping of 64-bit logical offsets to parts.
//
// Only a line's trailing newline is dropped when it is read, and a comment
// cut from a line takes the blanks before it along. A parameter field that
// names no directory (empty, or an empty element of a list) is malformed. The open-ended range
// marker is the 32-bit value -2147483648.
#include <zfound/Assert.h>
#include <zfound/FileOps.h>
#include <zfound/Report.h>
#include <zfound/Num.h>
#include <zfound/PhysLayout.h>
#include <zfound/RegExp.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int32_t kMaxAmount = 2147483646;

// Splits text at sep (every occurrence).
std::vector<std::string> split(std::string const& text, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t e = text.find(sep, start);
    out.push_back(text.substr(start, e == std::string::npos ? std::string::npos : e - start));
    if (e == std::string::npos) break;
    start = e + 1;
  }
  return out;
}

String toStr(std::string const& s) { return String(static_cast<long>(s.size()), s.data()); }

// True when every element of a ',' list names a directory (the text before
// `stop`, when given, is not empty): an empty name would place parts at "/".
bool allNamed(std::string const& list, char stop) {
  for (std::string const& e : split(list, ','))
    if (e.empty() || e[0] == stop) return false;
  return true;
}

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

}  // namespace

// ---- entries -------------------------------------------------------------------

PhysLayoutEntry::PhysLayoutEntry(String const& pattern) : pattern_(new RegExp(pattern, true)) {}

PhysLayoutEntry::~PhysLayoutEntry() { delete pattern_; }

String PhysLayoutEntry::pattern() const { return pattern_->pattern(); }

bool PhysLayoutEntry::belongsTo(String const& name) const { return pattern_->match(name, 0); }

String PhysLayoutEntry::withSuffix(String const& dir) const {
  if (suffix_.isNull()) return dir;
  return dir + "/" + suffix_;
}

PackedEntry::PackedEntry(String const& pattern, String const& container)
    : PhysLayoutEntry(pattern), container_(container) {}

String PackedEntry::part(int32_t) const { return withSuffix(container_); }

int32_t PackedEntry::part(int64_t&, int32_t) const { return 0; }

void PackedEntry::store(FILE* f) const {
  std::fprintf(f, "%s\tPACKED\t%s\n", toCharPtr(pattern()), toCharPtr(container_));
}

RoundRobinEntry::RoundRobinEntry(String const& pattern, String const& amountText, int32_t amount,
                                 std::vector<String> const& dirs)
    : PhysLayoutEntry(pattern), dirs_(dirs), amountText_(amountText), amount_(amount) {}

String RoundRobinEntry::part(int32_t i) const {
  if (i < 0 || i >= nParts()) return String();
  return withSuffix(dirs_[static_cast<size_t>(i)]);
}

int64_t RoundRobinEntry::stripe(int32_t bs) const {
  int64_t b = bs;
  int64_t a = amount_ < 0 ? 0 : amount_;
  return a <= 2 * b ? 2 * b : a - a % b;
}

int32_t RoundRobinEntry::part(int64_t& offset, int32_t bs) const {
  ZF_ASSERT(bs > 0);
  ZF_ASSERT(!dirs_.empty());
  int64_t s = stripe(bs);
  int64_t n = static_cast<int64_t>(dirs_.size());
  int64_t q = offset / s;
  int32_t p = static_cast<int32_t>(q % n);
  offset = (q / n) * s + offset % s;
  return p;
}

void RoundRobinEntry::store(FILE* f) const {
  std::string dirs;
  for (size_t i = 0; i < dirs_.size(); ++i) {
    if (i) dirs += ',';
    dirs += toCharPtr(dirs_[i]);
  }
  std::fprintf(f, "%s\tROUNDROBIN\t%s\t%s\n", toCharPtr(pattern()), toCharPtr(amountText_), dirs.c_str());
}

RangedEntry::RangedEntry(String const& pattern, std::vector<Range> const& ranges)
    : PhysLayoutEntry(pattern), ranges_(ranges) {}

String RangedEntry::part(int32_t i) const {
  if (i < 0 || i >= nParts()) return String();
  return withSuffix(ranges_[static_cast<size_t>(i)].dir);
}

int64_t RangedEntry::nBytes(int32_t index, int32_t bs, int32_t amount) {
  int64_t b = bs > 0 ? bs : 1;
  int64_t a = amount < 0 ? 0 : amount;
  if (index == 0) return a <= 2 * b ? 2 * b : a - a % b;
  return a < b ? b : a - a % b;
}

int32_t RangedEntry::part(int64_t& offset, int32_t bs) const {
  for (size_t i = 0; i < ranges_.size(); ++i) {
    Range const& r = ranges_[i];
    if (r.amount == Range::kOpenEnded) return static_cast<int32_t>(i);
    int64_t size = nBytes(static_cast<int32_t>(i), bs, r.amount);
    if (offset < size) return static_cast<int32_t>(i);
    offset -= size;
  }
  // Unreachable for a well-formed entry (its last range is open-ended).
  return static_cast<int32_t>(ranges_.size()) - 1;
}

void RangedEntry::store(FILE* f) const {
  std::string field;
  for (size_t i = 0; i < ranges_.size(); ++i) {
    if (i) field += ',';
    field += toCharPtr(ranges_[i].dir);
    if (ranges_[i].amount != Range::kOpenEnded) {
      field += ':';
      field += toCharPtr(ranges_[i].amountText);
    }
  }
  std::fprintf(f, "%s\tRANGED\t%s\n", toCharPtr(pattern()), field.c_str());
}

// ---- the layout ------------------------------------------------------------------

PhysLayout::PhysLayout(String const& fileName) : fileName_(fileName), modified_(false), storable_(true) { load(); }

PhysLayout::~PhysLayout() {
  store();
  clear();
}

void PhysLayout::clear() {
  for (PhysLayoutEntry* e : entries_) delete e;
  entries_.clear();
}

int32_t PhysLayout::nBytes(String const& textIn) {
  std::string t = textIn.isNull() || textIn.isHighest() ? std::string() : std::string(toCharPtr(textIn));
  size_t b = t.find_first_not_of(" \t");
  size_t e = t.find_last_not_of(" \t");
  t = b == std::string::npos ? std::string() : t.substr(b, e - b + 1);
  if (t.empty()) return Range::kOpenEnded;
  double mult = 1024.0;
  char last = t.back();
  if (!(last >= '0' && last <= '9')) {
    switch (last) {
      case 'k': case 'K': mult = 1024.0; break;
      case 'm': case 'M': mult = 1024.0 * 1024.0; break;
      case 'g': case 'G': mult = 1024.0 * 1024.0 * 1024.0; break;
      default:
        error(libMsg("BADUNIT"), static_cast<int>(static_cast<unsigned char>(last)));
        return 0;
    }
    t.pop_back();
  }
  Num v = toNum(t.c_str()) * Num(mult);
  double d = toDouble(v);
  if (v.isNull() || d > kMaxAmount || d < 0) {
    error(libMsg("BADAMOUNT"), kMaxAmount);
    return 0;
  }
  return toInt(v);
}

void PhysLayout::load() {
  FILE* f = std::fopen(toCharPtr(fileName_), "r");
  if (f == nullptr) {
    if (errno == ENOENT) {
      FILE* c = std::fopen(toCharPtr(fileName_), "w");
      if (c)
        std::fclose(c);
      else
        storable_ = false;
    } else {
      storable_ = false;
    }
  }
  clear();
  if (f == nullptr) return;

  std::string line;
  int32_t lineNo = 0;
  for (;;) {
    line.clear();
    int c;
    while ((c = std::fgetc(f)) != EOF && c != '\n') line += static_cast<char>(c);
    if (c == EOF && line.empty()) break;
    ++lineNo;
    size_t hash = line.find('#');
    if (hash == 0) continue;
    if (hash != std::string::npos) {
      line.erase(hash);
      while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
    }
    std::vector<std::string> fields = split(line, '\t');
    std::string kind = fields.size() > 1 ? upper(fields[1]) : std::string();
    // A NUL byte would cut a name or a directory: the line is malformed.
    bool ok = !fields[0].empty() && line.find('\0') == std::string::npos;
    PhysLayoutEntry* entry = nullptr;
    if (ok && kind == "PACKED" && fields.size() > 2 && !fields[2].empty()) {
      entry = new PackedEntry(toStr(fields[0]), toStr(fields[2]));
    } else if (ok && kind == "ROUNDROBIN" && fields.size() > 3 && allNamed(fields[3], ',')) {
      std::vector<String> dirs;
      for (std::string const& d : split(fields[3], ',')) dirs.push_back(toStr(d));
      int32_t amount = nBytes(toStr(fields[2]));
      entry = new RoundRobinEntry(toStr(fields[0]), toStr(fields[2]), amount, dirs);
    } else if (ok && kind == "RANGED" && fields.size() > 2 && allNamed(fields[2], ':')) {
      std::vector<std::string> elems = split(fields[2], ',');
      std::vector<Range> ranges;
      size_t i = 0;
      for (; i < elems.size(); ++i) {
        size_t colon = elems[i].find(':');
        Range r;
        r.dir = toStr(elems[i].substr(0, colon));
        if (colon == std::string::npos) {
          r.amount = Range::kOpenEnded;
        } else {
          r.amountText = toStr(elems[i].substr(colon + 1));
          r.amount = nBytes(r.amountText);
        }
        ranges.push_back(r);
        if (r.amount == Range::kOpenEnded) break;
      }
      if (ranges.back().amount != Range::kOpenEnded || i + 1 < elems.size()) {
        String pat = toStr(fields[0]);
        String field = toStr(fields[2]);
        error(libMsg("LASTMUSTBENULL"), &pat, &field);
        continue;
      }
      entry = new RangedEntry(toStr(fields[0]), ranges);
    } else {
      error(libMsg("CNFMALFORMED2"), &fileName_, static_cast<int>(lineNo));
      continue;
    }
    entries_.push_back(entry);
    if (c == EOF) break;
  }
  std::fclose(f);
  modified_ = false;
}

void PhysLayout::store() {
  if (!modified_ || !storable_) return;
  // Built in memory, then put in the file's place whole: a crash while
  // storing leaves the old layout, never a cut one.
  char* text = nullptr;
  size_t textLength = 0;
  FILE* f = ::open_memstream(&text, &textLength);
  if (f == nullptr) {
    error(libMsg("CANTOPENFILE"), &fileName_);
    return;
  }
  for (PhysLayoutEntry* e : entries_) e->store(f);
  bool const written = !std::ferror(f);
  bool const closed = std::fclose(f) == 0;
  int const err = written && closed ? replaceFile(toCharPtr(fileName_), text, textLength) : EIO;
  std::free(text);
  if (err != 0) {
    error(libMsg("CANTOPENFILE"), &fileName_);
    return;
  }
  modified_ = false;
}

PhysLayoutEntry* PhysLayout::find(String const& name, int32_t from) const {
  for (int32_t i = from < 0 ? 0 : from; i < nEntries(); ++i)
    if (entries_[static_cast<size_t>(i)]->belongsTo(name)) return entries_[static_cast<size_t>(i)];
  return nullptr;
}

void PhysLayout::addPackedEntry(String const& pattern, String const& container, String const& suffix) {
  PackedEntry* e = new PackedEntry(pattern, container);
  if (!suffix.isNull()) e->dirSuffix(suffix);
  entries_.push_back(e);
  modified_ = true;
}

PhysLayoutEntry* PhysLayout::delEntry(int32_t i) {
  if (i < 0 || i >= nEntries()) return nullptr;
  PhysLayoutEntry* e = entries_[static_cast<size_t>(i)];
  entries_.erase(entries_.begin() + i);
  modified_ = true;
  return e;
}

PhysLayoutEntry* PhysLayout::entry(int32_t i) const {
  if (i < 0 || i >= nEntries()) return nullptr;
  return entries_[static_cast<size_t>(i)];
}
