// SvExpr: server expressions whose names are the fields of a table.
//
// The code of a field reference (global_obj_get) leaves on the evaluation
// stack the name, the indexed flag and the resolved field number (and, for
// `name[i]`, the index beneath them). Evaluation pops that group and pushes
// the field's value read from the bound record image.
#include <svcatalog/SvExpr.h>

#include <svcatalog/SvEnum.h>
#include <svcatalog/SvField.h>
#include <svcatalog/SvTabRep.h>
#include <zfound/Message.h>

namespace {

// The schema whose enumerations the compiler consults (only while an SvExpr
// compiles).
SvEnumSource*& currentSchema() {
  static SvEnumSource* schema = nullptr;
  return schema;
}

}  // namespace

SvExpr::SvExpr(String const& text, SvEnumSource* schema) {
  SvEnumSource* saved = currentSchema();
  currentSchema() = schema;
  enumResolver_ = &SvExpr::enumHandler;
  compile(text);
  currentSchema() = saved;
}

SvExpr::SvExpr(void const* stored, int32_t length) { load(stored, length); }

SvExpr::SvExpr(SvTabRep const* table, int32_t field, char* record)
    : table_(table), field_(field), record_(record) {}

SvExpr::~SvExpr() = default;

void SvExpr::setInfo(SvTabRep const* table, int32_t field, char* record) {
  table_ = table;
  field_ = field;
  record_ = record;
}

bool SvExpr::resolveFields(SvTabRep const* table, int32_t field) {
  table_ = table;
  field_ = field;
  if (isNull()) return false;
  return resolveObjects();
}

int32_t SvExpr::mapField(String const& name) const {
  if (table_ == nullptr) return -1;
  if (name.isNull()) return field_ >= 0 && field_ < table_->nFields() ? field_ : -1;
  return table_->nField(table_->field(name));
}

long SvExpr::resolveGlobalObj(String const& name) { return mapField(name); }

void SvExpr::execGlobalObjGet() { resolveOthers(Instruction::global_obj_get); }

void SvExpr::resolveOthers(Instruction::Id id) {
  if (id != Instruction::global_obj_get) {
    Expr::resolveOthers(id);
    return;
  }
  int32_t number = toInt(pop());
  bool indexed = toBool(pop());
  String name = toString(pop());
  if (indexed) pop();
  if (failed()) return;
  // Without a bound table and record, or with a number that names no field
  // with bytes of its own, the name stands for nothing.
  SvField const* f = table_ != nullptr && record_ != nullptr ? table_->field(number) : nullptr;
  if (f == nullptr || f->isVirtual()) {
    fault(doFormat(libMsg("EXPRUNKNOWNOBJ"), toCharPtr(name)));
    return;
  }
  push(f->value(record_ + f->tableOffset()));
}

bool SvExpr::enumHandler(String const& enumName, String const& itemName, int32_t*& values) {
  values = nullptr;
  SvEnumSource* schema = currentSchema();
  if (schema == nullptr) return false;
  return schema->getEnumInfo(enumName, itemName, values);
}
