// The disk layout of schemas: layout entries kept in step with the
// configured schemas, their directories checked at start, a dropped schema's
// files listed for deferred removal, and stray files cleared away.
//
// A layout entry belongs to a schema when its pattern up to the first "."
// is the schema's name. Stray-file removal takes only regular files whose
// names are the server's own data and index file names ("$class.tab",
// "_custome.i01", ...), and only when the schema holds tables; every other
// entry of a schema directory (a user's file, a subdirectory, a link) is
// reported and kept.
#include <svcore/Server.h>

#include <svcore/SvConfigFile.h>

#include <zfound/Message.h>
#include <zfound/PhysLayout.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

// The catalog tables' base names.
constexpr char const* kCatalogBases[] = {"$class", "$member", "$mindex", "$mimembr", "$privg", "$integr"};

// "tab", or "i" and two or more digits.
bool serverExtension(std::string const& ext) {
  if (ext == "tab") return true;
  if (ext.size() < 3 || ext[0] != 'i') return false;
  for (size_t i = 1; i < ext.size(); ++i)
    if (ext[i] < '0' || ext[i] > '9') return false;
  return true;
}

// True for the names under which the server keeps data and index files: a
// catalog base or "_" with 1..7 further characters, then a server extension.
bool serverFileName(std::string const& name) {
  size_t const dot = name.find('.');
  if (dot == std::string::npos || name.find('.', dot + 1) != std::string::npos) return false;
  std::string const base = name.substr(0, dot);
  if (!serverExtension(name.substr(dot + 1))) return false;
  for (char const* c : kCatalogBases)
    if (base == c) return true;
  if (base.size() < 2 || base.size() > 8 || base[0] != '_') return false;
  for (unsigned char ch : base)
    if (ch < 0x20 || ch == 0x7f || ch == '/') return false;
  return true;
}

// The distinct part directories of the schema's entries, in layout order.
std::vector<String> schemaDirs(PhysLayout* layout, String const& schema) {
  std::vector<String> dirs;
  std::set<std::string> seen;
  for (int32_t i = 0; i < layout->nEntries(); ++i) {
    PhysLayoutEntry* e = layout->entry(i);
    if (!Server::entryOfSchema(e->pattern(), schema)) continue;
    for (int32_t p = 0; p < e->nParts(); ++p) {
      String d = e->part(p);
      if (d.isNull()) continue;
      if (seen.insert(toCharPtr(d)).second) dirs.push_back(d);
    }
  }
  return dirs;
}

// The names in `dir` other than "." and "..", sorted.
std::vector<std::string> dirNames(String const& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(toCharPtr(dir));
  if (d == nullptr) return names;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

bool Server::entryOfSchema(String const& pattern, String const& schema) {
  long const dot = pattern.index('.');
  long const len = dot < 0 ? pattern.length() : dot;
  return String(toCharPtr(pattern), len) == schema;
}

void Server::convertIntoDiskConfig() {
  if (configFile == nullptr) return;
  for (int32_t n = 0; !configFile->schemaName(n).isNull(); ++n) {
    String dir = configFile->hasSchDbase(n);
    if (dir.isNull()) continue;
    String name = configFile->schemaName(n);
    physLayout()->addPackedEntry(name + ".$*", dir, name);
    physLayout()->addPackedEntry(name + ".*", dir, name);
    configFile->removeSchDbase(n);
  }
}

void Server::checkDiskConfigEntries() {
  PhysLayout* layout = physLayout();
  for (int32_t i = 0; i < layout->nEntries(); ++i) {
    String pat = layout->entry(i)->pattern();
    bool known = false;
    for (int32_t n = 0; configFile != nullptr && !configFile->schemaName(n).isNull(); ++n)
      if (entryOfSchema(pat, configFile->schemaName(n))) known = true;
    if (!known) error(appMsg("BADENTRY"), i, toCharPtr(pat));
  }
}

bool Server::checkDiskConfigDirs(String const& schema) {
  PhysLayout* layout = physLayout();
  bool any = false;
  for (int32_t i = 0; i < layout->nEntries(); ++i) {
    PhysLayoutEntry* e = layout->entry(i);
    if (!entryOfSchema(e->pattern(), schema)) continue;
    any = true;
    e->dirSuffix(schema);
    for (int32_t p = 0; p < e->nParts(); ++p) {
      String d = e->part(p);
      struct stat st;
      if (d.isNull() || ::stat(toCharPtr(d), &st) != 0 || !S_ISDIR(st.st_mode))
        error(appMsg("PARTNOTFOUND"), toCharPtr(e->pattern()), toCharPtr(d));
    }
  }
  return any;
}

void Server::unlinkSchema(String const& schema) {
  for (String const& dir : schemaDirs(physLayout(), schema)) {
    if (belongsDeferUnlink(dir, String())) continue;
    for (std::string const& n : dirNames(dir)) deferUnlink(dir + "/" + n.c_str(), String(), String());
    deferUnlink(dir, String(), String());
  }
}

void Server::delDiskConfigEntries(String const& schema) {
  PhysLayout* layout = physLayout();
  for (int32_t i = layout->nEntries() - 1; i >= 0; --i)
    if (entryOfSchema(layout->entry(i)->pattern(), schema)) delete layout->delEntry(i);
}

void Server::unlinkUnUsedFiles(String const& schema, bool (*claims)(void*, String const&), void* ctx,
                               bool hasTables) {
  for (String const& dir : schemaDirs(physLayout(), schema)) {
    for (std::string const& n : dirNames(dir)) {
      String name(n.c_str());
      if (claims != nullptr && claims(ctx, name)) continue;
      String full = dir + "/" + name;
      struct stat st;
      bool const regular = ::lstat(toCharPtr(full), &st) == 0 && S_ISREG(st.st_mode);
      if (!regular || !serverFileName(n)) {
        warning(appMsg("KEEPINGFILE"), toCharPtr(full));
        continue;
      }
      warning(appMsg("DELETINGFILE"), toCharPtr(full));
      if (hasTables) ::unlink(toCharPtr(full));
    }
  }
}
