// SvSchema: construction, the catalog tables, the schema's own row, its
// privilege rows and enumeration rows, and dropping a schema.
#include <svcatalog/SvSchema.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>

#include <sindex/SvIndex.h>
#include <svcatalog/CatalogDefs.h>
#include <svcatalog/CatalogEnv.h>
#include <svcatalog/CatalogOps.h>
#include <svcatalog/CatalogTables.h>
#include <svcatalog/SchemaNames.h>
#include <svcatalog/SvExpr.h>
#include <svcatalog/SvField.h>
#include <svcatalog/SvTabRep.h>
#include <svcatalog/SvTable.h>
#include <svcatalog/TableEnv.h>
#include <zfound/Connection.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>

using svcatalog::CatalogEnv;
using svcatalog::CatalogTable;
using svcatalog::Cat;
using svcatalog::TableEnv;

namespace {

// Journal writing is switched off while a schema is built and read; the
// previous state comes back at the end.
class LogOff {
public:
  LogOff() : was_(TableEnv::logDisable) { TableEnv::logDisable = true; }
  ~LogOff() { TableEnv::logDisable = was_; }

private:
  bool was_;
};

// Removes a schema directory this request made, with the files it got so far:
// a refused creation leaves nothing behind.
void removeNewDirectory(String const& dir) {
  if (DIR* d = ::opendir(toCharPtr(dir))) {
    while (dirent* e = ::readdir(d)) {
      std::string const n = e->d_name;
      if (n == "." || n == "..") continue;
      String const full = dir + "/" + n.c_str();
      struct stat st;
      if (::lstat(toCharPtr(full), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(toCharPtr(full));
    }
    ::closedir(d);
  }
  ::rmdir(toCharPtr(dir));
}

// A directory left by a schema that no configuration claims (made, then
// lost in a crash before any checkpoint recorded it) is cleared so that the
// name can be created again: only when it holds nothing but regular files
// and is not a dropped schema's directory waiting for removal. true when
// the directory is gone.
bool clearUnclaimedDirectory(String const& dir) {
  if (CatalogEnv::belongsDeferUnlink(dir, String())) return false;
  DIR* const d = ::opendir(toCharPtr(dir));
  if (d == nullptr) return false;
  bool plain = true;
  while (dirent* e = ::readdir(d)) {
    std::string const n = e->d_name;
    if (n == "." || n == "..") continue;
    String const full = dir + "/" + n.c_str();
    struct stat st;
    if (::lstat(toCharPtr(full), &st) != 0 || !S_ISREG(st.st_mode) ||
        CatalogEnv::belongsDeferUnlink(full, String()))
      plain = false;
  }
  ::closedir(d);
  if (!plain) return false;
  removeNewDirectory(dir);
  return ::access(toCharPtr(dir), F_OK) != 0;
}

}  // namespace

SvSchema::SvSchema(Client* c, String const& name, int32_t id) : name_(name) {
  init(String(), 0, id);
  if (!svcatalog::checkObjectName(name, "schema")) {
    id_ = -1;
  } else {
    LogOff off;
    if (!buildTabTable() || !readSc1(c)) warning(appMsg("CANTREADSCHEMA"), toCharPtr(name_));
  }
  pushOnList();
  addStats();
}

SvSchema::SvSchema(Client*, String const& name, String const& dbase, String const& descr, int32_t owner,
                   int32_t id, bool redo)
    : name_(name), dbase_(dbase) {
  init(descr, owner, id);
  pushOnList();
  bool reused = false;
  if (!svcatalog::checkObjectName(name, "schema")) {
    id_ = -1;
  } else if (::mkdir(toCharPtr(directory()), 0777) != 0 && !(reused = redo && errno == EEXIST) &&
             !(errno == EEXIST && clearUnclaimedDirectory(directory()) &&
               ::mkdir(toCharPtr(directory()), 0777) == 0)) {
    warning(appMsg("CANTCREATESCHEMA"), toCharPtr(directory()));
    id_ = -1;
  } else {
    if (id_ == -1) id_ = CatalogEnv::newSchId();
    bool added = false;
    if (id_ == -1 || !(added = CatalogEnv::addSchema(dbase_, name_, id_)) || !buildTabTable()) {
      warning(appMsg("CANTCREATESCHEMA"), toCharPtr(directory()));
      destructTabTable();
      if (added) CatalogEnv::delSchema(name_);
      if (!reused) removeNewDirectory(directory());
      id_ = -1;
    }
  }
  addStats();
}

SvSchema::~SvSchema() {
  for (SvEnum* e : enums_) delete e;
  enums_.clear();
  // The schema's own tables go first, newest position first; a current
  // attachment owns its representation.
  for (;;) {
    SvTabRep* t = nullptr;
    for (size_t i = tables_.size(); i-- > 0;)
      if (tables_[i] != nullptr && !isCatalogRep(tables_[i])) {
        t = tables_[i];
        break;
      }
    if (t == nullptr) break;
    if (SvTable* att = t->attachment(-1); att != nullptr) {
      if (svcatalog::TableEnv::objects != nullptr) svcatalog::TableEnv::objects->takeFromClients(att);
      delete att;
    } else {
      delete t;
    }
  }
  destructTabTable();
  for (SvSchema** p = &schemaHead; *p != nullptr; p = &(*p)->next_) {
    if (*p == this) {
      *p = next_;
      break;
    }
  }
}

bool SvSchema::isCatalogRep(SvTabRep const* t) const {
  CatalogTable* const cats[] = {tabTable_, fldTable_, indTable_, indFldTable_, privTable_, inTable_};
  for (CatalogTable* ct : cats)
    if (ct != nullptr && ct->tabRep() == t) return true;
  return false;
}

SvTabRep* SvSchema::classFile() { return tabTable_ != nullptr ? tabTable_->tabRep() : nullptr; }

// ---- the catalog tables --------------------------------------------------------

namespace {

template <class T>
T* buildCatalog(SvSchema* s, Cat kind) {
  svcatalog::CatalogDef const& d = svcatalog::catalogDef(kind);
  SvTabRep* rep = new SvTabRep(s, svcatalog::catalogInst(kind), String(d.table), String(d.file), String(), 0,
                               d.capacity, 0, 0, 0, false);
  if (!rep->opened()) {
    delete rep;
    return nullptr;
  }
  // A catalog outside a packed layout entry is reported and used all the same.
  if (!rep->isPacked()) warning(appMsg("BADSTRUCTTYPE"), kind == Cat::Integr ? d.file : d.table);
  if (!svcatalog::buildCatalogColumns(rep, kind)) {
    delete rep;
    return nullptr;
  }
  rep->setRecLength(rep->nextOffset());
  T* att = new T(rep, s);
  auto index = [&](char const* name, int32_t len, int32_t parts, IndFlags flags) {
    String const file = String(d.table) + "." + rep->getNewIndExt();
    SvIndRep* ir = new SvIndRep(rep, 0, String(name), file, len, parts, flags, nullptr);
    if (!ir->ok()) {
      delete ir;
      return false;
    }
    rep->addIndex(ir);
    if (parts == 1) {
      ir->addField(new SvIndObject(ir, 0), ir->number());
    } else {
      ir->addField(new SvIndTabFld(ir, 0, rep->field(0), 0), ir->number());
      ir->addField(new SvIndTabFld(ir, 0, rep->field(1), 0), ir->number());
    }
    SvIndex* ix = new SvIndex(ir, att, -1);
    return ix->ok();
  };
  bool ok = index(d.index0, 4, 1, 2);
  if (ok && d.index1 != nullptr)
    ok = index(d.index1, rep->field(0)->ilength(false) + rep->field(1)->ilength(false), 2, 1);
  if (!ok) {
    delete att;
    return nullptr;
  }
  return att;
}

}  // namespace

bool SvSchema::buildTabTable() {
  fldTable_ = buildCatalog<SvFldTable>(this, Cat::Member);
  inTable_ = buildCatalog<SvInTable>(this, Cat::Integr);
  indTable_ = buildCatalog<SvIndTable>(this, Cat::MIndex);
  indFldTable_ = buildCatalog<SvIndFldTable>(this, Cat::MIMembr);
  privTable_ = buildCatalog<SvPrivTable>(this, Cat::Privg);
  if (fldTable_ && inTable_ && indTable_ && indFldTable_ && privTable_)
    tabTable_ = buildCatalog<SvTabTable>(this, Cat::Class);
  if (tabTable_ != nullptr) return true;
  destructTabTable();
  return false;
}

void SvSchema::destructTabTable() {
  CatalogTable** order[] = {reinterpret_cast<CatalogTable**>(&inTable_),
                            reinterpret_cast<CatalogTable**>(&privTable_),
                            reinterpret_cast<CatalogTable**>(&indFldTable_),
                            reinterpret_cast<CatalogTable**>(&indTable_),
                            reinterpret_cast<CatalogTable**>(&fldTable_),
                            reinterpret_cast<CatalogTable**>(&tabTable_)};
  for (CatalogTable** p : order) {
    delete *p;
    *p = nullptr;
  }
}

bool SvSchema::readSc1(Client* c) {
  bool const enums = readEnums(c);
  return svcatalog::readTables(c, this) && enums;
}

void SvSchema::unlink() { CatalogEnv::unlinkSchema(name_); }

// ---- the schema's own row ----------------------------------------------------------

bool SvSchema::storeSchema(Client* c) {
  using namespace svcatalog::ClassCol;
  tabTable_->clearRow();
  // The directory may be longer than its column: it is kept cut.
  String dir = dbase_;
  if (!dir.isNull() && dir.length() > 64) dir = dir(0, 64);
  if (!tabTable_->set(Name, name_) || !tabTable_->set(File, dir) || !tabTable_->set(Descr, descr_) ||
      !tabTable_->set(Flags, 0) || !tabTable_->set(Len, owner_) || !tabTable_->set(Size, id_))
    return false;
  // A new "$class.tab" hands out 16 first: the schema's own instance.
  return tabTable_->addRow(c) >= 0;
}

SvSchema* SvSchema::consSchema(Client* c, String const& name, String const& dbase, String const& descr,
                               int32_t owner) {
  if (!svcatalog::checkSchemaName(name)) return nullptr;
  if (find(name) != nullptr) {
    keepFirstError(InvalidData(String("schema '") + name + "' exists"));
    return nullptr;
  }
  if (!svcatalog::columnFits(Cat::Class, svcatalog::ClassCol::Descr, descr) ||
      !svcatalog::columnFits(Cat::Class, svcatalog::ClassCol::Len, owner))
    return nullptr;
  SvSchema* s = new SvSchema(c, name, dbase, descr, owner, -1);
  if (s->id() == -1) {
    delete s;
    keepFirstError(InvalidData(String("schema '") + name + "' cannot be created"));
    return nullptr;
  }
  CatalogEnv::putAddSchema(c, name, s->id());
  if (!s->storeSchema(c)) {
    String const dir = s->directory();
    delete s;
    CatalogEnv::delSchema(name);
    removeNewDirectory(dir);
    return nullptr;
  }
  return s;
}

bool SvSchema::destructSchema(Client* c, SvSchema* s) {
  s->deleteEnums(c);
  for (int32_t i = s->tablesDim() - 1; i >= 0 && s->nTabs_ > 6; --i) {
    SvTabRep* t = s->table(i);
    if (t == nullptr || s->isCatalogRep(t)) continue;
    // A table without a current attachment gets one, so that it is
    // dropped like any other.
    SvTable* att = t->attachment(-1);
    if (att == nullptr) att = new SvTable(t, -1);
    if (!svcatalog::destructTable(c, att) && std::find(s->tables_.begin(), s->tables_.end(), t) != s->tables_.end()) {
      svcatalog::unlinkTableFiles(t);
      delete att;
    }
    i = s->tablesDim();  // the array changed under us
  }
  String const name = s->name_;
  int32_t const r = s->tabTable_->readThis(c, svcatalog::kSchemaRowInst);
  if (r < 0) {
    warning(appMsg("BADCATROW"), "$class.tab", long(svcatalog::kSchemaRowInst), "the schema's own row is missing");
    delete s;
  } else {
    s->tabTable_->delRecordNo(c, r, nullptr, false);  // destroys the schema
  }
  CatalogEnv::delSchema(name);
  CatalogEnv::putDelSchema(c, name);
  return r >= 0;
}

bool SvSchema::updateData(Client* c, String const& descr, int32_t owner) {
  if (tabTable_ == nullptr) {
    descr_ = descr;
    owner_ = owner;
    return true;
  }
  int32_t const r = tabTable_->readThis(c, svcatalog::kSchemaRowInst);
  if (r < 0) {
    keepFirstError(InvalidData(String("schema ") + name_ + " has no own row"));
    return false;
  }
  return tabTable_->set(svcatalog::ClassCol::Descr, descr) && tabTable_->set(svcatalog::ClassCol::Len, owner) &&
         tabTable_->updateRecNo(c, r, true, nullptr, false, 0) >= 0;
}

bool SvSchema::updateTableRow(Client* c, SvTabRep* t, svcatalog::TableRow const& row) {
  if (tabTable_ == nullptr || t->isTemp()) return false;
  int32_t const r = tabTable_->readThis(c, t->instId());
  if (r < 0) {
    keepFirstError(InvalidData(String("no catalog row for table ") + t->qualifiedName()));
    return false;
  }
  // The name and the file become paths: checked as at creation, before the
  // row changes. A null file keeps the present one.
  String const file = row.file.isNull() ? t->nameExt() : row.file;
  if (!svcatalog::checkObjectName(row.name, "table")) return false;
  if (!svcatalog::tableRowFits(row.name, row.recLength, int32_t(row.flags))) return false;
  if (!row.expr.isNull() && SvExpr(row.expr, this).isNull()) {
    keepFirstError(InvalidData(t->qualifiedName() + " = " + row.expr));
    return false;
  }
  if (!svcatalog::isPlainFileName(file)) {
    keepFirstError(InvalidData(String("file name '") + file + "' of table " + t->qualifiedName() +
                               " is not a plain file name"));
    return false;
  }
  using namespace svcatalog::ClassCol;
  if (!tabTable_->set(Name, row.name) || !tabTable_->set(File, file) || !tabTable_->set(Descr, row.descr) ||
      !tabTable_->set(Flags, int32_t(row.flags)) || !tabTable_->set(Len, row.recLength) ||
      !tabTable_->set(Size, row.size) || !tabTable_->set(RelCheck, row.expr))
    return false;
  uint32_t const oldInst = t->instId();
  bool const moves = row.newRecord != 0 && row.newRecord != oldInst;
  if (moves) tabTable_->setRecInstId(row.newRecord);
  if (tabTable_->updateRecNo(c, r, true, nullptr, false, moves ? row.newRecord : 0) < 0) return false;
  if (!moves) return true;
  // The table's fields and indexes follow it under its new id.
  ObjectId const newId(classWord(kKindTable), row.newRecord);
  for (int32_t i = 0; i < t->nFields(); ++i) {
    SvField* f = t->field(i);
    int32_t const fr = fldTable_->readThis(c, f->instId());
    if (fr < 0 || !fldTable_->set(svcatalog::MemberCol::Class, newId) ||
        fldTable_->updateRecNo(c, fr, true, nullptr, false, 0) < 0)
      return false;
  }
  for (int32_t i = 0; i < t->nIndexSlots(); ++i) {
    SvIndRep* ir = t->index(i);
    if (ir == nullptr || ir->isTemp()) continue;
    int32_t const ir_r = indTable_->readThis(c, ir->instId());
    if (ir_r < 0 || !indTable_->set(svcatalog::MIndexCol::Class, newId) ||
        indTable_->updateRecNo(c, ir_r, true, nullptr, false, 0) < 0)
      return false;
  }
  return true;
}

bool SvSchema::updateIndexRow(Client* c, SvIndRep* r) {
  return svcatalog::updateIndexData(c, r, ObjectId(), r->name(), r->phName(), r->flags(), r->length());
}

// ---- privileges ----------------------------------------------------------------------

bool SvSchema::add(Client* c, ObjectId const& object, Privilege& list, uint16_t id, uint16_t idType, uint16_t priv,
                   bool inMemoryOnly) {
  if (inMemoryOnly || privTable_ == nullptr) {
    list.add(id, idType, priv);
    return true;
  }
  using namespace svcatalog::PrivgCol;
  privTable_->clearRow();
  return privTable_->set(Class, object) && privTable_->set(FldPrivNum, list.size()) &&
         privTable_->set(Id, int32_t(id)) && privTable_->set(IdType, int32_t(idType)) &&
         privTable_->set(Priv, int32_t(priv)) && privTable_->addRow(c) >= 0;
}

bool SvSchema::delPrivgs(Client* c, ObjectId const& object) {
  bool ok = true;
  for (int32_t r : privTable_->rows(c)) {
    if (!privTable_->load(r)) continue;
    ObjectId const o = privTable_->oid(svcatalog::PrivgCol::Class);
    if (o.classId() == object.classId() && o.instId() == object.instId() &&
        privTable_->delRecordNo(c, r, nullptr, false) < 0)
      ok = false;
  }
  return ok;
}

bool SvSchema::consPrivgs(Client* c, ObjectId const& object, Privilege const& list) {
  // Every entry is checked before the first row.
  using namespace svcatalog::PrivgCol;
  for (int32_t k = 0; k < list.size(); ++k) {
    uint16_t id = 0, type = 0, priv = 0;
    list.elem(k, id, type, priv);
    if (!svcatalog::columnFits(Cat::Privg, FldPrivNum, k) || !svcatalog::columnFits(Cat::Privg, Id, id) ||
        !svcatalog::columnFits(Cat::Privg, IdType, type) || !svcatalog::columnFits(Cat::Privg, Priv, priv))
      return false;
  }
  for (int32_t k = 0; k < list.size(); ++k) {
    uint16_t id = 0, type = 0, priv = 0;
    list.elem(k, id, type, priv);
    privTable_->clearRow();
    privTable_->set(Class, object);
    privTable_->set(FldPrivNum, k);
    privTable_->set(Id, int32_t(id));
    privTable_->set(IdType, int32_t(type));
    privTable_->set(Priv, int32_t(priv));
    if (privTable_->addRow(c) < 0) return false;
  }
  return true;
}

bool SvSchema::updatePrivg(Client* c, Privilege const& list) {
  if (privTable_ == nullptr) {
    privs_ = list;
    return true;
  }
  if (privs_.size() > 0 && !delPrivgs(c, ObjectId(0, 0))) return false;
  return list.size() == 0 || consPrivgs(c, ObjectId(0, 0), list);
}

// ---- enumeration rows ----------------------------------------------------------------

long SvSchema::enumCreate(Client* c) {
  Connection* con = connection();
  if (con == nullptr) con = SvObject::con;
  if (con == nullptr) return -1;
  String name;
  int32_t n = 0;
  *con >> name;
  *con >> n;
  std::vector<std::pair<String, int32_t>> items;
  if (n < 0 || n > kMaxEnumItems) {
    keepFirstError(InvalidData(String("enumeration '") + name + "' item count " + toString(long(n))));
    return -1;
  }
  for (int32_t i = 0; i < n && !con->bad(); ++i) {
    String item;
    int32_t value = 0;
    *con >> item >> value;
    items.emplace_back(item, value);
  }
  if (con->bad()) {
    keepFirstError(InvalidData(String("enumeration '") + name + "' arrived cut"));
    return -1;
  }
  return enumCreate(c, name, items);
}

long SvSchema::enumCreate(Client* c, String const& name, std::vector<std::pair<String, int32_t>> const& items) {
  if (findEnum(name) != nullptr) {
    keepFirstError(InvalidData(String("enumeration '") + name + "' exists in schema " + name_));
    return -1;
  }
  if (!checkEnum(name, items) || inTable_ == nullptr) return -1;
  using namespace svcatalog::IntegrCol;
  ObjectId const id(classWord(kKindEnum), uint32_t(nEnums()));
  auto row = [&](int32_t n, int32_t type, String const& text) {
    inTable_->clearRow();
    inTable_->set(Member, id);
    inTable_->set(FldInNum, n);
    inTable_->set(Type, type);
    inTable_->set(Value, text);
    return inTable_->addRow(c) >= 0;
  };
  if (!row(0, 0, name)) return -1;
  for (size_t i = 0; i < items.size(); ++i)
    if (!row(int32_t(i) + 1, items[i].second, items[i].first)) return -1;
  return 0;
}

bool SvSchema::readEnums(Client* c) {
  // (number, item) -> (value column, type column), from every enumeration row.
  std::map<std::pair<uint32_t, int32_t>, std::pair<String, int32_t>> rows;
  for (int32_t r : inTable_->rows(c)) {
    if (!inTable_->load(r)) continue;
    ObjectId const m = inTable_->oid(svcatalog::IntegrCol::Member);
    if (m.classId() != classWord(kKindEnum)) continue;
    rows[{m.instId(), inTable_->num(svcatalog::IntegrCol::FldInNum)}] = {
        inTable_->str(svcatalog::IntegrCol::Value), inTable_->num(svcatalog::IntegrCol::Type)};
  }
  for (uint32_t number = 0;; ++number) {
    auto h = rows.find({number, 0});
    if (h == rows.end()) break;
    SvEnum* e = new SvEnum(h->second.first);
    for (auto it = std::next(h); it != rows.end() && it->first.first == number; ++it)
      e->addItem(it->second.first, it->second.second);
    if (uint32_t(addEnum(e)) != number) warning(String("Enumeration ") + e->name() + " read out of order");
  }
  return true;
}

bool SvSchema::deleteEnums(Client* c) {
  bool ok = true;
  for (int32_t n = nEnums() - 1; n >= 0; --n) {
    ObjectId const id(classWord(kKindEnum), uint32_t(n));
    // Items first, highest number first, then the header row (whose hook
    // removes the enumeration from memory).
    std::vector<std::pair<int32_t, int32_t>> mine;
    for (int32_t r : inTable_->rows(c)) {
      if (!inTable_->load(r)) continue;
      ObjectId const m = inTable_->oid(svcatalog::IntegrCol::Member);
      if (m.classId() == id.classId() && m.instId() == id.instId())
        mine.emplace_back(inTable_->num(svcatalog::IntegrCol::FldInNum), r);
    }
    std::sort(mine.rbegin(), mine.rend());
    for (auto const& [item, r] : mine)
      if (inTable_->delRecordNo(c, r, nullptr, false) < 0) ok = false;
    if (nEnums() > n) {  // no header row: the enumeration goes from memory only
      delete enums_[size_t(n)];
      enums_.erase(enums_.begin() + n);
    }
  }
  return ok;
}

// ---- listing ------------------------------------------------------------------------

void SvSchema::dumpStructureTables(Client* c) {
  warning(String("----------- Schema Contents -------------"));
  warning(String("Schema: '") + name_ + "'");
  CatalogTable* const order[] = {tabTable_, fldTable_, inTable_, indTable_, indFldTable_, privTable_};
  for (CatalogTable* t : order)
    if (t != nullptr) t->dumpTable(c);
  warning(String("-----------------------------------------"));
}
