// Message catalogues.
//
// A catalogue is a ".msg" file, one per program or library and language,
// divided into named sections of key/text pairs. MsgFile is one open file,
// shared (reference counted) by every table that names it and kept on a
// process-wide list; MsgTable is a view of one section of one file.
//
// File form (integers 4 bytes, most significant first; a String is a 2-byte
// length, 0 = null, 65535 = highest, then the characters):
//   offset 0: the index offset; from 4: section names ended by a null
//   String; then the texts; at the index offset: entries {section, key,
//   text offset} ended by section -1.
// Every offset and length read from a file is checked against the file size:
// a damaged file opens with the entries read up to the damage and a message
// on standard error, and a bad text offset reads as a missing key.
// A text "~KEY" stands for the text of KEY in the same section; chains of
// such references end after a bounded depth with
// "(ERROR: infinite recursion detected)".
#pragma once

#include <cstdint>
#include <cstdio>

#include <zfound/Message.h>
#include <zfound/Resource.h>
#include <zfound/String.h>

class MsgFileNodeIntHashTab;
class MsgTable;

class MsgFile : public Resource {
public:
  // The open file of that name with one more reference, or a newly opened
  // one (count 1) put at the head of the list. Asserts "m != NULL_STRING".
  static MsgFile* find(String const& name);
  // Drops one reference; at zero the file leaves the list and is closed.
  static void dispose(MsgFile* f);

  // The number of section `s`, -1 when absent.
  int32_t sectionNumber(String const& s) const;
  // Appends section `s` (in memory only) and returns its number.
  int32_t addSection(String const& s);
  // The name of section `n`; null when out of range.
  String sectionName(int32_t n) const;
  // The text of (section, key): see the lookup rules above. A missing key
  // gives, when quiet, the highest String; otherwise
  // name + "." + section + "." + key + ": Message not found.".
  String search(int32_t section, String const& key, bool quiet);

  // The catalogue name (without ".msg").
  String const& fileName() const { return name; }
  // True when a file was found and opened.
  bool isOpen() const { return file != nullptr; }
  // Number of files on the process-wide list (for tests).
  static int32_t TEST_openCount();

  ~MsgFile() override;

private:
  explicit MsgFile(String const& n);
  void load();
  String searchDepth(int32_t section, String const& key, bool quiet, int depth);
  String notFound(int32_t section, String const& key) const;
  bool readText(int32_t offset, String& text);

  struct CacheSlot {
    int32_t offset = 0;
    String text;
  };
  enum : int32_t { NSLOTS = 29 };

  MsgFileNodeIntHashTab* index;  // (section, key) -> text offset
  struct Sections;
  Sections* sections;    // section names; a name's position is its number
  String name;           // the catalogue name as given
  String language;       // the LANGUAGE in force when it was opened
  FILE* file;            // null when no file was found
  int64_t fileSize;      // bytes in the file, for bounds checks
  MsgFile* next;         // the process-wide list
  CacheSlot cache[NSLOTS];
};

class MsgTable {
public:
  // A view of section `section` (null: "main") of catalogue `file`. A section
  // the file lacks is added in memory: every key in it is then missing.
  MsgTable(String const& file, String const& section = String(), bool quiet = false);
  MsgTable(MsgTable const& t);
  MsgTable& operator=(MsgTable const& t);
  ~MsgTable();

  // Lookups in this table's section with the table's quiet flag, or the one given.
  String find(String const& key) const;
  String find(String const& key, bool q) const;
  // Lookups in another section of the same file.
  String find(String const& sect, String const& key, bool q) const;
  String find(String const& sect, String const& key) const;
  // (A character-string key must not be taken for the quiet flag.)
  String find(String const& sect, char const* key) const { return find(sect, String(key)); }

  // The text as a Message.
  Message operator()(String const& key) const;
  Message operator()(String const& sect, String const& key) const;

  // A quiet lookup; `deflt` when the key is missing.
  Message dMsg(String const& key, char const* deflt) const;
  Message dMsg(String const& key, String const& deflt) const;
  Message dMsg(String const& sect, String const& key, char const* deflt) const;

  int32_t sectionNo() const { return section; }
  MsgFile* msgFile() const { return file; }

private:
  int32_t resolve(String const& sect) const;

  int32_t section;  // section number in the file
  MsgFile* file;    // holds one reference
  bool quiet;       // missing key gives the highest String
};

// Tries "<entry>/<subdir>/<file>" for each ":"-separated entry of `path` in
// order and returns the first regular file that opens for reading; null when
// none does. `found`, when not null, receives the name of the file opened.
FILE* openDataDirFile(String const& path, String const& subdir, String const& file, String* found = nullptr);

extern "C" {
// The text of `key` in section "db", "fm", "gn", "rp", "st" or "wi" of the
// library catalogue "lib". The returned characters stay valid until ten
// further calls of these functions.
char const* __DbErrmsg(char const* key);
char const* __FmErrmsg(char const* key);
char const* __GnErrmsg(char const* key);
char const* __RpErrmsg(char const* key);
char const* __StErrmsg(char const* key);
char const* __WiErrmsg(char const* key);
}
