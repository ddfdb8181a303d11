// Schema and table names as paths; the data-file name of a table.
#include <svcatalog/SchemaNames.h>

#include <cstring>
#include <string>

#include <svcatalog/SvField.h>
#include <zfound/Exception.h>

namespace svcatalog {

bool isPlainFileName(String const& f) {
  if (f.isNull() || f.isHighest()) return false;
  for (long i = 0; i < f.length(); ++i)
    if (f[i] == '/' || static_cast<unsigned char>(f[i]) < 0x20 || f[i] == 0x7f) return false;
  return cmp(f, ".") != 0 && cmp(f, "..") != 0;
}

bool checkObjectName(String const& name, char const* what) {
  long const n = name.isNull() ? 0 : name.length();
  char const* why = nullptr;
  if (n == 0 || name.isHighest()) {
    why = "is empty";
  } else if (n > kMaxObjectName) {
    why = "is longer than 16 characters";
  } else if (cmp(name, ".") == 0 || cmp(name, "..") == 0) {
    why = "names a directory";
  } else {
    for (long i = 0; i < n; ++i) {
      unsigned char const c = static_cast<unsigned char>(name[i]);
      if (c == '/') {
        why = "holds '/'";
        break;
      }
      if (c < 0x20 || c == 0x7f) {
        why = "holds a control character";
        break;
      }
    }
  }
  if (why == nullptr) return true;
  String text(what);
  text += " name '";
  if (n > 0 && !name.isHighest()) text += name;
  text += "' ";
  text += why;
  keepFirstError(InvalidData(text));
  return false;
}

bool checkSchemaName(String const& name) {
  if (!checkObjectName(name, "schema")) return false;
  for (long i = 0; i < name.length(); ++i) {
    char const c = name[i];
    if (c != 0 && std::strchr(" .,:*?+{[\\", c) != nullptr) {
      keepFirstError(InvalidData(String("schema name '") + name + "' holds '" + String(toCharPtr(name) + i, 1) + "'"));
      return false;
    }
  }
  return true;
}

String newFileName(String const& name, String const& ext, FileNameTaken const& taken) {
  long const n = name.isNull() || name.isHighest() ? 0 : name.length();
  long const from = (n > 0 && name[0] == '2') ? 1 : 0;
  std::string base = "_";
  for (long i = from; i < n && i < from + 7; ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    base += c;
  }
  std::string dotExt(1, '.');
  if (char const* e = toCharPtr(ext)) dotExt += e;
  // keep is not restored between tries and the counter is not reset when keep
  // shrinks, so the names follow one sequence: _custom1, ..., _custo10.
  long keep = static_cast<long>(base.size());
  String result((base + dotExt).c_str());
  for (long count = 1; taken && taken(result); ++count) {
    std::string cand;
    for (;;) {
      cand = base.substr(0, static_cast<size_t>(keep)) + std::to_string(count);
      if (cand.size() <= 8 || keep == 0) break;
      --keep;
    }
    if (keep <= 0 || cand.size() > 8) {
      keepFirstError(InvalidData(String("no data-file name is left for table '") + name + "'"));
      return String();
    }
    result = String((cand + dotExt).c_str());
  }
  return result;
}

}  // namespace svcatalog
