// Reading a schema's structure from its catalog: tables, fields with their
// check values, indexes with their key parts, privileges. A row that cannot
// be used is reported ("BADCATROW") and its object left out; the schema is
// marked damaged so that no file of it counts as stray.
#include <svcatalog/CatalogOps.h>

#include <algorithm>

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
#include <zfound/Exception.h>
#include <zfound/Message.h>

namespace svcatalog {

namespace {

void bad(SvSchema* s, char const* file, uint32_t inst, String const& why) {
  warning(appMsg("BADCATROW"), file, long(inst), toCharPtr(why));
  s->setDamaged();
}

bool sameId(ObjectId const& a, ObjectId const& b) {
  return a.classId() == b.classId() && a.instId() == b.instId();
}

// The rows of a catalog table whose column 0 is `owner`, as (column 1, record
// number) sorted by column 1 then record.
std::vector<std::pair<int32_t, int32_t>> ownedRows(Client* c, CatalogTable* t, ObjectId const& owner) {
  std::vector<std::pair<int32_t, int32_t>> out;
  for (int32_t r : t->rows(c)) {
    if (!t->load(r)) continue;
    if (sameId(t->oid(0), owner)) out.emplace_back(t->num(1), r);
  }
  std::sort(out.begin(), out.end());
  return out;
}

void readPrivileges(Client* c, SvSchema* s, ObjectId const& owner, Privilege& list) {
  CatalogTable* pt = s->privgStruct();
  for (auto const& [n, r] : ownedRows(c, pt, owner)) {
    (void)n;
    if (!pt->load(r)) continue;
    list.add(uint16_t(pt->num(PrivgCol::Id)), uint16_t(pt->num(PrivgCol::IdType)),
             uint16_t(pt->num(PrivgCol::Priv)));
  }
}

// Rows whose owner (column 0) is no object in memory were never read: they
// are reported, and the schema counts as damaged.
void reportOrphans(Client* c, SvSchema* s) {
  CatalogTable* const tables[] = {s->fieldStruct(), s->indexStruct(), s->indFieldStruct(), s->privgStruct(),
                                  s->inStruct()};
  for (CatalogTable* t : tables) {
    for (int32_t r : t->rows(c)) {
      if (!t->load(r)) continue;
      ObjectId const owner = t->oid(0);
      uint32_t const kind = owner.classId() & 0xFFFu;
      bool known = false;
      if (owner.classId() == 0 && owner.instId() == 0)
        known = t == s->privgStruct();
      else if (kind == SvSchema::kKindTable)
        known = s->findTabRep(owner) != nullptr;
      else if (kind == SvSchema::kKindEnum)
        known = s->enumAt(int32_t(owner.instId())) != nullptr;
      else
        known = PObject::find(owner) != nullptr;
      if (!known)
        bad(s, catalogDef(t->kind()).file, t->recInstId(), String("it names no object ") + oidText(owner));
    }
  }
}

}  // namespace

SvField* readField(Client* c, SvSchema* s, SvTabRep* t, uint32_t inst) {
  CatalogTable* ft = s->fieldStruct();
  using namespace MemberCol;
  String const name = ft->str(Name);
  int32_t const type = ft->num(Type), dim = ft->num(Dim), len = ft->num(Len), ndec = ft->num(NDec);
  int32_t const kind = ft->num(IntegType);
  bool const neg = ft->num(IntegNeg) != 0;
  InCheck* check = nullptr;
  if (kind == 0) check = new SvIntegrity(neg, ft->oid(IntegInd));
  if (kind == 1) check = new SvInList(neg);
  SvExpr* deflt = ft->str(Deflt).isNull() ? nullptr : new SvExpr(ft->str(Deflt), s);
  SvExpr* expr = ft->str(RelCheck).isNull() ? nullptr : new SvExpr(ft->str(RelCheck), s);
  CollateSet* coll = ft->str(CollSet).isNull() ? nullptr : CatalogEnv::findCollateSet(ft->str(CollSet));
  if (name.isNull() || inst == 0 ||
      PObject::find(ObjectId(s->classWord(SvSchema::kKindField), inst)) != nullptr) {
    delete check;
    delete deflt;
    delete expr;
    bad(s, "$member.tab", inst, String("field '") + name + "' of table " + t->name() + " is not usable");
    return nullptr;
  }
  SvField* f = SvField::mkField(t, inst, name, ft->str(Descr), deflt, ft->str(Mask), len, ndec, type,
                                ft->num(SqlType), TabFldFlags(ft->num(Flags)), dim, check, expr, coll,
                                ft->oid(ObjRef), ft->str(EnumName));
  if (f == nullptr) {
    String why = Exception::last().message();
    Exception::last(Exception(0));
    bad(s, "$member.tab", inst, why);
    return nullptr;
  }
  readCheckValues(c, s, f);
  return f;
}

void readCheckValues(Client* c, SvSchema* s, SvField* f) {
  if (f->inCheck() == nullptr) return;
  CatalogTable* it = s->inStruct();
  for (auto const& [n, r] : ownedRows(c, it, f->oid())) {
    (void)n;
    if (!it->load(r)) continue;
    AnyValue const v = integrValue(it->str(IntegrCol::Value));
    if (it->num(IntegrCol::Type) != 0)
      f->inCheck()->addDspFld(v);
    else
      f->inCheck()->addKeyVal(v);
  }
}

SvIndFld* readIndexField(SvSchema* s, SvIndRep* ir, uint32_t inst) {
  CatalogTable* mt = s->indFieldStruct();
  ObjectId const member = mt->oid(MIMembrCol::Member);
  IndFldFlags const flags = IndFldFlags(mt->num(MIMembrCol::Flags));
  int32_t const offset = mt->num(MIMembrCol::Offset), len = mt->num(MIMembrCol::Len);
  if (PObject::find(ObjectId(ir->classWord(SvIndRep::kKindPart), inst)) != nullptr) {
    bad(s, "$mimembr.tab", inst, String("key part registered twice"));
    return nullptr;
  }
  SvIndFld* part = nullptr;
  if (member.classId() == 0 && member.instId() == 0) {
    part = new SvIndObject(ir, inst);
  } else {
    SvField* f = dynamic_cast<SvField*>(PObject::find(member));
    if (f == nullptr) {
      bad(s, "$mimembr.tab", inst, String("no field ") + oidText(member) + " for index " + ir->qualifiedName());
      return nullptr;
    }
    if (offset == -1) {
      part = new SvIndTabFld(ir, inst, f, flags);
    } else if (offset >= 0 && len >= 1 && offset <= f->keyLength() - len) {
      part = new SvIndRangeFld(ir, inst, f, flags, offset, len);
    } else {
      bad(s, "$mimembr.tab", inst, String("key range outside field ") + f->qualifiedName());
      return nullptr;
    }
  }
  ir->addField(part, ir->number());
  return part;
}

SvIndRep* readIndex(Client* c, SvSchema* s, SvTabRep* t, uint32_t inst, bool withParts) {
  CatalogTable* it = s->indexStruct();
  String const name = it->str(MIndexCol::Name), file = it->str(MIndexCol::File);
  int32_t const len = it->num(MIndexCol::Len), nParts = it->num(MIndexCol::NFields);
  int32_t const number = it->num(MIndexCol::IndNum);
  IndFlags const flags = IndFlags(it->num(MIndexCol::Flags));
  // The index goes back under its own number; a number that another index
  // of the table holds would make one of them unreachable.
  if (number < 0 || t->index(number) != nullptr) {
    bad(s, "$mindex.tab", inst,
        String("index '") + name + "' of table " + t->name() + " has number " + toString(long(number)) +
            ", which is not free");
    return nullptr;
  }
  if (name.isNull() || !isPlainFileName(file) || nParts < 0 ||
      !SvIndRep::lengthFits(len, (flags & IndFlag::kDup) != 0) || inst == 0 ||
      PObject::find(ObjectId(s->classWord(SvSchema::kKindIndex), inst)) != nullptr) {
    bad(s, "$mindex.tab", inst, String("index '") + name + "' of table " + t->name() + " is not usable");
    return nullptr;
  }
  SvIndRep* ir = new SvIndRep(t, inst, name, file, len, nParts, flags, nullptr);
  if (!ir->ok()) {
    bad(s, "$mindex.tab", inst, String("index file ") + file + " does not open");
    delete ir;
    return nullptr;
  }
  ir->setWantedNumber(number);
  if (!withParts) return ir;
  t->addIndex(ir);
  CatalogTable* mt = s->indFieldStruct();
  for (auto const& [n, r] : ownedRows(c, mt, ir->oid())) {
    (void)n;
    if (mt->load(r)) readIndexField(s, ir, mt->recInstId());
  }
  return ir;
}

SvTable* readTable(Client* c, SvSchema* s, uint32_t inst) {
  SvTabTable* ct = s->tableStruct();
  if (inst <= kSchemaRowInst || s->findTabRep(ObjectId(s->classWord(SvSchema::kKindTable), inst)) != nullptr) {
    bad(s, "$class.tab", inst, String("table instance in use"));
    return nullptr;
  }
  if (ct->readThis(c, inst) < 0) {
    bad(s, "$class.tab", inst, String("no row"));
    return nullptr;
  }
  using namespace ClassCol;
  String const name = ct->str(Name), file = ct->str(File), descr = ct->str(Descr), rel = ct->str(RelCheck);
  int32_t const len = ct->num(Len), flags = ct->num(Flags), size = ct->num(Size);
  if (!checkObjectName(name, "table") || !isPlainFileName(file) || !tableRowFits(name, len, flags)) {
    Exception::last(Exception(0));
    bad(s, "$class.tab", inst, String("table '") + name + "' file '" + file + "' is not usable");
    return nullptr;
  }
  SvTabRep* t = new SvTabRep(s, inst, name, file, descr, len, 8, 2, TabFlags(flags), size, false);
  if (!t->opened()) {
    bad(s, "$class.tab", inst, String("data file ") + file + " does not open");
    delete t;
    return nullptr;
  }
  if (!rel.isNull()) t->setExpression(new SvExpr(rel, s));
  CatalogTable* ft = s->fieldStruct();
  for (auto const& [n, r] : ownedRows(c, ft, t->oid())) {
    (void)n;
    if (ft->load(r)) readField(c, s, t, ft->recInstId());
  }
  t->resolveExpressions();
  CatalogTable* it = s->indexStruct();
  for (auto const& [n, r] : ownedRows(c, it, t->oid())) {
    (void)n;
    if (it->load(r)) readIndex(c, s, t, it->recInstId(), true);
  }
  Privilege p;
  readPrivileges(c, s, t->oid(), p);
  t->setPrivileges(p);
  return new SvTable(t, -1);
}

bool readTables(Client* c, SvSchema* s) {
  Privilege p;
  readPrivileges(c, s, ObjectId(0, 0), p);
  s->privileges() = p;
  SvTabTable* ct = s->tableStruct();
  std::vector<int32_t> const rows = ct->rows(c);
  if (rows.empty()) return false;
  std::vector<uint32_t> insts;
  for (int32_t r : rows)
    if (ct->load(r)) insts.push_back(ct->recInstId());
  for (uint32_t inst : insts) {
    if (inst == kSchemaRowInst) {
      ct->readThis(c, inst);
      // The id is the one the schema was opened with: every object id of
      // its rows holds it. Another one in the row is reported, not taken.
      if (ct->num(ClassCol::Size) != s->id())
        bad(s, "$class.tab", inst, String("schema id ") + toString(long(ct->num(ClassCol::Size))) + " is not " +
                                       toString(long(s->id())));
      s->setData(ct->str(ClassCol::Descr), ct->num(ClassCol::Len), s->id());
      s->setDbase(ct->str(ClassCol::File));
      continue;
    }
    SvTable* t = readTable(c, s, inst);
    if (t == nullptr) continue;
    if (t->tabRep()->nIndices() == 0) warning(String("No indices for table '") + t->qualifiedName() + "'");
    if (t->nFields() == 0) warning(String("No fields for table '") + t->qualifiedName() + "'");
  }
  reportOrphans(c, s);
  return true;
}

}  // namespace svcatalog
