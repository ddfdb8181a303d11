// The message-file editor: finding the file's directory, reading a file with
// every position and length checked against the file, and rewriting it.
//
// Writing validates the whole contents first, so that nothing is created for
// contents the layout cannot hold; the new file is then built under a fresh
// name in the same directory (created exclusively), flushed, synced and
// renamed over the old one, so that readers see either the old file or the
// whole new one.
#include <msgcat/MsgEditor.h>

#include <msgcat/MsgStore.h>
#include <zfound/Assert.h>
#include <zfound/FileOps.h>
#include <zfound/OsFile.h>
#include <zfound/OsServ.h>
#include <zfound/Portable.h>
#include <zfound/Stream.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {
// Growth step of the section list.
constexpr long kSectionStep = 4;
// Names tried for the new file before giving up.
constexpr int kTempTries = 100;

String dec(int64_t n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(n));
  return String(buf);
}
}  // namespace

MsgEditor::MsgEditor(String const& name, String const& language)
    : name_(name), sections(0, kSectionStep), damaged_(false) {
  this->language(language);
}

MsgEditor::~MsgEditor() { clear(); }

void MsgEditor::language(String const& language) {
  language_ = language.isNull() ? String("LANGUAGE").getEnv() : language;
  path_ = String();
}

String const& MsgEditor::path() {
  if (!path_.isNull()) return path_;
  String dirs = String("DATADIR").getEnv();
  String tail = String("/") + language_ + "/" + name_ + ".msg";
  char const* p = dirs ? toCharPtr(dirs) : "";
  String first;
  bool atFirst = true;
  for (;;) {
    char const* e = std::strchr(p, ':');
    String dir = e ? String(long(e - p), p) : String(p);
    if (atFirst) first = dir;
    atFirst = false;
    if (!dir.isNull() && statFile(dir + tail) == 0) {
      path_ = dir + "/" + language_;
      return path_;
    }
    if (!e) break;
    p = e + 1;
  }
  path_ = first + "/" + language_;
  return path_;
}

bool MsgEditor::fail(String const& why) const {
  error_ = name_ + ".msg (" + language_ + "): " + why;
  return false;
}

bool MsgEditor::readSectionMap() { return load(false); }

bool MsgEditor::read() { return load(true); }

bool MsgEditor::load(bool messages) {
  clear();
  damaged_ = false;
  error_ = String();
  OsFile f;
  if (!f.open(path(), name_, "msg", OsFile::Read | OsFile::OpenNow)) {
    // Only a file that is not there reads as a new, empty one; a file that
    // is there but cannot be opened must not be replaced unknowingly.
    int err = f.errNo();
    damaged_ = err != ENOENT && err != ENOTDIR;
    fail("cannot open " + f.fullName() + ": " + std::strerror(err));
    return false;
  }
  int64_t size = f.size();
  InputFile in(f, 1024);
  auto damage = [this](String const& why) {
    clear();
    damaged_ = true;
    return fail("damaged message file: " + why);
  };

  int32_t indexPos = 0;
  ::load(in, indexPos);
  if (!in.ok()) return damage("too short for a message file");
  for (;;) {
    String s;
    if (!loadMsgText(in, s)) return damage("the section map runs past the end of the file");
    if (s.isNull()) break;
    if (s.isHighest()) return damage("a section name is not a text");
    sections.add(new MsgSection(s));
  }
  if (!messages) return true;

  int64_t mapEnd = in.tell();
  if (indexPos < mapEnd || int64_t(indexPos) > size - 4) return damage("the index position lies outside the file");
  in.seek(indexPos);
  for (;;) {
    int32_t number = 0;
    ::load(in, number);
    if (!in.ok()) return damage("the index runs past the end of the file");
    if (number == -1) break;
    if (number < 0 || number >= nSections())
      return damage("an index entry names section " + dec(number) + ", which the section map does not hold");
    String key;
    int32_t textPos = 0;
    if (!loadMsgText(in, key)) return damage("the index runs past the end of the file");
    ::load(in, textPos);
    if (!in.ok()) return damage("the index runs past the end of the file");
    if (!key) return damage("an index entry has no key");
    if (textPos < mapEnd || textPos > indexPos - 2)
      return damage("the text of " + key + " lies outside the texts");
    int64_t next = in.tell();
    in.seek(textPos);
    String text;
    if (!loadMsgText(in, text) || in.tell() > indexPos)
      return damage("the text of " + key + " runs past the texts");
    sections.at(number)->add(key, text);
    in.seek(next);
  }
  sort();
  return true;
}

void MsgEditor::sort() {
  for (long i = 0; i < sections.dim(); ++i)
    if (sections.at(i)) sections.at(i)->sort();
}

bool MsgEditor::check() const {
  int64_t size = 4 + 2 + 4;  // index position, end of map, end of index
  for (int32_t n = 0; n < nSections(); ++n) {
    MsgSection const* s = sections.at(n);
    if (!s) return fail("section slot " + dec(n) + " is empty");
    int32_t len = msgTextLength(s->name);
    if (len <= 0) return fail("section " + dec(n) + " has no name");
    if (len > kMsgTextMax) return fail("the name of section " + dec(n) + " is longer than 32767 bytes");
    size += 2 + len;
    for (int32_t i = 0; i < s->nEntries(); ++i) {
      MsgEntry const* e = s->entries.at(i);
      if (!e) return fail("entry slot " + dec(i) + " of section " + s->name + " is empty");
      int32_t keyLen = msgTextLength(e->key);
      if (keyLen <= 0) return fail("entry " + dec(i) + " of section " + s->name + " has no key");
      if (keyLen > kMsgTextMax)
        return fail("a key of section " + s->name + " is longer than 32767 bytes");
      int32_t textLen = msgTextLength(e->text);
      if (textLen > kMsgTextMax)
        return fail("the text of " + s->name + "." + e->key + " is " + dec(textLen) +
                    " bytes long; a message file holds at most 32767");
      size += 2 + (textLen > 0 ? textLen : 0) + 4 + 2 + keyLen + 4;
    }
  }
  if (size > INT32_MAX) return fail("the file would be larger than 2 GB");
  return true;
}

bool MsgEditor::write() const {
  error_ = String();
  if (!ZF_PRECOND(!path_.isNull())) return fail("the directory of the file is not known");
  if (!check()) return false;

  // A fresh file beside the old one, created exclusively.
  OsFile tmp;
  String tmpName;
  bool created = false;
  for (int i = 0; i < kTempTries && !created; ++i) {
    tmpName = String(".") + name_ + "-" + dec(int64_t(::getpid())) + "-" + dec(i);
    created = tmp.open(path_, tmpName, "tmp", OsFile::Write | OsFile::Create | OsFile::Exclusive | OsFile::OpenNow);
    if (!created && tmp.errNo() != EEXIST)
      return fail("cannot create " + tmp.fullName() + ": " + std::strerror(tmp.errNo()));
  }
  if (!created) return fail("cannot create a new file in " + path_);
  String tmpPath = tmp.fullName();
  String finalPath = path_ + "/" + name_ + ".msg";
  auto abandon = [&](String const& why) {
    tmp.close();
    fileOps().unlink(toCharPtr(tmpPath));
    return fail(why);
  };

  bool ok = true;
  {
    OutputFile out(tmp, 1024);
    store(out, int32_t(0));
    for (long n = 0; n < sections.dim(); ++n) storeMsgText(out, sections.at(n)->name);
    storeMsgText(out, String());
    for (long n = 0; n < sections.dim() && ok; ++n) ok = sections.at(n)->write(out);
    int64_t indexPos = out.tell();
    for (long n = 0; n < sections.dim() && ok; ++n) ok = sections.at(n)->writeIndex(out, int32_t(n));
    store(out, int32_t(-1));
    out.seek(0);
    store(out, int32_t(indexPos));
    out.flush();
    ok = ok && out.ok();
  }
  if (!ok) return abandon("cannot write " + tmpPath);
  if (fileOps().fsync(tmp.getFd()) != 0) return abandon("cannot sync " + tmpPath + ": " + std::strerror(errno));
  tmp.close();
  if (fileOps().rename(toCharPtr(tmpPath), toCharPtr(finalPath)) != 0) {
    int err = errno;
    fileOps().unlink(toCharPtr(tmpPath));
    return fail("cannot replace " + finalPath + ": " + std::strerror(err));
  }
  return true;
}

int32_t MsgEditor::findSection(String const& name) const {
  for (long i = 0; i < sections.dim(); ++i) {
    MsgSection const* s = sections.at(i);
    if (s && cmp(s->name, name) == 0) return int32_t(i);
  }
  return -1;
}

MsgSection* MsgEditor::section(int32_t n) {
  if (n < 0) return nullptr;
  if (n >= nSections() && !sections.reAlloc(long(n) + 1)) return nullptr;
  if (!sections.at(n)) sections[n] = new MsgSection(String());
  return sections.at(n);
}

MsgSection* MsgEditor::section(String const& name) {
  int32_t n = findSection(name);
  if (n >= 0) return sections.at(n);
  auto* s = new MsgSection(name);
  if (sections.add(s) < 0) {
    delete s;
    return nullptr;
  }
  return s;
}

int32_t MsgEditor::delSection(String const& name) {
  int32_t n = findSection(name);
  if (n < 0) return -1;
  delete sections.at(n);
  sections.del(n);
  return n;
}

void MsgEditor::clear() {
  for (long i = 0; i < sections.dim(); ++i) delete sections.at(i);
  sections.reAlloc(0);
}
