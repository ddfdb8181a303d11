// Library message texts of the expression machine. Every text is filled
// from a counted argument list, so a catalogue text with more conversions
// than arguments prints nothing for the missing ones; before the catalogues
// are open a built-in text (or the key itself) serves as the format.
#pragma once

#include <cstddef>

#include <zfound/Format.h>
#include <zfound/String.h>

// The catalogue text of `key` (`deflt` when the catalogue lacks it or is not
// open yet; a null `deflt` means the key itself) filled from `count` arguments.
String exprMessage(char const* key, char const* deflt, FmtArg const* args, size_t count);

// The same without a built-in text.
inline String exprMessage(char const* key, FmtArg const* args = nullptr, size_t count = 0) {
  return exprMessage(key, nullptr, args, count);
}

// The text of `key` (or `deflt`) with its first %s filled by `arg`.
inline String exprMsg(char const* key, char const* deflt, char const* arg = "") {
  FmtArg a[1] = {FmtArg(arg ? arg : "")};
  return exprMessage(key, deflt, a, 1);
}

// The same with two %s filled by a1 and a2.
inline String exprMsg2(char const* key, char const* deflt, char const* a1, char const* a2) {
  FmtArg a[2] = {FmtArg(a1 ? a1 : ""), FmtArg(a2 ? a2 : "")};
  return exprMessage(key, deflt, a, 2);
}
