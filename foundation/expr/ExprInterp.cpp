// The expression interpreter: the Expr object's life, the process-wide
// evaluation stack, the dispatch loop, control statements, variables, named
// objects and operators.
//
// Invariants:
//  - an evaluation pops and clears only down to its own base (myStack), so an
//    evaluation started from inside another keeps its caller's operands;
//  - a fault (stack overflow or underflow, an unknown object, an unbound call,
//    code that cannot run) sets failed_, unwinds every nested execute like a
//    return, and the evaluation yields void with the error text set;
//  - statements leave nothing behind: loop conditions are popped and an
//    indexed variable's index value is taken off with its name.
#include <zfound/Assert.h>
#include <zfound/Date.h>
#include <zfound/Expr.h>
#include <zfound/OsServ.h>
#include <zfound/Process.h>
#include <zfound/RegExp.h>
#include <zfound/Time.h>

#include <unistd.h>

#include "ExprMsg.h"

// ---- life -------------------------------------------------------------------------

Expr::Expr() : functions_(new ExprFunctionPtrArray(0, 8)), methods_(new ExprMethodPtrArray(0, 8)) {
  addDefFunctions();
}

Expr::~Expr() {
  fullClear();
  delete functions_;
  delete methods_;
}

Expr& Expr::operator=(Expr const&) {
  ZF_ASSERT(0);
  return *this;
}

void Expr::clear() {
  delete[] code_;
  code_ = nullptr;
  len_ = 0;
  storeLen_ = 0;
  flags_ = 0;
  strings_.clear();
  delete result_;
  result_ = nullptr;
  resolved_ = false;
  clearLocalObjects();
}

void Expr::fullClear() {
  clear();
  clearFunctions();
  clearMethods();
}

void Expr::clearLocalObjects() {
  if (vars_) {
    for (long i = 0; i < vars_->dim(); ++i) delete vars_->at(i);
    delete vars_;
    vars_ = nullptr;
  }
  localsInstalled_ = false;
}

void Expr::clearFunctions() {
  for (long i = 0; i < functions_->dim(); ++i) delete functions_->at(i);
  functions_->reAlloc(0);
}

void Expr::clearMethods() {
  for (long i = 0; i < methods_->dim(); ++i) delete methods_->at(i);
  methods_->reAlloc(0);
}

bool Expr::isMsgTab(String const& name) const { return isMsgTab_ && isMsgTab_(toCharPtr(name)) != 0; }

// ---- evaluation stack ----------------------------------------------------------------

AnyValue* Expr::stack() {
  static AnyValue* entries = new AnyValue[kStackSize];
  return entries;
}

AnyValue* Expr::endstack() { return stack() + kStackSize; }

AnyValue*& Expr::last() {
  static AnyValue* next = stack();
  return next;
}

void Expr::fault(String const& text) {
  if (!failed_) error_ = text;
  failed_ = true;
}

void Expr::push(AnyValue const& v) {
  if (last() >= endstack()) {
    fault(exprMsg("EXPRSTACKFULL", "The expression needs more than %s stack entries.", "1024"));
    return;
  }
  last()->set(v);
  ++last();
}

AnyValue Expr::pop() {
  AnyValue* base = myStack ? myStack : stack();
  if (last() <= base) {
    fault(exprMsg("EXPRBADCODE", "The expression code cannot run: %s.", "no operand"));
    return AnyValue();
  }
  --last();
  AnyValue r(*last());
  last()->set(AnyValue());
  return r;
}

AnyValue& Expr::top() {
  static AnyValue scratch;
  AnyValue* base = myStack ? myStack : stack();
  if (last() <= base) {
    fault(exprMsg("EXPRBADCODE", "The expression code cannot run: %s.", "no operand"));
    scratch.set(AnyValue());
    return scratch;
  }
  return *(last() - 1);
}

void Expr::top(AnyValue const& v) {
  AnyValue copy(v);  // v may live in the entry it replaces
  top().set(copy);
}

void Expr::assignStack() { myStack = last(); }

void Expr::resetStack() {
  AnyValue* base = myStack ? myStack : stack();
  while (last() > base) {
    --last();
    last()->set(AnyValue());
  }
}

// A popped operand as a plain value (references followed).
static AnyValue plain(AnyValue const& v) { return AnyValue(v.deref()); }

// ---- evaluation ----------------------------------------------------------------------

AnyValue Expr::eval() {
  if (isNull()) return AnyValue(String());
  if (result_) return AnyValue(*result_);
  // An evaluation of this expression started from inside another one keeps
  // the outer one's state.
  AnyValue* savedStack = myStack;
  bool savedFlags[4] = {returning, breaking, continuing, failed_};
  int32_t savedDepth = execDepth_;
  returning = breaking = continuing = failed_ = false;
  assignStack();
  Datum pc{code_};
  execute(pc);
  if (!failed_ && (breaking || continuing))
    fault(exprMsg("EXPRBADCODE", "The expression code cannot run: %s.", "break outside a loop"));
  AnyValue result;
  if (!failed_ && last() > myStack) result = plain(*(last() - 1));
  if (!failed_ && !isComplex()) result_ = new AnyValue(result);
  resetStack();
  bool fails = failed_;
  bool nested = savedStack != nullptr;
  myStack = savedStack;
  execDepth_ = savedDepth;
  returning = savedFlags[0];
  breaking = savedFlags[1];
  continuing = savedFlags[2];
  // A fault of an evaluation nested in one of this same expression ends the
  // outer one too.
  failed_ = fails || (nested && savedFlags[3]);
  return fails ? AnyValue() : result;
}

Datum Expr::goTo(Datum const& addr) {
  uint16_t a = *addr.s;
  if (isNull() || a == 0 || a >= len_) {
    fault(exprMsg("EXPRBADCODE", "The expression code cannot run: %s.", "address"));
    return Datum{code_ + len_ - 1};
  }
  return Datum{code_ + a};
}

long Expr::execute(Datum& pc) {
  if (execDepth_ >= kMaxDepth) {
    fault(exprMsg("EXPRBADCODE", "The expression code cannot run: %s.", "nesting too deep"));
    return 1;
  }
  ++execDepth_;
  long r = executeLoop(pc);
  --execDepth_;
  return r;
}

long Expr::executeLoop(Datum& pc) {
  uint16_t u;
  for (;;) {
    u = *pc.s;
    if (u == Instruction::stop || u == Instruction::null || u == Instruction::arg_end ||
        u == Instruction::arg_separ)
      break;
    if (returning || failed_) return 1;
    if (breaking || continuing) break;
    ++pc.s;
    switch (u) {
      case Instruction::pad: break;
      case Instruction::void_value: push(AnyValue()); break;
      case Instruction::resetStack: resetStack(); break;
      case Instruction::string_type:
        push(AnyValue(readString(pc.s)));
        pc.s += 2;
        break;
      case Instruction::num_type: {
        Num n;
        readNum(pc.s, n);
        push(AnyValue(n));
        pc.s += 8;
        break;
      }
      case Instruction::time_type:
        push(AnyValue(toTime(readLong(pc.s))));
        pc.s += 2;
        break;
      case Instruction::date_type:
        push(AnyValue(toDate(readLong(pc.s))));
        pc.s += 2;
        break;
      case Instruction::bool_type:
        push(AnyValue(*pc.s != 0));
        pc.s += 1;
        break;
      case Instruction::int_type:
        push(AnyValue(Num(int(readLong(pc.s)))));
        pc.s += 2;
        break;
      case Instruction::hour: execHour(); break;
      case Instruction::today: execToday(); break;
      case Instruction::user: execUser(); break;
      case Instruction::get_env: getEnv(); break;
      case Instruction::function: execFunction(pc); break;
      case Instruction::method: execMethod(pc); break;
      case Instruction::eq: equal(); break;
      case Instruction::ne: notEqual(); break;
      case Instruction::gt: greater(); break;
      case Instruction::lt: lessThan(); break;
      case Instruction::ge: greaterOrEqual(); break;
      case Instruction::le: lessOrEqual(); break;
      case Instruction::in: in(); break;
      case Instruction::between: between(); break;
      case Instruction::or_: logicalOr(); break;
      case Instruction::and_: logicalAnd(); break;
      case Instruction::not_: logicalNot(); break;
      case Instruction::cond_if: conditionalIf(); break;
      case Instruction::when: when(); break;
      case Instruction::add: add(); break;
      case Instruction::dif: diff(); break;
      case Instruction::mult: mult(); break;
      case Instruction::div: div(); break;
      case Instruction::umin: umin(); break;
      case Instruction::msg: execMsg(pc); break;
      case Instruction::local_decl: execLocalDecl(); break;
      case Instruction::local_set: execLocalObjSet(); break;
      case Instruction::local_get: execLocalObjGet(); break;
      case Instruction::global_obj_set: execGlobalObjSet(); break;
      case Instruction::global_obj_get: execGlobalObjGet(); break;
      case Instruction::foreign_obj_set:
      case Instruction::foreign_obj_get: resolveOthers(Instruction::Id(u)); break;
      case Instruction::foreach_inst: execForeach(pc); break;
      case Instruction::if_inst: execIf(pc); break;
      case Instruction::while_inst: execWhile(pc); break;
      case Instruction::break_inst: execBreak(pc); break;
      case Instruction::continue_inst: execContinue(pc); break;
      case Instruction::return_inst: execReturn(pc); break;
      case Instruction::assign: execAssign(); break;
      case Instruction::assign_add: execAssignAdd(); break;
      case Instruction::assign_sub: execAssignSub(); break;
      case Instruction::assign_mul: execAssignMul(); break;
      case Instruction::assign_div: execAssignDiv(); break;
      case Instruction::like: like(); break;
      case Instruction::match: match(); break;
      default:  // id_set, id_get (names never bound) and unknown units
        fault(exprMsg("EXPRBADCODE", "The expression code cannot run: %s.", Instruction::descr(Instruction::Id(u))));
        break;
    }
  }
  if (returning || continuing || breaking || failed_) return 1;
  if (u == Instruction::arg_separ) ++pc.s;
  return u;
}

// ---- control statements ---------------------------------------------------------------

void Expr::execIf(Datum& pc) {
  Datum cond{pc.s + 3};
  execute(cond);
  if (returning || failed_) return;
  bool yes = toBool(pop());
  if (yes) {
    Datum block = goTo(Datum{pc.s});
    execute(block);
  } else if (pc.s[1] != 0) {
    Datum block = goTo(Datum{pc.s + 1});
    execute(block);
  }
  if (returning || failed_) return;
  pc = goTo(Datum{pc.s + 2});
}

void Expr::execWhile(Datum& pc) {
  for (;;) {
    Datum cond{pc.s + 2};
    execute(cond);
    if (returning || failed_) break;
    if (!toBool(pop())) break;
    Datum body = goTo(Datum{pc.s});
    execute(body);
    continuing = false;
    if (returning || breaking || failed_) break;
  }
  breaking = false;
  if (returning || failed_) return;
  pc = goTo(Datum{pc.s + 1});
}

void Expr::execForeach(Datum&) {
  fault(exprMsg("EXPRBADCODE", "The expression code cannot run: %s.", "foreach"));
}

void Expr::execReturn(Datum&) { returning = true; }
void Expr::execBreak(Datum&) { breaking = true; }
void Expr::execContinue(Datum&) { continuing = true; }

// ---- operators ------------------------------------------------------------------------

void Expr::compare(int how) {
  AnyValue b = pop();
  AnyValue a = pop();
  int32_t c = cmp(a, b);
  bool r = false;
  switch (how) {
    case 0: r = c == 0; break;
    case 1: r = c != 0; break;
    case 2: r = c > 0; break;
    case 3: r = c < 0; break;
    case 4: r = c >= 0; break;
    default: r = c <= 0; break;
  }
  push(AnyValue(r));
}

void Expr::equal() { compare(0); }
void Expr::notEqual() { compare(1); }
void Expr::greater() { compare(2); }
void Expr::lessThan() { compare(3); }
void Expr::greaterOrEqual() { compare(4); }
void Expr::lessOrEqual() { compare(5); }

void Expr::between() {
  AnyValue high = pop();
  AnyValue low = pop();
  AnyValue v = pop();
  push(AnyValue(cmp(v, low) >= 0 && cmp(v, high) <= 0));
}

void Expr::in() {
  int32_t n = toInt(pop());
  AnyValue* base = myStack ? myStack : stack();
  if (failed_) return;
  if (n < 0 || n >= last() - base) {
    fault(exprMsg("EXPRBADCODE", "The expression code cannot run: %s.", "in"));
    return;
  }
  AnyValue* tested = last() - n - 1;
  bool found = false;
  for (AnyValue* e = tested + 1; e < last(); ++e)
    if (cmp(*tested, *e) == 0) found = true;
  for (int32_t k = 0; k < n; ++k) pop();
  top(AnyValue(found));
}

void Expr::logicalOr() {
  AnyValue b = pop();
  AnyValue a = pop();
  push(AnyValue(toBool(b) || toBool(a)));
}

void Expr::logicalAnd() {
  AnyValue b = pop();
  AnyValue a = pop();
  push(AnyValue(toBool(b) && toBool(a)));
}

void Expr::logicalNot() { push(AnyValue(!toBool(pop()))); }

void Expr::conditionalIf() {
  AnyValue y = pop();
  AnyValue x = pop();
  AnyValue c = pop();
  push(toBool(c) ? x : y);
}

void Expr::when() {
  AnyValue v = pop();
  AnyValue c = pop();
  if (!toBool(c)) top(v);
}

void Expr::add() {
  AnyValue b = plain(pop());
  AnyValue a = plain(pop());
  if (b.isNull() && !a.isString()) a.clear();
  else a += b;
  push(a);
}

void Expr::diff() {
  AnyValue b = plain(pop());
  AnyValue a = plain(pop());
  if (b.isNull()) a.clear();
  if (!a.isNull()) a -= b;
  push(a);
}

void Expr::mult() {
  AnyValue b = plain(pop());
  AnyValue a = plain(pop());
  if (b.isNull()) a.clear();
  if (!a.isNull()) a *= b;
  push(a);
}

void Expr::div() {
  AnyValue b = plain(pop());
  AnyValue a = plain(pop());
  if (b.isNull()) a.clear();
  if (!a.isNull()) a /= b;
  push(a);
}

void Expr::umin() {
  AnyValue a = plain(pop());
  if (!a.isNull()) a *= AnyValue(-1);
  push(a);
}

void Expr::likeOrMatch(bool fromBeginning) {
  AnyValue pattern = pop();
  AnyValue text = pop();
  RegExp re(toString(pattern));
  if (fromBeginning) re.fromBeginning(true);
  push(AnyValue(bool(re) && re.search(toString(text), 0) >= 0));
}

void Expr::like() { likeOrMatch(true); }
void Expr::match() { likeOrMatch(false); }

void Expr::getEnv() {
  String name = toString(pop());
  char c = name[0];
  if (c >= '0' && c <= '9') push(AnyValue(argVal(toInt(name, 0))));
  else push(AnyValue(name.getEnv()));
}

void Expr::execUser() { push(AnyValue(String(userName(int64_t(::getuid()))))); }
void Expr::execToday() { push(AnyValue(Date("NOW"))); }
void Expr::execHour() { push(AnyValue(Time("NOW"))); }

// ---- assignments ------------------------------------------------------------------------

void Expr::assignOp(int how) {
  AnyValue v = pop();
  AnyValue r = pop();
  if (failed_) return;
  switch (how) {
    case 0: r = v; break;
    case 1: r += v; break;
    case 2: r -= v; break;
    case 3: r *= v; break;
    default: r /= v; break;
  }
  push(r);
}

void Expr::execAssign() { assignOp(0); }
void Expr::execAssignAdd() { assignOp(1); }
void Expr::execAssignSub() { assignOp(2); }
void Expr::execAssignMul() { assignOp(3); }
void Expr::execAssignDiv() { assignOp(4); }

// ---- variables ---------------------------------------------------------------------------

VariablePtrArray& Expr::vars() {
  if (!vars_) vars_ = new VariablePtrArray(0, 8);
  return *vars_;
}

long Expr::resolveLocalObject(String const& name) {
  if (!vars_) return -1;
  for (long i = 0; i < vars_->dim(); ++i) {
    Variable* v = vars_->at(i);
    if (v && cmp(v->name, name) == 0) return i;
  }
  return -1;
}

long Expr::installLocalObject(String const& name) {
  if (resolveGlobalObj(name) != -1 || resolveLocalObject(name) != -1) {
    error_ = exprMsg("ALREADYEXISTENTOBJ", "Object %s already exists.", toCharPtr(name));
    return -1;
  }
  return vars().add(new Variable(name));
}

AnyValue* Expr::localObjectAddress(long i) {
  if (!vars_ || i < 0 || i >= vars_->dim() || vars_->at(i) == nullptr) return nullptr;
  return &vars_->at(i)->value;
}

AnyValue& Expr::localObjectValue(long i) {
  static AnyValue scratch;
  AnyValue* v = localObjectAddress(i);
  if (v) return *v;
  fault(exprMsg("EXPRBADCODE", "The expression code cannot run: %s.", "variable"));
  scratch.set(AnyValue());
  return scratch;
}

void Expr::localObjectValue(long i, AnyValue const& v) { localObjectValue(i) = v; }

void Expr::execLocalDecl() {
  int32_t idx = toInt(pop());
  pop();  // the name
  bool initialised = toBool(pop());
  AnyValue result;
  if (initialised) {
    AnyValue v = pop();
    if (failed_) return;
    localObjectValue(idx, v);
    result = plain(localObjectValue(idx));
  }
  push(result);
}

void Expr::execLocalObjSet() {
  int32_t idx = toInt(pop());
  bool indexed = toBool(pop());
  if (indexed) pop();  // the name; the index value beneath it is replaced
  if (failed_) return;
  AnyValue* v = localObjectAddress(idx);
  if (!v) {
    localObjectValue(idx);  // reports the fault
    return;
  }
  top(AnyValue(v));
}

void Expr::execLocalObjGet() {
  int32_t idx = toInt(pop());
  bool indexed = toBool(pop());
  if (indexed) pop();
  if (failed_) return;
  AnyValue v = plain(localObjectValue(idx));
  if (failed_) return;
  top(v);
}

// ---- named objects ---------------------------------------------------------------------------

long Expr::resolveGlobalObj(String const& name) {
  return (propty && propty->lookup(name)) ? kGlobalObjId : -1;
}

bool Expr::resolveForeignObj(String const&, int32_t&, int32_t&) { return false; }

void Expr::resolveOthers(Instruction::Id) {}

// Pops the group of a named object and finds its value; null after a fault.
static AnyValue* namedObject(Expr& e) {
  int32_t id = toInt(e.pop());
  bool hasRow = toBool(e.pop());
  String name = toString(e.pop());
  if (hasRow) e.pop();
  if (e.failed()) return nullptr;
  AnyValue* v = nullptr;
  if (id == Expr::kGlobalObjId && e.properties()) v = e.properties()->lookup(name);
  if (!v) e.fault(exprMsg("EXPRUNKNOWNOBJ", "Unknown object %s.", toCharPtr(name)));
  return v;
}

void Expr::execGlobalObjGet() {
  if (AnyValue* v = namedObject(*this)) push(plain(*v));
}

void Expr::execGlobalObjSet() {
  if (AnyValue* v = namedObject(*this)) push(AnyValue(v));
}

String Expr::getMsg(String const&, String const&, String const&) { return String(); }
