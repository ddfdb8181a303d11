// The catalog's hooks answered by the server, and stray-file removal over
// the open schemas.
#include <svcore/SchemaFiles.h>

#include <svcatalog/CatalogEnv.h>
#include <svcatalog/SvSchema.h>
#include <svcore/Server.h>
#include <svcore/SvConfigFile.h>

namespace svcore {

namespace {

int32_t newSchId() { return Server::configFile != nullptr ? Server::configFile->nextSchemaId() : -1; }

bool claims(void* ctx, String const& file) { return static_cast<SvSchema*>(ctx)->belongs(file); }

}  // namespace

void installCatalogHooks() {
  svcatalog::CatalogHooks h;
  h.newSchId = newSchId;
  h.addSchema = Server::addSchema;
  h.delSchema = Server::delSchema;
  h.unlinkSchema = Server::unlinkSchema;
  h.belongsDeferUnlink = [](String const& file, String const& schema) {
    return Server::belongsDeferUnlink(file, schema);
  };
  h.serverName = [] { return Server::name(); };
  h.findCollateSet = Server::findCollateSet;
  svcatalog::CatalogEnv::setHooks(h);
}

void unlinkUnUsedFiles(SvSchema* s) {
  Server::unlinkUnUsedFiles(s->name(), claims, s, s->mayRemoveStrayFiles());
}

void unlinkUnUsedFiles() {
  for (SvSchema* s = SvSchema::first(); s != nullptr; s = s->next()) unlinkUnUsedFiles(s);
}

}  // namespace svcore
