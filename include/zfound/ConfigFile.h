// ConfigFile: a database server's configuration file of keyword lines.
//
// The file lies in "$OMBREL/servers/": "<name>.sv" for a server served on
// this machine (type 'i'), "<name>.rsv" for one reached through the socket
// transport (type 'r'). Each line is a keyword, a TAB and a value; empty lines
// and lines starting with '#' are skipped. This class handles the keys that
// clients and server share (Host, Schemas or Namespaces, ServerId,
// ObjectRepository) and hands every other keyword to resolveOthers; store()
// writes its own keys with storeOthers' lines between the schema list and
// ObjectRepository.
//
// Invariants:
//  - the file name is null unless the last read succeeded;
//  - the schema list is ','-separated; the schema count is the number of its
//    entries (0 for an empty list);
//  - a line is at most kMaxLine bytes, its newline included; only that
//    newline is removed before the line is split;
//  - store() replaces the file atomically: a new file is written beside it,
//    synced, then renamed over it; the old file stays whole on any failure;
//  - the schema list is written back under the keyword it was read with
//    (Namespaces or Schemas), and the keywords that no class of the running
//    program handles are kept (see otherKeys) for derived classes that write
//    them back.
#pragma once

#include <zfound/String.h>

#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

class ConfigFile {
public:
  // The token of each keyword of the table; TK_UNKNOWN for any other word.
  enum Token : int32_t {
    TK_UNKNOWN = -1,
    TK_CACHESIZE = 0,
    TK_CKPOINTFREQ = 1,
    TK_CKPOINTLOWBOUND = 2,
    TK_CKPOINTUPBOUND = 3,
    TK_CORRUPTIONTOLERANT = 4,
    TK_HANDLEVERSIONS = 5,
    TK_HKEEPINGMSGBOUND = 6,
    TK_HOST = 7,
    TK_JOURNALBUFFER = 8,
    TK_JOURNALDIR = 9,
    TK_LOCKS = 10,
    TK_LOCKSPERCLIENT = 11,
    TK_LOCKUNIFYBOUND = 12,
    TK_NAMESPACES = 13,
    TK_NEXTSCHEMAID = 14,
    TK_NOTIFIES = 15,
    TK_RUNLOGFILE = 16,
    TK_SCHEMAS = 17,
    TK_SERVERID = 18,
    TK_STATEFILE = 19,
    TK_DBASE = 20,
    TK_MIRRORING = 21,
    TK_BACKUP = 22,
    TK_JOURNALFLUSHFREQ = 23,
    TK_TRANSTIMEOUT = 24,
    TK_LOCKWAIT = 25,
    TK_PENDLOCKNOTIFTIME = 26,
    TK_MATURETIME = 27,
    TK_OBJECTREPOSITORY = 28,
    TK_MAXATTACHSPERCLIENT = 29,
    TK_LOCKUNIFYPERCENT = 30,
    TK_DISKCONFIGURATION = 31,
    TK_CACHEPAGESIZE = 32,
    TK_PROFILEFILE = 33,
    TK_PROFILEFREQUENCY = 34,
  };

  // One keyword (lower case) and its token.
  struct TokenEntry {
    char const* name;
    Token token;
  };
  // The keyword table, sorted by name (strcmp), and its size.
  static TokenEntry const table[];
  static constexpr int32_t tabsize = 35;

  // Longest line of a configuration file in bytes, its newline included.
  static constexpr int32_t kMaxLine = 2048;

  // All texts null, then clear().
  ConfigFile();
  // Copies every field.
  ConfigFile(ConfigFile const& o);
  ConfigFile& operator=(ConfigFile const& o);
  // A configuration of that type for that host, not read from a file.
  ConfigFile(char type, String const& host);

  // Receives every keyword this class does not handle itself (token
  // TK_UNKNOWN included) with its value and line number; does nothing here.
  virtual void resolveOthers(Token token, String const& keyword, String const& value, int32_t line);
  // Writes the derived class's own lines; writes nothing here.
  virtual void storeOthers(FILE* f);
  virtual ~ConfigFile();

  // File name, host, schema list and object repository null; server id -1;
  // type 0; schema count 0; name-space flag and modified flag off; the kept
  // other keys dropped.
  void clear();

  // Reads "$OMBREL/servers/<name>" + ".sv" (type 'i') or ".rsv" (type 'r');
  // type 0 tries ".sv" as 'i', then ".rsv" as 'r'; any other type fails the
  // precondition "0". True when a file was read; else the file name is null.
  bool read(String const& name, char type);

  String const& getFileName() const { return filename; }
  int32_t getServerId() const { return svid; }
  char getType() const { return ty; }
  String const& getHost() const { return host; }
  int32_t getNSchs() const { return nschs; }
  String const& getSchemas() const { return schemas; }
  bool isNameSpace() const { return nspace; }
  bool isModified() const { return modified; }
  String const& objectRepository() const { return objRepository; }
  // Sets the object repository and marks the file modified when it changes.
  void setObjectRepository(String const& s);
  // Non-null once a file was read.
  operator void*() const { return filename.isNull() ? nullptr : const_cast<ConfigFile*>(this); }
  bool operator!() const { return filename.isNull(); }

  // The file name's last '/'-component up to its first '.'.
  String getServerName() const;
  // The n-th entry of the schema list (from 0) up to its first ':'; null
  // when n is outside the list.
  String getSchName(int32_t n) const;
  // True when one of the first schema-count entries has the name s.
  bool findSchema(String const& s) const;
  // When value is empty, reports "CNFMALFORMED1" with the file name, the
  // keyword and the line through error(); true when value is not empty.
  bool checkNullValue(String const& keyword, String const& value, int32_t line) const;
  // Removes every entry named s from the list (file read and list not
  // empty); when one was removed the count drops accordingly, the file is
  // marked modified and the result is true.
  bool delSchema(String const& s);
  // Writes the file when one was read and it is marked modified; clears the
  // modified flag once the new file is in place. False (and still
  // modified) when it could not be written; true otherwise.
  bool store();

  // The token of a keyword (any case, surrounding blanks not allowed);
  // TK_UNKNOWN when it is not in the table.
  static Token findToken(String const& keyword);
  // The order of the keyword table: strcmp of the names.
  static int cmpTokens(void const* a, void const* b);

  // The keywords passed to resolveOthers by the last read, each with its
  // value, in file order.
  std::vector<std::pair<String, String>> const& otherKeys() const { return others; }

protected:
  // Reads one file as the configuration of type ty; see read().
  bool readFile(String const& file);
  // Writes the kept other keys, one "keyword\t\tvalue" line each.
  void storeOtherKeys(FILE* f) const;
  // Splits a list at sep into its entries (a null list has none).
  static std::vector<String> splitList(String const& list, char sep);

  String filename;       // path of the file read; null when none
  int32_t svid;          // server id; -1 when unknown
  char ty;               // 'i' local, 'r' remote, 0 not known
  String host;           // the remote server's host (type 'r')
  int32_t nschs;         // entries in the schema list
  String schemas;        // ','-separated entries: name[:more]
  bool modified;         // store() must rewrite the file
  bool nspace;           // the list came from "namespaces"
  String objRepository;  // object repository
  std::vector<std::pair<String, String>> others;  // other keys as read

private:
  void copyFrom(ConfigFile const& o);
  // Handles one line (without its newline) numbered line.
  void parseLine(char const* text, size_t len, int32_t line);
};
