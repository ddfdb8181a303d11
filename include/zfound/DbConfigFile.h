// DbConfigFile: a client's view of the servers it may use.
//
// The servers are listed in the environment variable "SERVERS", names
// separated by ';'; empty entries are skipped wherever the list is walked.
// A DbConfigFile reads a listed server's configuration file, finds the server
// that holds a schema and keeps the schema list of a remote (".rsv")
// configuration up to date. When it rewrites a file it keeps every key it
// read there, the ones it does not use included, and the keyword of the
// schema list (Schemas or Namespaces).
#pragma once

#include <zfound/ConfigFile.h>

class DbConfigFile : public ConfigFile {
public:
  DbConfigFile() = default;
  DbConfigFile(DbConfigFile const& o) = default;
  DbConfigFile& operator=(DbConfigFile const& o) = default;
  DbConfigFile(char type, String const& host) : ConfigFile(type, host) {}

  // Other keywords are only kept (see ConfigFile::otherKeys).
  void resolveOthers(Token token, String const& keyword, String const& value, int32_t line) override;
  // Writes the kept other keys back.
  void storeOthers(FILE* f) override;
  ~DbConfigFile() override;

  // read(name, 'i').
  bool getServer(String const& name);
  // Reads the configuration of each listed server in turn (as type `type`)
  // and stops at the first that holds the schema; true then. When none holds
  // it the configuration is cleared (null file name) and the result is false.
  bool find(String const& schema, char type = 0);
  // Without check: false for an empty name, else read(name, type). With
  // check: an empty name means the first listed server ("NOSVINSERVERS"
  // when there is none); a name not listed reports "SVNOTINSERVERS" and
  // reads nothing (the configuration is cleared, false).
  bool findServer(String const& name, bool check, char type = 0);
  // The listed servers joined by TAB characters; null when none.
  static String accessiblesServers();
  // Remote file only (precondition "ty == 'r'"): appends schema to the list
  // unless an entry equals it, then rewrites the file. False without a file,
  // for a name that cannot be an entry (empty, or holding ',', a TAB or a
  // line break), when the list line would pass kMaxLine, or when the file
  // could not be written.
  bool addSchema(String const& schema);
  // Remote file only (precondition "ty == 'r'"): removes the schema's entries
  // and rewrites the file. True when one was removed and the file written.
  bool delSchema(String const& schema);

  // The non-empty entries of "SERVERS", in order.
  static std::vector<String> serverList();
};
