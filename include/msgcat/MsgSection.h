// One named section of a message file in memory: an ordered list of owned
// entries, written as texts and then as index entries.
//
// Invariants: the section owns every entry of its list and destroys it when
// it leaves the list; a slot may be empty (null), and adding fills the first
// empty slot, else appends. Indexes and counts are 32-bit.
#pragma once

#include <msgcat/MsgEntry.h>
#include <zfound/PtrArray.h>
#include <zfound/String.h>

#include <cstdint>

class OutputFile;

class MsgSection {
public:
  // A section with that name and no entries.
  explicit MsgSection(String const& name);
  // Destroys every entry.
  ~MsgSection();
  MsgSection(MsgSection const&) = delete;
  MsgSection& operator=(MsgSection const&) = delete;

  // A new entry (offset -1) in the first empty slot, else at the end; a key
  // already present is not looked for, so adding it twice leaves two entries.
  void add(String const& key, String const& text);
  // A new entry at position n (0..nEntries()); the entries from n on move up.
  // False (nothing changed) for n outside that range.
  bool ins(int32_t n, String const& key, String const& text);
  // Destroys entry n and closes the gap; false for n outside the list.
  bool del(int32_t n);
  // The number of slots in the list (empty ones included).
  int32_t nEntries() const { return int32_t(entries.dim()); }
  // Entry n: the list first grows to n+1 slots when n is at or past its end,
  // and an empty slot n gets a new entry (null key and text). Null for a
  // negative n or when the list cannot grow.
  MsgEntry* entry(int32_t n);
  // Destroys every entry and empties the list.
  void clear();
  // Orders the list by key: empty slots last, then as cmp() of the keys (the
  // null key first, the highest last, others byte by byte).
  void sort();

  // For each entry in list order: sets its offset to the file's position and
  // stores its text. False when a position no longer fits 32 bits or an entry
  // slot is empty (the caller checks both before writing: see MsgEditor).
  bool write(OutputFile& f);
  // For each entry in list order: the section number, the key and the
  // offset. False when an entry was not written by write() first.
  bool writeIndex(OutputFile& f, int32_t sectionNumber) const;

  String name;              // the section's name; never empty in a written file
  MsgEntryPtrArray entries; // owned entries, growth step 16
};

ZF_PTRARRAY(MsgSection);
