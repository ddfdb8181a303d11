// SvTabRep: the field array, the record layout and the access to fields by
// number in a record image; the data file, the index definitions, the
// attachments, definition changes and alter.
#include <svcatalog/SvTabRep.h>

#include <blkfile/CacheBuffer.h>
#include <blkfile/StorageEnv.h>
#include <sindex/IndexEnv.h>
#include <sindex/SvIndRep.h>
#include <sindex/SvIndex.h>
#include <svcatalog/SvExpr.h>
#include <svcatalog/SvField.h>
#include <svcatalog/SvTable.h>
#include <svcatalog/TableEnv.h>
#include <svcatalog/TableSchema.h>
#include <zfound/Exception.h>
#include <zfound/Format.h>
#include <zfound/Message.h>
#include <zfound/Portable.h>

#include <algorithm>

namespace {

bool sameName(String const& a, String const& b) { return cmp(a, b) == 0; }

}  // namespace

SvTabRep::SvTabRep(ObjectId const& id, String const& name, String const& schemaName, TabFlags flags,
                   int32_t nFields, bool temp)
    : PObject(id, temp), TableLocks(temp), name_(name), schemaName_(schemaName), flags_(flags), temp_(temp) {
  fields_.reserve(size_t(nFields > 0 ? nFields : 8));
}

SvTabRep::SvTabRep(svcatalog::TableSchema* schema, uint32_t inst, String const& name, String const& file,
                   String const& descr, int32_t recLength, int32_t nFields, int32_t nIndexes, TabFlags flags,
                   int32_t size, bool temp)
    : PObject(tableId(schema ? schema->schemaId() : 0u, inst == 0 && temp ? SvIndRep::nextTempId() : inst, temp),
              temp),
      TableLocks(temp),
      name_(name),
      schemaName_(schema ? schema->qualifiedName() : String()),
      descr_(descr),
      flags_(flags),
      size_(size),
      temp_(temp),
      schema_(schema) {
  fields_.reserve(size_t(nFields > 0 ? nFields : 8));
  indexes_.reserve(size_t(nIndexes > 0 ? nIndexes : 8));
  opened_ = open(logicalName(schema ? schema->schemaName() : String(), name), file, String(), recLength, -1);
  if (schema_)
    schema_->addTable(this);
}

SvTabRep::~SvTabRep() {
  // Attachments left (a representation destroyed directly) go first; none
  // of them owns this representation any more.
  while (!tables_.empty()) {
    SvTable* t = tables_.back();
    t->releaseRep();
    if (svcatalog::TableEnv::objects)
      svcatalog::TableEnv::objects->takeFromClients(t);
    delete t;
  }
  emptyStructure();
  delete expr_;
  if (temp_ && opened_)
    BlockedFile::unlink(schemaName());
  if (schema_)
    schema_->delTable(this);
}

ObjectId SvTabRep::tableId(uint32_t schemaId, uint32_t inst, bool temp) {
  uint32_t cls;
  if (temp) {
    uint32_t owner = ((uint32_t(svstore::IndexEnv::installation) & 255u) << 12) |
                     ((uint32_t(svstore::IndexEnv::serverId) & 63u) << 6);
    cls = (owner << 12) | 1u;
  } else {
    cls = ((schemaId & 0xFFFFFu) << 12) | 1u;
  }
  return ObjectId(cls, inst);
}

String SvTabRep::logicalName(String const& schemaName, String const& table) {
  String t = table;
  if (t.length() > 0 && t[0] == '2')
    t = String(t(1, t.length() - 1));
  return schemaName + "." + t;
}

String SvTabRep::qualifiedName() const { return schemaName_ + "." + name_; }

String SvTabRep::layoutName() const { return logicalName(schemaName(), name_); }

String SvTabRep::schemaName() const { return schema_ ? schema_->schemaName() : schemaName_; }

uint32_t SvTabRep::schemaId() const { return schema_ ? schema_->schemaId() : classId() >> 12; }

String SvTabRep::phName() const { return nameExt(); }

String SvTabRep::phFullName() const { return const_cast<SvTabRep*>(this)->fullName(); }

bool SvTabRep::belongs(String const& file) const {
  if (file.isNull())
    return false;
  if (sameName(nameExt(), file))
    return true;
  for (SvIndRep const* r : indexes_)
    if (r != nullptr && sameName(r->phName(), file))
      return true;
  return false;
}

String SvTabRep::newFileName(String const& base, String const& ext) {
  if (schema_)
    return schema_->newFileName(base, ext);
  return String("_") + base + "." + ext;
}

bool SvTabRep::completeDefDel(Client* c, int32_t record) {
  SvTable* t = attachment(-1);
  if (t == nullptr)
    return false;
  t->completeDefDel(c, record);
  return true;
}

// ---- index definitions --------------------------------------------------------------------

int32_t SvTabRep::nIndices() const {
  int32_t n = 0;
  for (SvIndRep const* r : indexes_)
    if (r != nullptr && !r->name().isNull())
      ++n;
  return n;
}

SvIndRep* SvTabRep::index(int32_t n) const {
  return n >= 0 && n < nIndexSlots() ? indexes_[size_t(n)] : nullptr;
}

SvIndRep* SvTabRep::index(String const& name) const {
  for (SvIndRep* r : indexes_)
    if (r != nullptr && !r->name().isNull() && sameName(r->name(), name))
      return r;
  return nullptr;
}

String SvTabRep::getNewIndExt() const {
  char b[16];
  zfSnprintf(b, sizeof b, "i%02d", int(indexes_.size()));
  return String(b);
}

// An index keeps the number it was made with: a dropped index leaves its
// slot empty, and an index read from the catalog goes back into its own
// slot, so that value checks and object references, which name an index by
// its number, name the same index after the schema is read again.
void SvTabRep::addIndexRep(SvIndRep* r) {
  if (r == nullptr || indexNumber(r) != -1)
    return;
  int32_t const n = r->wantedNumber();
  if (n < 0 || (n < nIndexSlots() && indexes_[size_t(n)] != nullptr)) {
    indexes_.push_back(r);
  } else {
    if (n >= nIndexSlots())
      indexes_.resize(size_t(n) + 1, nullptr);
    indexes_[size_t(n)] = r;
  }
  checkIndepKeys();
}

void SvTabRep::delIndexRep(SvIndRep* r) {
  for (SvIndRep*& x : indexes_)
    if (x == r)
      x = nullptr;
  checkIndepKeys();
}

int32_t SvTabRep::indexNumber(SvIndRep const* r) const {
  for (size_t i = 0; i < indexes_.size(); ++i)
    if (indexes_[i] == r)
      return int32_t(i);
  return -1;
}

void SvTabRep::checkIndepKeys() {
  bool indep = false;
  for (SvIndRep const* r : indexes_)
    if (r != nullptr && r->isIndep())
      indep = true;
  flags_ = indep ? (flags_ | TabFlag::kIndepKey) : (flags_ & ~TabFlag::kIndepKey);
}

// ---- attachments ----------------------------------------------------------------------------

SvTable* SvTabRep::attachment(int32_t version) const {
  for (SvTable* t : tables_)
    if (t->vers() == version)
      return t;
  return nullptr;
}

svstore::IndexTable* SvTabRep::findTable(int32_t version) { return attachment(version); }

void SvTabRep::addTable(SvTable* t) {
  if (t != nullptr && std::find(tables_.begin(), tables_.end(), t) == tables_.end())
    tables_.insert(tables_.begin(), t);
}

void SvTabRep::delTable(SvTable* t) {
  auto it = std::find(tables_.begin(), tables_.end(), t);
  SV_ASSERT(it != tables_.end(), "attachment registered");
  if (it != tables_.end())
    tables_.erase(it);
}

void SvTabRep::destroyOlderAttachments() {
  std::vector<SvTable*> older;
  for (SvTable* t : tables_)
    if (t->vers() != -1)
      older.push_back(t);
  for (SvTable* t : older) {
    if (svcatalog::TableEnv::objects)
      svcatalog::TableEnv::objects->takeFromClients(t);
    delete t;
  }
}

CacheBuffer* SvTabRep::add(char*& p, int32_t& recno, bool lock) {
  CacheBuffer* cb = BlockedFile::add(p, recno, true);
  if (cb == nullptr)
    return nullptr;
  char* sp = p + kMStampAt;
  svstore::StorageEnv::timeStamp.store(sp);
  cb->mod = true;
  if (!lock)
    cb->unlock();
  return cb;
}

// ---- records --------------------------------------------------------------------------------

uint32_t SvTabRep::recInstId(int32_t recno) {
  char* p = get(recno);
  return p ? uint32_t(ldlong(p + kInstIdAt)) : 0u;
}

uint32_t SvTabRep::newInstId() {
  ++lastRecId();
  markModified();
  return uint32_t(lastRecId());
}

void SvTabRep::dropInstId() {
  --lastRecId();
  markModified();
}

bool SvTabRep::newVers() {
  bool ok = true;
  for (SvTable* t : tables_)
    if (t->vers() == -1 && !t->newVers())
      ok = false;
  return BlockedFile::newVers(-1) && ok;
}

bool SvTabRep::verify(bool check) {
  bool ok = true;
  for (SvTable* t : tables_)
    if (t->vers() == -1 && !t->verify(check))
      ok = false;
  return BlockedFile::verify(check) && ok;
}

int32_t SvTabRep::getPool(int32_t saved, int32_t which) { return versionChain(saved, which); }

// ---- definition changes ---------------------------------------------------------------------

bool SvTabRep::updateData(Client* c, String const& name, String const& file, String const& descr, TabFlags flags,
                          int32_t size, int32_t recLength, uint32_t newRecord, String const& exprText) {
  if (schema_ && schema_->classFile() && !temp_) {
    svcatalog::TableRow row;
    row.name = name;
    row.file = file;
    row.descr = descr;
    row.flags = flags;
    row.recLength = recLength;
    row.size = size;
    row.expr = exprText;
    row.newRecord = newRecord;
    if (!schema_->updateTableRow(c, this, row))
      return false;
  }
  return setData(name, file, descr, flags, size, newRecord, String());
}

bool SvTabRep::setData(String const& name, String const& file, String const& descr, TabFlags flags, int32_t size,
                       uint32_t newRecord, String const& exprText) {
  bool ok = true;
  if (!exprText.isNull()) {
    SvExpr* e = new SvExpr(exprText, schema_ ? schema_->enums() : nullptr);
    if (e->isNull()) {
      keepFirstError(InvalidData(qualifiedName() + " = " + exprText));
      delete e;
      ok = false;
    } else {
      setExpression(e);
      e->resolveFields(this, -1);
    }
  }
  name_ = name;
  descr_ = descr;
  // The creation-stamp bit fixes the record prefix; it never changes under
  // a live data file.
  flags_ = (flags & ~TabFlag::kCreationStamp) | (flags_ & TabFlag::kCreationStamp);
  checkIndepKeys();
  size_ = size;
  if (newRecord != 0 && newRecord != instId()) {
    setOid(tableId(schemaId(), newRecord, temp_));
    if (schema_)
      schema_->sortTables();
  }
  if (!file.isNull() && !sameName(file, nameExt()) && !chgPhName(file))
    ok = false;
  return ok;
}

bool SvTabRep::rename(String const& base) {
  auto moveTo = [&base](BlockedFile& f) {
    String n = f.nameExt();
    long dot = n.index('.');
    String e = dot < 0 ? String() : String(n(dot, n.length() - dot));
    f.flush(true);
    f.OsFile::rename(base + e, f.ext());
  };
  moveTo(*this);
  for (SvIndRep* r : indexes_)
    if (r != nullptr)
      moveTo(*r);
  return true;
}

bool SvTabRep::empty(Client* c) {
  BlockedFile::unlink(schemaName());
  String base = name_;
  String file = newFileName(base, "tab");
  return updateData(c, name_, file, descr_, flags_, size_, length(), 0, String());
}

bool SvTabRep::updateExpression(Client* c, SvExpr* e) {
  if (schema_ && schema_->classFile() && !temp_) {
    svcatalog::TableRow row;
    row.name = name_;
    row.file = nameExt();
    row.descr = descr_;
    row.flags = flags_;
    row.recLength = length();
    row.size = size_;
    row.expr = e ? e->getExpr() : String("");
    if (!schema_->updateTableRow(c, this, row)) {
      delete e;
      return false;
    }
  }
  setExpression(e);
  return true;
}

// ---- alter ----------------------------------------------------------------------------------

uint32_t SvTabRep::fieldEquiv(SvField const* f) const {
  SvField const* cur = field(f->name());
  if (cur == nullptr)
    return kEqNoField;
  uint32_t num = uint32_t(nField(cur)) & 0xFFFFFFu;
  if (cur->getType() != f->getType())
    return kEqBadType | num;
  uint32_t w = 0;
  if (cur->length() < f->length())
    w |= kEqLessLen;
  if (cur->nDecimals() < f->nDecimals())
    w |= kEqLessNDec;
  if (cur->dim() < f->dim())
    w |= kEqLessDim;
  if (w == 0 && nField(cur) == f->number() && cur->sameRep(f))
    w |= kEqSame;
  return w | num;
}

bool SvTabRep::isEquiv(SvTabRep const* other, std::vector<uint32_t> const& words, bool force, String& msgs,
                       bool& changed) const {
  msgs = String();
  changed = false;
  for (size_t i = 0; i < words.size(); ++i) {
    uint32_t w = words[i];
    if ((w & kEqSame) == 0)
      changed = true;
    if ((w & 0xFE000000u) == 0 || force)
      continue;
    // The last that applies in this order names the fault.
    static constexpr struct {
      uint32_t bit;
      char const* key;
    } kKeys[] = {{kEqNoField, "EQ_NO_FIELD"}, {kEqBadType, "EQ_BAD_TYPE"},   {kEqLessLen, "EQ_LESS_LEN"},
                 {kEqLessNDec, "EQ_LESS_NDEC"}, {kEqLessDim, "EQ_LESS_DIM"}, {kEqDiffMask, "EQ_DIFF_MASK"},
                 {kEqNotNull, "EQ_NOT_NULL"}};
    char const* key = nullptr;
    for (auto const& k : kKeys)
      if (w & k.bit)
        key = k.key;
    if (key == nullptr)
      continue;
    String fname = other->field(int32_t(i)) ? other->field(int32_t(i))->name() : String();
    String text = appMsg(key);
    char const* table = name_.isNull() ? "" : toCharPtr(name_);
    char const* fld = fname.isNull() ? "" : toCharPtr(fname);
    msgs += formatText(toCharPtr(text), table, fld) + "\n";
  }
  if (other->nFields() != nFields())
    changed = true;
  // A different record prefix is a different layout.
  if ((other->flags() & TabFlag::kCreationStamp) != (flags_ & TabFlag::kCreationStamp))
    changed = true;
  SvIndRep const* mine = index(0);
  SvIndRep const* theirs = other->index(0);
  bool same = mine != nullptr && theirs != nullptr && mine->same(theirs);
  if (!same)
    changed = true;
  return same;
}

void SvTabRep::indexEquiv(SvTabRep const* other, int32_t* map) const {
  int32_t k = 0;
  for (int32_t i = 0; i < nIndexSlots(); ++i) {
    SvIndRep const* r = index(i);
    if (r == nullptr || r->name().isNull())
      continue;
    SvIndRep const* o = other->index(i);
    if (o == nullptr || !r->same(o))
      map[k++] = i;
  }
  map[k] = -1;
}

bool SvTabRep::swapIndexFiles(Client* c, SvIndRep* a, SvIndRep* b) {
  String fa = a->phName();
  String fb = b->phName();
  auto reopen = [](SvIndRep* r, String const& file) {
    return r->index() ? r->index()->chgPhName(file) : r->chgPhName(file);
  };
  if (a->index())
    a->index()->flush(true);
  else
    a->flush(true);
  if (b->index())
    b->index()->flush(true);
  else
    b->flush(true);
  bool ok = reopen(a, fb) && reopen(b, fa);
  if (schema_ && schema_->classFile()) {
    if (!a->isTemp() && !schema_->updateIndexRow(c, a))
      ok = false;
    if (!b->isTemp() && !schema_->updateIndexRow(c, b))
      ok = false;
  }
  return ok;
}

int32_t SvTabRep::alter(Client* c, SvTabRep* other, String& msgs, bool force, int32_t* map) {
  std::vector<uint32_t> words;
  for (int32_t i = 0; i < other->nFields(); ++i)
    words.push_back(fieldEquiv(other->field(i)));
  bool changed = false;
  isEquiv(other, words, force, msgs, changed);
  if (!msgs.isNull())
    return -1;
  if (changed)
    return 0;
  indexEquiv(other, map);
  int32_t n = std::min(nIndexSlots(), other->nIndexSlots());
  for (int32_t i = 0; i < n; ++i) {
    SvIndRep* a = index(i);
    SvIndRep* b = other->index(i);
    if (a != nullptr && b != nullptr && a->same(b))
      swapIndexFiles(c, a, b);
  }
  // The fresh instance comes from the catalog file's own counter, which
  // it advances, so that no later table gets the same number.
  SvTabRep* cls = schema_ ? schema_->classFile() : nullptr;
  uint32_t fresh = cls ? cls->newInstId() : 0u;
  String myName = name_;
  String myFile = nameExt();
  String theirName = other->name();
  String theirFile = other->nameExt();
  uint32_t theirRec = other->instId();
  // Both data files are written out before each opens the other's.
  flush(true);
  other->flush(true);
  other->updateData(c, myName, myFile, other->descr(), other->flags(), other->size(), other->length(), fresh,
                    String());
  updateData(c, theirName, theirFile, descr_, flags_, size_, length(), theirRec, String());
  return 1;
}

// ---- listings -------------------------------------------------------------------------------

void SvTabRep::listFields() const {
  String head = String("Fields from table '") + qualifiedName() + "' iid " + toString(long(instId())) + "...";
  warning(String("%S"), &head);
  for (SvField const* f : fields_) {
    String line = String("   ") + f->name() + " type " + toString(long(f->getType())) + " offset " +
                  toString(long(f->tableOffset())) + " dim " + toString(long(f->dim()));
    warning(String("%S"), &line);
  }
}

void SvTabRep::printPrivs() const {
  String head = String("Privileges for table ") + name_;
  warning(String("%S"), &head);
  privileges_.print();
}

uint32_t SvTabRep::memberClassId() const { return (classId() & ~0xFFFu) | (instId() & 0xFFFu); }

void SvTabRep::addField(SvField* f) {
  if (f == nullptr) return;
  fields_.push_back(f);
  conRecLength_ = 0;
}

int32_t SvTabRep::nextOffset() const {
  for (size_t i = fields_.size(); i-- > 0;) {
    SvField const* f = fields_[i];
    if (!f->isVirtual()) return f->tableOffset() + f->ilength(true) * f->dim();
  }
  return prefixSize();
}

SvField* SvTabRep::field(int32_t n) const {
  return n >= 0 && n < nFields() ? fields_[size_t(n)] : nullptr;
}

SvField* SvTabRep::field(String const& name) const {
  for (SvField* f : fields_)
    if (sameName(f->name(), name)) return f;
  return nullptr;
}

int32_t SvTabRep::nField(SvField const* f) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i] == f) return int32_t(i);
  return -1;
}

void SvTabRep::emptyFields() {
  for (SvField* f : fields_) delete f;
  fields_.clear();
  conRecLength_ = 0;
}

void SvTabRep::emptyStructure() {
  std::vector<SvIndRep*> defs = indexes_;
  indexes_.clear();
  for (SvIndRep* r : defs)
    if (r != nullptr && r->nOpen == 0)
      delete r;
  flags_ &= ~TabFlag::kIndepKey;
  emptyFields();
}

bool SvTabRep::resolveExpressions() {
  bool ok = true;
  for (int32_t i = 0; i < nFields(); ++i) {
    SvField* f = fields_[size_t(i)];
    if (f->deflt() != nullptr && !f->deflt()->resolveFields(this, i)) ok = false;
    if (f->expression() != nullptr && !f->expression()->resolveFields(this, i)) ok = false;
  }
  if (expr_ != nullptr && !expr_->resolveFields(this, -1)) ok = false;
  return ok;
}

void SvTabRep::setExpression(SvExpr* e) {
  if (e == expr_) return;
  delete expr_;
  expr_ = e;
}

int32_t SvTabRep::conRecLength() {
  if (conRecLength_ == 0) {
    int32_t n = prefixSize();
    for (SvField const* f : fields_)
      if (!f->isVirtual()) n += f->clength() * f->dim();
    conRecLength_ = n;
  }
  return conRecLength_;
}

// ---- field access by number ---------------------------------------------------------------

bool SvTabRep::getFld(int32_t n, String& value, char const* record) const {
  SvField const* f = field(n);
  if (f == nullptr || f->getType() != SvField::STRING || f->isVirtual()) return false;
  char const* p = record + f->tableOffset();
  f->load(value, p, true, -1);
  return true;
}

bool SvTabRep::getFld(int32_t n, int32_t& value, char const* record) const {
  SvField const* f = field(n);
  if (f == nullptr || f->isVirtual()) return false;
  char const* p = record + f->tableOffset();
  if (f->getType() == SvField::INT) {
    value = ldInt(p);
    return true;
  }
  return f->getType() == SvField::NUM && f->loadInt(value, p);
}

bool SvTabRep::getFld(int32_t n, uint32_t& cls, uint32_t& inst, char const* record) const {
  SvField const* f = field(n);
  if (f == nullptr || f->getType() != SvField::OBJECT || f->isVirtual()) return false;
  char const* p = record + f->tableOffset();
  cls = uint32_t(ldlong(p));
  inst = uint32_t(ldlong(p + 4));
  return true;
}

bool SvTabRep::setFld(int32_t n, String const& value, char* record) const {
  SvField const* f = field(n);
  if (f == nullptr || f->getType() != SvField::STRING || f->isVirtual()) return false;
  char* p = record + f->tableOffset();
  return f->store(p, value, true, -1);
}

bool SvTabRep::setFld(int32_t n, int32_t value, char* record) const {
  SvField const* f = field(n);
  if (f == nullptr || f->isVirtual() || (f->getType() != SvField::NUM && f->getType() != SvField::INT))
    return false;
  char* p = record + f->tableOffset();
  return f->store(p, value);
}

bool SvTabRep::setFld(int32_t n, uint32_t cls, uint32_t inst, char* record) const {
  SvField const* f = field(n);
  if (f == nullptr || f->getType() != SvField::OBJECT || f->isVirtual()) return false;
  char* p = record + f->tableOffset();
  stlong(int32_t(cls), p);
  stlong(int32_t(inst), p + 4);
  return true;
}

void SvTabRep::load(String& text, char const* record) const {
  text = String("(");
  bool first = true;
  for (SvField* f : fields_) {
    for (int32_t i = 0; i < f->dim(); ++i) {
      String t;
      if (f->isVirtual()) {
        // A stamp field shows its key part; other virtual fields have no value.
        char key[16] = {};
        char* k = key;
        int32_t len = f->ilength(false);
        bool stampType = f->getType() == SvField::NUM || f->getType() == SvField::TIME ||
                         f->getType() == SvField::DATE;
        if (stampType && len > 0 && len <= int32_t(sizeof key) && f->store(nullptr, k, nullptr, len, record)) {
          char const* q = key;
          f->load(t, q, false, -1);
        }
        i = f->dim();
      } else {
        char const* p = record + f->tableOffset() + i * f->ilength(true);
        f->load(t, p, true, -1);
      }
      if (!first) text += ", ";
      text += t;
      first = false;
    }
  }
  text += ")";
}

uint32_t SvTabRep::recInstId(char const* record) { return uint32_t(ldlong(record + kInstIdAt)); }
