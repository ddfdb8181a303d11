// A small assembler of expression code for the interpreter and code tests:
// it lays units out with the alignment rule of the code (an instruction with
// a 4- or 16-byte operand at an odd index, a pad unit before it when needed).
#pragma once

#include <zfound/Date.h>
#include <zfound/Expr.h>
#include <zfound/Num.h>
#include <zfound/Time.h>

#include <cstdint>
#include <vector>

namespace exprtest {

using I = Instruction;

class Asm {
public:
  // The position of the next unit.
  long pos() const { return long(units.size()); }
  Asm& op(uint16_t u) {
    units.push_back(u);
    return *this;
  }
  Asm& text(String const& s) {
    aligned(I::string_type);
    strings.push_back(s);
    long2(int32_t(strings.size() - 1));
    return *this;
  }
  Asm& num(Num const& n) {
    aligned(I::num_type);
    uint16_t w[8];
    Expr::writeNum(w, n);
    units.insert(units.end(), w, w + 8);
    return *this;
  }
  Asm& num(int v) { return num(Num(v)); }
  Asm& lng(int32_t v) {
    aligned(I::int_type);
    long2(v);
    return *this;
  }
  Asm& date(int32_t v) {
    aligned(I::date_type);
    long2(v);
    return *this;
  }
  Asm& time(int32_t v) {
    aligned(I::time_type);
    long2(v);
    return *this;
  }
  Asm& logical(bool b) {
    units.push_back(I::bool_type);
    units.push_back(b ? 1 : 0);
    return *this;
  }
  // A local variable reference group: name, flag, index, instruction.
  Asm& local(char const* name, int32_t index, uint16_t inst, bool indexed = false) {
    return text(name).logical(indexed).lng(index).op(inst);
  }
  // A declaration: flag, name, index, local_decl.
  Asm& decl(char const* name, int32_t index, bool initialised) {
    return logical(initialised).text(name).lng(index).op(I::local_decl);
  }
  // A named object group: name, flag, id, instruction.
  Asm& global(char const* name, uint16_t inst, int32_t id = Expr::kGlobalObjId) {
    return text(name).logical(false).lng(id).op(inst);
  }
  // A call header: name, index, function.
  Asm& call(char const* name, int32_t index) { return text(name).lng(index).op(I::function); }
  // Writes an address unit at position at.
  void patch(long at, long value) { units[size_t(at)] = uint16_t(value); }
  // Ends the program (stop, null) and installs it in e.
  bool install(Expr& e, char const* source = "hand", int32_t flags = 0) {
    units.push_back(I::stop);
    units.push_back(I::null);
    return e.setCode(units, strings, flags, String(source));
  }

  std::vector<uint16_t> units;
  std::vector<String> strings;

private:
  void aligned(uint16_t inst) {
    if (units.size() % 2 == 0) units.push_back(I::pad);
    units.push_back(inst);
  }
  void long2(int32_t v) {
    uint16_t w[2];
    Expr::writeLong(w, v);
    units.push_back(w[0]);
    units.push_back(w[1]);
  }
};

// The text of a value ("" for null).
inline std::string text(AnyValue const& v) {
  String s = toString(v);
  return s ? std::string(toCharPtr(s)) : std::string();
}

}  // namespace exprtest
