// StrHistory: the last strings a user entered, newest first (entry 0),
// without duplicates up to surrounding blanks. ExtStrHistory adds stepping
// through the entries (older, newer).
//
// Invariants: entries holds exactly capacity Strings; the non-empty ones are
// entries 0..count-1 after adds (a loaded form may leave gaps, which count
// still counts); ExtStrHistory's position is -1 (not browsing) or an index
// of a non-empty entry.
//
// Text form:   capacity in decimal, "\n", then capacity lines, one entry
//              each (empty for an empty slot); a newline inside an entry is
//              written as the byte 0x01.
// Binary form: offset 0, 4 bytes  capacity, big-endian
//              offset 4, ...      each entry: 4-byte big-endian length
//                                 (0 null, 2147483647 highest), then bytes
// A stored capacity outside 1..65,535, a missing one, or a form cut short
// or running past the buffer's end is refused and the history is unchanged.
#pragma once
#include <zfound/String.h>

#include <cstdint>
#include <vector>

class InputStream;
class OutputStream;

class StrHistory {
public:
  static constexpr long kMaxCapacity = 65535;

  // capacity empty entries.
  explicit StrHistory(long capacity);
  virtual ~StrHistory();

  // Adds s as entry 0, removing an entry equal to it after trimming both
  // (else the oldest); null strings and a capacity of 0 are ignored.
  StrHistory& operator<<(String const& s);
  long capacity() const { return static_cast<long>(entries_.size()); }
  // The number of non-empty entries.
  long fullslots() const { return count_; }
  // Entry i (0 newest); the null String outside 0..capacity-1.
  String entry(long i) const;
  // The chooser: a menu over the entries; the chosen one is copied to out.
  // True when one was chosen (nothing happens without entries).
  virtual bool execute(String& out);

  // Text form (see above).
  bool store(OutputStream& out) const;
  // Reads the text form; false (history unchanged) for a refused form.
  bool load(InputStream& in);
  // Bytes of the binary form.
  long storeLength() const;
  // Writes the binary form at pos (storeLength() bytes) and advances pos.
  void store(char*& pos) const;
  // Reads the binary form from pos, never past end; advances pos only when
  // the whole form was accepted.
  bool load(char const*& pos, char const* end);

protected:
  std::vector<String> entries_;
  long count_ = 0;

private:
  bool replace(std::vector<String>&& entries);
};

class ExtStrHistory : public StrHistory {
public:
  // capacity entries; infoHeight rows for the chooser's information panel.
  ExtStrHistory(long capacity, long infoHeight) : StrHistory(capacity), infoHeight_(infoHeight) {}
  // Adds as StrHistory does and ends browsing.
  ExtStrHistory& operator<<(String const& s);
  // The next older entry; at the last slot or before an empty one, stays
  // and gives the null String.
  String operator--();
  // The next newer entry; from the newest, ends browsing and gives null;
  // without a position gives null.
  String operator++();
  // The browsing position + 1 (0 when not browsing).
  long currPos() const { return currpos_ + 1; }
  long infoHeight() const { return infoHeight_; }
  // The chooser titled "Query Selector" at row 19, column 20, 50 wide, with
  // the current entry's whole text in a panel above it; Tab shows or hides
  // that panel. Choosing copies the entry to out and browses from it.
  bool execute(String& out) override;

protected:
  long infoHeight_;
  long currpos_ = -1;
};
