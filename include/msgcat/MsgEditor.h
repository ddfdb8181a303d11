// The in-memory editor of one message file: reads the whole file of a name
// and language, lets its sections and entries be changed, and rewrites it.
//
// The file lives in the directory `path()` (a data directory of DATADIR, "/"
// and the language) as name + ".msg". Its layout: the index position (long);
// the section names in section order ended by an empty name; every text,
// section by section in list order; the index {long section number, key,
// long text position} in the same order; the long -1.
//
// Invariants: the editor owns its sections and each section its entries; a
// section's position in the list is its number in the file. A file is only
// ever replaced whole: write() builds a new file beside the old one and
// renames it into place, and refuses (writing nothing) contents the layout
// cannot hold. A damaged file, or one that is there but cannot be opened,
// is never taken for an empty one: read() then fails with damaged() set, so
// callers do not overwrite it unknowingly.
#pragma once

#include <msgcat/MsgSection.h>
#include <zfound/String.h>

#include <cstdint>

class MsgEditor {
public:
  // No path yet, no sections; the language is set as by language().
  MsgEditor(String const& name, String const& language);
  // Destroys every section.
  ~MsgEditor();
  MsgEditor(MsgEditor const&) = delete;
  MsgEditor& operator=(MsgEditor const&) = delete;

  // A non-null argument becomes the language; null takes the environment's
  // "LANGUAGE". The path is forgotten, to be found again for the language.
  void language(String const& language);
  String const& language() const { return language_; }
  // The file's base name (without ".msg").
  String const& name() const { return name_; }

  // The directory of the file, computed on first use: the first directory
  // of DATADIR that holds the file, else the first one listed; followed by
  // "/" and the language.
  String const& path();

  // Clears the editor and loads the section map only. False when the file
  // cannot be opened (the editor stays empty; damaged() when the file is
  // there) or is damaged (damaged()).
  bool readSectionMap();
  // readSectionMap, then every message, then every section sorted. False
  // when the file cannot be opened or is damaged; the editor is then empty.
  bool read();
  // Sorts every section.
  void sort();
  // Rewrites the whole file from the editor's contents, replacing the old
  // one at once. The path must be known (path(), read() or
  // readSectionMap()). False, with errorText() saying why and the old file
  // untouched, when a section slot or entry slot is empty, a section has no
  // name, a key is missing, a name, key or text is longer than 32,767 bytes,
  // the file would pass 2 GB, or the file cannot be created or written.
  bool write() const;

  // The number of the first section named exactly `name`, else -1.
  int32_t findSection(String const& name) const;
  // The number of slots in the section list.
  int32_t nSections() const { return int32_t(sections.dim()); }
  // Section n, growing the list to n+1 slots when n is at or past its end
  // and putting a new section with a null name into an empty slot n. Null
  // for a negative n or when the list cannot grow.
  MsgSection* section(int32_t n);
  // The section of that name; a new empty one (first empty slot, else at
  // the end) when there is none.
  MsgSection* section(String const& name);
  // Removes and destroys the section of that name; the sections after it
  // move down by one. -1 when there is none, else its old number.
  int32_t delSection(String const& name);
  // Destroys every section and empties the list.
  void clear();

  // True when the last read found the file damaged, or there but unreadable.
  bool damaged() const { return damaged_; }
  // Why the last read or write failed; null after a success.
  String const& errorText() const { return error_; }

private:
  bool load(bool messages);
  bool fail(String const& why) const;
  bool check() const;

  String path_;                 // directory of the file; null until computed
  String name_;                 // base name without extension
  String language_;             // language directory
  MsgSectionPtrArray sections;  // owned sections, growth step 4
  bool damaged_;                // the last read met a damaged file
  mutable String error_;        // reason of the last failure
};
