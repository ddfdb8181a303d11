// Expr: a compiled expression (or statement list) of the expression language
// and the stack machine that runs it.
//
// Code layout (kept exactly, since compiled forms store it):
//  - the code is an array of unsigned 16-bit units; an instruction is one unit
//    holding its number (Instruction::Id) and its operands follow it directly;
//  - operands of 4 or 16 bytes start on an even unit index: the instruction
//    that takes one sits at an odd index, with one `pad` unit before it when
//    needed (Expr::align). A logical operand is one unit and never aligned;
//  - a text operand (`string_type`) is 2 units holding a 32-bit index into the
//    expression's own string table (never a pointer); `int_type`, `date_type`
//    and `time_type` hold a 32-bit value in 2 units; `num_type` holds the
//    16-byte natural stored form of a Num in 8 units; in memory the 32-bit
//    operands are host order, in the stored form big-endian;
//  - `if_inst` has 3 address units (then, else or 0, next), `while_inst` and
//    `foreach_inst` 2 (body, next); an address is a unit index, 0 < a < length,
//    that lies past its instruction and on an instruction;
//  - the code of a non-null expression ends with exactly one `null` unit.
//
// Stored form (Expr::store / Expr::load), integers most significant byte
// first: the source text as a String stored form, the flags (4 bytes), the
// code length in units (4 bytes; 0: nothing follows), then each unit as 2
// bytes with its operands after it: a text as a String stored form, a number
// as its 16-byte natural form, a time, date or long as 4 bytes, a logical as
// 2 bytes, addresses as 2 bytes each; pad units appear as in memory.
//
// Wire form (operator<< / operator>> with a Connection): the text, the flags,
// every unit up to (not including) `null` as a long with its operands (a text
// as String, a number as Num, every other operand unit or 32-bit value as one
// long), then the long 1.
//
// Every code that reaches an Expr from outside (stored or wire form) is
// checked in full before it can run: instruction numbers, operand sizes and
// alignment, string-table indexes, numbers, control addresses (which must
// land on an instruction), call argument lists, and the names the code binds.
// A damaged form is refused with an error text and leaves the Expr null.
//
// The evaluation stack (1024 values) is process-wide and shared by nested
// evaluations; an evaluation only ever pops or clears down to its own base.
// Faults of an evaluation (stack overflow, an unknown named object, an
// unbound function, code that cannot run) end that evaluation with an error
// text (errorDescr(), failed()) and a void result; the process goes on.
#pragma once

#include <cstdint>
#include <vector>

#include <zfound/AnyValue.h>
#include <zfound/PtrArray.h>
#include <zfound/String.h>

class Connection;
class Date;
class Time;
class Num;
class Expr;
class ExprStack;
class ExprObject;

// The instruction set: numbers, names and operand sizes.
struct Instruction {
  enum Id : uint16_t {
    stop = 0,            // ends the current block (a condition, branch or loop body)
    null = 1,            // ends the code
    pad = 2,             // alignment filler
    void_value = 3,      // pushes void
    arg_end = 4,         // ends an argument list
    arg_separ = 5,       // ends one argument
    resetStack = 6,      // empties the evaluation stack (down to the evaluation's base)
    string_type = 7,     // 2 units (aligned): string-table index; pushes the text
    num_type = 8,        // 8 units (aligned): 16-byte Num natural form
    time_type = 9,       // 2 units (aligned): seconds
    date_type = 10,      // 2 units (aligned): day number
    bool_type = 11,      // 1 unit (not aligned): 0 or 1
    int_type = 12,       // 2 units (aligned): a long pushed as a number
    hour = 13,           // pushes the current time (Time "NOW")
    today = 14,          // pushes today's date (Date "NOW")
    user = 15,           // pushes the name of the process's user
    get_env = 16,        // name -> a digit name's program argument, else the environment value
    function = 17,       // name, index -> the bound function's result; arguments follow
    method = 18,         // name, index -> the bound method's result; object reference and arguments follow
    eq = 19,             // a, b -> logical: a equal to b
    ne = 20,             // a, b -> logical: a not equal to b
    gt = 21,             // a, b -> logical: a greater than b
    lt = 22,             // a, b -> logical: a less than b
    ge = 23,             // a, b -> logical: a greater than or equal to b
    le = 24,             // a, b -> logical: a less than or equal to b
    in = 25,             // v, e1..en, n -> logical: v equals one of e1..en
    between = 26,        // v, low, high -> logical: low <= v <= high
    or_ = 27,            // a, b -> a or b (listed as "or")
    and_ = 28,           // a, b -> a and b (listed as "and")
    not_ = 29,           // a -> not a (listed as "not")
    cond_if = 30,        // c, x, y -> x when c holds, else y
    when = 31,           // x, c, v -> x when c holds, else v
    add = 32,            // a, b -> a + b (null when b is null, unless a is a text)
    dif = 33,            // a, b -> a - b (null when either is null)
    mult = 34,           // a, b -> a * b (null when either is null)
    div = 35,            // a, b -> a / b (null when either is null)
    umin = 36,           // a -> -a (null stays null)
    msg = 37,            // table, section, key -> the catalogue text filled with the arguments that follow
    local_decl = 38,     // [initial], flag, name, index -> value: declares a variable (empty or initial)
    local_set = 39,      // name, flag, index -> reference to the variable
    local_get = 40,      // name, flag, index -> the variable's value
    id_set = 41,         // a name not yet bound (target): binding makes it 39 or 43; unbound, a fault
    id_get = 42,         // a name not yet bound (value): binding makes it 40 or 44; unbound, a fault
    global_obj_set = 43, // [row], name, flag, id -> reference to the named object of Properties
    global_obj_get = 44, // [row], name, flag, id -> value of the named object of Properties
    foreign_obj_set = 45, // [row], name, flag, class id, id -> reference to an object of the program
    foreign_obj_get = 46, // [row], name, flag, class id, id -> value of an object of the program
    foreach_inst = 47,   // 2 units: body, next; runs only in a kind that binds it (else a fault)
    if_inst = 48,        // 3 units: then, else (0: none), next; runs then or else by the condition after them
    while_inst = 49,     // 2 units: body, next; runs body while the condition after them holds
    break_inst = 50,     // leaves the innermost loop
    continue_inst = 51,  // ends this round of the innermost loop
    return_inst = 52,    // ends the evaluation; the top value is its result
    assign = 53,         // reference, v -> the target takes v; pushes the target
    assign_add = 54,     // reference, v -> the target takes target + v; pushes the target
    assign_sub = 55,     // reference, v -> the target takes target - v; pushes the target
    assign_mul = 56,     // reference, v -> the target takes target * v; pushes the target
    assign_div = 57,     // reference, v -> the target takes target / v; pushes the target
    like = 58,           // text, pattern -> logical: the pattern matches from the text's beginning
    match = 59,          // text, pattern -> logical: the pattern matches anywhere in the text
  };
  static constexpr uint16_t kLast = 59;
  // Names of the instructions, indexed by number ("stop", "null", ...).
  static char const* const name[kLast + 1];
  // The name of id; "?" for a number above kLast.
  static char const* descr(Id id);
  // Operand units that follow instruction `unit` (the walk over code that
  // does not run it): 2 after 7, 9, 10, 12; 8 after 8; 1 after 11; 3 after
  // 48; 2 after 47 and 49; 0 otherwise.
  static int32_t operandUnits(uint16_t unit);
  // True for the instructions whose operand must start on an even unit index.
  static bool alignedOperand(uint16_t unit);
};

// A position in code.
struct Datum {
  uint16_t* s = nullptr;
};

// A local variable of an expression.
class Variable {
public:
  Variable() = default;
  explicit Variable(String const& n) : name(n) {}
  String name;
  AnyValue value;
};

// A function entry: lower-case name, run handler, check handler (either may be null).
class ExprFunction {
public:
  String name;
  void (*run)(ExprStack&) = nullptr;
  bool (*check)(ExprStack&) = nullptr;
};

// A method entry.
class ExprMethod {
public:
  String name;
  void (*run)(ExprObject&, ExprStack&) = nullptr;
  bool (*check)(ExprObject&, ExprStack&) = nullptr;
};

ZF_PTRARRAY(Variable);
ZF_PTRARRAY(ExprFunction);
ZF_PTRARRAY(ExprMethod);

// The program's table of named objects.
class Properties {
public:
  virtual ~Properties() = default;
  // The address of the named value, or null when the name is unknown.
  virtual AnyValue* lookup(String const& name) = 0;
};

// An object reference group read in place from the code:
//   string_type name, bool_type flag, int_type [class id], int_type id, then
//   one of the instructions 39..46 (pad units may precede each element).
class ExprObject {
public:
  // An empty reference (ty 1) over the code and string table of e.
  explicit ExprObject(Expr* e = nullptr) : expr_(e) {}

  // Reads a reference group at pc: -1 when pc does not hold one; otherwise
  // pc moves past it (and past pad units after it) and the result is the
  // unit that follows: arg_separ is stepped over and 5 returned; arg_end,
  // stop and null are returned (4, 0, 1) without stepping; else -1.
  long load(Datum& pc);

  // The reference instruction (39..46), 1 when empty.
  long ty() const { return ty_; }
  // The name, class id and id read through their places in the code (each
  // asserts that its place was found); the setters write through them.
  String name() const;
  int32_t classId() const;
  int32_t id() const;
  void name(String const& s);
  void classId(int32_t v);
  void id(int32_t v);
  bool hasClassId() const { return classId_d != nullptr; }

  // Row number (set by execMethod when the reference's flag is set).
  int32_t row() const { return row_; }
  void row(int32_t r) { row_ = r; }
  bool hasRow() const { return hasRow_; }
  Expr* expression() const { return expr_; }

  uint16_t* name_d = nullptr;     // the string_type operand (index units)
  uint16_t* classId_d = nullptr;  // the first long when the group has two
  uint16_t* id_d = nullptr;       // the (last) long

private:
  Expr* expr_;
  long ty_ = 1;
  int32_t row_ = 0;
  bool hasRow_ = false;
};

// The argument protocol of one call of a function, method or message.
class ExprStack {
public:
  // State 0 (arguments pending), or 1 when the list is empty.
  ExprStack(Expr* e, Datum& pc);

  // The unit at ptr is not null (checked) and is not arg_end.
  bool haveArgs();
  // State 1, or no arguments left.
  bool noMoreArgs() const { return state_ == 1; }
  // State 2: a result was delivered.
  bool wasExecuted() const { return state_ == 2; }
  Expr* expression() const { return expr_; }

  // Runs the next argument and returns its value; void when none is left.
  AnyValue value();
  // The next argument read as an object reference: the long its id place
  // designates, -1 when it is none.
  long reference();
  // The next argument's reference name, or the null String.
  String referenceName();
  // Fills o from the next argument when it is an object reference.
  bool getAddress(ExprObject& o);
  // Delivers the call's result: skips the arguments not fetched and replaces
  // the top of the evaluation stack (the call's name text) with v.
  void push(AnyValue const& v);

  Datum& ptr;  // the interpreter's position, moved as arguments are read

private:
  Expr* expr_;
  int32_t state_;  // 0 pending, 1 no more arguments, 2 result delivered
};

class Expr {
public:
  // Flag bits of the code.
  enum : int32_t {
    kHaveLValue = 1,
    kIsComplex = 2,
    kHaveEnvVars = 4,
    kCanBeVoid = 8,
    kHaveMsgs = 16,
  };
  // Entries of the process-wide evaluation stack.
  static constexpr int32_t kStackSize = 1024;
  // Marks a resolved named object in the code.
  static constexpr int32_t kGlobalObjId = 2222;
  // Most code units a stored or wire form may bring.
  static constexpr int32_t kMaxUnits = 1 << 20;
  // Deepest nesting of blocks and call arguments that an evaluation runs.
  static constexpr int32_t kMaxDepth = 1000;

  // --- life -----------------------------------------------------------------
  // No code, null text, the default functions registered.
  Expr();
  // Compiles `text` (see the compiler sources): message-table test and
  // enumeration resolver callbacks, either may be null.
  Expr(String const& text, int (*isMsgTab)(char const*) = nullptr,
       bool (*enumResolver)(String const&, String const&, int32_t*&) = nullptr);
  // A copy of e's code, text, tables (names and handlers) and kept result;
  // not bound, no error text (see the compiler sources).
  Expr(Expr const& e);
  virtual ~Expr();
  // Not supported: a precondition failure.
  Expr& operator=(Expr const&);

  // Frees the code, the string table, the kept result and the variables.
  void clear();
  // clear(), and empties the function and method tables.
  void fullClear();
  void clearLocalObjects();
  void clearFunctions();
  void clearMethods();

  // Null: no code, or code that begins with `null`; operator int is its
  // negation (non-zero for an expression with code to run).
  bool operator!() const { return isNull(); }
  operator int() const { return isNull() ? 0 : 1; }
  bool isNull() const { return code_ == nullptr || len_ == 0 || code_[0] == Instruction::null; }

  // --- code access ------------------------------------------------------------
  uint16_t const* code() const { return code_; }
  int32_t codeLength() const { return len_; }
  int32_t flags() const { return flags_; }
  bool haveLValue() const { return (flags_ & kHaveLValue) != 0; }
  bool isComplex() const { return (flags_ & kIsComplex) != 0; }
  bool haveEnvVars() const { return (flags_ & kHaveEnvVars) != 0; }
  bool canBeVoid() const { return (flags_ & kCanBeVoid) != 0; }
  bool haveMsgs() const { return (flags_ & kHaveMsgs) != 0; }
  String const& getExpr() const { return text_; }

  // The string table: index of a new entry holding s (one entry per text
  // operand; entries are never shared between operands). Entries are counted
  // String references, so a copy of the code shares its texts and clearing
  // the code releases them.
  int32_t addString(String const& s);
  // Entry i; the null String for an index outside the table.
  String const& stringAt(int32_t i) const;
  void setStringAt(int32_t i, String const& s);
  int32_t stringCount() const { return int32_t(strings_.size()); }

  // 32-bit operand at p (two units, host order) and its writer.
  static int32_t readLong(uint16_t const* p);
  static void writeLong(uint16_t* p, int32_t v);
  // The 16-byte natural form of a Num held in 8 units (unit k holds bytes
  // 2k and 2k+1, the first in its high half); readNum gives false (n null)
  // for a malformed form.
  static bool readNum(uint16_t const* p, Num& n);
  static void writeNum(uint16_t* p, Num const& n);
  // The text operand at p (a string-table index).
  String const& readString(uint16_t const* p) const { return stringAt(readLong(p)); }

  // Installs checked code: units (ending with one null unit), the string
  // table, the flags and the source text. Checks the code as a stored form is
  // checked, binds names again (functions, methods, variables) and sets the
  // stored length. False (the expression stays null, errorDescr() tells why)
  // when the code is refused.
  bool setCode(std::vector<uint16_t> const& units, std::vector<String> const& strings, int32_t flags,
               String const& text);
  // The same checks on this expression's own code; false with the error text
  // set when it is damaged.
  bool checkCode();

  // --- stored and wire forms ----------------------------------------------
  // Bytes of the stored form.
  int32_t storeLength() const { return storeLen_; }
  // Writes the stored form (storeLength() bytes) at buffer; returns the bytes written.
  int32_t store(void* buffer) const;
  // Reads a stored form of at most `length` bytes: clears this expression,
  // then reads, checks and binds the code. Returns false (expression null,
  // error text set) for a truncated or damaged form; storeLength() is the
  // bytes consumed on success.
  bool load(void const* buffer, int32_t length);
  // The listing: "nil" without code, else one element per line.
  String debugExpr() const;

  // --- evaluation (interpreter) --------------------------------------------
  // The value of the expression; void (and failed()) when the evaluation met
  // a fault. A null expression yields the null text.
  AnyValue eval();
  // True when the last evaluation ended with a fault (errorDescr() tells which).
  bool failed() const { return failed_; }
  // Runs code from pc; returns the unit it stopped at (0, 1, 4, 5) or 1 when
  // a return, break or continue (or a fault) unwinds.
  long execute(Datum& pc);
  // The position of the address stored at addr.
  Datum goTo(Datum const& addr);
  // Ends the current evaluation with the error text (the first one is kept).
  void fault(String const& text);

  void setProperties(Properties* p) { propty = p; }
  Properties* properties() const { return propty; }
  bool isMsgTab(String const& name) const;

  // --- variables ------------------------------------------------------------
  VariablePtrArray& vars();
  long localCount() const { return vars_ ? vars_->dim() : 0; }
  void localObjectValue(long i, AnyValue const& v);
  AnyValue* localObjectAddress(long i);

  // --- functions and methods ---------------------------------------------------
  // Registers (or rebinds) a function by lower-cased name; returns its index.
  long addFunction(String const& name, void (*run)(ExprStack&) = nullptr, bool (*check)(ExprStack&) = nullptr);
  long addMethod(String const& name, void (*run)(ExprObject&, ExprStack&) = nullptr,
                 bool (*check)(ExprObject&, ExprStack&) = nullptr);
  ExprFunction* functionAt(long i) const;
  ExprMethod* methodAt(long i) const;
  long functionCount() const { return functions_->dim(); }
  long methodCount() const { return methods_->dim(); }
  // Registers the ten default functions (time, date, num, float, string,
  // monthname, dayname, month, day, year).
  void addDefFunctions();
  // Walks the code: every function and method it calls has a run handler.
  // False with the "UNBOUND_FUNC"/"UNBOUND_METHOD" text otherwise.
  bool checkBindings();

  // --- evaluation stack (process-wide) --------------------------------------
  static AnyValue* stack();
  static AnyValue* endstack();
  static AnyValue*& last();
  // Pushes v; a full stack is a fault of the evaluation (nothing pushed).
  void push(AnyValue const& v);
  // Removes and returns the top value; at the evaluation's base: a fault, void.
  AnyValue pop();
  // The top value; at the base: a fault, a scratch void value.
  AnyValue& top();
  void top(AnyValue const& v);
  void assignStack();
  // Empties the stack down to this evaluation's base.
  void resetStack();

  // --- source reading for the lexer ----------------------------------------
  // The character at the read position; 0 outside the text.
  int get();
  // The character at the read position (0 outside the text), moving past it
  // and counting a line at a newline; the error line starts at 1. Reading on
  // after a 0 from the end of the text is a broken precondition.
  int fetch();
  // Steps back one character and returns it, uncounting a newline.
  int unfetch();

  // Skips an argument list from pc up to its closing arg_end (nested lists
  // counted) and steps over it; false when the code ends first.
  virtual bool skipUnusedArgs(Datum& pc);

  // --- compilation (implemented with the compiler) ------------------------
  bool compile(String const& text);
  bool parse(String const& text);
  long parseError(String& text);
  int lex(void* value);
  int _parse();
  bool resolveObjects();
  long resolveObjects(Datum& pc);
  long address();
  String symAddress();
  static Expr* currExpr();
  // Code buffer of the compiler.
  static long bottom();
  static uint16_t* endbuff();
  void begin();
  void end();
  long code(Instruction::Id id);
  long align(Instruction::Id type);
  long code(int32_t v);
  long code(long v) { return code(int32_t(v)); }
  long code(Date const& d);
  long code(Time const& t);
  long code(Num const& n);
  long code(String const& s);
  long code(bool b);
  long codeLocalObj(char const* name, bool indexed);
  long codeLocalId(char const* name, Instruction::Id id, bool indexed);
  long codeGlobalDecl(char const* name, bool initialised);
  long codeForeignId(String const& name, Instruction::Id id, bool indexed);
  long codeGetEnv(char const* name);
  long codeIn(int32_t count);
  long codeFunction(char const* name);
  long codeMethod(char const* name, String const& object);
  long codeMsg(char const* table, char const* section, char const* key);
  void codeEnumValue(String const& enumName, String const& valueName);
  void codeInEnum(String const& enumName);
  void whileAddrFill(long at, long body, long next);
  void ifAddrFill(long at, long thenAddr, long elseAddr, long next);
  void foreachAddrFill(long at, long body, long next);

  // --- virtual operations ---------------------------------------------------
  // One per instruction that a derived kind may run its own way, and the
  // binding steps it may answer its own way.
  // get_env: pops a name, pushes the program argument (digit name) or the environment value.
  virtual void getEnv();
  // in: pops the count and the list, replaces v by whether it equals one of them.
  virtual void in();
  // not: pops a, pushes not a.
  virtual void logicalNot();
  // and: pops b and a, pushes a and b.
  virtual void logicalAnd();
  // or: pops b and a, pushes a or b.
  virtual void logicalOr();
  // between: pops high, low and v, pushes low <= v <= high.
  virtual void between();
  // eq: pops b and a, pushes a == b.
  virtual void equal();
  // ne: pops b and a, pushes a != b.
  virtual void notEqual();
  // cond_if: pops y, x and c, pushes x when c holds, else y.
  virtual void conditionalIf();
  // when: pops v and c; when c does not hold, v replaces the top value.
  virtual void when();
  // gt: pops b and a, pushes a > b.
  virtual void greater();
  // lt: pops b and a, pushes a < b.
  virtual void lessThan();
  // ge: pops b and a, pushes a >= b.
  virtual void greaterOrEqual();
  // le: pops b and a, pushes a <= b.
  virtual void lessOrEqual();
  // add: pops b and a, pushes a + b (null when b is null, unless a is a text).
  virtual void add();
  // dif: pops b and a, pushes a - b (null when either is null).
  virtual void diff();
  // mult: pops b and a, pushes a * b (null when either is null).
  virtual void mult();
  // div: pops b and a, pushes a / b (null when either is null).
  virtual void div();
  // umin: pops a, pushes -a (null stays null).
  virtual void umin();
  // today: pushes today's date.
  virtual void execToday();
  // hour: pushes the current time.
  virtual void execHour();
  // function: pops the index, runs the bound function over the arguments at pc.
  virtual void execFunction(Datum& pc);
  // method: pops the index, reads the object reference at pc, runs the bound method.
  virtual void execMethod(Datum& pc);
  // msg: pops key and section; the table becomes the text (getMsg) filled with the arguments at pc.
  virtual void execMsg(Datum& pc);
  // user: pushes the name of the process's user.
  virtual void execUser();
  // if_inst: runs the condition, then the then or else block; pc moves to the next statement.
  virtual void execIf(Datum& pc);
  // while_inst: runs the body while the condition holds; pc moves to the next statement.
  virtual void execWhile(Datum& pc);
  // foreach_inst: a fault here; a kind that binds the loop runs it over its rows.
  virtual void execForeach(Datum& pc);
  // return_inst: ends the evaluation.
  virtual void execReturn(Datum& pc);
  // break_inst: leaves the innermost loop.
  virtual void execBreak(Datum& pc);
  // continue_inst: ends this round of the innermost loop.
  virtual void execContinue(Datum& pc);
  // assign: pops v and the target reference, sets the target to v, pushes it.
  virtual void execAssign();
  // assign_add: as execAssign with target + v.
  virtual void execAssignAdd();
  // assign_sub: as execAssign with target - v.
  virtual void execAssignSub();
  // assign_mul: as execAssign with target * v.
  virtual void execAssignMul();
  // assign_div: as execAssign with target / v.
  virtual void execAssignDiv();
  // local_set: pops index, flag and name, pushes a reference to the variable.
  virtual void execLocalObjSet();
  // local_get: pops index, flag and name, pushes the variable's value.
  virtual void execLocalObjGet();
  // local_decl: pops index, name, flag and any initial value; sets the variable, pushes its value.
  virtual void execLocalDecl();
  // like: pops pattern and text, pushes whether the pattern matches from the beginning.
  virtual void like();
  // match: pops pattern and text, pushes whether the pattern matches anywhere.
  virtual void match();
  // Binds an object of the program by name (id and class id); false, unknown, here.
  virtual bool resolveForeignObj(String const& name, int32_t& id, int32_t& classId);
  // kGlobalObjId when Properties knows the name, else -1.
  virtual long resolveGlobalObj(String const& name);
  // The index of the variable of that name, or -1.
  virtual long resolveLocalObject(String const& name);
  // Adds a variable and returns its index; -1 (error text set) when the name is taken.
  virtual long installLocalObject(String const& name);
  // foreign_obj_set/get at run time: a kind that binds objects of the program acts; nothing here.
  virtual void resolveOthers(Instruction::Id id);
  // global_obj_get: pops the reference group, pushes the named object's value.
  virtual void execGlobalObjGet();
  // global_obj_set: pops the reference group, pushes a reference to the named object.
  virtual void execGlobalObjSet();
  // Binds a foreach header at pc and leaves pc at its body; false (not bindable) here.
  virtual bool resolveForeach(Datum& pc);
  // The token code of a keyword of the language, or -1.
  virtual int findKeyword(String const& word);
  // The error text of the last compilation or evaluation.
  virtual String errorDescr() const { return error_; }
  // The value of variable i; a fault and a scratch void value when there is none.
  virtual AnyValue& localObjectValue(long i);
  // The enclosing report's or form's expression (the Fm and Rp names alike) in the
  // kinds that have one; null here.
  virtual Expr* getReportExpr() { return nullptr; }
  virtual Expr* getFormExpr() { return nullptr; }
  virtual Expr* getFmExpr() { return nullptr; }
  virtual Expr* getRpExpr() { return nullptr; }
  // The text of key in section of catalogue table; null here (a kind with catalogues answers).
  virtual String getMsg(String const& table, String const& section, String const& key);

  // Sets the error text (kept until the next compilation or evaluation).
  void setError(String const& text) { error_ = text; }

protected:
  // Compilation state (used by the compiler sources). The loop and block
  // depths of a parse live in the parser's own state and the element count
  // of an `in` list on the parser's value stack (so nested lists count
  // right); token texts live in the lexeme store (highLander); the stored
  // length is computed from the finished code when it is installed.
  long current_ = 0;             // read position in the source text
  long errorLine_ = 0;           // line reached by the reader
  bool (*enumResolver_)(String const&, String const&, int32_t*&) = nullptr;
  bool resolved_ = false;        // names of the code are bound

  VariablePtrArray* vars_ = nullptr;
  bool localsInstalled_ = false;
  Properties* propty = nullptr;
  ExprFunctionPtrArray* functions_;
  ExprMethodPtrArray* methods_;
  String text_;                  // source text
  uint16_t* code_ = nullptr;     // the units (null without code)
  int32_t len_ = 0;              // code length in units
  int32_t storeLen_ = 0;         // bytes of the stored form
  int32_t flags_ = 0;
  AnyValue* result_ = nullptr;   // kept result
  String error_;                 // error text
  int (*isMsgTab_)(char const*) = nullptr;
  std::vector<String> strings_;  // string table of the text operands
  bool returning = false;
  bool breaking = false;
  bool continuing = false;
  bool failed_ = false;          // the current evaluation met a fault
  AnyValue* myStack = nullptr;   // stack position when the evaluation began
  int32_t execDepth_ = 0;        // nested execute calls of the current evaluation

private:
  friend class ExprStack;
  friend class ExprObject;
  long executeLoop(Datum& pc);
  void compare(int how);
  void assignOp(int how);
  void likeOrMatch(bool fromBeginning);
  bool checkAndBind(String& why);
  int32_t computeStoreLength() const;
  void installCode(std::vector<uint16_t> const& units);
};

// Sends the expression (text, flags, units with operands, the long 1).
Connection& operator<<(Connection& c, Expr const& e);
// Receives an expression; refuses (null expression, error text, channel
// marked bad) a form that is damaged or longer than Expr::kMaxUnits units.
Connection& operator>>(Connection& c, Expr& e);
