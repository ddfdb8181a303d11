// User accounts read from the account and group text files.
//
// Invariants: lines are read whole whatever their length; a field that is
// not a decimal number reads as -1; a user that is not found leaves the
// record false (ids -1, texts null).
#include <zfound/UserInfo.h>

#include <zfound/OsServ.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string passwdFile = "/etc/passwd";
std::string groupFile = "/etc/group";

// The ':'-separated fields of a line.
std::vector<std::string> fields(std::string const& line) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == ':') out.emplace_back();
    else out.back() += c;
  }
  return out;
}

// A decimal id, or -1 when the text is not one.
int64_t idOf(std::string const& text) {
  if (text.empty() || text.size() > 18) return -1;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

// Calls `match` with the fields of each line of `path` until it returns true;
// true when a line matched.
template <class F>
bool scan(std::string const& path, F match) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  std::string line;
  bool found = false;
  int c;
  for (;;) {
    line.clear();
    while ((c = std::fgetc(f)) != EOF && c != '\n') line += char(c);
    if (c == EOF && line.empty()) break;
    if (match(fields(line))) {
      found = true;
      break;
    }
    if (c == EOF) break;
  }
  std::fclose(f);
  return found;
}

String field(std::vector<std::string> const& f, size_t i) {
  return i < f.size() ? String(f[i].c_str()) : String();
}

}  // namespace

Password::Password() { byUid(int64_t(getuid())); }

Password::Password(int64_t uid) { byUid(uid); }

Password::Password(int64_t pid, int) { byUid(uidFromPid(pid)); }

Password::Password(String const& name) { byName(name); }

void Password::TEST_setAccountFiles(char const* passwd, char const* group) {
  passwdFile = passwd ? passwd : "/etc/passwd";
  groupFile = group ? group : "/etc/group";
}

void Password::byUid(int64_t uid) {
  if (uid < 0) return;
  std::string text = std::to_string(uid);
  bool found = scan(passwdFile, [&](std::vector<std::string> const& f) {
    if (f.size() < 3 || f[2] != text) return false;
    userId_ = uid;
    userName_ = field(f, 0);
    groupId_ = f.size() > 3 ? idOf(f[3]) : -1;
    homeDir_ = field(f, 5);
    loginShell_ = field(f, 6);
    return true;
  });
  if (found) findGroup();
}

void Password::byName(String const& name) {
  if (!name) return;
  std::string text = toCharPtr(name);
  bool found = scan(passwdFile, [&](std::vector<std::string> const& f) {
    if (f[0] != text) return false;
    userName_ = field(f, 0);
    userId_ = f.size() > 2 ? idOf(f[2]) : -1;
    groupId_ = f.size() > 3 ? idOf(f[3]) : -1;
    homeDir_ = field(f, 5);
    loginShell_ = field(f, 6);
    return true;
  });
  if (found && userId_ != -1) findGroup();
}

void Password::findGroup() {
  if (groupId_ < 0) return;
  std::string text = std::to_string(groupId_);
  scan(groupFile, [&](std::vector<std::string> const& f) {
    if (f.size() < 3 || f[2] != text) return false;
    groupName_ = field(f, 0);
    return true;
  });
}

int64_t uidFromPid(int64_t pid) {
  if (pid <= 0) return -1;
  struct stat st;
  std::string path = "/proc/" + std::to_string(pid);
  if (statFile(String(path.c_str()), &st) != 0) return -1;
  return int64_t(st.st_uid);
}
