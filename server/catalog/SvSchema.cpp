// SvSchema: the schema list, the tables array, file names, privileges in
// memory, enumerations in memory and the listings. The catalog rows that
// change a schema are in SchemaRows.cpp.
#include <svcatalog/SvSchema.h>

#include <algorithm>
#include <memory>

#include <svcatalog/CatalogDefs.h>
#include <svcatalog/CatalogEnv.h>
#include <svcatalog/SchemaNames.h>
#include <svcatalog/SvField.h>
#include <svcatalog/SvTabRep.h>
#include <svcatalog/SvTable.h>
#include <zfound/Connection.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>

using svcatalog::CatalogEnv;

SvSchema* SvSchema::schemaHead = nullptr;

namespace {

bool sameText(String const& a, String const& b) { return cmp(a, b) == 0; }

// Case-blind comparison of two names (ASCII letters).
bool sameNameAnyCase(String const& a, String const& b) {
  long const na = a.isNull() ? 0 : a.length(), nb = b.isNull() ? 0 : b.length();
  if (na != nb) return false;
  for (long i = 0; i < na; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = char(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = char(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// Sort key of a representation: temporary tables last, then by instance.
int64_t sortKey(SvTabRep const* t) {
  if (t == nullptr) return int64_t(1) << 40;
  return t->isTemp() ? int64_t(0x7fffffff) : int64_t(t->instId());
}

}  // namespace

void SvSchema::init(String const& descr, int32_t owner, int32_t id) {
  descr_ = descr;
  owner_ = owner;
  id_ = id;
  tables_.reserve(8);
  enums_.reserve(8);
}

void SvSchema::pushOnList() {
  next_ = schemaHead;
  schemaHead = this;
}

void SvSchema::addStats() {
  for (int32_t t = 9; t <= 10; ++t) {
    auto s = std::make_unique<GServObjStats>();
    s->statType(GServObjStats::sttype(t));
    getSObjs().push_back(std::move(s));
  }
}

SvSchema* SvSchema::find(String const& name) {
  for (SvSchema* s = schemaHead; s != nullptr; s = s->next_)
    if (sameText(s->name_, name)) return s;
  return nullptr;
}

String SvSchema::directory() const { return dbase_ + "/" + name_; }

String SvSchema::qualifiedName() const {
  String const server = CatalogEnv::serverName();
  return server.isNull() ? name_ : server + "." + name_;
}

void SvSchema::setData(String const& descr, int32_t owner, int32_t id) {
  descr_ = descr;
  owner_ = owner;
  id_ = id;
}

bool SvSchema::allowed(int32_t user, int32_t group, int32_t priv) const {
  return privs_.allowed(owner_, user, group, priv);
}

// ---- tables ----------------------------------------------------------------

void SvSchema::addTable(SvTabRep* t) {
  if (t == nullptr) return;
  tables_.push_back(t);
  ++nTabs_;
  sortTables();
}

void SvSchema::delTable(SvTabRep* t) {
  auto it = std::find(tables_.begin(), tables_.end(), t);
  if (it == tables_.end()) return;
  tables_.erase(it);
  --nTabs_;
}

void SvSchema::sortTables() {
  std::stable_sort(tables_.begin(), tables_.end(),
                   [](SvTabRep const* a, SvTabRep const* b) { return sortKey(a) < sortKey(b); });
}

SvTabRep* SvSchema::table(int32_t i) const {
  return i >= 0 && i < tablesDim() ? tables_[size_t(i)] : nullptr;
}

SvTabRep* SvSchema::findTabRep(String const& name) const {
  for (SvTabRep* t : tables_)
    if (t != nullptr && sameText(t->name(), name)) return t;
  return nullptr;
}

SvTabRep* SvSchema::findTabRep(ObjectId const& id) const {
  for (SvTabRep* t : tables_)
    if (t != nullptr && !t->isTemp() && t->classId() == id.classId() && t->instId() == id.instId()) return t;
  return nullptr;
}

int32_t SvSchema::nTables() const {
  int32_t n = 0;
  for (SvTabRep const* t : tables_)
    if (t != nullptr && !t->isTemp()) ++n;
  return n;
}

bool SvSchema::belongs(String const& file) const {
  for (SvTabRep const* t : tables_)
    if (t != nullptr && t->belongs(file)) return true;
  return false;
}

String SvSchema::newFileName(String const& name, String const& ext) {
  return svcatalog::newFileName(name, ext, [this](String const& f) {
    return belongs(f) || CatalogEnv::belongsDeferUnlink(f, name_);
  });
}

// ---- enumerations in memory --------------------------------------------------

SvEnum* SvSchema::findEnum(String const& name) const {
  for (SvEnum* e : enums_)
    if (sameNameAnyCase(e->name(), name)) return e;
  return nullptr;
}

SvEnum* SvSchema::enumAt(int32_t n) const {
  return n >= 0 && n < nEnums() ? enums_[size_t(n)] : nullptr;
}

int32_t SvSchema::addEnum(String const& name) {
  if (findEnum(name) != nullptr) warning(String("Enumeration '") + name + "' added twice to schema " + name_);
  return addEnum(new SvEnum(name));
}

int32_t SvSchema::addEnum(SvEnum* e) {
  enums_.push_back(e);
  return nEnums() - 1;
}

int32_t SvSchema::addEnumItem(int32_t number, String const& name, int32_t value) {
  SvEnum* e = enumAt(number);
  if (e == nullptr) return -1;
  return e->addItem(name, value);
}

bool SvSchema::delEnum(String const& name) {
  for (size_t i = 0; i < enums_.size(); ++i) {
    if (sameText(enums_[i]->name(), name)) {
      delete enums_[i];
      enums_.erase(enums_.begin() + long(i));
      return true;
    }
  }
  warning(String("Enumeration '") + name + "' is not in schema " + name_);
  return false;
}

bool SvSchema::checkEnum(String const& name, std::vector<std::pair<String, int32_t>> const& items) {
  using svcatalog::Cat;
  using svcatalog::IntegrCol::Value;
  if (name.isNull() || name.isHighest()) {
    keepFirstError(InvalidData(String("enumeration name is empty")));
    return false;
  }
  if (!svcatalog::columnFits(Cat::Integr, Value, name)) return false;
  if (items.size() > size_t(kMaxEnumItems)) {
    keepFirstError(InvalidData(String("enumeration '") + name + "' has more than 9999 items"));
    return false;
  }
  for (auto const& [item, value] : items) {
    if (item.isNull() || item.isHighest()) {
      keepFirstError(InvalidData(String("enumeration '") + name + "' has an item without a name"));
      return false;
    }
    if (!svcatalog::columnFits(Cat::Integr, Value, item)) return false;
    if (value < -kMaxEnumValue || value > kMaxEnumValue) {
      keepFirstError(InvalidData(String("enumeration '") + name + "' item '" + item + "' = " + toString(value) +
                                 " is outside -9999..9999"));
      return false;
    }
  }
  return true;
}

bool SvSchema::getEnumInfo(String const& enumName, String const& itemName, int32_t*& values) {
  values = nullptr;
  SvEnum const* e = findEnum(enumName);
  if (e == nullptr) return false;
  if (!itemName.isNull()) {
    int32_t const v = e->itemValue(itemName);
    if (v == SvEnum::kNoValue) return false;
    values = new int32_t[1]{v};
    return true;
  }
  values = e->itemsValues();
  return values != nullptr;
}

void SvSchema::sendEnums(Connection* c) const {
  *c << int32_t(nEnums());
  for (SvEnum const* e : enums_) {
    *c << e->name() << int32_t(e->nItems());
    for (int32_t i = 0; i < e->nItems(); ++i) *c << e->item(i)->name() << e->item(i)->value();
  }
}

// ---- whole-schema passes -------------------------------------------------------

bool SvSchema::verify(bool exhaustive) {
  bool ok = true;
  for (SvTabRep* t : tables_)
    if (t != nullptr && !t->isTemp() && !t->verify(exhaustive)) ok = false;
  return ok;
}

bool SvSchema::newVers() {
  bool ok = true;
  for (SvTabRep* t : tables_)
    if (t != nullptr && !t->isTemp() && !t->newVers()) ok = false;
  return ok;
}

void SvSchema::unifyLocks(Client* c, svcatalog::LockObject*& lock) {
  for (SvTabRep* t : tables_)
    if (t != nullptr) t->unifyLocks(c, lock);
}

void SvSchema::nLocks(int32_t& tabLocks, int32_t& recLocks) const {
  tabLocks = recLocks = 0;
  for (SvTabRep const* t : tables_) {
    if (t == nullptr) continue;
    int32_t a = 0, b = 0;
    t->nLocks(a, b);
    tabLocks += a;
    recLocks += b;
  }
}

void SvSchema::listLocks() const {
  for (SvTabRep const* t : tables_)
    if (t != nullptr) t->listLocks();
}

// ---- listings ----------------------------------------------------------------

void SvSchema::listSchemas() {
  warning(String("---------- Schema List ------------"));
  for (SvSchema* s = schemaHead; s != nullptr; s = s->next_) warning(String("Schema: '") + s->name_ + "'");
  warning(String("-----------------------------------"));
}

void SvSchema::printPrivs() {
  for (SvSchema* s = schemaHead; s != nullptr; s = s->next_) {
    warning(String("Privileges for schema ") + s->name_);
    s->privs_.print();
    for (SvTabRep const* t : s->tables_)
      if (t != nullptr) t->printPrivs();
  }
}

void SvSchema::listContents() const {
  for (SvTabRep const* t : tables_)
    if (SvTable const* a = t != nullptr ? t->attachment(-1) : nullptr; a != nullptr) a->listContents();
}

void SvSchema::listTables() const {
  warning(String("---------- Table List ------------"));
  for (SvTabRep const* t : tables_)
    if (t != nullptr) warning(String(" - ") + t->name());
  warning(String("----------------------------------"));
}

void SvSchema::getMethInfo(String& out) {
  String text = name_ + "(" + objType() + ")";
  long const n = text.length();
  long const left = n < 50 ? (50 - n) / 2 : 0;
  long const right = n < 50 ? 50 - n - left : 0;
  out = String(std::string(size_t(left), ' ').c_str()) + text + String(std::string(size_t(right), ' ').c_str()) +
        "\n";
}
