// DbConfigFile: the client's choice among the servers listed in "SERVERS"
// and its upkeep of a remote server's schema list.
//
// Every walk of the list skips empty entries, so "a;;b" lists a and b. A
// rewrite of a remote file keeps the keys this class does not use (kept by
// the base while reading) and the keyword of the schema list.
#include <zfound/Assert.h>
#include <zfound/DbConfigFile.h>
#include <zfound/Message.h>

DbConfigFile::~DbConfigFile() = default;

void DbConfigFile::resolveOthers(Token, String const&, String const&, int32_t) {}

void DbConfigFile::storeOthers(FILE* f) { storeOtherKeys(f); }

std::vector<String> DbConfigFile::serverList() {
  std::vector<String> out;
  for (String const& s : splitList(String("SERVERS").getEnv(), ';'))
    if (!s.isNull()) out.push_back(s);
  return out;
}

bool DbConfigFile::getServer(String const& name) { return read(name, 'i'); }

bool DbConfigFile::find(String const& schema, char type) {
  for (String const& server : serverList())
    if (read(server, type) && findSchema(schema)) return true;
  clear();
  return false;
}

bool DbConfigFile::findServer(String const& name, bool check, char type) {
  if (!check) {
    if (name.isNull()) {
      clear();
      return false;
    }
    return read(name, type);
  }
  std::vector<String> servers = serverList();
  if (name.isNull()) {
    if (servers.empty()) {
      clear();
      error(libMsg("NOSVINSERVERS"));
      return false;
    }
    return read(servers.front(), type);
  }
  for (String const& s : servers)
    if (s == name) return read(name, type);
  clear();
  error(libMsg("SVNOTINSERVERS"), &name);
  return false;
}

String DbConfigFile::accessiblesServers() {
  String out;
  bool first = true;
  for (String const& s : serverList()) {
    if (!first) out += '\t';
    out += s;
    first = false;
  }
  return out;
}

bool DbConfigFile::addSchema(String const& schema) {
  if (filename.isNull()) return false;
  if (!ZF_PRECOND(ty == 'r')) return false;
  if (!schema || schema.index(',') >= 0 || schema.index('\t') >= 0 || schema.index('\n') >= 0 ||
      schema.index('\r') >= 0)
    return false;
  bool listed = false;
  for (String const& e : splitList(schemas, ','))
    if (e == schema) listed = true;
  if (!listed) {
    // The list line must stay readable: "Namespaces", two TABs, the list and
    // the newline within one line.
    if (10 + 2 + schemas.length() + 1 + schema.length() + 1 > kMaxLine) return false;
    if (!schemas.isNull()) schemas += ',';
    schemas += schema;
    nschs = static_cast<int32_t>(schemas.count(',')) + 1;
    modified = true;
  }
  return store();
}

bool DbConfigFile::delSchema(String const& schema) {
  if (filename.isNull()) return false;
  if (!ZF_PRECOND(ty == 'r')) return false;
  if (!ConfigFile::delSchema(schema)) return false;
  return store();
}
