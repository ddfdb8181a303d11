// The requests of a schema: Attach (a table, which it may create or
// replace, a cursor or an enumeration), Detach, Lock, Free, GetTables, Drop
// and SetPrivg, with the table description that an attachment replies.
//
// Every request reads its arguments from SvObject::con and answers as
// RequestEnv.h describes. A table creation reads and checks every field
// before the table exists, so a refused field makes no table.
#include <svcatalog/SvSchema.h>

#include "RequestArgs.h"

#include <blkfile/StorageEnv.h>
#include <sindex/SvIndRep.h>
#include <sindex/SvIndex.h>
#include <svcatalog/CatalogEnv.h>
#include <svcatalog/CatalogOps.h>
#include <svcatalog/RequestEnv.h>
#include <svcatalog/SvExpr.h>
#include <svcatalog/SvField.h>
#include <svcatalog/SvFieldTypes.h>
#include <svcatalog/SvInCheck.h>
#include <svcatalog/SvTabRep.h>
#include <svcatalog/SvTable.h>
#include <svobject/Client.h>
#include <zfound/CollateSet.h>
#include <zfound/Connection.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>

#include <memory>
#include <vector>


using svcatalog::abortPending;
using svcatalog::abortWith;
using svcatalog::answer;
using svcatalog::failWith;
using svcatalog::RequestEnv;

using svcatalog::args::pending;
using svcatalog::args::readString;
using svcatalog::args::readWord;
using svcatalog::args::truncated;

namespace {

constexpr int32_t kAttachTable = 32;
constexpr int32_t kAttachCursor = 64;
constexpr int32_t kAttachEnum = 4096;
// Bit of Attach's create word asking to replace an existing table.
constexpr int32_t kReplace = 2;


void say(String const& line) { warning(String("%S"), &line); }

// A non-fatal report of a request the schema does not know.
void unknownKind() { svstore::StorageEnv::_assert("0", __FILE__, __LINE__, false); }

// One field of a table creation, as read.
struct NewField {
  String name, descr, mask;
  int32_t dim = 0, type = 0, sqlType = 0, length = 0, decimals = 0, flags = 0;
  std::unique_ptr<SvExpr> deflt;
  CollateSet* collate = nullptr;  // a text field's collating set, not owned
};

}  // namespace

// ---- Attach --------------------------------------------------------------------------------------

long SvSchema::attach(Client* c) {
  if (!RequestEnv::services().canAttach(c))
    return pending() ? -1 : failWith(TooManyAttachs(0));
  int32_t kind = 0, info = 0;
  if (!readWord(kind) || !readWord(info))
    return failWith(truncated("attach arguments"));
  switch (kind) {
  case kAttachTable: {
    int32_t create = 0;
    String name;
    if (!readWord(create) || !readString(name))
      return failWith(truncated("table name"));
    SvTabRep* rep = findTabRep(name);
    if (create == 0)
      return rep != nullptr ? tableAttach(c, info, rep) : answer(c, -1);
    if ((create & kReplace) == 0)
      return rep != nullptr ? answer(c, -1) : tableCreate(c, nullptr, name);
    return rep != nullptr ? tableCreate(c, rep, name) : answer(c, -1);
  }
  case kAttachCursor:
    return cursorAttach(c);
  case kAttachEnum:
    return enumCreate(c);
  default:
    // An unknown kind is answered like Drop answers one.
    unknownKind();
    return answer(c, -1);
  }
}

long SvSchema::tableAttach(Client* c, int32_t info, SvTabRep* rep) {
  int32_t version = 0;
  if (!readWord(version))
    return failWith(truncated("version"));
  if (!RequestEnv::services().checkVersion(version))
    return failWith(BadVersion(version));
  SvTable* t = rep->attachment(version);
  if (t == nullptr)
    t = new SvTable(rep, version);
  RequestEnv::services().addObject(c, t);
  answer(c, long(t->getId()));
  Connection* out = SvObject::con;
  if (info != 0)
    *out << rep->descr() << int32_t(rep->flags()) << rep->size();
  if (rep->expr() != nullptr)
    *out << *static_cast<Expr*>(rep->expr());
  else
    *out << Expr();
  *out << int32_t(rep->memberClassId()) << rep->nFields();
  for (int32_t i = 0; i < rep->nFields(); ++i) {
    SvField* f = rep->field(i);
    *out << f->name() << f->getType() << f->getSqlType();
    if (f->deflt() != nullptr)
      *out << *static_cast<Expr*>(f->deflt());
    else
      *out << Expr();
    *out << f->mask() << f->getDim() << f->length() << f->nDecimals() << int32_t(f->indices());
    InCheck const* check = f->inCheck();
    if (check == nullptr || !*check || check->getType() == InCheck::NOCHECK) {
      InCheck::sendEmpty(*out);
    } else {
      check->send(*out);
      if (check->getType() != InCheck::INTEGRITY)
        *out << f->getEnum();
    }
    if (f->expression() != nullptr)
      *out << *static_cast<Expr*>(f->expression());
    else
      *out << Expr();
    SvStringField* sf = f->stringField();
    *out << (sf != nullptr && sf->collate() != nullptr ? svcatalog::CatalogEnv::collateName(sf->collate())
                                                        : String(""));
    SvObjectField* of = f->objectField();
    *out << (of != nullptr ? of->objReference() : ObjectId());
    if (info != 0)
      *out << f->descr() << int32_t(f->flags());
  }
  *out << t->nIndices();
  int32_t sent = 0;
  for (int32_t n = 0; n < t->nIndexSlots() && sent < t->nIndices(); ++n) {
    SvIndex* ix = t->index(n);
    if (ix == nullptr || ix->isTemporary())
      continue;
    ++sent;
    SvIndRep* ir = ix->indRep();
    *out << n << ir->name() << int32_t(ir->flags()) << ir->nFields();
    for (int32_t p = 0; p < ir->nFields(); ++p) {
      SvIndFld* part = ir->iField(p);
      auto* f = dynamic_cast<SvField*>(part->field());
      *out << (f != nullptr ? rep->nField(f) : int32_t(-1));
      if (info != 0) {
        int32_t off = part->tableOffset() - (f != nullptr ? f->tableOffset() : 0);
        *out << int32_t(part->flags()) << off << part->length();
      }
    }
  }
  *out << rep->privileges();
  return long(t->getId());
}

long SvSchema::tableCreate(Client* c, SvTabRep* oldRep, String const& name) {
  String descr;
  int32_t flags = 0, size = 0, nFields = 0;
  if (!readString(descr) || !readWord(flags) || !readWord(size) || !readWord(nFields))
    return failWith(truncated("table arguments"));
  if (nFields < 0 || nFields > SvTable::kMaxFields)
    return failWith(InvalidData(String("a table has at most 255 fields")));
  // Every field is read and tried on a scratch table before anything is made.
  std::vector<NewField> fields(static_cast<size_t>(nFields));
  SvTabRep scratch(ObjectId(), String("scratch"), name_, 0, nFields, true);
  for (NewField& f : fields) {
    String set;
    if (!readString(f.name) || !readString(f.descr) || !readWord(f.dim) || !readWord(f.type) ||
        !readWord(f.sqlType) || !readWord(f.length) || !readWord(f.decimals) || !readWord(f.flags))
      return failWith(truncated("field"));
    f.deflt = std::make_unique<SvExpr>(nullptr, -1, nullptr);
    *SvObject::con >> *f.deflt;
    if (!readString(f.mask) || !readString(set))
      return failWith(truncated("field"));
    // A text field's collating set is made with the field; one the server
    // cannot load refuses the table, which would otherwise be made without
    // the order asked for.
    if (f.type == 1 && !set.isNull() && set.length() > 0) {
      f.collate = svcatalog::CatalogEnv::findCollateSet(set);
      if (f.collate == nullptr)
        return failWith(InvalidData(String("no collating set ") + set));
    }
    if (f.deflt->isNull())
      f.deflt.reset();
    if (SvField::mkField(&scratch, 0, f.name, f.descr, nullptr, f.mask, f.length, f.decimals, f.type, f.sqlType,
                         TabFldFlags(f.flags), f.dim, nullptr, nullptr, nullptr, ObjectId(), String()) == nullptr)
      return pending() ? -1 : failWith(InvalidData(String("field ") + f.name + " cannot be made"));
  }
  // The new table takes the instance number of the one it replaces.
  uint32_t const oldInst = oldRep != nullptr ? oldRep->oid().instId() : 0u;
  if (oldRep != nullptr) {
    SvTable* old = oldRep->attachment(-1);
    if (old != nullptr && old->refCount() > 1)
      return failWith(BeingUsed(old->refCount() - 1));
    if (old != nullptr && !svcatalog::destructTable(c, old))
      return pending() ? -1 : failWith(InvalidData(String("table ") + name + " cannot be replaced"));
  }
  SvTable* t = svcatalog::consTable(c, this, name, descr, 0, TabFlags(flags), size, oldInst);
  if (t == nullptr)
    return pending() ? -1 : failWith(InvalidData(String("table ") + name + " cannot be made"));
  SvTabRep* rep = t->tabRep();
  int32_t uid = c != nullptr ? c->uid() : 0;
  add(c, rep->oid(), const_cast<Privilege&>(rep->privileges()), uint16_t(uid), 1, 0x3FF, rep->isTemp());
  for (int32_t i = 0; i < nFields; ++i) {
    NewField& f = fields[size_t(i)];
    if (svcatalog::consField(c, rep, i, f.name, f.descr, f.deflt.release(), f.mask, f.length, f.decimals, f.type,
                             f.sqlType, ObjectId(), TabFldFlags(f.flags), f.dim, nullptr, nullptr, f.collate,
                             String()) == nullptr) {
      std::unique_ptr<Exception> keep(Exception::last().clone());
      svcatalog::destructTable(c, t);
      Exception::last(keep->code() != 0 ? *keep : InvalidData(String("field cannot be made")));
      return -1;
    }
  }
  t->updateRecLength(c, rep->nextOffset() - rep->prefixSize());
  if (pending()) {
    std::unique_ptr<Exception> keep(Exception::last().clone());
    svcatalog::destructTable(c, t);
    Exception::last(*keep);
    return -1;
  }
  RequestEnv::services().addObject(c, t);
  answer(c, long(t->getId()));
  *SvObject::con << int32_t(rep->memberClassId());
  if (rep->isTemp())
    *SvObject::con << rep->name();
  return long(t->getId());
}

long SvSchema::cursorAttach(Client* c) {
  int32_t mode = 0, id = 0, ind = 0, limit = 0;
  if (!readWord(mode) || !readWord(id) || !readWord(ind))
    return abortWith(c, truncated("cursor arguments"));
  SvTable* t = nullptr;
  if (GServObj::validObject(uint32_t(id)))
    if (SvObject* o = GServObj::object(uint32_t(id))->getSvObject())
      t = o->getTable();
  if (t == nullptr)
    return abortWith(c, InvalidTable(id));
  if (!t->allowed(c, SvTable::kPrivRead))
    return abortWith(c, NoPrivilege(SvTable::kPrivRead, -1));
  if (t->index(ind) == nullptr)
    return abortWith(c, InvalidIndexNum(ind));
  if (!readWord(limit))
    return abortWith(c, truncated("record limit"));
  SvObject* cur = RequestEnv::services().newCursor(c, t, ind, mode, limit);
  if (cur == nullptr)
    return pending() ? -1 : failWith(InvalidData(String("cursor refused")));
  // Registered with the client, so that its requests are accepted and it
  // ends with the client.
  RequestEnv::services().addObject(c, cur);
  return answer(c, long(cur->getId()));
}

// ---- Detach, Lock, Free, GetTables ------------------------------------------------------

long SvSchema::detach(Client* c) {
  int32_t id = 0;
  if (!readWord(id))
    return failWith(truncated("object id"));
  if (!GServObj::validObject(uint32_t(id)))
    return answer(c, -1);
  SvObject* o = GServObj::object(uint32_t(id))->getSvObject();
  if (o == nullptr || !RequestEnv::services().delObject(c, o))
    return answer(c, -1);
  return answer(c, 0);
}

bool SvSchema::canLock(Client* c) const {
  return refCount() <= 1 && (lockedBy_ == nullptr || lockedBy_ == c);
}

long SvSchema::lock(Client* c) {
  if (!canLock(c))
    return answer(c, -1);
  lockedBy_ = c;
  return answer(c, 0);
}

long SvSchema::free(Client* c) {
  if (lockedBy_ != nullptr && lockedBy_ != c)
    return answer(c, -1);
  lockedBy_ = nullptr;
  return answer(c, 0);
}

long SvSchema::getTables(Client* c) {
  String list("");
  int32_t n = 0;
  for (int32_t i = 6; i < tablesDim(); ++i) {
    SvTabRep* t = table(i);
    if (t == nullptr || t->isTemp())
      continue;
    if (n++ > 0)
      list = list + "\t";
    list = list + t->name() + ":" + toString(long(t->memberClassId()));
  }
  answer(c, n);
  if (SvObject::con != nullptr)
    *SvObject::con << list;
  return n;
}

// ---- Drop, SetPrivg -----------------------------------------------------------------------------

long SvSchema::drop(Client* c) {
  int32_t uid = c != nullptr ? c->uid() : 0;
  int32_t gid = c != nullptr ? c->gid() : 0;
  if (!allowed(uid, gid, 8))
    return failWith(NoPrivilege(8, -1));
  int32_t kind = 0;
  if (!readWord(kind))
    return failWith(truncated("drop kind"));
  if (kind == kAttachTable) {
    int32_t force = 0;
    String name;
    if (!readWord(force) || !readString(name))
      return failWith(truncated("table name"));
    SvTabRep* rep = findTabRep(name);
    SvTable* t = rep != nullptr && !isCatalogRep(rep) ? rep->attachment(-1) : nullptr;
    if (t == nullptr)
      return answer(c, -1);
    int32_t holders = t->refCount();
    if (holders > 1 || (force == 0 && holders > 0))
      return failWith(BeingUsed(holders));
    if (!svcatalog::destructTable(c, t))
      return pending() ? -1 : answer(c, -1);
    return answer(c, 0);
  }
  if (kind == kAttachEnum) {
    deleteEnums(c);
    return answer(c, 0);
  }
  unknownKind();
  return answer(c, -1);
}

long SvSchema::setPrivg(Client* c) {
  long result = 0;
  for (;;) {
    int32_t code = 0;
    if (!readWord(code))
      return failWith(truncated("privilege code"));
    if (code == 0)
      break;
    if (code == 1) {
      Privilege list;
      *SvObject::con >> list;
      if (SvObject::con->bad())
        return failWith(truncated("privilege list"));
      if (!updatePrivg(c, list))
        result = -1;
    } else if (code == 2) {
      String name;
      Privilege list;
      if (!readString(name))
        return failWith(truncated("table name"));
      *SvObject::con >> list;
      if (SvObject::con->bad())
        return failWith(truncated("privilege list"));
      SvTabRep* t = findTabRep(name);
      if (t == nullptr) {
        say(String("Could not find table ") + name);
        result = -1;
      } else if (!svcatalog::updateTablePrivg(c, t, list)) {
        result = -1;
      }
    } else if (code == 3) {
      String to, from;
      if (!readString(to) || !readString(from))
        return failWith(truncated("table names"));
      SvTabRep* a = findTabRep(to);
      SvTabRep* b = findTabRep(from);
      if (a == nullptr || b == nullptr) {
        say(String("Could not find table ") + (a == nullptr ? to : from));
        result = -1;
      } else if (!svcatalog::updateTablePrivg(c, a, Privilege(b->privileges()))) {
        result = -1;
      }
    } else if (code == 4) {
      int32_t owner = 0;
      if (!readWord(owner))
        return failWith(truncated("owner"));
      int32_t uid = c != nullptr ? c->uid() : 0;
      if ((uid == owner_ || uid == 0) && updateData(c, descr_, owner))
        continue;
      result = -1;
    } else {
      // An unknown code ends the sequence: what follows it cannot be read
      // as codes.
      return answer(c, -1);
    }
    if (pending()) {
      // A failed operation does not stop the sequence.
      Exception::last(Exception(0));
      result = -1;
    }
  }
  return answer(c, result);
}
