// CatalogEnv: the calls that schemas make into the server core, gathered as
// a table of hooks that the server core installs.
//
// The catalog lies below the server core, so a schema never includes its
// headers. Each hook may be null; a null hook gives the answer of a server
// without configuration, journal or deferred removals: schema ids from a
// counter starting at 0x101 (never ending in a zero schema field), schema
// registration accepted, nothing to unlink, no file waiting for removal, no
// journal written, no collating sets.
//
// Invariants: the hook table is replaced whole; reset() puts back the
// defaults and the counter.
#pragma once

#include <cstdint>

#include <zfound/String.h>

class Client;
class CollateSet;

namespace svcatalog {

struct CatalogHooks {
  // A new schema id (Server::newSchId).
  int32_t (*newSchId)() = nullptr;
  // Registers the schema in the configuration and the disk layout.
  bool (*addSchema)(String const& dir, String const& name, int32_t id) = nullptr;
  // Removes it from both.
  bool (*delSchema)(String const& name) = nullptr;
  // Lists the schema's files and directories for deferred removal.
  void (*unlinkSchema)(String const& name) = nullptr;
  // True when file `file` of schema `schema` waits for deferred removal.
  bool (*belongsDeferUnlink)(String const& file, String const& schema) = nullptr;
  // Journal records of schema creation and removal (nothing without one).
  void (*putAddSchema)(Client* c, String const& name, int32_t id) = nullptr;
  void (*putDelSchema)(Client* c, String const& name) = nullptr;
  // The collating set of that name, or null.
  CollateSet* (*findCollateSet)(String const& name) = nullptr;
  // The server's name (qualifies schema names); none by default.
  String (*serverName)() = nullptr;
};

class CatalogEnv {
public:
  static void setHooks(CatalogHooks const& h);
  // The hook table in force.
  static CatalogHooks const& hooks() { return hooks_; }
  static void reset();

  static int32_t newSchId();
  static bool addSchema(String const& dir, String const& name, int32_t id);
  static bool delSchema(String const& name);
  static void unlinkSchema(String const& name);
  static bool belongsDeferUnlink(String const& file, String const& schema);
  static void putAddSchema(Client* c, String const& name, int32_t id);
  static void putDelSchema(Client* c, String const& name);
  static CollateSet* findCollateSet(String const& name);
  // The name a set is found under (its file "<name>/<name>.cs"): the set's
  // file name without ".cs"; the null string for none. Catalog rows and
  // descriptions carry this name, so a later lookup finds the same file.
  static String collateName(CollateSet const* set);
  static String serverName();

private:
  static CatalogHooks hooks_;
  static int32_t nextSchId_;
};

}  // namespace svcatalog
