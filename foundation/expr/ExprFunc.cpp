// Calls out of expression code: the function and method tables, the lazy
// argument protocol (ExprStack), object references read in place
// (ExprObject), messages and the default functions.
//
// Arguments are run only when a handler asks for them; the ones it never
// fetches are skipped without running. Skipping counts nested argument lists,
// so a skipped argument that holds a call of its own is stepped over whole.
// A call of a function or method without a run handler ends the evaluation
// with the "UNBOUND_FUNC"/"UNBOUND_METHOD" text; checkBindings() finds such
// calls before anything runs.
#include <zfound/Assert.h>
#include <zfound/Date.h>
#include <zfound/Expr.h>
#include <zfound/Time.h>

#include "ExprMsg.h"

// ---- object references -----------------------------------------------------------

namespace {

void skipPads(Datum& p) {
  while (*p.s == Instruction::pad) ++p.s;
}

}  // namespace

long ExprObject::load(Datum& pc) {
  Datum p = pc;
  skipPads(p);
  if (*p.s != Instruction::string_type) return -1;
  uint16_t* nameAt = p.s + 1;
  p.s += 3;
  skipPads(p);
  if (*p.s != Instruction::bool_type) return -1;
  bool flag = p.s[1] != 0;
  p.s += 2;
  skipPads(p);
  if (*p.s != Instruction::int_type) return -1;
  uint16_t* first = p.s + 1;
  uint16_t* second = nullptr;
  p.s += 3;
  skipPads(p);
  if (*p.s == Instruction::int_type) {
    second = p.s + 1;
    p.s += 3;
    skipPads(p);
  }
  uint16_t inst = *p.s;
  if (inst < Instruction::local_set || inst > Instruction::foreign_obj_get) return -1;
  ++p.s;
  skipPads(p);
  uint16_t next = *p.s;
  long ret;
  if (next == Instruction::arg_separ) {
    ++p.s;
    ret = Instruction::arg_separ;
  } else if (next == Instruction::arg_end || next == Instruction::stop || next == Instruction::null) {
    ret = next;
  } else {
    return -1;
  }
  name_d = nameAt;
  classId_d = second ? first : nullptr;
  id_d = second ? second : first;
  hasRow_ = flag;
  ty_ = inst;
  pc = p;
  return ret;
}

String ExprObject::name() const {
  if (!ZF_ASSERT(name_d != nullptr && expr_ != nullptr)) return String();
  return expr_->readString(name_d);
}

int32_t ExprObject::classId() const {
  if (!ZF_ASSERT(classId_d != nullptr)) return -1;
  return Expr::readLong(classId_d);
}

int32_t ExprObject::id() const {
  if (!ZF_ASSERT(id_d != nullptr)) return -1;
  return Expr::readLong(id_d);
}

void ExprObject::name(String const& s) {
  if (!ZF_ASSERT(name_d != nullptr && expr_ != nullptr)) return;
  expr_->setStringAt(Expr::readLong(name_d), s);
}

void ExprObject::classId(int32_t v) {
  if (!ZF_ASSERT(classId_d != nullptr)) return;
  Expr::writeLong(classId_d, v);
}

void ExprObject::id(int32_t v) {
  if (!ZF_ASSERT(id_d != nullptr)) return;
  Expr::writeLong(id_d, v);
}

// ---- argument protocol ---------------------------------------------------------------

ExprStack::ExprStack(Expr* e, Datum& pc) : ptr(pc), expr_(e), state_(0) {
  if (!haveArgs()) state_ = 1;
}

bool ExprStack::haveArgs() {
  if (*ptr.s == Instruction::null) {
    if (expr_) expr_->fault(exprMsg("EXPRBADCODE", "The expression code cannot run: %s.", "arguments"));
    return false;
  }
  return *ptr.s != Instruction::arg_end;
}

AnyValue ExprStack::value() {
  if (state_ != 0 || expr_ == nullptr || expr_->failed_) return AnyValue();
  AnyValue* before = Expr::last();
  long r = expr_->execute(ptr);
  if (expr_->failed_ || expr_->returning || expr_->breaking || expr_->continuing) return AnyValue();
  if (r != Instruction::arg_end && r != Instruction::arg_separ) {
    expr_->fault(exprMsg("EXPRBADCODE", "The expression code cannot run: %s.", "arguments"));
    return AnyValue();
  }
  if (r == Instruction::arg_end) state_ = 1;
  if (Expr::last() != before + 1) {
    expr_->fault(exprMsg("EXPRBADCODE", "The expression code cannot run: %s.", "arguments"));
    return AnyValue();
  }
  return expr_->pop();
}

long ExprStack::reference() {
  if (state_ != 0) return -1;
  ExprObject o(expr_);
  if (!getAddress(o)) return -1;
  return o.id();
}

String ExprStack::referenceName() {
  if (state_ != 0) return String();
  ExprObject o(expr_);
  if (!getAddress(o)) return String();
  return o.name();
}

bool ExprStack::getAddress(ExprObject& o) {
  if (state_ != 0) return false;
  Datum p = ptr;
  long r = o.load(p);
  if (r != Instruction::arg_separ && r != Instruction::arg_end) return false;
  ptr = p;
  if (r == Instruction::arg_end) state_ = 1;
  return true;
}

void ExprStack::push(AnyValue const& v) {
  if (!ZF_ASSERT(expr_ != nullptr)) return;
  if (state_ != 2) {
    expr_->skipUnusedArgs(ptr);
    state_ = 2;
  }
  expr_->top(v);
}

bool Expr::skipUnusedArgs(Datum& pc) {
  int32_t depth = 0;
  for (;;) {
    uint16_t u = *pc.s;
    if (u == Instruction::null) {
      fault(exprMsg("EXPRBADCODE", "The expression code cannot run: %s.", "arguments"));
      return false;
    }
    if (u == Instruction::arg_end) {
      if (depth == 0) {
        ++pc.s;
        return true;
      }
      --depth;
    } else if (u == Instruction::function || u == Instruction::method || u == Instruction::msg) {
      ++depth;
    }
    pc.s += 1 + Instruction::operandUnits(u);
  }
}

// ---- tables ---------------------------------------------------------------------------

long Expr::addFunction(String const& name, void (*run)(ExprStack&), bool (*check)(ExprStack&)) {
  String lname = name.toLower();
  for (long i = 0; i < functions_->dim(); ++i) {
    ExprFunction* f = functions_->at(i);
    if (f && cmp(f->name, lname) == 0) {
      if (run) f->run = run;
      if (check) f->check = check;
      return i;
    }
  }
  ExprFunction* f = new ExprFunction;
  f->name = lname;
  f->run = run;
  f->check = check;
  return functions_->add(f);
}

long Expr::addMethod(String const& name, void (*run)(ExprObject&, ExprStack&),
                     bool (*check)(ExprObject&, ExprStack&)) {
  String lname = name.toLower();
  for (long i = 0; i < methods_->dim(); ++i) {
    ExprMethod* m = methods_->at(i);
    if (m && cmp(m->name, lname) == 0) {
      if (run) m->run = run;
      if (check) m->check = check;
      return i;
    }
  }
  ExprMethod* m = new ExprMethod;
  m->name = lname;
  m->run = run;
  m->check = check;
  return methods_->add(m);
}

ExprFunction* Expr::functionAt(long i) const { return functions_->isValid(i) ? functions_->at(i) : nullptr; }
ExprMethod* Expr::methodAt(long i) const { return methods_->isValid(i) ? methods_->at(i) : nullptr; }

bool Expr::checkBindings() {
  if (isNull()) return true;
  int32_t lastLong = -1;
  for (long i = 0; i < len_; ++i) {
    uint16_t u = code_[i];
    if (u == Instruction::null) break;
    if (u == Instruction::int_type) lastLong = readLong(code_ + i + 1);
    if (u == Instruction::function) {
      ExprFunction* f = functionAt(lastLong);
      if (!f || !f->run) {
        error_ = exprMsg2("UNBOUND_FUNC", "Function %s is not bound in expression %s.",
                          f ? toCharPtr(f->name) : "?", toCharPtr(text_));
        return false;
      }
    } else if (u == Instruction::method) {
      ExprMethod* m = methodAt(lastLong);
      if (!m || !m->run) {
        error_ = exprMsg2("UNBOUND_METHOD", "Method %s is not bound in expression %s.",
                          m ? toCharPtr(m->name) : "?", toCharPtr(text_));
        return false;
      }
    }
    i += Instruction::operandUnits(u);
  }
  return true;
}

// ---- calls ------------------------------------------------------------------------------

void Expr::execFunction(Datum& pc) {
  int32_t idx = toInt(pop());
  if (failed_) return;
  ExprFunction* f = functionAt(idx);
  if (!f || !f->run) {
    fault(exprMsg2("UNBOUND_FUNC", "Function %s is not bound in expression %s.", f ? toCharPtr(f->name) : "?",
                   toCharPtr(text_)));
    return;
  }
  ExprStack st(this, pc);
  f->run(st);
  if (failed_ || returning) return;
  if (!st.wasExecuted()) skipUnusedArgs(pc);
}

void Expr::execMethod(Datum& pc) {
  int32_t idx = toInt(pop());
  if (failed_) return;
  ExprMethod* m = methodAt(idx);
  ExprObject obj(this);
  long ret = obj.load(pc);
  if (ret != Instruction::arg_separ || obj.ty() != Instruction::foreign_obj_get) {
    fault(exprMsg("EXPRBADCODE", "The expression code cannot run: %s.", "method"));
    return;
  }
  if (obj.hasRow()) {
    // The row lies below the call's name text, which stays as the call's value.
    AnyValue name = pop();
    obj.row(toInt(pop()));
    push(name);
  }
  if (!m || !m->run) {
    fault(exprMsg2("UNBOUND_METHOD", "Method %s is not bound in expression %s.", m ? toCharPtr(m->name) : "?",
                   toCharPtr(text_)));
    return;
  }
  ExprStack st(this, pc);
  m->run(obj, st);
  if (failed_ || returning) return;
  if (!st.wasExecuted()) skipUnusedArgs(pc);
}

void Expr::execMsg(Datum& pc) {
  String t3 = toString(pop());
  String t2 = toString(pop());
  String t1 = toString(top());
  if (failed_) return;
  String text = getMsg(t1, t2, t3);
  ExprStack st(this, pc);
  String args[10];
  long n = 0;
  while (n < 10 && !st.noMoreArgs()) {
    args[n++] = toString(st.value());
    if (failed_) return;
  }
  st.push(AnyValue(text.replaceArgs(args, n)));
}

// ---- default functions ---------------------------------------------------------------------

namespace {

void execToTime(ExprStack& s) { s.push(AnyValue(toTime(s.value()))); }
void execToDate(ExprStack& s) { s.push(AnyValue(toDate(s.value()))); }
void execToNum(ExprStack& s) { s.push(AnyValue(toNum(s.value()))); }
void execToFloat(ExprStack& s) { s.push(AnyValue(toNum(s.value()))); }
void execToString(ExprStack& s) { s.push(AnyValue(toString(s.value()))); }
void execMonthName(ExprStack& s) { s.push(AnyValue(toDate(s.value()).monthName())); }
void execDayName(ExprStack& s) { s.push(AnyValue(toDate(s.value()).dayOfWeekName())); }
void execMonth(ExprStack& s) { s.push(AnyValue(Num(int(toDate(s.value()).month())))); }
void execDay(ExprStack& s) { s.push(AnyValue(Num(int(toDate(s.value()).day())))); }
void execYear(ExprStack& s) { s.push(AnyValue(Num(int(toDate(s.value()).year())))); }

}  // namespace

void Expr::addDefFunctions() {
  addFunction("time", execToTime);
  addFunction("date", execToDate);
  addFunction("num", execToNum);
  addFunction("float", execToFloat);
  addFunction("string", execToString);
  addFunction("monthname", execMonthName);
  addFunction("dayname", execDayName);
  addFunction("month", execMonth);
  addFunction("day", execDay);
  addFunction("year", execYear);
}
