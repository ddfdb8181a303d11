// SvExpr: an expression of the server attached to a table (its check) or to
// a field (its default value or its check expression).
//
// Names in the expression stand for the table's fields: binding
// (resolveFields) turns each name into a field number, the empty name (the
// keyword `this`) into the expression's own field; enumeration references
// resolve against the schema while the text is compiled. Evaluation reads
// each named field's value from the record image set by setInfo.
//
// Invariants: an unresolved name, a field number that names no field, or an
// evaluation without a bound table or record ends that evaluation with an
// error text (Expr::failed()), never the process; resolveFields answers false
// for an expression that names anything other than a field, so such an
// expression is refused before it is stored.
#pragma once

#include <cstdint>

#include <zfound/Expr.h>

class SvTabRep;
class SvEnumSource;

class SvExpr : public Expr {
public:
  // Compiles text with the enumeration handler, `schema` being the current
  // schema while it compiles. Unbound.
  SvExpr(String const& text, SvEnumSource* schema);
  // Loads a stored form of at most `length` bytes. Unbound.
  SvExpr(void const* stored, int32_t length);
  // An empty expression bound to table, field and record.
  SvExpr(SvTabRep const* table, int32_t field, char* record);
  ~SvExpr() override;

  // Binds the table, the field and the record image of an evaluation.
  void setInfo(SvTabRep const* table, int32_t field, char* record);
  // Binds table and field and resolves the names; true when the expression
  // is not empty and every name resolved.
  bool resolveFields(SvTabRep const* table, int32_t field);
  // The empty name: the expression's own field number; another name: the
  // number of the table's field of that name; -1 when there is none (or no
  // table is bound).
  int32_t mapField(String const& name) const;

  SvTabRep const* table() const { return table_; }
  int32_t fieldNumber() const { return field_; }
  char* record() const { return record_; }

  long resolveGlobalObj(String const& name) override;
  void resolveOthers(Instruction::Id id) override;
  void execGlobalObjGet() override;

  // The compiler's enumeration handler: asks the current schema.
  static bool enumHandler(String const& enumName, String const& itemName, int32_t*& values);

private:
  SvTabRep const* table_ = nullptr;
  int32_t field_ = -1;
  char* record_ = nullptr;
};
