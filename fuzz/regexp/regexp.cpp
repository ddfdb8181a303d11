// Fuzz target: regular expressions and file-name patterns. The input is a
// flag byte, a pattern, a text and a replacement; the pattern is compiled in
// the mode the flag names and run over the text by every search, the
// whole-text match and the expansion. Runs with a time limit per input (see
// options): exponential matching is a finding.
#include <zfound/RegExp.h>
#include <zfound/String.h>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  zffuzz::Input in(data, size);
  uint8_t flags = in.u8();
  std::string pattern = in.text();
  std::string text = in.text(4096);
  std::string repl = in.text();
  int64_t from = in.u16() % (text.size() + 2);
  String p(long(pattern.size()), pattern.data());
  if (flags & 4) p.decodeRegExp();
  RegExp re(p, (flags & 1) != 0);
  String t(long(text.size()), text.data());
  if (re.search(t, from) >= 0) re.expand(String(long(repl.size()), repl.data()));
  re.backSearch(t, from);
  re.match(t, (flags & 2) ? from : 0);
  // A text given by pointer has no length of its own: its base stays inside.
  int64_t base = in.u8() % (text.size() + 1);
  int64_t length = int64_t(int8_t(in.u8()));
  if (length > int64_t(text.size()) - base) length = -1;
  re.search(text.c_str(), from, base, length);
  re.hasMetaChars();
  re.firstChar();
  RegExp::slashOrAmpersand(String(long(repl.size()), repl.data()), 0);
  return 0;
}
