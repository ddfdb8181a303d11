// Internal helpers of the field family: the run-length array receiver and
// the parsing of object-id texts. Not part of the library's interface.
#pragma once

#include <cstring>
#include <vector>

#include <svcatalog/SvField.h>
#include <zfound/Connection.h>

// ReadOne(char* element, int32_t firstWord) reads one element into `element`
// and answers 0 when it was read, 1 when it was read but does not fit the
// field (numbers: the run is skipped and the receive stops), -1 on a fault.
// For `counted` types (Num, Date, Time) the connection's reader takes the run
// marker itself and leaves the count in Connection::counter(); for the others
// the first word is read here, with the marker and count in front of it.
// Every element goes through a scratch element first, so that a bad count
// found after the element was read writes nothing.
template <class ReadOne>
bool SvField::receiveRuns(Connection* c, char*& p, int32_t size, bool counted, ReadOne readOne) {
  int32_t const n = dim();
  char* const start = p;
  p += n * size;
  std::vector<char> scratch(size_t(size > 0 ? size : 1), 0);
  char* elem = start;
  int32_t due = n;
  while (due > 0) {
    int32_t count = 1;
    int32_t first = 0;
    if (!counted) {
      *c >> first;
      if (first == kRunMarker) {
        *c >> count;
        *c >> first;
      }
      if (c->bad() || count < 1 || count > due) return receiveFault(c);
    }
    int r = readOne(scratch.data(), first);
    if (counted) {
      count = c->counter();
      if (count == -1) count = 1;
    }
    if (r < 0 || c->bad() || count < 1 || count > due) return receiveFault(c);
    if (r > 0) return false;  // value refused (InvalidData pending); the request is refused
    for (int32_t k = 0; k < count; ++k) std::memcpy(elem + k * size, scratch.data(), size_t(size));
    elem += count * size;
    due -= count;
  }
  return true;
}

namespace svcatalog {

// Reads "<a, b[, c]>" (blanks allowed around every part, each number a
// signed or unsigned 32-bit decimal) into n words; false for any other text.
bool parseIdList(String const& text, int32_t* words, int n);
// The signed decimal text of a 32-bit word (-2147483648 included).
String decimal(int32_t v);
// "<a, b[, c]>" in signed decimal.
String idListText(int32_t const* words, int n);
// True for the null text and a text of blanks only.
bool blankText(String const& text);

}  // namespace svcatalog
