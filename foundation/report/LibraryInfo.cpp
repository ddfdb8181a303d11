// The library registry, the banner line and the dotted version text.
// The registry String is created on the first registration and never freed.
#include <zfound/LibraryInfo.h>
#include <zfound/BuildInfo.h>

#include <cstdio>

namespace {
String* registry = nullptr;
bool foundationRegistered = false;
}  // namespace

LibraryInfo::LibraryInfo(String const& name, String const& stamp) {
  if (!registry) registry = new String();
  *registry += "\n";
  *registry += "> ";
  *registry += name;
  *registry += " <";
  *registry += "\n";
  *registry += stamp;
  *registry += "\n";
}

String LibraryInfo::libraries() { return registry ? *registry : String(); }

void LibraryInfo::TEST_reset() {
  if (registry) *registry = String();
  foundationRegistered = false;
}

void _registerFoundationLibrary() {
  if (foundationRegistered) return;
  foundationRegistered = true;
  LibraryInfo("libzeph", ZF_BUILD_INFO_TEXT);
}

String versionStr(int32_t v) {
  String s = toString(v / 1000);
  s += ".";
  s += toString((v % 1000) / 100);
  if (v % 100 != 0) {
    s += ".";
    s += toString(v % 100);
  }
  return s;
}

void banner(String const& name, String const& version) {
  String line = name.baseFullName();
  line += ": ";
  line += version;
  line += " (Linux 1.3.X)\n";
  std::fputs(toCharPtr(line), stderr);
  std::fflush(stderr);
}
