// Process-wide helpers of the expression compiler, for grammars of derived
// expression kinds that emit into the expression being compiled.
//
// A compilation runs on one thread and one expression at a time: the
// expression being compiled is set while Expr::parse runs (Expr::currExpr()).
#pragma once

class String;

// The lexeme store: copies the characters of s into a new array that lives
// until the end of the current parse, and returns it. Called with the
// highest String it frees every array and returns null.
char const* highLander(String const& s);

// Emit into the expression being compiled (asserts "e != (0)" when no
// compilation runs): the value of an enumeration, and the values of an
// enumeration followed by their count and `in`.
void codeEnumValue(char const* enumName, char const* valueName);
void codeInEnum(char const* enumName);
