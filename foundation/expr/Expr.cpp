// Expression code: the instruction table, the string table, the check and
// binding of code that arrives from outside, the stored form, the wire form
// and the listing.
//
// Every form that comes in is built into a private unit array first and
// checked in full (checkAndBind) before the expression may run it: a refused
// form leaves the expression null with its error text set.
#include <zfound/Connection.h>
#include <zfound/Date.h>
#include <zfound/Expr.h>
#include <zfound/Num.h>
#include <zfound/Portable.h>
#include <zfound/Time.h>

#include <cstring>
#include <utility>
#include <vector>

#include "ExprMsg.h"

char const* const Instruction::name[Instruction::kLast + 1] = {
    "stop", "null", "pad", "void_value", "arg_end", "arg_separ", "resetStack", "string_type", "num_type",
    "time_type", "date_type", "bool_type", "int_type", "hour", "today", "user", "get_env", "function",
    "method", "eq", "ne", "gt", "lt", "ge", "le", "in", "between", "or", "and", "not", "cond_if", "when",
    "add", "dif", "mult", "div", "umin", "msg", "local_decl", "local_set", "local_get", "id_set", "id_get",
    "global_obj_set", "global_obj_get", "foreign_obj_set", "foreign_obj_get", "foreach_inst", "if_inst",
    "while_inst", "break_inst", "continue_inst", "return_inst", "assign", "assign_add", "assign_sub",
    "assign_mul", "assign_div", "like", "match"};

char const* Instruction::descr(Id id) { return id <= kLast ? name[id] : "?"; }

int32_t Instruction::operandUnits(uint16_t unit) {
  switch (unit) {
    case string_type:
    case time_type:
    case date_type:
    case int_type: return 2;
    case num_type: return 8;
    case bool_type: return 1;
    case if_inst: return 3;
    case foreach_inst:
    case while_inst: return 2;
    default: return 0;
  }
}

bool Instruction::alignedOperand(uint16_t unit) {
  return unit == string_type || unit == num_type || unit == time_type || unit == date_type || unit == int_type;
}

// ---- operands ------------------------------------------------------------------

int32_t Expr::readLong(uint16_t const* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void Expr::writeLong(uint16_t* p, int32_t v) { std::memcpy(p, &v, 4); }

bool Expr::readNum(uint16_t const* p, Num& n) {
  char bytes[16];
  for (int k = 0; k < 8; ++k) stshort(p[k], bytes + 2 * k);
  char const* q = bytes;
  return n.load(q);
}

void Expr::writeNum(uint16_t* p, Num const& n) {
  char bytes[16];
  char* q = bytes;
  n.store(q);
  for (int k = 0; k < 8; ++k) p[k] = ldushort(bytes + 2 * k);
}

int32_t Expr::addString(String const& s) {
  strings_.push_back(s);
  return int32_t(strings_.size() - 1);
}

String const& Expr::stringAt(int32_t i) const {
  static String const none;
  if (i < 0 || size_t(i) >= strings_.size()) return none;
  return strings_[size_t(i)];
}

void Expr::setStringAt(int32_t i, String const& s) {
  if (i >= 0 && size_t(i) < strings_.size()) strings_[size_t(i)] = s;
}

// ---- checking and binding ------------------------------------------------------

namespace {

String damaged(char const* what, long at) {
  String where = doFormat("%s (%d)", what, int(at));
  return exprMsg("EXPRDAMAGED", "Damaged expression code: %s.", toCharPtr(where));
}

uint16_t const kFlagOf[Instruction::kLast + 1] = {
    0, 0, 0, Expr::kCanBeVoid, 0, 0, 0, 0, 0, 0, 0, 0, 0, Expr::kIsComplex, Expr::kIsComplex,
    Expr::kIsComplex, Expr::kHaveEnvVars, Expr::kIsComplex, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, Expr::kHaveMsgs, 0, 3, 3, 3, 3, 3, 3, 3, 3};

}  // namespace

void Expr::installCode(std::vector<uint16_t> const& units) {
  delete[] code_;
  code_ = nullptr;
  len_ = 0;
  if (units.empty()) return;
  code_ = new uint16_t[units.size()];
  std::memcpy(code_, units.data(), units.size() * sizeof(uint16_t));
  len_ = int32_t(units.size());
}

bool Expr::checkAndBind(String& why) {
  if (code_ == nullptr || len_ == 0) return true;
  std::vector<bool> boundary(size_t(len_), false);
  std::vector<std::pair<int32_t, long>> addresses;  // address and its instruction
  long recent[3] = {-1, -1, -1};  // the last three non-pad instruction positions
  int32_t depth = 0;              // argument lists opened and not closed
  int32_t flagsSeen = 0;
  long i = 0;
  for (;;) {
    if (i >= len_) {
      why = damaged("no end", i);
      return false;
    }
    uint16_t u = code_[i];
    if (u > Instruction::kLast) {
      why = damaged("unknown instruction", i);
      return false;
    }
    boundary[size_t(i)] = true;
    flagsSeen |= kFlagOf[u];
    if (u == Instruction::null) {
      if (i != len_ - 1) {
        why = damaged("code after its end", i);
        return false;
      }
      break;
    }
    int32_t n = Instruction::operandUnits(u);
    if (Instruction::alignedOperand(u) && (i % 2) == 0) {
      why = damaged("misaligned operand", i);
      return false;
    }
    if (i + n >= len_ - 0 || i + 1 + n > len_ - 1) {
      why = damaged("operand past the end", i);
      return false;
    }
    uint16_t* op = code_ + i + 1;
    switch (u) {
      case Instruction::string_type:
        if (readLong(op) < 0 || size_t(readLong(op)) >= strings_.size()) {
          why = damaged("text index", i);
          return false;
        }
        break;
      case Instruction::num_type: {
        Num num;
        if (!readNum(op, num)) {
          why = damaged("number", i);
          return false;
        }
        break;
      }
      case Instruction::if_inst:
        addresses.push_back({op[0], i});
        if (op[1] != 0) addresses.push_back({op[1], i});
        addresses.push_back({op[2], i});
        break;
      case Instruction::while_inst:
      case Instruction::foreach_inst:
        addresses.push_back({op[0], i});
        addresses.push_back({op[1], i});
        break;
      case Instruction::function:
      case Instruction::method:
      case Instruction::msg:
        // Binding and running walk argument lists recursively: code nested
        // deeper than an evaluation may run is refused here, before either.
        if (++depth > kMaxDepth) {
          why = damaged("nesting too deep", i);
          return false;
        }
        break;
      case Instruction::arg_end:
        if (depth > 0) --depth;
        break;
      default: break;
    }
    // Names bound again in this expression.
    auto at = [&](int k, uint16_t want) { return recent[k] >= 0 && code_[recent[k]] == want; };
    if (u == Instruction::function || u == Instruction::method) {
      if (!at(0, Instruction::int_type) || !at(1, Instruction::string_type)) {
        why = damaged("call without name", i);
        return false;
      }
      String const& nm = readString(code_ + recent[1] + 1);
      if (!nm) {
        why = damaged("call without name", i);
        return false;
      }
      long idx = u == Instruction::function ? addFunction(nm) : addMethod(nm);
      writeLong(code_ + recent[0] + 1, int32_t(idx));
    } else if (u == Instruction::local_decl) {
      if (!at(0, Instruction::int_type) || !at(1, Instruction::string_type) || !at(2, Instruction::bool_type)) {
        why = damaged("declaration", i);
        return false;
      }
      int32_t id = readLong(code_ + recent[0] + 1);
      if (id != -1) {
        String const& nm = readString(code_ + recent[1] + 1);
        localsInstalled_ = true;
        if (installLocalObject(nm) != id) {
          why = damaged("declaration", i);
          return false;
        }
      }
    } else if (u == Instruction::local_set || u == Instruction::local_get) {
      if (!at(0, Instruction::int_type) || !at(1, Instruction::bool_type) || !at(2, Instruction::string_type)) {
        why = damaged("variable", i);
        return false;
      }
      int32_t id = readLong(code_ + recent[0] + 1);
      if (id != -1 && resolveLocalObject(readString(code_ + recent[2] + 1)) != id) {
        why = damaged("variable", i);
        return false;
      }
    }
    if (u != Instruction::pad) {
      recent[2] = recent[1];
      recent[1] = recent[0];
      recent[0] = i;
    }
    i += 1 + n;
  }
  if (depth != 0) {
    why = damaged("argument list without end", len_ - 1);
    return false;
  }
  // Blocks lie after their statement, so running code only ever moves forward
  // except for the loop that a while statement itself makes.
  for (auto const& [a, from] : addresses) {
    if (a <= from || a >= len_ || !boundary[size_t(a)]) {
      why = damaged("address", a);
      return false;
    }
  }
  flags_ |= flagsSeen;
  return true;
}

bool Expr::checkCode() {
  String why;
  if (checkAndBind(why)) return true;
  error_ = why;
  return false;
}

bool Expr::setCode(std::vector<uint16_t> const& units, std::vector<String> const& strings, int32_t flags,
                   String const& text) {
  clear();
  text_ = text;
  strings_ = strings;
  flags_ = flags;
  error_ = String();
  if (units.size() > size_t(kMaxUnits)) {
    error_ = damaged("too long", long(units.size()));
    clear();
    return false;
  }
  installCode(units);
  String why;
  if (!checkAndBind(why)) {
    clear();
    error_ = why;
    return false;
  }
  storeLen_ = computeStoreLength();
  return true;
}

// ---- stored form ------------------------------------------------------------------

namespace {

int32_t textStoreLength(String const& s) { return 4 + (s.isHighest() ? 0 : int32_t(s.length())); }

void putText(char*& p, String const& s) {
  long n = s.length();
  stlong(int32_t(n), p);
  p += 4;
  if (n > 0 && !s.isHighest()) {
    std::memcpy(p, toCharPtr(s), size_t(n));
    p += n;
  }
}

// Reads a text stored form within [p, end); false when it does not fit or its
// length is not a real one.
bool getText(char const*& p, char const* end, String& s) {
  if (end - p < 4) return false;
  int32_t n = ldlong(p);
  p += 4;
  if (n == 0) {
    s = String();
    return true;
  }
  if (n == 2147483647) {
    s = String((char const*)1);
    return true;
  }
  if (n < 0 || n > 65535 || end - p < n) return false;
  s = String(long(n), p);
  p += n;
  return true;
}

}  // namespace

int32_t Expr::computeStoreLength() const {
  int32_t total = textStoreLength(text_) + 8;
  if (code_ == nullptr) return total;
  for (long i = 0; i < len_; ++i) {
    uint16_t u = code_[i];
    total += 2;
    switch (u) {
      case Instruction::string_type: total += textStoreLength(readString(code_ + i + 1)); break;
      case Instruction::num_type: total += 16; break;
      case Instruction::time_type:
      case Instruction::date_type:
      case Instruction::int_type: total += 4; break;
      default: total += 2 * Instruction::operandUnits(u); break;
    }
    if (u == Instruction::null) break;
    i += Instruction::operandUnits(u);
  }
  return total;
}

int32_t Expr::store(void* buffer) const {
  char* p = static_cast<char*>(buffer);
  char* start = p;
  putText(p, text_);
  stlong(flags_, p);
  p += 4;
  stlong(code_ ? len_ : 0, p);
  p += 4;
  for (long i = 0; code_ && i < len_; ++i) {
    uint16_t u = code_[i];
    stshort(u, p);
    p += 2;
    if (u == Instruction::null) break;
    switch (u) {
      case Instruction::string_type: putText(p, readString(code_ + i + 1)); break;
      case Instruction::time_type:
      case Instruction::date_type:
      case Instruction::int_type:
        stlong(readLong(code_ + i + 1), p);
        p += 4;
        break;
      default:  // the number's natural form and every other operand unit
        for (int32_t k = 1; k <= Instruction::operandUnits(u); ++k) {
          stshort(code_[i + k], p);
          p += 2;
        }
        break;
    }
    i += Instruction::operandUnits(u);
  }
  return int32_t(p - start);
}

bool Expr::load(void const* buffer, int32_t length) {
  fullClear();
  addDefFunctions();
  char const* p = static_cast<char const*>(buffer);
  char const* end = p + (length > 0 ? length : 0);
  String text;
  auto refuse = [&](char const* what, long at) {
    clear();
    error_ = damaged(what, at);
    return false;
  };
  if (buffer == nullptr || !getText(p, end, text)) return refuse("text", 0);
  if (end - p < 8) return refuse("header", p - static_cast<char const*>(buffer));
  int32_t flags = ldlong(p);
  int32_t units = ldlong(p + 4);
  p += 8;
  if (units < 0 || units > kMaxUnits) return refuse("code length", units);
  // Each unit takes at least 2 bytes: a length beyond the input is refused at once.
  if (units > (end - p) / 2) return refuse("code length", units);
  std::vector<uint16_t> code;
  std::vector<String> strings;
  code.reserve(size_t(units));
  bool ended = units == 0;
  while (!ended) {
    if (end - p < 2) return refuse("truncated", long(code.size()));
    uint16_t u = uint16_t(ldshort(p));
    p += 2;
    code.push_back(u);
    if (u > Instruction::kLast) return refuse("unknown instruction", long(code.size()) - 1);
    if (u == Instruction::null) break;
    switch (u) {
      case Instruction::string_type: {
        String s;
        if (!getText(p, end, s)) return refuse("text", long(code.size()) - 1);
        strings.push_back(s);
        int32_t idx = int32_t(strings.size() - 1);
        uint16_t w[2];
        writeLong(w, idx);
        code.push_back(w[0]);
        code.push_back(w[1]);
        break;
      }
      case Instruction::time_type:
      case Instruction::date_type:
      case Instruction::int_type: {
        if (end - p < 4) return refuse("truncated", long(code.size()));
        uint16_t w[2];
        writeLong(w, ldlong(p));
        p += 4;
        code.push_back(w[0]);
        code.push_back(w[1]);
        break;
      }
      default:
        for (int32_t k = 0; k < Instruction::operandUnits(u); ++k) {
          if (end - p < 2) return refuse("truncated", long(code.size()));
          code.push_back(uint16_t(ldshort(p)));
          p += 2;
        }
        break;
    }
    if (int32_t(code.size()) > units) return refuse("code length", units);
  }
  if (int32_t(code.size()) != units) return refuse("code length", units);
  if (!setCode(code, strings, flags, text)) return false;
  storeLen_ = int32_t(p - static_cast<char const*>(buffer));
  return true;
}

// ---- wire form ----------------------------------------------------------------------

Connection& operator<<(Connection& c, Expr const& e) {
  c << e.getExpr() << e.flags();
  uint16_t const* code = e.code();
  for (long i = 0; code && i < e.codeLength(); ++i) {
    uint16_t u = code[i];
    if (u == Instruction::null) break;
    c << int32_t(u);
    switch (u) {
      case Instruction::string_type: c << e.readString(code + i + 1); break;
      case Instruction::num_type: {
        Num n;
        Expr::readNum(code + i + 1, n);
        c << n;
        break;
      }
      case Instruction::time_type:
      case Instruction::date_type:
      case Instruction::int_type: c << Expr::readLong(code + i + 1); break;
      default:
        for (int32_t k = 1; k <= Instruction::operandUnits(u); ++k) c << int32_t(code[i + k]);
        break;
    }
    i += Instruction::operandUnits(u);
  }
  c << int32_t(1);
  return c;
}

Connection& operator>>(Connection& c, Expr& e) {
  String text;
  int32_t flags = 0;
  c >> text >> flags;
  std::vector<uint16_t> code;
  std::vector<String> strings;
  auto refuse = [&](char const* what) -> Connection& {
    e.setCode({}, {}, 0, String());
    e.setError(damaged(what, long(code.size())));
    c.setBad();
    return c;
  };
  for (;;) {
    int32_t u = 0;
    c >> u;
    if (c.bad()) return refuse("truncated");
    if (u == Instruction::null) break;
    if (u < 0 || u > Instruction::kLast) return refuse("unknown instruction");
    if (int32_t(code.size()) >= Expr::kMaxUnits - 9) return refuse("too long");
    code.push_back(uint16_t(u));
    uint16_t w[8];
    switch (u) {
      case Instruction::string_type: {
        String s;
        c >> s;
        strings.push_back(s);
        Expr::writeLong(w, int32_t(strings.size() - 1));
        code.insert(code.end(), w, w + 2);
        break;
      }
      case Instruction::num_type: {
        Num n;
        c >> n;
        Expr::writeNum(w, n);
        code.insert(code.end(), w, w + 8);
        break;
      }
      case Instruction::time_type:
      case Instruction::date_type:
      case Instruction::int_type: {
        int32_t v = 0;
        c >> v;
        Expr::writeLong(w, v);
        code.insert(code.end(), w, w + 2);
        break;
      }
      case Instruction::bool_type: {
        int32_t v = 0;
        c >> v;
        code.push_back(v != 0 ? 1 : 0);
        break;
      }
      default:
        for (int32_t k = 0; k < Instruction::operandUnits(uint16_t(u)); ++k) {
          int32_t v = 0;
          c >> v;
          if (v < 0 || v > 0xFFFF) return refuse("address");
          code.push_back(uint16_t(v));
        }
        break;
    }
    if (c.bad()) return refuse("truncated");
  }
  code.push_back(Instruction::null);
  if (!e.setCode(code, strings, flags, text)) c.setBad();
  return c;
}

// ---- listing ------------------------------------------------------------------------

String Expr::debugExpr() const {
  if (code_ == nullptr || len_ == 0) return String("nil");
  String out;
  for (long i = 0; i < len_; ++i) {
    uint16_t u = code_[i];
    if (u == Instruction::null) break;
    out += toString(i);
    out += ":";
    uint16_t const* op = code_ + i + 1;
    switch (u) {
      case Instruction::string_type:
        out += "\"";
        out += readString(op);
        out += "\"";
        break;
      case Instruction::num_type: {
        Num n;
        readNum(op, n);
        out += toCharPtr(n);
        break;
      }
      case Instruction::time_type: out += toCharPtr(toTime(readLong(op)), 6); break;
      case Instruction::date_type: out += toCharPtr(toDate(readLong(op)), 4); break;
      case Instruction::bool_type: out += toString(long(op[0])); break;
      case Instruction::int_type: out += toString(long(readLong(op))); break;
      case Instruction::if_inst:
        out += "if () " + toString(long(op[0])) + ":then ";
        if (op[1] != 0) out += toString(long(op[1])) + ":else ";
        out += toString(long(op[2])) + ":next";
        break;
      case Instruction::while_inst:
      case Instruction::foreach_inst:
        out += u == Instruction::while_inst ? "while () " : "foreach () ";
        out += toString(long(op[0])) + ":body " + toString(long(op[1])) + ":next";
        break;
      default:
        out += "INST(";
        out += Instruction::name[u];
        out += ")";
        break;
    }
    out += " \n ";
    i += Instruction::operandUnits(u);
  }
  return out;
}
