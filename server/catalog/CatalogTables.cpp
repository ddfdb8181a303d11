// The catalog attachments: row access and the hooks that apply a catalog
// row change to the schema's memory.
#include <svcatalog/CatalogTables.h>

#include <cstring>

#include <sindex/SvIndex.h>
#include <svcatalog/CatalogEnv.h>
#include <svcatalog/CatalogOps.h>
#include <svcatalog/SvExpr.h>
#include <svcatalog/SvField.h>
#include <svcatalog/SvFieldTypes.h>
#include <svcatalog/SvInCheck.h>
#include <svcatalog/SvSchema.h>
#include <svcatalog/TableEnv.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>

namespace svcatalog {

namespace {

char const* const kClassNames[kNCatalogs] = {"SvTabTable", "SvFldTable",  "SvIndTable",
                                             "SvIndFldTable", "SvPrivTable", "SvInTable"};

}  // namespace

String oidText(ObjectId const& id) {
  return String("<") + toString(long(id.classId())) + ", " + toString(long(id.instId())) + ">";
}

void unlinkTableFiles(SvTabRep* t) {
  for (int32_t i = 0; i < t->nIndexSlots(); ++i)
    if (SvIndRep* ir = t->index(i); ir != nullptr) ir->unlink();
  t->BlockedFile::unlink(t->schemaName());
}

// ---- CatalogTable ------------------------------------------------------------

CatalogTable::CatalogTable(SvTabRep* rep, SvSchema* schema, Cat kind)
    : SvTable(rep, -1), schema_(schema), kind_(kind) {}

String CatalogTable::objType() {
  String s(kClassNames[int32_t(kind_)]);
  if (vers() != -1) s += String(" - version ") + toString(long(vers()));
  return s;
}

void CatalogTable::clearRow() {
  if (buffer() != nullptr) std::memset(buffer(), 0, size_t(recordLength()));
}

int32_t CatalogTable::readThis(Client* c, uint32_t inst) {
  clearRow();
  setRecInstId(inst);
  return SvTable::readThis(c);
}

std::vector<int32_t> CatalogTable::rows(Client* c) {
  std::vector<int32_t> out;
  SvIndex* ix = index(0);
  if (ix == nullptr) return out;
  for (int32_t r = ix->findKey(c, 0x400); r > 0; r = ix->next()) out.push_back(r);
  ix->unLock();
  return out;
}

bool CatalogTable::load(int32_t recno) { return fillBuffer(recno); }

String CatalogTable::str(int32_t col) const {
  String v;
  getFld(col, v);
  return v;
}

int32_t CatalogTable::num(int32_t col) const {
  int32_t v = 0;
  getFld(col, v);
  return v;
}

ObjectId CatalogTable::oid(int32_t col) const {
  uint32_t cls = 0, inst = 0;
  getFld(col, cls, inst);
  return ObjectId(cls, inst);
}

bool CatalogTable::set(int32_t col, String const& v) { return columnFits(kind_, col, v) && setFld(col, v); }

bool CatalogTable::set(int32_t col, int32_t v) { return columnFits(kind_, col, v) && setFld(col, v); }

bool CatalogTable::set(int32_t col, ObjectId const& v) { return setFld(col, v.classId(), v.instId()); }

int32_t CatalogTable::addRow(Client* c) { return addCurrRecord(c, true, true, -1, nullptr, 0); }

void CatalogTable::badRow(String const& why) {
  warning(appMsg("BADCATROW"), toCharPtr(String(catalogDef(kind_).file)), long(recInstId()), toCharPtr(why));
  schema_->setDamaged();
}

// ---- $class ------------------------------------------------------------------

int32_t SvTabTable::addCurrRecord(Client* c, bool stampNow, bool keyFirst, int32_t oldRec, LockObject* lk,
                                  uint32_t inst) {
  int32_t const r = SvTable::addCurrRecord(c, stampNow, keyFirst, oldRec, lk, inst);
  if (r < 0) return r;
  uint32_t const id = recInstId();
  if (id == kSchemaRowInst) {
    owner()->setData(str(ClassCol::Descr), num(ClassCol::Len), num(ClassCol::Size));
    owner()->setDbase(str(ClassCol::File));
  } else {
    readTable(c, owner(), id);
  }
  return r;
}

int32_t SvTabTable::updateRecNo(Client* c, int32_t rec, bool keyMayChange, LockObject* lk, bool optCheck,
                                uint32_t inst) {
  uint32_t const oldInst = tabRep()->recInstId(rec);
  int32_t const r = SvTable::updateRecNo(c, rec, keyMayChange, lk, optCheck, inst);
  if (r < 0) return r;
  SvSchema* s = owner();
  if (oldInst == kSchemaRowInst) {
    if (num(ClassCol::Size) != s->id()) {
      badRow(String("schema id ") + toString(long(num(ClassCol::Size))) + " is not " + toString(long(s->id())));
      return r;
    }
    s->setData(str(ClassCol::Descr), num(ClassCol::Len), num(ClassCol::Size));
    return r;
  }
  SvTabRep* t = s->findTabRep(ObjectId(s->classWord(SvSchema::kKindTable), oldInst));
  if (t == nullptr) {
    badRow(String("no table of instance ") + toString(long(oldInst)));
    return r;
  }
  uint32_t const now = recInstId();
  t->setData(str(ClassCol::Name), str(ClassCol::File), str(ClassCol::Descr), TabFlags(num(ClassCol::Flags)),
             num(ClassCol::Size), now != oldInst ? now : 0, str(ClassCol::RelCheck));
  SvTable* att = t->attachment(-1);
  int32_t const len = num(ClassCol::Len);
  if (att != nullptr && len > 0 && len != att->length()) att->setRecLength(len);
  return r;
}

int32_t SvTabTable::delRecordNo(Client* c, int32_t rec, LockObject* lk, bool optCheck) {
  int32_t const r = SvTable::delRecordNo(c, rec, lk, optCheck);
  if (r < 0) return r;
  uint32_t const id = recInstId();
  SvSchema* s = owner();
  if (id == kSchemaRowInst) {
    s->unlink();
    delete s;  // destroys this attachment too: nothing of it is used after
    return r;
  }
  SvTabRep* t = s->findTabRep(ObjectId(s->classWord(SvSchema::kKindTable), id));
  if (t == nullptr) {
    badRow(String("no table of instance ") + toString(long(id)));
    return r;
  }
  SvTable* att = t->attachment(-1);
  if (TableEnv::objects != nullptr && att != nullptr) TableEnv::objects->takeFromClients(att);
  unlinkTableFiles(t);
  if (att != nullptr)
    delete att;
  else
    delete t;
  return r;
}

// ---- $member -----------------------------------------------------------------

int32_t SvFldTable::addCurrRecord(Client* c, bool stampNow, bool keyFirst, int32_t oldRec, LockObject* lk,
                                  uint32_t inst) {
  int32_t const r = SvTable::addCurrRecord(c, stampNow, keyFirst, oldRec, lk, inst);
  if (r < 0) return r;
  SvTabRep* t = owner()->findTabRep(oid(MemberCol::Class));
  if (t == nullptr) {
    badRow(String("no table ") + oidText(oid(MemberCol::Class)));
    return r;
  }
  readField(c, owner(), t, recInstId());
  return r;
}

int32_t SvFldTable::updateRecNo(Client* c, int32_t rec, bool keyMayChange, LockObject* lk, bool optCheck,
                                uint32_t inst) {
  uint32_t const oldInst = tabRep()->recInstId(rec);
  int32_t const r = SvTable::updateRecNo(c, rec, keyMayChange, lk, optCheck, inst);
  if (r < 0) return r;
  SvSchema* s = owner();
  SvField* f = dynamic_cast<SvField*>(PObject::find(ObjectId(s->classWord(SvSchema::kKindField), oldInst)));
  if (f == nullptr) {
    badRow(String("no field of instance ") + toString(long(oldInst)));
    return r;
  }
  using namespace MemberCol;
  if (!f->setData(str(Name), str(Descr), num(Dim), str(Mask), num(Len), num(NDec), TabFldFlags(num(Flags)),
                  num(Type), num(SqlType)))
    badRow(String("field ") + f->qualifiedName() + " cannot take the row's shape");
  int32_t const kind = num(IntegType);
  bool const neg = num(IntegNeg) != 0;
  if (kind == 0)
    f->setInCheck(new SvIntegrity(neg, oid(IntegInd)));
  else if (kind == 1)
    f->setInCheck(new SvInList(neg));
  else
    f->setInCheck(nullptr);
  // The new check takes the values its rows hold now: a change of another
  // column (a default, a description) keeps them.
  readCheckValues(c, s, f);
  f->setEnum(str(EnumName));
  // The default and the check expression as their rows hold them now.
  auto exprOf = [&](String const& text) -> SvExpr* {
    if (text.isNull()) return nullptr;
    SvExpr* e = new SvExpr(text, s);
    e->resolveFields(f->table(), f->number());
    return e;
  };
  f->setDeflt(exprOf(str(Deflt)));
  f->setExpression(exprOf(str(RelCheck)));
  if (SvStringField* sf = f->stringField(); sf != nullptr && !str(CollSet).isNull())
    sf->setCollateSet(CatalogEnv::findCollateSet(str(CollSet)));
  if (SvObjectField* of = f->objectField(); of != nullptr) of->setObjReference(oid(ObjRef));
  return r;
}

// ---- $mindex -----------------------------------------------------------------

int32_t SvIndTable::addCurrRecord(Client* c, bool stampNow, bool keyFirst, int32_t oldRec, LockObject* lk,
                                  uint32_t inst) {
  int32_t const r = SvTable::addCurrRecord(c, stampNow, keyFirst, oldRec, lk, inst);
  if (r < 0) return r;
  SvTabRep* t = owner()->findTabRep(oid(MIndexCol::Class));
  if (t == nullptr) {
    badRow(String("no table ") + oidText(oid(MIndexCol::Class)));
    return r;
  }
  SvIndRep* ir = readIndex(c, owner(), t, recInstId(), false);
  if (ir == nullptr) return r;
  SvTable* att = t->attachment(-1);
  if (att != nullptr) {
    SvIndex* ix = new SvIndex(ir, att, -1);
    if (!ix->ok()) badRow(String("index ") + ir->qualifiedName() + " does not open");
  } else {
    t->addIndex(ir);
  }
  return r;
}

int32_t SvIndTable::updateRecNo(Client* c, int32_t rec, bool keyMayChange, LockObject* lk, bool optCheck,
                                uint32_t inst) {
  uint32_t const oldInst = tabRep()->recInstId(rec);
  int32_t const r = SvTable::updateRecNo(c, rec, keyMayChange, lk, optCheck, inst);
  if (r < 0) return r;
  SvSchema* s = owner();
  SvIndRep* ir = dynamic_cast<SvIndRep*>(PObject::find(ObjectId(s->classWord(SvSchema::kKindIndex), oldInst)));
  if (ir == nullptr) {
    badRow(String("no index of instance ") + toString(long(oldInst)));
    return r;
  }
  // The key length is the len column (nfields counts the key parts).
  if (!ir->setData(str(MIndexCol::Name), str(MIndexCol::File), IndFlags(num(MIndexCol::Flags)),
                   num(MIndexCol::Len)))
    badRow(String("index ") + ir->qualifiedName() + " cannot take the row's key length");
  return r;
}

int32_t SvIndTable::delRecordNo(Client* c, int32_t rec, LockObject* lk, bool optCheck) {
  int32_t const r = SvTable::delRecordNo(c, rec, lk, optCheck);
  if (r < 0) return r;
  SvSchema* s = owner();
  SvIndRep* ir =
      dynamic_cast<SvIndRep*>(PObject::find(ObjectId(s->classWord(SvSchema::kKindIndex), recInstId())));
  if (ir == nullptr) {
    badRow(String("no index of instance ") + toString(long(recInstId())));
    return r;
  }
  SvIndex* ix = ir->index();
  ir->unlink();
  if (ix != nullptr)
    delete ix;  // the current open index takes its definition with it
  else
    delete ir;
  return r;
}

// ---- $mimembr ----------------------------------------------------------------

int32_t SvIndFldTable::addCurrRecord(Client* c, bool stampNow, bool keyFirst, int32_t oldRec, LockObject* lk,
                                     uint32_t inst) {
  int32_t const r = SvTable::addCurrRecord(c, stampNow, keyFirst, oldRec, lk, inst);
  if (r < 0) return r;
  SvIndRep* ir = dynamic_cast<SvIndRep*>(PObject::find(oid(MIMembrCol::Index)));
  if (ir == nullptr) {
    badRow(String("no index ") + oidText(oid(MIMembrCol::Index)));
    return r;
  }
  readIndexField(owner(), ir, recInstId());
  return r;
}

// ---- $privg ------------------------------------------------------------------

int32_t SvPrivTable::addCurrRecord(Client* c, bool stampNow, bool keyFirst, int32_t oldRec, LockObject* lk,
                                   uint32_t inst) {
  int32_t const r = SvTable::addCurrRecord(c, stampNow, keyFirst, oldRec, lk, inst);
  if (r < 0) return r;
  ObjectId const cls = oid(PrivgCol::Class);
  auto const id = uint16_t(num(PrivgCol::Id)), type = uint16_t(num(PrivgCol::IdType)),
             priv = uint16_t(num(PrivgCol::Priv));
  if (cls.classId() == 0 && cls.instId() == 0) {
    owner()->privileges().add(id, type, priv);
    return r;
  }
  SvTabRep* t = owner()->findTabRep(cls);
  if (t == nullptr) {
    badRow(String("no table ") + oidText(cls));
    return r;
  }
  Privilege p = t->privileges();
  p.add(id, type, priv);
  t->setPrivileges(p);
  return r;
}

int32_t SvPrivTable::delRecordNo(Client* c, int32_t rec, LockObject* lk, bool optCheck) {
  int32_t const r = SvTable::delRecordNo(c, rec, lk, optCheck);
  if (r < 0) return r;
  ObjectId const cls = oid(PrivgCol::Class);
  if (cls.classId() == 0 && cls.instId() == 0) {
    owner()->privileges().clear();
    return r;
  }
  if (SvTabRep* t = owner()->findTabRep(cls); t != nullptr) t->setPrivileges(Privilege());
  return r;
}

// ---- $integr -----------------------------------------------------------------

int32_t SvInTable::addCurrRecord(Client* c, bool stampNow, bool keyFirst, int32_t oldRec, LockObject* lk,
                                 uint32_t inst) {
  int32_t const r = SvTable::addCurrRecord(c, stampNow, keyFirst, oldRec, lk, inst);
  if (r < 0) return r;
  ObjectId const member = oid(IntegrCol::Member);
  uint32_t const kind = member.classId() & 0xFFFu;
  SvSchema* s = owner();
  if (kind == SvSchema::kKindField) {
    SvField* f = dynamic_cast<SvField*>(PObject::find(member));
    if (f == nullptr || f->inCheck() == nullptr) {
      badRow(String("no field with a check ") + oidText(member));
      return r;
    }
    AnyValue const v = integrValue(str(IntegrCol::Value));
    if (num(IntegrCol::Type) != 0)
      f->inCheck()->addDspFld(v);
    else
      f->inCheck()->addKeyVal(v);
  } else if (kind == SvSchema::kKindEnum) {
    int32_t const n = num(IntegrCol::FldInNum);
    if (n == 0) {
      int32_t const e = s->addEnum(str(IntegrCol::Value));
      if (uint32_t(e) != member.instId()) warning(String("Enumeration number ") + toString(long(e)) + " is not " +
                                                  toString(long(member.instId())));
    } else {
      int32_t const item = s->addEnumItem(int32_t(member.instId()), str(IntegrCol::Value), num(IntegrCol::Type));
      if (item != n - 1) badRow(String("enumeration item ") + toString(long(n)) + " out of order");
    }
  } else {
    badRow(String("member of kind ") + toString(long(kind)));
  }
  return r;
}

int32_t SvInTable::delRecordNo(Client* c, int32_t rec, LockObject* lk, bool optCheck) {
  if (!fillBuffer(rec)) return -1;
  ObjectId const member = oid(IntegrCol::Member);
  bool const header = (member.classId() & 0xFFFu) == SvSchema::kKindEnum && num(IntegrCol::FldInNum) == 0;
  String const name = str(IntegrCol::Value);
  int32_t const r = SvTable::delRecordNo(c, rec, lk, optCheck);
  if (r >= 0 && header) owner()->delEnum(name);
  return r;
}

}  // namespace svcatalog
