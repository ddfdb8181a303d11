// Library message texts of the expression machine, with a built-in text for
// processes whose catalogues are not open.
#pragma once

#include <zfound/Message.h>
#include <zfound/String.h>

// The catalogue text of `key` (or `deflt`) with its first %s filled by arg.
inline String exprMsg(char const* key, char const* deflt, char const* arg = "") {
  String text = msgTablesReady() ? String(libMsg(key, deflt)) : String(deflt);
  return doFormat(text, arg ? arg : "");
}

// The same with two %s filled by a1 and a2.
inline String exprMsg2(char const* key, char const* deflt, char const* a1, char const* a2) {
  String text = msgTablesReady() ? String(libMsg(key, deflt)) : String(deflt);
  return doFormat(text, a1 ? a1 : "", a2 ? a2 : "");
}
