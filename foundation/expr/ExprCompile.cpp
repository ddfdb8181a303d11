// The expression compiler: code emission into the process-wide code buffer,
// compilation of a source text, the compiling and copying constructors, and
// the binding of the names in compiled code to the program's objects.
//
// Invariants:
//  - the code buffer grows by 1024 units and keeps what it holds; every
//    emission makes room for its units (alignment units included) first;
//  - a typed constant with a 4- or 16-byte operand has its instruction at an
//    odd unit index (one `pad` unit before it when needed), so the operand
//    starts on a 4-byte boundary; a text operand is an index into the
//    expression's own string table;
//  - control addresses are unit indexes that must fit one unit: code whose
//    addresses would not fit is refused instead of being truncated;
//  - the finished code is installed through Expr::setCode, which checks it
//    and computes the stored length, so compiled code meets the same checks
//    as stored code.
#include <zfound/Assert.h>
#include <zfound/Date.h>
#include <zfound/Expr.h>
#include <zfound/ExprCompile.h>
#include <zfound/Message.h>
#include <zfound/Num.h>
#include <zfound/String.h>
#include <zfound/Time.h>

#include <cstring>
#include <vector>

#include "ExprCompileImpl.h"

namespace {

// The code buffer shared by all compilations.
struct CodeBuffer {
  uint16_t* start = nullptr;
  long pos = 0;     // units written
  long cap = 0;     // units the buffer holds
  bool overflow = false;  // an address did not fit one unit
};

CodeBuffer& buff() {
  static CodeBuffer b;
  return b;
}

constexpr long kChunk = 1024;

// Makes room for n more units, growing by 1024 units at a time.
void ensure(long n) {
  CodeBuffer& b = buff();
  if (b.start == nullptr) {
    ZF_ASSERT(kChunk >= n);
    b.start = new uint16_t[kChunk];
    b.cap = kChunk;
  }
  if (b.pos + n <= b.cap) return;
  ZF_ASSERT(kChunk >= n);
  uint16_t* grown = new uint16_t[size_t(b.cap + kChunk)];
  std::memcpy(grown, b.start, size_t(b.pos) * sizeof(uint16_t));
  delete[] b.start;
  b.start = grown;
  b.cap += kChunk;
}

long emitUnit(uint16_t u) {
  CodeBuffer& b = buff();
  b.start[b.pos] = u;
  return b.pos++;
}

// The expression being compiled.
Expr*& compiling() {
  static Expr* e = nullptr;
  return e;
}

int appendChar(int c, void* arg) {
  *static_cast<String*>(arg) += char(c);
  return c;
}

// Stores an address in a unit, noting one that does not fit.
void putAddress(uint16_t* at, long addr) {
  if (addr < 0 || addr > 0xFFFF) {
    buff().overflow = true;
    addr = 0;
  }
  *at = uint16_t(addr);
}

// The largest 32-bit integer as a Num (the highest number).
Num numMaximum() { return toNum(int32_t(2147483647)); }

}  // namespace

String exprMessage(char const* key, char const* deflt, FmtArg const* args, size_t count) {
  String fmt;
  if (!msgTablesReady())
    fmt = deflt ? deflt : key;
  else if (deflt)
    fmt = String(libMsg(key, deflt));
  else
    fmt = libMsg(key);
  if (!fmt) return fmt;
  FmtArgs list(args, count);
  String out;
  doFormat(appendChar, &out, toCharPtr(fmt), list);
  return out;
}

void exprFirstError(Expr* e, String const& text) {
  if (e->errorDescr().isNull()) e->setError(text);
}

// ---------------------------------------------------------------------------
// Construction

Expr::Expr(String const& text, int (*isMsgTab)(char const*),
           bool (*enumResolver)(String const&, String const&, int32_t*&))
    : Expr() {
  isMsgTab_ = isMsgTab;
  enumResolver_ = enumResolver;
  compile(text);
}

Expr::Expr(Expr const& e) : Expr() {
  clearFunctions();
  clearMethods();
  for (long i = 0; i < e.functionCount(); ++i) {
    ExprFunction const* f = e.functionAt(i);
    if (f != nullptr) addFunction(f->name, f->run, f->check);
  }
  for (long i = 0; i < e.methodCount(); ++i) {
    ExprMethod const* m = e.methodAt(i);
    if (m != nullptr) addMethod(m->name, m->run, m->check);
  }
  isMsgTab_ = e.isMsgTab_;
  enumResolver_ = e.enumResolver_;
  propty = e.propty;
  if (e.code_ != nullptr && e.len_ > 0) {
    setCode(std::vector<uint16_t>(e.code_, e.code_ + e.len_), e.strings_, e.flags_, e.text_);
  }
  text_ = e.text_;
  if (e.result_ != nullptr && !isNull()) result_ = new AnyValue(*e.result_);
  error_ = String();
  resolved_ = false;
}

// ---------------------------------------------------------------------------
// The code buffer and emission

Expr* Expr::currExpr() { return compiling(); }

long Expr::bottom() {
  ZF_ASSERT(buff().start != nullptr);
  return buff().pos;
}

uint16_t* Expr::endbuff() { return buff().start == nullptr ? nullptr : buff().start + buff().cap; }

void Expr::begin() {
  clear();
  ensure(1);
  buff().pos = 0;
  buff().overflow = false;
  flags_ = 0;
}

void Expr::end() {
  CodeBuffer& b = buff();
  long n = b.pos;
  if (n == 0) return;
  std::vector<uint16_t> units(b.start, b.start + n);
  std::vector<String> strings = strings_;
  int32_t flags = flags_;
  String text = text_;
  setCode(units, strings, flags, text);
}

long Expr::code(Instruction::Id id) {
  ensure(1);
  switch (id) {
    case Instruction::void_value:
      flags_ |= kCanBeVoid;
      break;
    case Instruction::hour:
    case Instruction::today:
    case Instruction::user:
    case Instruction::function:
      flags_ |= kIsComplex;
      break;
    case Instruction::get_env:
      flags_ |= kHaveEnvVars;
      break;
    case Instruction::msg:
      flags_ |= kHaveMsgs;
      break;
    case Instruction::local_set:
    case Instruction::local_get:
    case Instruction::id_set:
    case Instruction::id_get:
    case Instruction::global_obj_set:
    case Instruction::global_obj_get:
    case Instruction::foreign_obj_set:
    case Instruction::foreign_obj_get:
      flags_ |= kHaveLValue | kIsComplex;
      break;
    default:
      break;
  }
  return emitUnit(uint16_t(id));
}

long Expr::align(Instruction::Id type) {
  ensure(2 + Instruction::operandUnits(type));
  if (buff().pos % 2 == 0) {
    emitUnit(Instruction::pad);
  }
  long addr = code(type);
  ZF_ASSERT(addr != -1);
  return addr;
}

long Expr::code(int32_t v) {
  long at = align(Instruction::int_type);
  writeLong(buff().start + buff().pos, v);
  buff().pos += 2;
  return at;
}

long Expr::code(Date const& d) {
  long at = align(Instruction::date_type);
  writeLong(buff().start + buff().pos, d.value());
  buff().pos += 2;
  return at;
}

long Expr::code(Time const& t) {
  long at = align(Instruction::time_type);
  writeLong(buff().start + buff().pos, t.value());
  buff().pos += 2;
  return at;
}

long Expr::code(Num const& n) {
  long at = align(Instruction::num_type);
  writeNum(buff().start + buff().pos, n);
  buff().pos += Instruction::operandUnits(Instruction::num_type);
  return at;
}

long Expr::code(String const& s) {
  long at = align(Instruction::string_type);
  writeLong(buff().start + buff().pos, addString(s));
  buff().pos += 2;
  return at;
}

long Expr::code(bool b) {
  ensure(2);
  long at = emitUnit(Instruction::bool_type);
  emitUnit(b ? 1 : 0);
  return at;
}

long Expr::codeLocalObj(char const* name, bool indexed) {
  long at = bottom();
  code(String(name));
  code(indexed);
  code(int32_t(-1));
  code(Instruction::global_obj_get);
  return at;
}

long Expr::codeLocalId(char const* name, Instruction::Id id, bool indexed) {
  long at = bottom();
  code(String(name));
  code(indexed);
  code(int32_t(-1));
  code(id);
  return at;
}

long Expr::codeGlobalDecl(char const* name, bool initialised) {
  long at = code(initialised);
  code(String(name));
  code(int32_t(-1));
  code(Instruction::local_decl);
  return at;
}

long Expr::codeForeignId(String const& name, Instruction::Id id, bool indexed) {
  long at = bottom();
  code(name);
  code(indexed);
  code(int32_t(-1));
  code(int32_t(-1));
  code(id);
  return at;
}

long Expr::codeGetEnv(char const* name) {
  long at = bottom();
  code(String(name));
  code(Instruction::get_env);
  return at;
}

long Expr::codeIn(int32_t count) {
  long at = bottom();
  code(count);
  code(Instruction::in);
  return at;
}

long Expr::codeFunction(char const* name) {
  long funcId = addFunction(String(name));
  ZF_ASSERT(funcId != -1);
  long at = bottom();
  code(String(name));
  code(int32_t(funcId));
  code(Instruction::function);
  return at;
}

long Expr::codeMethod(char const* name, String const& object) {
  long methId = addMethod(String(name));
  ZF_ASSERT(methId != -1);
  long at = bottom();
  code(String(name));
  code(int32_t(methId));
  code(Instruction::method);
  codeForeignId(object, Instruction::foreign_obj_get, false);
  code(Instruction::arg_separ);
  return at;
}

long Expr::codeMsg(char const* table, char const* section, char const* key) {
  long at = code(String(table));
  code(String(section));
  code(String(key));
  code(Instruction::msg);
  return at;
}

void Expr::codeEnumValue(String const& enumName, String const& valueName) {
  if (enumResolver_ != nullptr && !enumName.isNull() && !valueName.isNull()) {
    int32_t* values = nullptr;
    bool found = enumResolver_(enumName, valueName, values);
    if (found && values != nullptr) {
      code(toNum(values[0]));
      delete[] values;
      return;
    }
    delete[] values;
  }
  code(numMaximum());
}

void Expr::codeInEnum(String const& enumName) {
  if (enumResolver_ != nullptr && !enumName.isNull()) {
    int32_t* values = nullptr;
    bool found = enumResolver_(enumName, String(), values);
    if (found && values != nullptr) {
      int32_t n = 0;
      for (; values[n] != 2147483647; ++n) code(toNum(values[n]));
      delete[] values;
      codeIn(n);
      return;
    }
    delete[] values;
  }
  code(numMaximum());
  codeIn(1);
}

void codeEnumValue(char const* enumName, char const* valueName) {
  Expr* e = compiling();
  if (!ZF_ASSERT(e != nullptr)) return;
  e->codeEnumValue(String(enumName), String(valueName));
}

void codeInEnum(char const* enumName) {
  Expr* e = compiling();
  if (!ZF_ASSERT(e != nullptr)) return;
  e->codeInEnum(String(enumName));
}

void Expr::whileAddrFill(long at, long body, long next) {
  CodeBuffer& b = buff();
  if (!ZF_ASSERT(at >= 0 && at + 2 < b.pos && b.start[at] == Instruction::while_inst)) return;
  putAddress(b.start + at + 1, body);
  putAddress(b.start + at + 2, next);
}

void Expr::ifAddrFill(long at, long thenAddr, long elseAddr, long next) {
  CodeBuffer& b = buff();
  if (!ZF_ASSERT(at >= 0 && at + 3 < b.pos && b.start[at] == Instruction::if_inst)) return;
  putAddress(b.start + at + 1, thenAddr);
  putAddress(b.start + at + 2, elseAddr);
  putAddress(b.start + at + 3, next);
}

void Expr::foreachAddrFill(long at, long body, long next) {
  CodeBuffer& b = buff();
  if (!ZF_ASSERT(at >= 0 && at + 2 < b.pos && b.start[at] == Instruction::foreach_inst)) return;
  putAddress(b.start + at + 1, body);
  putAddress(b.start + at + 2, next);
}

// ---------------------------------------------------------------------------
// Compiling

bool Expr::compile(String const& text) {
  if (text.isNull()) {
    begin();
    text_ = text;
    code(Instruction::null);
    end();
    return true;
  }
  return parse(text);
}

bool Expr::parse(String const& text) {
  compiling() = this;
  begin();
  text_ = text;
  current_ = 0;
  errorLine_ = 0;
  error_ = String();
  resolved_ = false;
  int r = _parse();
  bool ok = r == 0;
  if (ok && buff().overflow) {
    exprFirstError(this, exprMessage("EXPRTOOLONG"));
    ok = false;
  }
  if (ok) {
    code(Instruction::null);
    end();
    ok = !isNull();
  }
  if (ok) {
    errorLine_ = 0;
    error_ = String();
  } else {
    String why = error_;
    clear();
    if (why.isNull()) why = String("parse error");
    error_ = why;
  }
  highLander(String(String::kHighLength, nullptr));
  compiling() = nullptr;
  return ok;
}

long Expr::parseError(String& text) {
  text = error_;
  return errorLine_;
}

// ---------------------------------------------------------------------------
// Name binding

bool Expr::resolveForeach(Datum&) { return false; }

namespace {

// Reads the 32-bit operand at p, when the operand lies inside the code.
bool operandFits(uint16_t const* p, long units, uint16_t const* end) { return p + units <= end; }

}  // namespace

bool Expr::resolveObjects() {
  if (isNull()) return true;
  AnyValue* savedBase = myStack;
  assignStack();
  Datum pc;
  pc.s = code_;
  long r = resolveObjects(pc);
  resetStack();
  myStack = savedBase;
  bool ok = r == Instruction::null && checkBindings();
  if (!ok) {
    String why = error_;
    clear();
    error_ = why;
    return false;
  }
  resolved_ = true;
  return true;
}

long Expr::resolveObjects(Datum& pc) {
  // One level per nested argument list: bounded like an evaluation, so that
  // compiled code nested too deeply is refused instead of exhausting the
  // stack.
  static int32_t depth = 0;
  struct Level {
    Level() { ++depth; }
    ~Level() { --depth; }
  } level;
  if (depth > kMaxDepth) {
    if (error_.isNull()) error_ = exprMsg("EXPRBADCODE", "The expression code cannot run: %s.", "nesting too deep");
    return -1;
  }
  uint16_t const* end = code_ + len_;
  String name;
  uint16_t* lastLong = nullptr;  // the last long operand (an object's id)
  uint16_t* prevLong = nullptr;  // the one before it (a class id)

  // An unknown name fails the walk; the first error text is kept.
  auto unknown = [&]() -> long {
    if (error_.isNull()) {
      FmtArg arg(toCharPtr(name));
      error_ = exprMessage("UNEXISTENTOBJ", &arg, 1);
    }
    return -1;
  };
  // Binds the arguments of a call one after the other, up to and over the
  // closing arg_end.
  auto resolveArgs = [&]() -> bool {
    for (;;) {
      long r = resolveObjects(pc);
      if (r == Instruction::arg_separ) continue;
      if (r == Instruction::arg_end) {
        ++pc.s;
        return true;
      }
      return false;
    }
  };

  while (pc.s != nullptr && pc.s < end) {
    uint16_t u = *pc.s;
    if (u > Instruction::kLast) return -1;
    long operands = Instruction::operandUnits(u);
    if (!operandFits(pc.s + 1, operands, end)) return -1;
    switch (u) {
      case Instruction::null:
        return Instruction::null;
      case Instruction::arg_end:
        return Instruction::arg_end;
      case Instruction::arg_separ:
        ++pc.s;
        return Instruction::arg_separ;
      case Instruction::string_type:
        name = readString(pc.s + 1);
        pc.s += 1 + operands;
        break;
      case Instruction::int_type:
        prevLong = lastLong;
        lastLong = pc.s + 1;
        pc.s += 1 + operands;
        break;
      case Instruction::function: {
        ++pc.s;
        ExprFunction* f = lastLong != nullptr ? functionAt(readLong(lastLong)) : nullptr;
        if (f == nullptr) return -1;
        if (f->check != nullptr) {
          ExprStack st(this, pc);
          if (!f->check(st)) return -1;
          if (!st.wasExecuted() && !skipUnusedArgs(pc)) return -1;
        } else if (!resolveArgs()) {
          return -1;
        }
        break;
      }
      case Instruction::method: {
        ++pc.s;
        ExprMethod* m = lastLong != nullptr ? methodAt(readLong(lastLong)) : nullptr;
        if (m == nullptr || m->check == nullptr) {
          if (error_.isNull() && m != nullptr) {
            FmtArg args[] = {FmtArg(toCharPtr(m->name)), FmtArg(toCharPtr(text_))};
            error_ = exprMessage("UNBOUND_METHOD", args, 2);
          }
          return -1;
        }
        ExprObject obj(this);
        long ret = obj.load(pc);
        if (ret != Instruction::arg_separ || obj.ty() != Instruction::foreign_obj_get) return -1;
        ExprStack st(this, pc);
        if (!m->check(obj, st)) return -1;
        if (!st.wasExecuted() && !skipUnusedArgs(pc)) return -1;
        break;
      }
      case Instruction::msg:
        ++pc.s;
        if (!resolveArgs()) return -1;
        break;
      case Instruction::local_decl: {
        ++pc.s;
        if (lastLong == nullptr) return -1;
        int32_t id = readLong(lastLong);
        if ((resolved_ || localsInstalled_) && id >= 0 && id < localCount() && vars()[id] != nullptr &&
            vars()[id]->name == name) {
          // Bound before, or installed from stored code: the variable starts
          // empty again.
          localObjectValue(id, AnyValue());
        } else {
          id = int32_t(installLocalObject(name));
          writeLong(lastLong, id);
          if (id == -1) return unknown();
        }
        break;
      }
      case Instruction::local_set:
      case Instruction::local_get: {
        ++pc.s;
        if (lastLong == nullptr) return -1;
        int32_t id = int32_t(resolveLocalObject(name));
        writeLong(lastLong, id);
        if (id == -1) return unknown();
        break;
      }
      case Instruction::global_obj_set:
      case Instruction::global_obj_get: {
        ++pc.s;
        if (lastLong == nullptr) return -1;
        int32_t id = int32_t(resolveGlobalObj(name));
        writeLong(lastLong, id);
        if (id == -1) return unknown();
        break;
      }
      case Instruction::id_set:
      case Instruction::id_get: {
        if (lastLong == nullptr) return -1;
        error_ = String();
        bool set = u == Instruction::id_set;
        int32_t id = int32_t(resolveGlobalObj(name));
        if (id != -1) {
          *pc.s = set ? Instruction::global_obj_set : Instruction::global_obj_get;
        } else {
          id = int32_t(resolveLocalObject(name));
          if (id != -1) *pc.s = set ? Instruction::local_set : Instruction::local_get;
        }
        ++pc.s;
        writeLong(lastLong, id);
        if (id == -1) return unknown();
        break;
      }
      case Instruction::foreign_obj_set:
      case Instruction::foreign_obj_get: {
        ++pc.s;
        if (lastLong == nullptr || prevLong == nullptr) return -1;
        int32_t id = -1, classId = -1;
        if (!resolveForeignObj(name, id, classId)) return unknown();
        writeLong(lastLong, id);
        writeLong(prevLong, classId);
        break;
      }
      case Instruction::foreach_inst:
        // A derived kind binds the loop's header and leaves pc at its body.
        ++pc.s;
        if (!resolveForeach(pc)) return -1;
        break;
      default:
        pc.s += 1 + operands;
        break;
    }
  }
  return -1;
}

long Expr::address() {
  if (isNull()) return -1;
  ExprObject obj(this);
  Datum pc;
  pc.s = code_;
  if (obj.load(pc) == -1) return -1;
  return obj.id();
}

String Expr::symAddress() {
  if (isNull()) return String();
  ExprObject obj(this);
  Datum pc;
  pc.s = code_;
  if (obj.load(pc) == -1) return String();
  return obj.name();
}
