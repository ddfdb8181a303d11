/* The grammar of the expression language.
 *
 * Each rule emits code through the emission operations of Expr when it is
 * reduced. A construct's value is the code position (unit index) where its
 * code begins, so statements can be back-patched; a token with text carries
 * its interned text; an `in` list carries its element count on the parser's
 * own value stack, so nested lists count right.
 *
 * The parser returns 0 when the text is accepted, 1 after a syntax error or
 * an abort, 2 when its stack (200 entries, doubling up to 10000) is
 * exhausted. Its error texts are "parse error" and "parser stack overflow",
 * set only when no earlier error (a lexical one) set a text.
 */

%code requires {
#include <cstdint>
class Expr;
struct ExprParseState {
  Expr* e;
  int32_t loopLevel;   // loops around the current statement
  int32_t blockLevel;  // blocks around the current statement
};
}

%code {
#include <cstring>

#include <zfound/Assert.h>
#include <zfound/Expr.h>
#include <zfound/Num.h>
#include <zfound/String.h>

#include "ExprCompileImpl.h"

#define YYINITDEPTH 200
#define YYMAXDEPTH 10000

static int zfexprlex(ZFEXPRSTYPE* lval, ExprParseState& ps) { return ps.e->lex(lval); }

static void zfexprerror(ExprParseState& ps, char const* msg) {
  String text(std::strcmp(msg, "memory exhausted") == 0 ? "parser stack overflow" : "parse error");
  exprFirstError(ps.e, text);
}

#define E (ps.e)
#define POS() (Expr::bottom())
}

%define api.prefix {zfexpr}
%define api.pure full
%define api.token.prefix {TK_}
%define parse.error simple
%param {ExprParseState& ps}
%expect 0

%union {
  char const* text;  /* token text (interned) */
  long pos;          /* code position; for an `in` list, its element count */
}

%token AND 258 BETWEEN 259 USER 260 HOUR 261 IN 262 NOT 263 OR 264
%token COLONCOLON 265 THIS 266 TODAY 267 TRUE 268 FALSE 269 NULL 270 VOID 271
%token <text> NUMBER 272 IDENT 273 STRING 274 ENVNAME 275 MSGTABLE 276
%token LEXERROR 277 RETURN 278 BREAK 279 CONTINUE 280 WHILE 281 IF 282 ELSE 283
%token FOR 284 EACH 285 BY 286 FROM 287 TO 288 USING 289
%token ADDASSIGN 290 SUBASSIGN 291 MULASSIGN 292 DIVASSIGN 293 OBJECT 294 WHEN 295
%token EQ 296 NE 297 LT 298 LE 299 GT 300 GE 301 LIKE 302 MATCH 303

%type <text> name qualified_name index_clause
%type <pos> program statements statement block_open block_close end_mark condition
%type <pos> expression value logical choice list call_head call_close call
%type <pos> method_head method_close method_call message message_head
%type <pos> argument last_argument arguments optional_arguments
%type <pos> while_head if_head for_head loop_table from_clause to_clause using_clause
%type <pos> using_field last_using_field using_fields declaration assignment target reference

/* Loosest first. */
%precedence IFX
%precedence ELSE
%right '?' ':'
%left OR
%left AND
%precedence NOT
%precedence EQ NE LT LE GT GE LIKE MATCH IN BETWEEN
%left '+' '-'
%left '*' '/'
%precedence UMINUS
%precedence NOPAREN
%precedence '('

%start program

%%

program
  : statements              { $$ = $1; E->code(Instruction::stop); }
  | statements expression   { $$ = $1; E->code(Instruction::stop); }
  | expression              { $$ = $1; E->code(Instruction::stop); }
  ;

statements
  : statement
  | statements statement
  ;

statement
  : expression ';'          { $$ = $1; E->code(Instruction::resetStack); }
  | ';'                     { $$ = E->code(Instruction::resetStack); }
  | RETURN expression ';'   { $$ = $2; E->code(Instruction::return_inst); }
  | BREAK ';'
      {
        if (ps.loopLevel <= 0) {
          exprFirstError(E, exprMessage("NOTINLOOP"));
          YYABORT;
        }
        $$ = E->code(Instruction::break_inst);
        E->code(Instruction::resetStack);
      }
  | CONTINUE ';'
      {
        if (ps.loopLevel <= 0) {
          exprFirstError(E, exprMessage("NOTINLOOP"));
          YYABORT;
        }
        $$ = E->code(Instruction::continue_inst);
        E->code(Instruction::resetStack);
      }
  | while_head condition statement end_mark
      {
        $$ = $1;
        E->whileAddrFill($1, $3, $4);
        --ps.loopLevel;
      }
  | if_head condition statement end_mark %prec IFX
      {
        $$ = $1;
        E->ifAddrFill($1, $3, 0, $4);
      }
  | if_head condition statement end_mark ELSE statement end_mark
      {
        $$ = $1;
        E->ifAddrFill($1, $3, $6, $7);
      }
  | for_head loop_table from_clause to_clause using_clause statement end_mark
      {
        $$ = $1;
        E->foreachAddrFill($1, $6, $7);
        --ps.loopLevel;
      }
  | block_open statements block_close   { $$ = $2; }
  | declaration ';'
      {
        if (ps.blockLevel > 0) {
          exprFirstError(E, exprMessage("OBJDECLNOTALLOWED"));
          YYABORT;
        }
        $$ = $1;
        E->code(Instruction::resetStack);
      }
  ;

block_open
  : '{'   { $$ = POS(); ++ps.blockLevel; }
  ;

block_close
  : '}'
      {
        ZF_ASSERT(ps.blockLevel > 0);
        $$ = POS();
        --ps.blockLevel;
      }
  ;

end_mark
  : %empty   { E->code(Instruction::stop); $$ = POS(); }
  ;

condition
  : '(' logical ')'   { $$ = $2; E->code(Instruction::stop); }
  ;

expression
  : choice
  | value
  | logical
  | assignment
  ;

value
  : value '+' value            { $$ = $1; E->code(Instruction::add); }
  | value '-' value            { $$ = $1; E->code(Instruction::dif); }
  | value '*' value            { $$ = $1; E->code(Instruction::mult); }
  | value '/' value            { $$ = $1; E->code(Instruction::div); }
  | '-' value %prec UMINUS     { $$ = $2; E->code(Instruction::umin); }
  | call
  | method_call
  | message
  | NUMBER                     { $$ = POS(); E->code(toNum($1)); }
  | STRING                     { $$ = POS(); E->code(String($1)); }
  | HOUR                       { $$ = E->code(Instruction::hour); }
  | TODAY                      { $$ = E->code(Instruction::today); }
  | USER                       { $$ = E->code(Instruction::user); }
  | ENVNAME                    { $$ = POS(); E->codeGetEnv($1); }
  | TRUE                       { $$ = POS(); E->code(toNum(int32_t(1))); }
  | FALSE                      { $$ = POS(); E->code(toNum(int32_t(0))); }
  | NULL                       { $$ = POS(); E->code(String()); }
  | reference
  | THIS                       { $$ = POS(); E->codeLocalObj(nullptr, false); }
  | IDENT COLONCOLON IDENT     { $$ = POS(); E->codeEnumValue(String($1), String($3)); }
  | logical '?' value ':' value  { $$ = $1; E->code(Instruction::cond_if); }
  | logical '?' value            { $$ = $1; E->code(Instruction::void_value); E->code(Instruction::cond_if); }
  | VOID                       { $$ = E->code(Instruction::void_value); }
  | '(' choice ')'             { $$ = $2; }
  | '(' value ')'              { $$ = $2; }
  ;

logical
  : logical AND logical        { $$ = $1; E->code(Instruction::and_); }
  | logical OR logical         { $$ = $1; E->code(Instruction::or_); }
  | NOT logical                { $$ = $2; E->code(Instruction::not_); }
  | value EQ value             { $$ = $1; E->code(Instruction::eq); }
  | value NE value             { $$ = $1; E->code(Instruction::ne); }
  | value LT value             { $$ = $1; E->code(Instruction::lt); }
  | value LE value             { $$ = $1; E->code(Instruction::le); }
  | value GT value             { $$ = $1; E->code(Instruction::gt); }
  | value GE value             { $$ = $1; E->code(Instruction::ge); }
  | value LIKE value           { $$ = $1; E->code(Instruction::like); }
  | value MATCH value          { $$ = $1; E->code(Instruction::match); }
  | value IN '(' list ')'      { $$ = $1; E->codeIn(int32_t($4)); }
  | value IN IDENT             { $$ = $1; E->codeInEnum(String($3)); }
  | value BETWEEN value AND value %prec BETWEEN
                               { $$ = $1; E->code(Instruction::between); }
  | '(' logical ')'            { $$ = $2; }
  ;

choice
  : value WHEN logical value   { $$ = $1; E->code(Instruction::when); }
  | value WHEN logical choice  { $$ = $1; E->code(Instruction::when); }
  | value WHEN logical         { $$ = $1; E->code(Instruction::void_value); E->code(Instruction::when); }
  ;

/* The value of a list is its element count. */
list
  : value                      { $$ = 1; }
  | list ',' value             { $$ = $1 + 1; }
  ;

call_head
  : IDENT '('                  { $$ = POS(); E->codeFunction($1); }
  ;

call_close
  : ')'                        { $$ = E->code(Instruction::arg_end); }
  ;

call
  : call_head optional_arguments call_close   { $$ = $1; }
  ;

method_head
  : IDENT '.' IDENT '('        { $$ = POS(); E->codeMethod($3, String($1)); }
  | IDENT '.' IDENT '.' IDENT '('
      {
        $$ = POS();
        E->codeMethod($5, String($1) + "." + $3);
      }
  ;

method_close
  : ')'                        { $$ = E->code(Instruction::arg_end); }
  ;

method_call
  : method_head optional_arguments method_close   { $$ = $1; }
  ;

message
  : message_head %prec NOPAREN                 { $$ = $1; E->code(Instruction::arg_end); }
  | message_head '(' optional_arguments ')'   { $$ = $1; E->code(Instruction::arg_end); }
  ;

message_head
  : MSGTABLE '(' STRING ')'              { $$ = E->codeMsg($1, nullptr, $3); }
  | MSGTABLE '(' STRING ',' STRING ')'   { $$ = E->codeMsg($1, $3, $5); }
  ;

argument
  : value                      { $$ = $1; E->code(Instruction::arg_separ); }
  ;

last_argument
  : value
  ;

arguments
  : last_argument
  | argument ',' arguments     { $$ = $1; }
  ;

optional_arguments
  : %empty                     { $$ = POS(); }
  | arguments
  ;

while_head
  : WHILE
      {
        ++ps.loopLevel;
        $$ = E->code(Instruction::while_inst);
        E->code(Instruction::Id(0xFFFF));
        E->code(Instruction::Id(0xFFFF));
      }
  ;

if_head
  : IF
      {
        $$ = E->code(Instruction::if_inst);
        E->code(Instruction::Id(0xFFFF));
        E->code(Instruction::Id(0xFFFF));
        E->code(Instruction::Id(0xFFFF));
      }
  ;

for_head
  : FOR EACH
      {
        ++ps.loopLevel;
        $$ = E->code(Instruction::foreach_inst);
        E->code(Instruction::Id(0xFFFF));
        E->code(Instruction::Id(0xFFFF));
      }
  ;

loop_table
  : IDENT index_clause
      {
        $$ = POS();
        E->codeForeignId(String($1), Instruction::foreign_obj_get, false);
        E->code(Instruction::arg_separ);
      }
  | IDENT '.' IDENT index_clause
      {
        $$ = POS();
        E->codeForeignId(String($1) + "." + $3, Instruction::foreign_obj_get, false);
        E->code(Instruction::arg_separ);
      }
  ;

index_clause
  : %empty                     { $$ = nullptr; E->code(String()); }
  | BY IDENT                   { $$ = $2; E->code(String($2)); }
  ;

from_clause
  : %empty                               { $$ = E->code(Instruction::arg_end); }
  | FROM '(' arguments ')'               { $$ = $3; E->code(Instruction::arg_end); }
  ;

to_clause
  : %empty                               { $$ = E->code(Instruction::arg_end); }
  | TO '(' arguments ')'                 { $$ = $3; E->code(Instruction::arg_end); }
  ;

using_clause
  : %empty                               { $$ = E->code(Instruction::arg_end); }
  | USING '(' using_fields ')'           { $$ = $3; E->code(Instruction::arg_end); }
  ;

using_field
  : qualified_name
      {
        $$ = POS();
        E->codeForeignId(String($1), Instruction::foreign_obj_get, false);
        E->code(Instruction::arg_separ);
      }
  ;

last_using_field
  : qualified_name
      {
        $$ = POS();
        E->codeForeignId(String($1), Instruction::foreign_obj_get, false);
      }
  ;

using_fields
  : last_using_field
  | using_field ',' using_fields   { $$ = $1; }
  ;

declaration
  : OBJECT IDENT                   { $$ = E->codeGlobalDecl($2, false); }
  | OBJECT IDENT '=' expression    { $$ = $4; E->codeGlobalDecl($2, true); }
  ;

assignment
  : target '=' expression          { $$ = $1; E->code(Instruction::assign); }
  | target ADDASSIGN expression    { $$ = $1; E->code(Instruction::assign_add); }
  | target SUBASSIGN expression    { $$ = $1; E->code(Instruction::assign_sub); }
  | target MULASSIGN expression    { $$ = $1; E->code(Instruction::assign_mul); }
  | target DIVASSIGN expression    { $$ = $1; E->code(Instruction::assign_div); }
  ;

target
  : name                           { $$ = POS(); E->codeLocalId($1, Instruction::id_set, false); }
  | qualified_name                 { $$ = POS(); E->codeForeignId(String($1), Instruction::foreign_obj_set, false); }
  | name '[' value ']'             { $$ = $3; E->codeLocalId($1, Instruction::id_set, true); }
  | qualified_name '[' value ']'   { $$ = $3; E->codeForeignId(String($1), Instruction::foreign_obj_set, true); }
  ;

reference
  : name                           { $$ = POS(); E->codeLocalId($1, Instruction::id_get, false); }
  | qualified_name                 { $$ = POS(); E->codeForeignId(String($1), Instruction::foreign_obj_get, false); }
  | name '[' value ']'             { $$ = $3; E->codeLocalId($1, Instruction::id_get, true); }
  | qualified_name '[' value ']'   { $$ = $3; E->codeForeignId(String($1), Instruction::foreign_obj_get, true); }
  ;

name
  : IDENT %prec NOPAREN
  ;

qualified_name
  : IDENT '.' IDENT %prec NOPAREN      { $$ = highLander(String($1) + "." + $3); }
  | IDENT '.' IDENT '.' IDENT %prec NOPAREN
                                       { $$ = highLander(String($1) + "." + $3 + "." + $5); }
  ;

%%

static_assert(int(TK_AND) == int(exprtok::AND) && int(TK_MATCH) == int(exprtok::MATCH) &&
                  int(TK_IDENT) == int(exprtok::IDENT) && int(TK_LEXERROR) == int(exprtok::LEXERROR) &&
                  int(TK_WHEN) == int(exprtok::WHEN),
              "token codes of the parser and the lexer agree");

int Expr::_parse() {
  ExprParseState ps{this, 0, 0};
  return zfexprparse(ps);
}
