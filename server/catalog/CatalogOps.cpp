// Structure changes as catalog rows: tables, fields and their checks, indexes
// and their key parts, table privileges, and the structure listing. Every
// value of a change is checked before its first row is written.
#include <svcatalog/CatalogOps.h>

#include <sindex/SvIndex.h>
#include <svcatalog/CatalogEnv.h>
#include <svcatalog/CatalogTables.h>
#include <svcatalog/SchemaNames.h>
#include <svcatalog/SvExpr.h>
#include <svcatalog/SvField.h>
#include <svcatalog/SvFieldTypes.h>
#include <svcatalog/SvInCheck.h>
#include <svcatalog/SvSchema.h>
#include <svcatalog/SvTable.h>
#include <svcatalog/TableEnv.h>
#include <zfound/CollateSet.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>

namespace svcatalog {

namespace {

SvSchema* schemaOf(SvTabRep* t) { return t != nullptr ? dynamic_cast<SvSchema*>(t->schema()) : nullptr; }

String exprText(SvExpr const* e) { return e != nullptr ? e->getExpr() : String(); }

// A name stored in a 16-character name column: not empty and fitting.
bool nameFits(Cat c, int32_t col, String const& name, char const* what) {
  if (name.isNull() || name.isHighest()) {
    keepFirstError(InvalidData(String(what) + " name is empty"));
    return false;
  }
  return columnFits(c, col, name);
}

// Whether every value of a check fits the "$integr.tab" columns.
bool checkFits(InCheck const* check) {
  if (check == nullptr) return true;
  int32_t const n = check->nKeyValues() + check->nDspFields();
  if (!columnFits(Cat::Integr, IntegrCol::FldInNum, n)) return false;
  for (int32_t i = 0; i < check->nKeyValues(); ++i)
    if (AnyValue* v = check->keyValue(i); v != nullptr && !columnFits(Cat::Integr, IntegrCol::Value, integrValueText(*v)))
      return false;
  for (int32_t i = 0; i < check->nDspFields(); ++i)
    if (AnyValue* v = check->dspField(i); v != nullptr && !columnFits(Cat::Integr, IntegrCol::Value, integrValueText(*v)))
      return false;
  return true;
}

// Sets the check columns of a "$member.tab" row in the buffer.
void setCheckColumns(CatalogTable* ft, InCheck const* check) {
  using namespace MemberCol;
  int32_t const kind = check != nullptr ? check->getType() : 2;
  ft->set(IntegType, kind);
  ft->set(IntegNeg, check != nullptr && check->negation() ? 1 : 0);
  ObjectId ind;
  if (kind == 0) ind = const_cast<Integrity*>(static_cast<Integrity const*>(check))->index();
  ft->set(IntegInd, ind);
}

int32_t readFieldRow(Client* c, SvField* f) {
  SvSchema* s = schemaOf(f->table());
  if (s == nullptr || !s->hasCatalog()) return -1;
  int32_t const r = s->fieldStruct()->readThis(c, f->instId());
  if (r < 0) keepFirstError(InvalidData(String("no catalog row for field ") + f->qualifiedName()));
  return r;
}

int32_t update(Client* c, CatalogTable* t, int32_t rec) { return t->updateRecNo(c, rec, true, nullptr, false, 0); }

// A new table's instance number whose low 12 bits name no live table of
// the schema: the journal's table word keeps only those bits, so one word
// names one table. 0 (with an error kept) when all 4096 are taken.
uint32_t freshTableInst(SvSchema* s, SvTabTable* ct) {
  for (int32_t tries = 0; tries < 4096; ++tries) {
    uint32_t const n = ct->tabRep()->newInstId();
    bool clash = false;
    for (int32_t i = 0; i < s->tablesDim() && !clash; ++i) {
      SvTabRep const* r = s->table(i);
      clash = r != nullptr && !r->isTemp() && (r->instId() & 0xFFFu) == (n & 0xFFFu);
    }
    if (!clash) return n;
  }
  keepFirstError(InvalidData(String("schema ") + s->name() + " has no free table number"));
  return 0;
}

}  // namespace

// ---- tables ------------------------------------------------------------------

SvTable* consTable(Client* c, SvSchema* s, String const& name, String const& descr, int32_t recLength,
                   TabFlags flags, int32_t size, uint32_t inst) {
  if (name.isNull()) {
    static int32_t nTemp = 0;
    String const tname = String("t_") + toString(long(nTemp++));
    String const file = s->newFileName(tname, String("tab"));
    if (file.isNull()) return nullptr;
    SvTabRep* t = new SvTabRep(s, 0, tname, file, descr, recLength, 0, 0, flags, size, true);
    if (!t->opened()) {
      delete t;
      return nullptr;
    }
    return new SvTable(t, -1);
  }
  if (!checkObjectName(name, "table")) return nullptr;
  if (s->findTabRep(name) != nullptr) {
    keepFirstError(InvalidData(String("table '") + name + "' exists in schema " + s->name()));
    return nullptr;
  }
  if (!tableRowFits(name, recLength, int32_t(flags))) return nullptr;
  SvTabTable* ct = s->tableStruct();
  ct->clearRow();
  using namespace ClassCol;
  if (!ct->set(Descr, descr) || !ct->set(Flags, int32_t(flags)) || !ct->set(Len, recLength) || !ct->set(Size, size))
    return nullptr;
  String const file = s->newFileName(name, String("tab"));
  if (file.isNull()) return nullptr;
  ct->set(Name, name);
  ct->set(File, file);
  ct->set(RelCheck, String());
  if (inst == 0 && (inst = freshTableInst(s, ct)) == 0) return nullptr;
  if (ct->addCurrRecord(c, true, true, -1, nullptr, inst) < 0) return nullptr;
  SvTabRep* t = s->findTabRep(name);
  if (t == nullptr) {
    keepFirstError(InvalidData(String("table '") + name + "' could not be made"));
    return nullptr;
  }
  return t->attachment(-1);
}

bool clearStructure(Client* c, SvTabRep* t) {
  bool ok = true;
  for (int32_t i = t->nFields() - 1; i >= 0; --i)
    if (!destructField(c, t->field(i))) ok = false;
  SvSchema* s = schemaOf(t);
  if (s != nullptr && s->hasCatalog() && !s->delPrivgs(c, t->oid())) ok = false;
  return ok;
}

bool destructTable(Client* c, SvTable* att) {
  SvTabRep* t = att->tabRep();
  SvSchema* s = schemaOf(t);
  if (t->isTemp() || s == nullptr || !s->hasCatalog()) {
    if (TableEnv::objects != nullptr) TableEnv::objects->takeFromClients(att);
    delete att;
    return true;
  }
  for (int32_t i = t->nIndexSlots() - 1; i >= 0; --i)
    if (SvIndRep* ir = t->index(i); ir != nullptr && !ir->isTemp()) {
      for (int32_t p = ir->nFields() - 1; p >= 0; --p) destructIndField(c, ir->iField(p));
    }
  clearStructure(c, t);
  // The index rows go after their parts; their hook drops each index.
  for (int32_t i = t->nIndexSlots() - 1; i >= 0; --i)
    if (SvIndRep* ir = t->index(i); ir != nullptr && !ir->isTemp()) {
      int32_t const r = s->indexStruct()->readThis(c, ir->instId());
      if (r >= 0) s->indexStruct()->delRecordNo(c, r, nullptr, false);
    }
  int32_t const r = s->tableStruct()->readThis(c, t->instId());
  if (r < 0) {
    keepFirstError(InvalidData(String("no catalog row for table ") + t->qualifiedName()));
    return false;
  }
  return s->tableStruct()->delRecordNo(c, r, nullptr, false) >= 0;
}

bool updateTablePrivg(Client* c, SvTabRep* t, Privilege const& list) {
  SvSchema* s = schemaOf(t);
  if (t->isTemp() || s == nullptr || !s->hasCatalog()) {
    t->setPrivileges(list);
    return true;
  }
  if (t->privileges().size() > 0 && !s->delPrivgs(c, t->oid())) return false;
  return s->consPrivgs(c, t->oid(), list);
}

// ---- fields ------------------------------------------------------------------

SvField* consField(Client* c, SvTabRep* t, int32_t number, String const& name, String const& descr, SvExpr* deflt,
                   String const& mask, int32_t length, int32_t decimals, int32_t type, int32_t sqlType,
                   ObjectId const& objRef, TabFldFlags flags, int32_t dim, InCheck* check, SvExpr* expression,
                   CollateSet* collate, String const& enumName) {
  SvSchema* s = schemaOf(t);
  if (t->isTemp() || s == nullptr || !s->hasCatalog())
    return SvField::mkField(t, t->isTemp() ? SvIndRep::nextTempId() : 0, name, descr, deflt, mask, length, decimals,
                            type, sqlType, flags, dim, check, expression, collate, objRef, enumName);
  SvFldTable* ft = s->fieldStruct();
  ft->clearRow();
  using namespace MemberCol;
  String const collName = CatalogEnv::collateName(collate);
  bool ok = nameFits(Cat::Member, Name, name, "field") && ft->set(Class, t->oid()) &&
                  ft->set(FldNum, number) && ft->set(Name, name) && ft->set(Descr, descr) && ft->set(Dim, dim) &&
                  ft->set(Type, type) && ft->set(SqlType, sqlType) && ft->set(Flags, int32_t(flags)) &&
                  ft->set(Len, length) && ft->set(NDec, decimals) && ft->set(Mask, mask) &&
                  ft->set(RelCheck, exprText(expression)) && ft->set(Deflt, exprText(deflt)) &&
                  ft->set(CollSet, collName) && ft->set(ObjRef, objRef) && ft->set(EnumName, enumName) &&
                  checkFits(check);
  if (ok) setCheckColumns(ft, check);
  // The row's hook builds the descriptor from the row; what was given here
  // is only its source. A shape the factory refuses is refused before the
  // row is written, on a scratch table.
  delete deflt;
  delete expression;
  if (ok) {
    SvTabRep scratch(ObjectId(0, 0), String("scratch"), String(), t->flags(), 1, true);
    ok = SvField::mkField(&scratch, 0, name, descr, nullptr, mask, length, decimals, type, sqlType, flags, dim,
                          nullptr, nullptr, nullptr, objRef, enumName) != nullptr;
  }
  if (!ok) {
    delete check;
    return nullptr;
  }
  int32_t const rec = ft->addRow(c);
  SvField* f = rec < 0 ? nullptr
                       : dynamic_cast<SvField*>(
                             PObject::find(ObjectId(s->classWord(SvSchema::kKindField), ft->recInstId())));
  if (f != nullptr && check != nullptr && !consIn(c, s->inStruct(), f->oid(), check)) f = nullptr;
  delete check;
  return f;
}

bool consIn(Client* c, SvInTable* in, ObjectId const& field, InCheck const* check) {
  if (check == nullptr) return true;
  if (!checkFits(check)) return false;
  int32_t n = 0;
  auto put = [&](AnyValue const* v, int32_t type) {
    in->clearRow();
    in->set(IntegrCol::Member, field);
    in->set(IntegrCol::FldInNum, n++);
    in->set(IntegrCol::Type, type);
    in->set(IntegrCol::Value, v != nullptr ? integrValueText(*v) : String());
    return in->addRow(c) >= 0;
  };
  for (int32_t i = 0; i < check->nKeyValues(); ++i)
    if (!put(check->keyValue(i), 0)) return false;
  for (int32_t i = 0; i < check->nDspFields(); ++i)
    if (!put(check->dspField(i), 1)) return false;
  return true;
}

bool delIn(Client* c, SvInTable* in, ObjectId const& field) {
  bool ok = true;
  for (int32_t r : in->rows(c)) {
    if (!in->load(r)) continue;
    ObjectId const m = in->oid(IntegrCol::Member);
    if (m.classId() == field.classId() && m.instId() == field.instId() && in->delRecordNo(c, r, nullptr, false) < 0)
      ok = false;
  }
  return ok;
}

bool destructField(Client* c, SvField* f) {
  if (f == nullptr) return false;
  SvSchema* s = schemaOf(f->table());
  if (f->table()->isTemp() || s == nullptr || !s->hasCatalog()) return true;
  if (f->inCheck() != nullptr && !delIn(c, s->inStruct(), f->oid())) return false;
  int32_t const r = readFieldRow(c, f);
  return r >= 0 && s->fieldStruct()->delRecordNo(c, r, nullptr, false) >= 0;
}

bool updateData(Client* c, SvField* f, ObjectId const& table, String const& name, String const& descr, int32_t dim,
                String const& mask, int32_t length, int32_t decimals, TabFldFlags flags, int32_t type,
                int32_t sqlType) {
  SvSchema* s = schemaOf(f->table());
  if (f->table()->isTemp() || s == nullptr || !s->hasCatalog())
    return f->setData(name, descr, dim, mask, length, decimals, flags, type, sqlType);
  // The row's hook applies the shape; one it would refuse writes no row.
  if (!f->canTakeShape(dim, length, decimals, flags, type)) return false;
  int32_t const r = readFieldRow(c, f);
  if (r < 0) return false;
  SvFldTable* ft = s->fieldStruct();
  using namespace MemberCol;
  bool ok = true;
  if (!name.isNull() && !name.isHighest()) ok = ok && ft->set(Name, name);
  if (table.classId() != 0 || table.instId() != 0) ok = ok && ft->set(Class, table);
  ok = ok && ft->set(Descr, descr) && ft->set(Dim, dim) && ft->set(Mask, mask) && ft->set(Len, length) &&
       ft->set(NDec, decimals) && ft->set(Flags, int32_t(flags)) && ft->set(Type, type) && ft->set(SqlType, sqlType);
  return ok && update(c, ft, r) >= 0;
}

bool updateInCheck(Client* c, SvField* f, InCheck* check, String const& enumName) {
  if (!enumName.isNull() && (check == nullptr || check->getType() != 1)) {
    keepFirstError(InvalidData(String("an enumeration goes only with a list of values: ") + f->qualifiedName()));
    delete check;
    return false;
  }
  SvSchema* s = schemaOf(f->table());
  if (f->table()->isTemp() || s == nullptr || !s->hasCatalog()) {
    f->setInCheck(check);
    f->setEnum(enumName);
    return true;
  }
  if (!checkFits(check) || !columnFits(Cat::Member, MemberCol::EnumName, enumName)) {
    delete check;
    return false;
  }
  if (f->inCheck() != nullptr && !delIn(c, s->inStruct(), f->oid())) {
    delete check;
    return false;
  }
  int32_t const r = readFieldRow(c, f);
  bool ok = r >= 0;
  if (ok) {
    setCheckColumns(s->fieldStruct(), check);
    s->fieldStruct()->set(MemberCol::EnumName, enumName);
    ok = update(c, s->fieldStruct(), r) >= 0 && consIn(c, s->inStruct(), f->oid(), check);
  }
  delete check;
  return ok;
}

namespace {

// Rewrites one text column of a field's row.
bool updateText(Client* c, SvField* f, int32_t col, String const& text) {
  SvSchema* s = schemaOf(f->table());
  if (!columnFits(Cat::Member, col, text)) return false;
  int32_t const r = readFieldRow(c, f);
  return r >= 0 && s->fieldStruct()->set(col, text) && update(c, s->fieldStruct(), r) >= 0;
}

bool catalogued(SvField* f) {
  SvSchema* s = schemaOf(f->table());
  return !f->table()->isTemp() && s != nullptr && s->hasCatalog();
}

}  // namespace

bool updateDeflt(Client* c, SvField* f, SvExpr* deflt) {
  if (!catalogued(f)) {
    f->setDeflt(deflt);
    return true;
  }
  bool const ok = updateText(c, f, MemberCol::Deflt, exprText(deflt));
  delete deflt;
  return ok;
}

bool updateExpression(Client* c, SvField* f, SvExpr* expression) {
  if (!catalogued(f)) {
    f->setExpression(expression);
    return true;
  }
  bool const ok = updateText(c, f, MemberCol::RelCheck, exprText(expression));
  delete expression;
  return ok;
}

bool updateCollateSet(Client* c, SvField* f, CollateSet* collate) {
  SvStringField* sf = f->stringField();
  if (sf == nullptr) return false;
  if (!catalogued(f)) {
    sf->setCollateSet(collate);
    return true;
  }
  return updateText(c, f, MemberCol::CollSet, CatalogEnv::collateName(collate));
}

bool updateObjReference(Client* c, SvField* f, ObjectId const& ref) {
  SvObjectField* of = f->objectField();
  if (of == nullptr) return false;
  if (!catalogued(f)) {
    of->setObjReference(ref);
    return true;
  }
  SvSchema* s = schemaOf(f->table());
  int32_t const r = readFieldRow(c, f);
  return r >= 0 && s->fieldStruct()->set(MemberCol::ObjRef, ref) && update(c, s->fieldStruct(), r) >= 0;
}

// ---- indexes -----------------------------------------------------------------

SvIndRep* consIndex(Client* c, SvTabRep* t, int32_t number, String const& name, int32_t length, int32_t nParts,
                    IndFlags flags) {
  SvSchema* s = schemaOf(t);
  if (name.isNull() || t->isTemp() || s == nullptr || !s->hasCatalog())
    return SvIndRep::consIndex(c, t, number, name, length, nParts, flags);
  if (!SvIndRep::lengthFits(length, (flags & IndFlag::kDup) != 0)) {
    keepFirstError(InvalidData(String("key of ") + toString(long(length)) + " bytes too long for table " +
                               t->qualifiedName()));
    return nullptr;
  }
  // A negative part count would make the row unreadable at the next open.
  if (nParts < 0) {
    keepFirstError(InvalidData(String("index '") + name + "' of " + t->qualifiedName() + " has " +
                               toString(long(nParts)) + " key parts"));
    return nullptr;
  }
  SvIndTable* it = s->indexStruct();
  it->clearRow();
  using namespace MIndexCol;
  if (!nameFits(Cat::MIndex, Name, name, "index") || !it->set(IndNum, number) || !it->set(Flags, int32_t(flags)) ||
      !it->set(Len, length) || !it->set(NFields, nParts))
    return nullptr;
  if (t->index(name) != nullptr) {
    keepFirstError(InvalidData(String("index '") + name + "' exists in table " + t->qualifiedName()));
    return nullptr;
  }
  String ph = t->phName();
  long const dot = ph.index('.');
  String const base = ph.length() > 1 ? ph(1, (dot < 0 ? ph.length() : dot) - 1) : String();
  String const file = s->newFileName(base, t->getNewIndExt());
  if (file.isNull() || !it->set(File, file)) return nullptr;
  it->set(Class, t->oid());
  it->set(Name, name);
  if (it->addRow(c) < 0) return nullptr;
  return t->index(name);
}

bool destructIndField(Client* c, SvIndFld* part) {
  if (part == nullptr) return false;
  SvIndRep* ir = part->indRep();
  SvSchema* s = schemaOf(dynamic_cast<SvTabRep*>(ir->tableRep()));
  if (ir->isTemp() || s == nullptr || !s->hasCatalog()) return true;
  int32_t const r = s->indFieldStruct()->readThis(c, part->instId());
  return r >= 0 && s->indFieldStruct()->delRecordNo(c, r, nullptr, false) >= 0;
}

bool destructIndex(Client* c, SvIndex* ix) {
  SvIndRep* ir = ix->indRep();
  SvSchema* s = schemaOf(dynamic_cast<SvTabRep*>(ir->tableRep()));
  if (ir->isTemp() || s == nullptr || !s->hasCatalog()) {
    SvIndRep::destructIndex(c, ix);
    return true;
  }
  for (int32_t p = ir->nFields() - 1; p >= 0; --p) destructIndField(c, ir->iField(p));
  int32_t const r = s->indexStruct()->readThis(c, ir->instId());
  if (r < 0) {
    keepFirstError(InvalidData(String("no catalog row for index ") + ir->qualifiedName()));
    return false;
  }
  return s->indexStruct()->delRecordNo(c, r, nullptr, false) >= 0;
}

SvIndFld* consIndField(Client* c, SvIndRep* r, int32_t n, SvField* f, IndFldFlags flags, int32_t offset,
                       int32_t length) {
  SvSchema* s = schemaOf(dynamic_cast<SvTabRep*>(r->tableRep()));
  if (r->isTemp() || s == nullptr || !s->hasCatalog())
    return SvIndFld::consIndField(c, r, n, f, flags, offset, length);
  if (f != nullptr && offset != -1 && (offset < 0 || length < 1 || offset > f->keyLength() - length)) {
    keepFirstError(InvalidData(String("key range outside its field in index ") + r->qualifiedName()));
    return nullptr;
  }
  SvIndFldTable* mt = s->indFieldStruct();
  mt->clearRow();
  using namespace MIMembrCol;
  if (!mt->set(IndFldNum, n) || !mt->set(Flags, int32_t(flags)) || !mt->set(Len, length) || !mt->set(Offset, offset))
    return nullptr;
  mt->set(Index, r->oid());
  mt->set(Member, f != nullptr ? f->oid() : ObjectId(0, 0));
  if (mt->addRow(c) < 0) return nullptr;
  return dynamic_cast<SvIndFld*>(PObject::find(ObjectId(r->classWord(SvIndRep::kKindPart), mt->recInstId())));
}

bool updateIndexData(Client* c, SvIndRep* r, ObjectId const& table, String const& name, String const& file,
                     IndFlags flags, int32_t length) {
  SvSchema* s = schemaOf(dynamic_cast<SvTabRep*>(r->tableRep()));
  if (r->isTemp() || s == nullptr || !s->hasCatalog()) return r->setData(name, file, flags, length);
  SvIndTable* it = s->indexStruct();
  int32_t const rec = it->readThis(c, r->instId());
  if (rec < 0) {
    keepFirstError(InvalidData(String("no catalog row for index ") + r->qualifiedName()));
    return false;
  }
  using namespace MIndexCol;
  // The file becomes a path: a plain name, checked before the row changes.
  if (!nameFits(Cat::MIndex, Name, name, "index")) return false;
  if (!isPlainFileName(file)) {
    keepFirstError(InvalidData(String("index file name '") + file + "' of " + r->qualifiedName() +
                               " is not a plain file name"));
    return false;
  }
  // A key length the hook would refuse writes no row.
  if (!SvIndRep::lengthFits(length, (flags & IndFlag::kDup) != 0) || length < r->partsLength()) {
    keepFirstError(InvalidData(String("key of ") + toString(long(length)) + " bytes does not fit index " +
                               r->qualifiedName()));
    return false;
  }
  if ((table.classId() != 0 || table.instId() != 0) && !it->set(Class, table)) return false;
  if (!it->set(Name, name) || !it->set(File, file) || !it->set(Flags, int32_t(flags)) || !it->set(Len, length))
    return false;
  return update(c, it, rec) >= 0;
}

bool emptyIndex(Client* c, SvIndRep* r) {
  SvSchema* s = schemaOf(dynamic_cast<SvTabRep*>(r->tableRep()));
  if (r->isTemp() || s == nullptr || !s->hasCatalog()) {
    r->empty(c);
    return true;
  }
  String const ext = r->ext();
  if (ext.isNull()) {
    keepFirstError(InvalidData(String("index file ") + r->phName() + " has no extension"));
    return false;
  }
  SvTabRep* t = dynamic_cast<SvTabRep*>(r->tableRep());
  String ph = t->phName();
  long const dot = ph.index('.');
  String const base = ph.length() > 1 ? ph(1, (dot < 0 ? ph.length() : dot) - 1) : String();
  r->unlink();
  String const file = s->newFileName(base, ext);
  if (file.isNull()) return false;
  return updateIndexData(c, r, ObjectId(), r->name(), file, r->flags(), r->length());
}

// ---- listing -------------------------------------------------------------------

void listStructure(Client* c, SvTabRep* t) {
  SvSchema* s = schemaOf(t);
  if (s == nullptr || !s->hasCatalog()) return;
  SvTabTable* ct = s->tableStruct();
  warning(String("Listing contents for table '") + t->qualifiedName() + "'...");
  if (ct->readThis(c, t->instId()) < 0) return;
  using namespace ClassCol;
  warning(String("IID  : ") + toString(long(t->instId())));
  warning(String("Name : ") + ct->str(Name));
  warning(String("File : ") + ct->str(File));
  warning(String("Descr: ") + ct->str(Descr));
  warning(String("Len  : ") + toString(long(ct->num(Len))));
  warning(String("Flags: ") + toString(long(ct->num(Flags))));
  warning(String("Size : ") + toString(long(ct->num(Size))));
  warning(String("Expr : ") + ct->str(RelCheck));
  warning(String("FIELDS..."));
  SvFldTable* ft = s->fieldStruct();
  for (int32_t i = 0; i < t->nFields(); ++i) {
    if (ft->readThis(c, t->field(i)->instId()) < 0) continue;
    warning(String("   Name : ") + ft->str(MemberCol::Name));
    warning(String("   Len  : ") + toString(long(ft->num(MemberCol::Len))));
    warning(String("   NDec : ") + toString(long(ft->num(MemberCol::NDec))));
    warning(String("   -------------------------"));
  }
  warning(String("INDICES..."));
  SvIndTable* it = s->indexStruct();
  SvIndFldTable* mt = s->indFieldStruct();
  for (int32_t i = 0; i < t->nIndexSlots(); ++i) {
    SvIndRep* ir = t->index(i);
    if (ir == nullptr || ir->isTemp() || it->readThis(c, ir->instId()) < 0) continue;
    warning(String("   Name    : ") + it->str(MIndexCol::Name));
    warning(String("   Ph. Name: ") + it->str(MIndexCol::File));
    warning(String("   NFields : ") + toString(long(it->num(MIndexCol::NFields))));
    warning(String("   --------------------------"));
    warning(String("   INDEX FIELDS..."));
    for (int32_t p = 0; p < ir->nFields(); ++p) {
      if (mt->readThis(c, ir->iField(p)->instId()) < 0) continue;
      ObjectId const m = mt->oid(MIMembrCol::Member);
      warning(String("      Field      : (") + toString(long(m.classId())) + ", " + toString(long(m.instId())) + ")");
      SvField* f = dynamic_cast<SvField*>(PObject::find(m));
      warning(String("      Field name : ") + (f != nullptr ? f->name() : String("<<Not found>>")));
    }
  }
}

}  // namespace svcatalog
