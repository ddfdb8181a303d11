// The structure requests of a table attachment: creating, dropping and
// filling indexes, renaming, setting field and table attributes, altering
// to a new structure, copying rows into another table and taking over
// another table's name.
//
// Every request reads its arguments from SvObject::con and answers as
// RequestEnv.h describes. Every number a client sends (index and field
// numbers, key parts, record numbers, object ids) is checked before the
// first change, so a refused request changes nothing.
#include <svcatalog/SvTable.h>

#include "RequestArgs.h"

#include <sindex/SvIndRep.h>
#include <sindex/SvIndex.h>
#include <svcatalog/CatalogEnv.h>
#include <svcatalog/CatalogOps.h>
#include <svcatalog/RequestEnv.h>
#include <svcatalog/SvExpr.h>
#include <svcatalog/SvField.h>
#include <svcatalog/SvFieldTypes.h>
#include <svcatalog/SvInCheck.h>
#include <svcatalog/SvSchema.h>
#include <svcatalog/TableEnv.h>
#include <svobject/Client.h>
#include <zfound/Connection.h>
#include <zfound/Exception.h>

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


// The schema's privilege check for the client (user 0 and the owner pass).
bool schemaAllows(SvTable const* t, Client* c, int32_t priv) {
  int32_t uid = c != nullptr ? c->uid() : 0;
  int32_t gid = c != nullptr ? c->gid() : 0;
  auto* s = dynamic_cast<SvSchema*>(t->schema());
  if (s == nullptr)
    return uid == 0;
  return uid == 0 || uid == s->getOwnerId() || s->allowed(uid, gid, priv);
}

// The table attachment that a client's object id names, or null.
SvTable* tableOf(int32_t id) {
  if (!GServObj::validObject(uint32_t(id)))
    return nullptr;
  SvObject* o = GServObj::object(uint32_t(id))->getSvObject();
  return o != nullptr ? o->getTable() : nullptr;
}

// A received expression, null when empty; false when the channel failed.
bool readExpr(std::unique_ptr<SvExpr>& e) {
  e.reset();
  if (SvObject::con == nullptr)
    return false;
  auto x = std::make_unique<SvExpr>(nullptr, -1, nullptr);
  *SvObject::con >> *x;
  if (SvObject::con->bad())
    return false;
  if (!x->isNull())
    e = std::move(x);
  return true;
}

// One key part of an index Create, as read.
struct KeyPart {
  int32_t field;
  int32_t flags;
  int32_t offset;
  int32_t length;
};

// Most key parts an index takes.
constexpr int32_t kMaxKeyParts = 32;
// Key bytes of the object-id part (the record's instance id).
constexpr int32_t kObjIdKeyLength = 4;

}  // namespace

bool SvTable::usedByOthers() const { return refCount() > 1; }

long SvTable::rename(Client* c) {
  if (structTab())
    return failWith(NoPrivilege(kPrivUpdate, -1));
  if (usedByOthers())
    return failWith(BeingUsed(refCount() - 1));
  String name;
  if (!readString(name) || name.isNull())
    return failWith(truncated("table name"));
  if (!rep_->updateData(c, name, rep_->phName(), rep_->descr(), rep_->flags(), rep_->size(), length(), 0,
                        String()))
    return pending() ? -1 : failWith(InvalidData(String("table cannot be renamed")));
  return answer(c, 0);
}

long SvTable::create(Client* c) {
  String name;
  int32_t flags = 0, nParts = 0;
  if (!readString(name) || !readWord(flags) || !readWord(nParts))
    return failWith(truncated("index arguments"));
  return createIndex(c, name, flags, nParts);
}

long SvTable::createIndex(Client* c, String const& name, int32_t flags, int32_t nParts) {
  if (structTab())
    return failWith(NoPrivilege(8, -1));
  if (nParts < 1 || nParts > kMaxKeyParts)
    return failWith(InvalidData(String("bad key part count ") + toString(long(nParts))));
  // Every part is read and checked before the definition exists.
  std::vector<KeyPart> parts(size_t(nParts), KeyPart{});
  for (KeyPart& p : parts) {
    if (!readWord(p.field) || !readWord(p.flags) || !readWord(p.offset) || !readWord(p.length))
      return failWith(truncated("key part"));
    if (p.field != -1 && (field(p.field) == nullptr || field(p.field)->isVirtual()))
      return failWith(InvalidData(String("no field ") + toString(long(p.field)) + " in " + qualifiedName()));
  }
  // The parts' places and the key length, known before the definition.
  int32_t keyLen = 0;
  for (KeyPart& p : parts) {
    if (p.field == -1) {
      p.offset = p.length = -1;
      keyLen += kObjIdKeyLength;
      continue;
    }
    SvField* f = field(p.field);
    int32_t total = f->keyLength() * f->dim();
    int32_t off = p.offset < 0 || p.offset >= total ? 0 : p.offset;
    int32_t len = p.length < 1 || p.length > total - off ? total - off : p.length;
    if (f->getType() == SvField::STRING && (off != 0 || len != total)) {
      p.offset = off;
      p.length = len;
      keyLen += len;
    } else {
      p.offset = p.length = -1;
      keyLen += total;
    }
  }
  bool named = !name.isNull() && name.length() > 0;
  if (named) {
    if (index(name) != nullptr)
      return answer(c, -1);
    if (!schemaAllows(this, c, 8))
      return failWith(NoPrivilege(8, -1));
  } else if (!schemaAllows(this, c, 2)) {
    return failWith(NoPrivilege(2, -1));
  }
  int32_t number = 0;
  while (number < nIndexSlots() && indexes_[size_t(number)] != nullptr)
    ++number;
  IndFlags iflags = IndFlags(flags) & ~IndFlag::kIndep;
  SvIndRep* r = svcatalog::consIndex(c, rep_, number, named ? name : String(), keyLen, nParts, iflags);
  if (r == nullptr)
    return pending() ? -1 : failWith(InvalidData(String("index cannot be made")));
  bool primary = number == 0;
  TabFlags tflags = rep_->flags();
  for (int32_t i = 0; i < nParts; ++i) {
    KeyPart const& p = parts[size_t(i)];
    IndFldFlags pflags = IndFldFlags(p.flags);
    SvField* f = p.field == -1 ? nullptr : field(p.field);
    if (primary) {
      pflags &= ~IndFldFlag::kNotNull;
      if (f == nullptr)
        tflags |= TabFlag::kIdInPKey;
      else if ((f->flags() & FldFlag::kCStamp) != 0)
        tflags |= TabFlag::kStampInPKey;
    }
    SvIndFld* made = svcatalog::consIndField(c, r, i, f, pflags, p.offset, p.length);
    if (made == nullptr) {
      if (SvIndex* ix = index(number))
        svcatalog::destructIndex(c, ix);
      return pending() ? -1 : failWith(InvalidData(String("key part cannot be made")));
    }
  }
  if (tflags != rep_->flags())
    rep_->updateData(c, rep_->name(), rep_->phName(), rep_->descr(), tflags, rep_->size(), length(), 0, String());
  // An index that is unique but does not hold the whole primary key in the
  // same form has an independent key.
  SvIndRep* pk = rep_->index(0);
  if (!primary && (iflags & IndFlag::kDup) == 0 && pk != nullptr) {
    for (int32_t i = 0; i < pk->nFields(); ++i) {
      SvIndFld* pp = pk->iField(i);
      SvIndFld* np = pp->field() != nullptr ? r->iField(pp->field()) : r->objField();
      if (np == nullptr || !np->sameRep(pp)) {
        iflags |= IndFlag::kIndep;
        break;
      }
    }
  }
  svcatalog::updateIndexData(c, r, ObjectId(), r->name(), r->phName(), iflags, keyLen);
  if (pending()) {
    if (SvIndex* ix = index(number))
      svcatalog::destructIndex(c, ix);
    return -1;
  }
  if (!named)
    if (SvIndex* ix = index(number))
      RequestEnv::services().addObject(c, ix);
  return answer(c, number);
}

long SvTable::drop(Client* c) {
  int32_t n = 0;
  if (!readWord(n))
    return failWith(truncated("index number"));
  if (structTab() || !schemaAllows(this, c, 8))
    return failWith(NoPrivilege(8, -1));
  SvIndex* ix = index(n);
  if (ix == nullptr)
    return failWith(InvalidIndexNum(n));
  if (!ix->isTemporary()) {
    if (usedByOthers())
      return failWith(BeingUsed(refCount() - 1));
    if (!svcatalog::destructIndex(c, ix))
      return pending() ? -1 : failWith(InvalidData(String("index cannot be dropped")));
  } else if (!RequestEnv::services().delObject(ix->creator(), ix)) {
    svcatalog::destructIndex(c, ix);
  }
  return answer(c, 0);
}

long SvTable::insKey(Client* c) {
  int32_t n = 0;
  if (!readWord(n))
    return failWith(truncated("index number"));
  SvIndex* ix = index(n);
  if (ix == nullptr)
    return failWith(InvalidIndexNum(n));
  if (structTab() && c != nullptr)
    return failWith(NoPrivilege(kPrivAdd, -1));
  if (!ix->receiveKey(nullptr, false)) {
    if (!pending())
      Exception::last(InvalidData(String("bad key")));
    return -1;
  }
  int32_t recno = 0;
  if (!readWord(recno))
    return failWith(truncated("record number"));
  if (!liveRecord(c, recno))
    return failWith(InvalidData(String("record ") + toString(long(recno)) + " of " + qualifiedName() +
                                  " is not in use"));
  if (ix->isDup())
    ix->setRecno(recno);
  bool ok = ix->addKey(c, recno, true);
  ix->unLock();
  if (!ok)
    return abortPending(c);
  return answer(c, 0);
}

long SvTable::setAttrib(Client* c) {
  int32_t n = 0, bits = 0;
  if (!readWord(n) || !readWord(bits))
    return failWith(truncated("attribute arguments"));
  if (n == -1 && (bits & ~0x10) != 0)
    return failWith(InvalidData(String("only the table expression is set on the table itself")));
  if (structTab())
    return failWith(NoPrivilege(kPrivUpdate, -1));
  SvField* f = n == -1 ? nullptr : field(n);
  long result = n != -1 && f == nullptr ? -1 : 0;
  if (bits & 1) {
    int32_t kind = SvObject::con != nullptr ? InCheck::receive(*SvObject::con) : -1;
    std::unique_ptr<InCheck> check;
    String enumName;
    if (kind == InCheck::INTEGRITY) {
      check = std::make_unique<SvIntegrity>(*SvObject::con);
    } else if (kind == InCheck::INLIST) {
      check = std::make_unique<SvInList>(*SvObject::con);
      readString(enumName);
    } else if (kind != InCheck::NOCHECK) {
      return failWith(InvalidData(String("bad check kind ") + toString(long(kind))));
    }
    if (SvObject::con->bad())
      return failWith(truncated("check"));
    if (f != nullptr)
      svcatalog::updateInCheck(c, f, check.release(), enumName);
  }
  if (bits & 2) {
    std::unique_ptr<SvExpr> e;
    if (!readExpr(e))
      return failWith(truncated("field expression"));
    if (f != nullptr)
      svcatalog::updateExpression(c, f, e.release());
  }
  if (bits & 0x10) {
    std::unique_ptr<SvExpr> e;
    if (!readExpr(e))
      return failWith(truncated("table expression"));
    if (n == -1 || f != nullptr)
      rep_->updateExpression(c, e.release());
  }
  if (bits & 0x20) {
    ObjectId ref;
    *SvObject::con >> ref;
    if (SvObject::con->bad())
      return failWith(truncated("object reference"));
    if (f != nullptr && f->objectField() != nullptr)
      svcatalog::updateObjReference(c, f, ref);
  }
  if (bits & 4) {
    std::unique_ptr<SvExpr> e;
    if (!readExpr(e))
      return failWith(truncated("default"));
    if (f != nullptr)
      svcatalog::updateDeflt(c, f, e.release());
  }
  if (bits & 8) {
    String set;
    if (!readString(set))
      return failWith(truncated("collating sequence"));
    if (f != nullptr && f->stringField() != nullptr) {
      // A named set that cannot be loaded is refused: storing "none" in its
      // place would answer success for a change that was not made.
      CollateSet* found = svcatalog::CatalogEnv::findCollateSet(set);
      if (found == nullptr && !set.isNull() && set.length() > 0)
        return failWith(InvalidData(String("no collating set ") + set));
      svcatalog::updateCollateSet(c, f, found);
    }
  }
  if (pending())
    return -1;
  return answer(c, result);
}

long SvTable::alter(Client* c) {
  int32_t id = 0, convert = 0;
  if (!readWord(id) || !readWord(convert))
    return failWith(truncated("alter arguments"));
  SvTable* other = tableOf(id);
  if (other == nullptr)
    return failWith(InvalidObjectId(id));
  if (other->schema() != schema() || other->tabRep() == rep_ || structTab() || other->structTab())
    return answer(c, -1);
  // The other table is destroyed when the identities are exchanged: nobody
  // else may hold it then, and this table must be free of other holders.
  if (other->usedByOthers())
    return failWith(BeingUsed(other->refCount() - 1));
  if (usedByOthers())
    return failWith(BeingUsed(refCount() - 1));
  if (other->nFields() > kMaxFields)
    return failWith(InvalidData(String("a table has at most 255 fields")));
  std::vector<int32_t> map(size_t(rep_->nIndexSlots() + 1), -1);
  String msgs;
  int32_t r = rep_->alter(c, other->tabRep(), msgs, convert != 0, map.data());
  if (r == -1)
    return failWith(CantConvertTable(msgs));
  answer(c, r);
  if (r == 1) {
    if (SvObject::con != nullptr)
      for (int32_t v : map) {
        *SvObject::con << v;
        if (v == -1)
          break;
      }
    svcatalog::destructTable(c, other);
    Exception::last(Exception(0));
  }
  return r;
}

long SvTable::copy(Client* c) {
  int32_t id = 0;
  if (!readWord(id))
    return failWith(truncated("object id"));
  SvTable* other = tableOf(id);
  if (other == nullptr || other == this)
    return failWith(InvalidObjectId(id));
  SvObject* job = RequestEnv::services().newCopy(c, this, other);
  if (job == nullptr)
    return pending() ? -1 : failWith(InvalidObjectId(id));
  RequestEnv::services().addObject(c, job);
  return answer(c, long(job->getId()));
}

long SvTable::replace(Client* c) {
  int32_t id = 0;
  if (!readWord(id))
    return failWith(truncated("object id"));
  SvTable* other = tableOf(id);
  if (other == nullptr || other->tabRep() == rep_ || other->schema() != schema() || other->structTab() ||
      structTab())
    return failWith(InvalidObjectId(id));
  if (other->usedByOthers())
    return failWith(BeingUsed(other->refCount() - 1));
  if (usedByOthers())
    return failWith(BeingUsed(refCount() - 1));
  String name = other->name();
  if (!svcatalog::destructTable(c, other))
    return pending() ? -1 : failWith(InvalidObjectId(id));
  if (!rep_->updateData(c, name, rep_->phName(), rep_->descr(), rep_->flags(), rep_->size(), length(), 0,
                        String()))
    return pending() ? -1 : failWith(InvalidData(String("table cannot take the name ") + name));
  return answer(c, 0);
}
