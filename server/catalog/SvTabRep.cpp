// SvTabRep, field side: the field array, the record layout and the access to
// fields by number in a record image.
#include <svcatalog/SvTabRep.h>

#include <svcatalog/SvExpr.h>
#include <svcatalog/SvField.h>
#include <zfound/Portable.h>

namespace {

bool sameName(String const& a, String const& b) { return cmp(a, b) == 0; }

}  // namespace

SvTabRep::SvTabRep(ObjectId const& id, String const& name, String const& schemaName, TabFlags flags,
                   int32_t nFields, bool temp)
    : PObject(id, temp), name_(name), schemaName_(schemaName), flags_(flags), temp_(temp) {
  fields_.reserve(size_t(nFields > 0 ? nFields : 8));
}

SvTabRep::~SvTabRep() {
  emptyFields();
  delete expr_;
}

String SvTabRep::qualifiedName() const { return schemaName_ + "." + name_; }

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
