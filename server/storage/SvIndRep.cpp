// Index definitions and their index files, key parts, key comparison and
// text. See SvIndRep.h for the record and key layouts.
#include <sindex/SvIndRep.h>

#include <sindex/IndexEnv.h>
#include <sindex/SvIndex.h>

#include <blkfile/CacheBuffer.h>
#include <blkfile/StorageEnv.h>

#include <zfound/Connection.h>
#include <zfound/Exception.h>
#include <zfound/Portable.h>

#include <algorithm>
#include <cstring>

using svstore::IndexEnv;
using svstore::IndexField;
using svstore::StorageEnv;

int32_t IndexEnv::installation = 0;
int32_t IndexEnv::serverId = 0;

namespace {

// The owner number of a definition's object ids, shifted into place.
uint32_t ownerBits(svstore::IndexTableRep* tab, bool temp) {
  if (temp)
    return ((uint32_t(IndexEnv::installation) & 0xFFu) << 12 | (uint32_t(IndexEnv::serverId) & 0x3Fu) << 6) << 12;
  return (tab ? tab->schemaId() & 0xFFFFFu : 0u) << 12;
}

}  // namespace

// ---- key parts --------------------------------------------------------------

SvIndFld::SvIndFld(SvIndRep* rep, uint32_t inst, IndFldFlags flags, int32_t length)
    : PObject(rep ? rep->classWord(SvIndRep::kKindPart) : 0u, inst, inst == 0 || !rep || rep->isTemp()),
      flags_(flags), rep_(rep), length_(length) {
  SV_ASSERT(rep != nullptr, "r != (0)");
}

void SvIndFld::load(String& s, char const*&) const { s = "N/A"; }

SvIndFld* SvIndFld::consIndField(Client*, SvIndRep* rep, int32_t, IndexField* f, IndFldFlags flags, int32_t offset,
                                 int32_t length) {
  if (!rep)
    return nullptr;
  if (f && offset != -1 && (offset < 0 || length < 1 || offset > f->keyLength() - length)) {
    StorageEnv::exception(InvalidData(String("key range outside its field in index ") + rep->qualifiedName()));
    return nullptr;
  }
  uint32_t inst = rep->isTemp() ? SvIndRep::nextTempId() : 0u;
  SvIndFld* part;
  if (!f)
    part = new SvIndObject(rep, inst);
  else if (offset == -1)
    part = new SvIndTabFld(rep, inst, f, flags);
  else
    part = new SvIndRangeFld(rep, inst, f, flags, offset, length);
  if (!rep->addField(part, rep->number())) {
    delete part;
    return nullptr;
  }
  return part;
}

void SvIndFld::destructIndField(Client*, SvIndFld*) {}

SvIndTabFld::SvIndTabFld(SvIndRep* rep, uint32_t inst, IndexField* f, IndFldFlags flags)
    : SvIndFld(rep, inst, flags, f->keyLength()), field_(f) {}

SvIndTabFld::SvIndTabFld(SvIndRep* rep, uint32_t inst, IndexField* f, IndFldFlags flags, int32_t length)
    : SvIndFld(rep, inst, flags, length), field_(f) {}

bool SvIndTabFld::store(SvTable* t, char*& key, char const* record) {
  return field_->keyStore(t, key, record + tableOffset(), length_, record);
}

bool SvIndTabFld::differ(SvTable* t, char const* a, char const* b) {
  int32_t at = tableOffset();
  return field_->keyDiffer(t, a + at, b + at, length_);
}

bool SvIndTabFld::sameRep(SvIndFld const* o) const {
  return SvIndFld::sameRep(o) && o->field() && field_->sameField(o->field()) && !o->rangeFld() == !rangeFld();
}

SvIndRangeFld::SvIndRangeFld(SvIndRep* rep, uint32_t inst, IndexField* f, IndFldFlags flags, int32_t offset,
                             int32_t length)
    : SvIndTabFld(rep, inst, f, flags, length), offset_(offset) {}

std::vector<char> SvIndRangeFld::whole(char const* p) const {
  std::vector<char> v(size_t(std::max(field_->keyLength(), length_)), 0);
  std::memcpy(v.data(), p, size_t(length_));
  return v;
}

void SvIndRangeFld::send(Connection* c, char*& p) {
  std::vector<char> v = whole(p);
  char* q = v.data();
  field_->keySend(c, q);
  p += length_;
}

bool SvIndRangeFld::isNull(char const* p) const { return field_->keyIsNull(whole(p).data()); }

bool SvIndRangeFld::sameRep(SvIndFld const* o) const {
  return o->rangeFld() && SvIndTabFld::sameRep(o) && o->offset() == offset_ && o->length() == length_;
}

SvIndObject::SvIndObject(SvIndRep* rep, uint32_t inst) : SvIndFld(rep, inst, 0, 4) {}

bool SvIndObject::receive(Connection* c, char*& p) {
  int32_t v = 0;
  *c >> v;
  stlong(v, p);
  p += 4;
  return !c->bad();
}

void SvIndObject::send(Connection* c, char*& p) {
  *c << ldlong(p);
  p += 4;
}

void SvIndObject::load(String& s, char const*& p) const {
  s = toString(long(uint32_t(ldlong(p))));
  p += 4;
}

bool SvIndObject::store(SvTable*, char*& key, char const* record) {
  std::memcpy(key, record + kAt, 4);
  key += 4;
  return true;
}

bool SvIndObject::differ(SvTable*, char const* a, char const* b) { return ldlong(a + kAt) != ldlong(b + kAt); }

// The part's bytes in a key: an instance number of 0 is null.
bool SvIndObject::isNull(char const* p) const { return ldlong(p) == 0; }

// ---- the definition ------------------------------------------------------------

SvIndRep::SvIndRep(svstore::IndexTableRep* tab, uint32_t inst, String const& name, String const& file, int32_t length,
                   int32_t nPartsDeclared, IndFlags flags, Client* creator)
    : PObject(ownerBits(tab, name.isNull()) | uint32_t(kKindIndex), inst, inst == 0 || name.isNull()),
      flags_(flags), length_(length), name_(name), tab_(tab), creator_(creator) {
  parts_.reserve(size_t(std::max<int32_t>(nPartsDeclared, 0)));
  open(tab->layoutName(), file, String(), StorageEnv::cachePageSize() - kPrefix, -1);
}

SvIndRep::~SvIndRep() {
  for (SvIndFld* f : parts_)
    delete f;
  parts_.clear();
  if (isTemp())
    unlink();
  if (tab_)
    tab_->delIndexRep(this);
}

uint32_t SvIndRep::classWord(int32_t kind) const { return (classId() & ~0xFFFu) | uint32_t(kind); }

uint32_t SvIndRep::nextTempId() {
  if (++StorageEnv::lastTempId == 0)
    StorageEnv::lastTempId = 1;
  return StorageEnv::lastTempId;
}

CacheBuffer* SvIndRep::add(char*& p, int32_t& recno, bool lock) {
  CacheBuffer* cb = BlockedFile::add(p, recno, true);
  if (!cb)
    return nullptr;
  char* sp = p + 8;
  StorageEnv::timeStamp.store(sp);
  p += kPrefix;
  if (!lock) {
    cb->unlock();
    return nullptr;
  }
  return cb;
}

void SvIndRep::reRead(CacheBuffer* cb) {
  // A page changed in memory but never marked belongs to a copied node:
  // reading it again restores the checkpointed bytes. A marked one is
  // left alone rather than losing a change.
  if (cb && !cb->mod)
    cb->reRead();
}

CacheBuffer* SvIndRep::get(char*& p, int32_t recno, bool lock) {
  CacheBuffer* cb = BlockedFile::get(p, recno, lock);
  if (p)
    p += kPrefix;
  return cb;
}

bool SvIndRep::lengthFits(int32_t l, bool dup) {
  if (l < 0 || l > StorageEnv::cachePageSize())
    return false;
  int32_t k = l + (dup ? 4 : 0);
  return (StorageEnv::cachePageSize() - kPrefix) / (k + 6) >= kMinSlots;
}

int32_t SvIndRep::partsLength() const {
  int32_t n = 0;
  for (SvIndFld const* f : parts_)
    n += f->length();
  return n;
}

bool SvIndRep::setLength(int32_t l) {
  if (l < partsLength()) {
    StorageEnv::exception(InvalidData(String("key of ") + toString(long(l)) + " bytes shorter than the parts of index " +
                                      qualifiedName()));
    return false;
  }
  if (!lengthFits(l, isDup())) {
    StorageEnv::exception(InvalidData(String("key of ") + toString(long(l)) + " bytes too long for index " +
                                      qualifiedName() + ": a node must hold at least 4 keys"));
    return false;
  }
  length_ = l;
  return true;
}

SvIndRep* SvIndRep::consIndex(Client* c, svstore::IndexTableRep* tab, int32_t number, String const& name,
                              int32_t length, int32_t nPartsDeclared, IndFlags flags) {
  if (!lengthFits(length, (flags & IndFlag::kDup) != 0)) {
    StorageEnv::exception(InvalidData(String("key of ") + toString(long(length)) + " bytes too long for table " +
                                      tab->qualifiedName() + ": a node must hold at least 4 keys"));
    return nullptr;
  }
  String ph = tab->physName();
  if (ph.length() < 2 || ph[0] != '_') {
    StorageEnv::exception(InvalidData(String("table file name ") + ph + " does not begin with _"));
    return nullptr;
  }
  long dot = ph.index('.');
  String base = ph(1, dot < 0 ? ph.length() - 1 : dot - 1);
  String file = tab->newFileName(base, tab->newIndExt());
  uint32_t inst = name.isNull() ? nextTempId() : 0u;
  SvIndRep* rep = new SvIndRep(tab, inst, name, file, length, nPartsDeclared, flags, c);
  if (!rep->ok()) {
    delete rep;
    return nullptr;
  }
  rep->setWantedNumber(number);
  svstore::IndexTable* t = tab->findTable(-1);
  if (t) {
    SvIndex* ix = new SvIndex(rep, t, -1);
    if (!ix->ok()) {
      delete ix;
      return nullptr;
    }
  } else {
    tab->addIndexRep(rep);
  }
  return rep;
}

void SvIndRep::destructIndex(Client* c, SvIndex* ix) {
  SvIndRep* rep = ix->indRep();
  for (int32_t i = rep->nFields() - 1; i >= 0; --i)
    SvIndFld::destructIndField(c, rep->iField(i));
  if (!rep->isTemp())
    rep->unlink();
  delete ix;
}

void SvIndRep::empty(Client*) {
  String e = ext();
  if (e.isNull())
    e = "i00";
  unlink();
  String base = tab_->physName();
  long dot = base.index('.');
  base = base(1, dot < 0 ? base.length() - 1 : dot - 1);
  setData(name_, tab_->newFileName(base, e), flags_, length_);
}

String SvIndRep::ext() const {
  String n = nameExt();
  long dot = n.index('.');
  return dot < 0 ? String() : String(n(dot + 1, n.length() - dot - 1));
}

bool SvIndRep::setData(String const& name, String const& file, IndFlags flags, int32_t length) {
  if (!lengthFits(length, (flags & IndFlag::kDup) != 0) || length < partsLength()) {
    StorageEnv::exception(InvalidData(String("key too long for index ") + qualifiedName()));
    return false;
  }
  name_ = name;
  // The parts decide the descending and notNull bits: a flags word stored
  // before its parts were added lacks them, and without them a descending
  // index would be searched in plain byte order.
  flags_ = flags;
  for (SvIndFld const* f : parts_) {
    if (f->descending())
      flags_ |= IndFlag::kDescending;
    if (f->notNull())
      flags_ |= IndFlag::kNotNull;
  }
  tab_->checkIndepKeys();
  SvIndex* ix = index();
  if (ix && file != phName())
    ix->chgPhName(file);
  if (length != length_) {
    if (ix)
      ix->setLength(length);
    else
      length_ = length;
  }
  return true;
}

SvIndex* SvIndRep::index() const { return current; }

bool SvIndRep::addField(SvIndFld* f, int32_t n) {
  if (!f)
    return false;
  // Keys are built into buffers and slots of the key length: a part past
  // it would write beyond them.
  if (f->length() < 0 || f->length() > length_ - partsLength()) {
    StorageEnv::exception(InvalidData(String("key part of ") + toString(long(f->length())) +
                                      " bytes does not fit the key of index " + qualifiedName()));
    return false;
  }
  if (f->field())
    f->field()->useIndex(n);
  if (f->descending())
    flags_ |= IndFlag::kDescending;
  if (f->notNull())
    flags_ |= IndFlag::kNotNull;
  parts_.push_back(f);
  return true;
}

void SvIndRep::removeField(SvIndFld* f) { parts_.erase(std::remove(parts_.begin(), parts_.end(), f), parts_.end()); }

SvIndFld* SvIndRep::iField(int32_t n) const { return n >= 0 && n < nFields() ? parts_[size_t(n)] : nullptr; }

IndexField* SvIndRep::field(int32_t n) const {
  SvIndFld* f = iField(n);
  return f ? f->field() : nullptr;
}

SvIndFld* SvIndRep::iField(String const& name, int32_t occurrence) const {
  for (SvIndFld* f : parts_)
    if (f->field() && f->field()->fieldName() == name && occurrence-- == 0)
      return f;
  return nullptr;
}

SvIndFld* SvIndRep::iField(IndexField const* fld) const {
  for (SvIndFld* f : parts_)
    if (f->field() == fld)
      return f;
  return nullptr;
}

SvIndFld* SvIndRep::objField() const {
  for (SvIndFld* f : parts_)
    if (f->oidFld())
      return f;
  return nullptr;
}

String SvIndRep::qualifiedName() const { return tab_->qualifiedName() + "." + name_; }

void SvIndRep::unlink() { BlockedFile::unlink(tab_->schemaName()); }

void SvIndRep::updateHeader(uint16_t depth, uint16_t slots, int32_t rootRec) {
  rDepth() = uint8_t(depth);
  rSlots() = slots;
  rBegin() = rootRec;
  markModified();
}

// ---- keys -------------------------------------------------------------------

int32_t SvIndRep::cmpKeys(char const* a, char const* b, int32_t n) const {
  auto ua = reinterpret_cast<unsigned char const*>(a);
  auto ub = reinterpret_cast<unsigned char const*>(b);
  int32_t parts = n > 0 ? std::min(n, nFields()) : nFields();
  for (int32_t i = 0; i < parts; ++i) {
    SvIndFld const* f = parts_[size_t(i)];
    for (int32_t j = 0; j < f->length(); ++j)
      if (ua[j] != ub[j]) {
        int32_t d = int32_t(ua[j]) - int32_t(ub[j]);
        return f->descending() ? -d : d;
      }
    ua += f->length();
    ub += f->length();
  }
  if (isDup() && n <= 0)
    for (int j = 0; j < 4; ++j)
      if (ua[j] != ub[j])
        return int32_t(ua[j]) - int32_t(ub[j]);
  return 0;
}

void SvIndRep::load(String& s, char const*& p) const {
  String out = "(";
  for (int32_t i = 0; i < nFields(); ++i) {
    String one;
    parts_[size_t(i)]->load(one, p);
    if (i)
      out += ", ";
    out += one;
  }
  if (isDup()) {
    out += String(nFields() ? ", [" : "[") + toString(long(uint32_t(ldlong(p)))) + "]";
    p += 4;
  }
  s = out + ")";
}

bool SvIndRep::same(SvIndRep const* o) const {
  if (!o || name_ != o->name_ || flags_ != o->flags_ || length_ != o->length_ || nFields() != o->nFields())
    return false;
  for (int32_t i = 0; i < nFields(); ++i)
    if (!parts_[size_t(i)]->sameRep(o->parts_[size_t(i)]))
      return false;
  return true;
}
