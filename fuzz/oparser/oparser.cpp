// Fuzz target: the command-line option parser. The input is split at NUL
// bytes into the words of a command line, parsed against a set of boolean,
// numeric and text options (one with a list of alternatives); errors and the
// help and version requests are fatal reports, which end the input.
#include <zfound/OptionParser.h>
#include <zfound/String.h>

#include "FuzzSupport.h"

#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  std::vector<std::string> words{"prog"};
  std::string cur;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(cur);
      cur.clear();
    } else {
      cur += char(data[i]);
    }
  }
  words.push_back(cur);
  if (words.size() > 256) return 0;
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  int argc = int(words.size());
  char** av = argv.data();
  static bool flag, other;
  static int32_t count, index;
  static String text, mode;
  auto* parser = new OptionParser(false);
  *parser << new BoolOption(flag, "flag", 'f', "[HELPF\ta flag]")
          << new BoolOption(other, "flagged", "[HELPG\tanother flag]", true)
          << new NumOption(count, "count", 'n', "[HELPN\ta count]", 3, -5, 1000)
          << new StrOption(text, "text", 't', "[HELPT\ta text]", String("x"))
          << new StrOption(mode, index, "mode", 'm', "[HELPM\ta mode]", String(), String("fast\tslow\tsafe"));
  bool done = zffuzz::guarded([&] { parser->parse(argc, av); });
  if (done && (argc < 1 || argc > int(words.size()) || av[argc] != nullptr)) std::abort();
  delete parser;
  return 0;
}
