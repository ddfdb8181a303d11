// Attribute zones: sorted, non-overlapping blocks of attribute bits between
// two text cursors. Setting or removing bits over a range first splits the
// zones at the range's ends, so every zone is then wholly inside or outside
// the range; gaps inside the range become zones when bits are set.
#include <winkit/Text.h>

#include <zfound/StdStreams.h>

#include <algorithm>

namespace {

constexpr long kEndCol = 0x7fffffff;

int cmpPos(long l1, long c1, long l2, long c2) {
  if (l1 != l2) return l1 < l2 ? -1 : 1;
  if (c1 != c2) return c1 < c2 ? -1 : 1;
  return 0;
}

int cmpPos(TextCursor const& a, TextCursor const& b) { return cmpPos(a.line(), a.column(), b.line(), b.column()); }

long lineLength(TextCursor const& c) { return c.valid() ? c.value().length() : 0; }

// The position after c: the next column, or the next line's column 0 when
// that passes the line's end.
void stepAfter(TextCursor& c) {
  if (c.column() + 1 < lineLength(c)) {
    c.goToCol(c.column() + 1);
  } else {
    c.next(1);
    c.goToCol(0);
  }
}

// The position before c: the previous column, or the last character of the
// line above when c stands in column 0.
void stepBefore(TextCursor& c) {
  if (c.column() > 0) {
    c.goToCol(c.column() - 1);
  } else if (c.line() > 0) {
    c.next(-1);
    c.goToCol(std::max(lineLength(c) - 1, 0L));
  }
}

}  // namespace

AttributeZones::AttributeZones() : cacheValid_(false), cacheIsGap_(false), cacheIndex_(0) { zones_.reserve(20); }

AttributeZones::~AttributeZones() = default;

void AttributeZones::reAlloc(long n) {
  if (n >= static_cast<long>(zones_.capacity())) zones_.reserve(static_cast<size_t>(n));
}

long AttributeZones::find(AttributeBlock const& b) const {
  long lo = 0, hi = count() - 1;
  while (lo <= hi) {
    long mid = (lo + hi) / 2;
    int c = cmpPos(zones_[mid]->begin, b.begin);
    if (c == 0) return mid;
    if (c < 0)
      lo = mid + 1;
    else
      hi = mid - 1;
  }
  return ~lo;
}

void AttributeZones::add(AttributeBlock const& b) {
  invalidate();
  long i = find(b);
  if (i >= 0) {
    *zones_[i] = b;
    return;
  }
  if (count() + 1 >= static_cast<long>(zones_.capacity())) reAlloc(count() + 10);
  zones_.insert(zones_.begin() + ~i, std::make_unique<AttributeBlock>(b));
}

void AttributeZones::del(long i) {
  if (i < 0 || i >= count()) return;
  invalidate();
  zones_.erase(zones_.begin() + i);
}

void AttributeZones::clear() {
  invalidate();
  zones_.clear();
}

long AttributeZones::lastAtOrBefore(long line, long col) const {
  long lo = 0, hi = count() - 1, best = -1;
  while (lo <= hi) {
    long mid = (lo + hi) / 2;
    AttributeBlock const& z = *zones_[mid];
    if (cmpPos(z.begin.line(), z.begin.column(), line, col) <= 0) {
      best = mid;
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  return best;
}

void AttributeZones::splitAt(TextCursor const& at) {
  long i = lastAtOrBefore(at.line(), at.column());
  if (i < 0) return;
  AttributeBlock& z = *zones_[i];
  if (cmpPos(z.begin, at) >= 0 || cmpPos(at, z.end) > 0) return;
  auto tail = std::make_unique<AttributeBlock>(at, z.end, z.attrib);
  z.end = at;
  stepBefore(z.end);
  if (cmpPos(z.end, z.begin) < 0) z.end = z.begin;
  zones_.insert(zones_.begin() + i + 1, std::move(tail));
}

void AttributeZones::splitAfter(TextCursor const& to) {
  long i = lastAtOrBefore(to.line(), to.column());
  if (i < 0) return;
  AttributeBlock& z = *zones_[i];
  if (cmpPos(to, z.end) >= 0) return;
  TextCursor start(to);
  stepAfter(start);
  if (cmpPos(start, z.end) > 0) {  // the rest lies past the line's end
    z.end = to;
    return;
  }
  auto tail = std::make_unique<AttributeBlock>(start, z.end, z.attrib);
  z.end = to;
  zones_.insert(zones_.begin() + i + 1, std::move(tail));
}

long AttributeZones::splitRange(TextCursor const& from, TextCursor const& to) {
  invalidate();
  splitAt(from);
  splitAfter(to);
  long i = lastAtOrBefore(from.line(), from.column());
  if (i < 0 || cmpPos(zones_[i]->begin, from) < 0) ++i;
  return i;
}

bool AttributeZones::setAttribute(TextCursor from, TextCursor const& to, int32_t bits) {
  if (cmpPos(from, to) > 0) return false;
  long i = splitRange(from, to);
  TextCursor pos(from);
  while (i < count() && cmpPos(zones_[i]->begin, to) <= 0) {
    AttributeBlock& z = *zones_[i];
    if (cmpPos(pos, z.begin) < 0) {
      TextCursor gapEnd(z.begin);
      stepBefore(gapEnd);
      if (cmpPos(pos, gapEnd) <= 0) {
        zones_.insert(zones_.begin() + i, std::make_unique<AttributeBlock>(pos, gapEnd, bits));
        ++i;
      }
    }
    AttributeBlock& cur = *zones_[i];
    cur.attrib |= bits;
    pos = cur.end;
    stepAfter(pos);
    ++i;
  }
  if (cmpPos(pos, to) <= 0) zones_.insert(zones_.begin() + i, std::make_unique<AttributeBlock>(pos, to, bits));
  return true;
}

bool AttributeZones::delAttribute(TextCursor from, TextCursor const& to, int32_t bits) {
  if (cmpPos(from, to) > 0) return false;
  long i = splitRange(from, to);
  while (i < count() && cmpPos(zones_[i]->begin, to) <= 0) {
    zones_[i]->attrib &= ~bits;
    if (zones_[i]->attrib == 0)
      zones_.erase(zones_.begin() + i);
    else
      ++i;
  }
  return true;
}

int32_t AttributeZones::getAttribute(TextCursor const& at, long& lastCol) {
  if (zones_.empty() || !at.valid()) {
    lastCol = kEndCol;
    return 0;
  }
  long line = at.line(), col = at.column();
  // The run as positions: a zone, or the gap between two zones.
  auto runOf = [&](bool gap, long k, long& bl, long& bc, long& el, long& ec) {
    if (!gap) {
      AttributeBlock const& z = *zones_[k];
      bl = z.begin.line(), bc = z.begin.column(), el = z.end.line(), ec = z.end.column();
      return;
    }
    if (k == 0) {
      bl = 0, bc = 0;
    } else {
      TextCursor s(zones_[k - 1]->end);
      stepAfter(s);
      bl = s.line(), bc = s.column();
    }
    if (k >= count()) {
      el = kEndCol, ec = kEndCol;
    } else {
      AttributeBlock const& z = *zones_[k];
      if (z.begin.column() > 0)
        el = z.begin.line(), ec = z.begin.column() - 1;
      else
        el = z.begin.line() - 1, ec = kEndCol;
    }
  };
  long bl, bc, el, ec;
  bool hit = false;
  if (cacheValid_ && cacheIndex_ <= count() && (cacheIsGap_ || cacheIndex_ < count())) {
    runOf(cacheIsGap_, cacheIndex_, bl, bc, el, ec);
    hit = cmpPos(bl, bc, line, col) <= 0 && cmpPos(line, col, el, ec) <= 0;
  }
  if (!hit) {
    long i = lastAtOrBefore(line, col);
    AttributeBlock const* z = i >= 0 ? zones_[i].get() : nullptr;
    if (z && cmpPos(line, col, z->end.line(), z->end.column()) <= 0) {
      cacheIsGap_ = false;
      cacheIndex_ = i;
    } else {
      cacheIsGap_ = true;
      cacheIndex_ = i + 1;
    }
    cacheValid_ = true;
    runOf(cacheIsGap_, cacheIndex_, bl, bc, el, ec);
  }
  lastCol = el == line ? ec : kEndCol;
  return cacheIsGap_ ? 0 : zones_[cacheIndex_]->attrib;
}

void AttributeZones::debug() const {
  stdOut << "Table limit : " << count() << "\n";
  for (auto const& z : zones_)
    stdOut << "  " << z->begin.line() << "," << z->begin.column() << " - " << z->end.line() << ","
           << z->end.column() << " : " << static_cast<long>(z->attrib) << "\n";
  stdOut << flush;
}

bool AttributeZones::inZone(TextCursor const& at, TextCursor const& begin, TextCursor const& end) {
  if (!begin.list() || !end.list()) return false;
  return cmpPos(begin, at) <= 0 && cmpPos(at, end) <= 0;
}
