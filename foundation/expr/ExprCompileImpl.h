// Pieces shared by the expression compiler's sources: the lexer, the code
// emission and the generated parser.
//
// Token codes are fixed (stored tools and derived expression kinds rely on
// them); the parser's token declarations are checked against this list.
// Token texts live in the lexeme store for exactly one parse.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zfound/Format.h>
#include <zfound/String.h>

class Expr;

namespace exprtok {
enum : int {
  AND = 258,
  BETWEEN = 259,
  USER = 260,
  HOUR = 261,
  IN = 262,
  NOT = 263,
  OR = 264,
  COLONCOLON = 265,
  THIS = 266,
  TODAY = 267,
  TRUE_ = 268,
  FALSE_ = 269,
  NULL_ = 270,
  VOID_ = 271,
  NUMBER = 272,
  IDENT = 273,
  STRING = 274,
  ENVNAME = 275,
  MSGTABLE = 276,
  LEXERROR = 277,
  RETURN = 278,
  BREAK = 279,
  CONTINUE = 280,
  WHILE = 281,
  IF = 282,
  ELSE = 283,
  FOR = 284,
  EACH = 285,
  BY = 286,
  FROM = 287,
  TO = 288,
  USING = 289,
  ADDASSIGN = 290,
  SUBASSIGN = 291,
  MULASSIGN = 292,
  DIVASSIGN = 293,
  OBJECT = 294,
  WHEN = 295,
  EQ = 296,
  NE = 297,
  LT = 298,
  LE = 299,
  GT = 300,
  GE = 301,
  LIKE = 302,
  MATCH = 303,
};
}  // namespace exprtok

// The lexeme store (highLander) is declared in ExprCompile.h.
#include <zfound/ExprCompile.h>

// Catalogue texts of the compiler (exprMessage).
#include "ExprMsg.h"

// Sets the expression's error text unless one is set already (the first
// error of a compilation is the one kept).
void exprFirstError(Expr* e, String const& text);
