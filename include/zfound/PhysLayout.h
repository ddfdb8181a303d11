// Disk layout: where the physical parts of a logical file lie.
//
// A layout is a text file of entries, one a line, fields separated by a TAB:
//   pattern TAB PACKED TAB container
//   pattern TAB ROUNDROBIN TAB amount TAB dir,dir,...
//   pattern TAB RANGED TAB dir:amount,dir:amount,...,dir
// Patterns are file-name patterns (anchored, '?' and '*' wildcards). '#'
// starts a comment. Amounts are kilobytes or carry a unit K, M or G.
//
// Invariants: an entry maps a 64-bit logical offset to a part number and an
// offset inside that part; every entry has at least one part; a ranged entry's
// last range, and only it, is open-ended (amount kOpenEnded). Amounts are at
// most 2147483646 bytes.
#pragma once

#include <zfound/String.h>

#include <cstdint>
#include <cstdio>
#include <vector>

class RegExp;
class PackedEntry;
class RoundRobinEntry;
class RangedEntry;

class PhysLayoutEntry {
public:
  explicit PhysLayoutEntry(String const& pattern);
  virtual ~PhysLayoutEntry();
  PhysLayoutEntry(PhysLayoutEntry const&) = delete;
  PhysLayoutEntry& operator=(PhysLayoutEntry const&) = delete;

  // The number of parts (at least 1).
  virtual int32_t nParts() const = 0;
  // Part i's directory, with "/" and the suffix when a suffix is set.
  virtual String part(int32_t i) const = 0;
  // The part that holds the logical offset; offset becomes the offset
  // inside that part.
  virtual int32_t part(int64_t& offset, int32_t blockSize) const = 0;
  // Writes the entry's line.
  virtual void store(FILE* f) const = 0;
  virtual PackedEntry* packedEntry() { return nullptr; }
  virtual RoundRobinEntry* roundRobinEntry() { return nullptr; }
  virtual RangedEntry* rangeEntry() { return nullptr; }

  // The pattern's text.
  String pattern() const;
  // True when the pattern matches the whole name.
  bool belongsTo(String const& name) const;
  // Sets the directory suffix.
  void dirSuffix(String const& s) { suffix_ = s; }

protected:
  // dir, plus "/" and the suffix when one is set.
  String withSuffix(String const& dir) const;

  RegExp* pattern_;
  String suffix_;
};

class PackedEntry : public PhysLayoutEntry {
public:
  PackedEntry(String const& pattern, String const& container);
  int32_t nParts() const override { return 1; }
  String part(int32_t i) const override;
  int32_t part(int64_t& offset, int32_t blockSize) const override;
  void store(FILE* f) const override;
  PackedEntry* packedEntry() override { return this; }
  String const& container() const { return container_; }

private:
  String container_;
};

class RoundRobinEntry : public PhysLayoutEntry {
public:
  // amountText as written; amount in bytes; dirs at least one.
  RoundRobinEntry(String const& pattern, String const& amountText, int32_t amount,
                  std::vector<String> const& dirs);
  int32_t nParts() const override { return static_cast<int32_t>(dirs_.size()); }
  String part(int32_t i) const override;
  // Stripes of twice the block size (amount at most that), else the amount
  // rounded down to whole blocks, dealt out over the directories in turn.
  int32_t part(int64_t& offset, int32_t blockSize) const override;
  void store(FILE* f) const override;
  RoundRobinEntry* roundRobinEntry() override { return this; }
  // The stripe size used for blockSize.
  int64_t stripe(int32_t blockSize) const;

private:
  std::vector<String> dirs_;
  String amountText_;
  int32_t amount_;
};

// One range of a ranged entry; amount kOpenEnded for the last.
struct Range {
  static constexpr int32_t kOpenEnded = INT32_MIN;
  String dir;
  String amountText;
  int32_t amount;
};

class RangedEntry : public PhysLayoutEntry {
public:
  // ranges: at least one; the last, and only the last, open-ended.
  RangedEntry(String const& pattern, std::vector<Range> const& ranges);
  int32_t nParts() const override { return static_cast<int32_t>(ranges_.size()); }
  String part(int32_t i) const override;
  int32_t part(int64_t& offset, int32_t blockSize) const override;
  void store(FILE* f) const override;
  RangedEntry* rangeEntry() override { return this; }
  // The bytes range `index` holds for blockSize (first range at least two
  // blocks, later ones at least one, all whole blocks).
  static int64_t nBytes(int32_t index, int32_t blockSize, int32_t amount);

private:
  std::vector<Range> ranges_;
};

class PhysLayout {
public:
  // Loads fileName at once (a missing file is created empty).
  explicit PhysLayout(String const& fileName);
  // store(), then the entries go.
  ~PhysLayout();
  PhysLayout(PhysLayout const&) = delete;
  PhysLayout& operator=(PhysLayout const&) = delete;

  // Replaces the entries by the file's. A malformed line ends the program
  // with "CNFMALFORMED2", "LASTMUSTBENULL", "BADUNIT" or "BADAMOUNT".
  void load();
  // When modified and storable, rewrites the file ("CANTOPENFILE" when it
  // cannot be written) and clears the modified flag.
  void store();
  // The first entry at or after index `from` whose pattern matches the whole
  // name; null when none.
  PhysLayoutEntry* find(String const& name, int32_t from = 0) const;
  // Appends a packed entry (suffix set when not null); marks modified.
  void addPackedEntry(String const& pattern, String const& container, String const& suffix = String());
  // Takes entry i out of the list and hands it to the caller; null when i is
  // out of range. Marks modified.
  PhysLayoutEntry* delEntry(int32_t i);
  int32_t nEntries() const { return static_cast<int32_t>(entries_.size()); }
  // Entry i; null when out of range.
  PhysLayoutEntry* entry(int32_t i) const;
  String const& fileName() const { return fileName_; }
  // True unless the file could be neither read nor created.
  bool ok() const { return storable_; }

  // The amount rule: a number of kilobytes, or a number with a unit K, M or
  // G (either case); decimals allowed; blanks around ignored. Empty text is
  // Range::kOpenEnded. Above 2147483646 reports "BADAMOUNT", an unknown unit
  // "BADUNIT" (both fatal).
  static int32_t nBytes(String const& text);

private:
  void clear();

  std::vector<PhysLayoutEntry*> entries_;
  String fileName_;
  bool modified_;
  bool storable_;
};
