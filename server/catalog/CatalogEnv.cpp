// The catalog's hooks into the server core and their defaults.
#include <svcatalog/CatalogEnv.h>

#include <zfound/CollateSet.h>
#include <zfound/String.h>

#include <string>

namespace svcatalog {

CatalogHooks CatalogEnv::hooks_;
int32_t CatalogEnv::nextSchId_ = 0x101;

void CatalogEnv::setHooks(CatalogHooks const& h) { hooks_ = h; }

void CatalogEnv::reset() {
  hooks_ = CatalogHooks();
  nextSchId_ = 0x101;
}

int32_t CatalogEnv::newSchId() {
  if (hooks_.newSchId) return hooks_.newSchId();
  int32_t id = nextSchId_++;
  if ((id & 63) == 0) id = nextSchId_++;  // a schema field of 0 is never handed out
  return id;
}

bool CatalogEnv::addSchema(String const& dir, String const& name, int32_t id) {
  return hooks_.addSchema ? hooks_.addSchema(dir, name, id) : true;
}

bool CatalogEnv::delSchema(String const& name) { return hooks_.delSchema ? hooks_.delSchema(name) : true; }

void CatalogEnv::unlinkSchema(String const& name) {
  if (hooks_.unlinkSchema) hooks_.unlinkSchema(name);
}

bool CatalogEnv::belongsDeferUnlink(String const& file, String const& schema) {
  return hooks_.belongsDeferUnlink ? hooks_.belongsDeferUnlink(file, schema) : false;
}

void CatalogEnv::putAddSchema(Client* c, String const& name, int32_t id) {
  if (hooks_.putAddSchema) hooks_.putAddSchema(c, name, id);
}

void CatalogEnv::putDelSchema(Client* c, String const& name) {
  if (hooks_.putDelSchema) hooks_.putDelSchema(c, name);
}

CollateSet* CatalogEnv::findCollateSet(String const& name) {
  return hooks_.findCollateSet ? hooks_.findCollateSet(name) : nullptr;
}

String CatalogEnv::collateName(CollateSet const* set) {
  if (set == nullptr) return String();
  std::string name = toCharPtr(set->name());
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".cs") == 0) name.resize(name.size() - 3);
  return String(name.c_str());
}

}  // namespace svcatalog

namespace svcatalog {

String CatalogEnv::serverName() { return hooks_.serverName ? hooks_.serverName() : String(); }

}  // namespace svcatalog
