// Open message catalogue files and their section views.
//
// A MsgFile reads its section names and its whole index once, when it opens;
// texts are read on demand with one seek and one read and kept in a 29-slot
// cache. Every offset and length read from the file is checked against the
// file's size before it is used: an index entry that points outside the file
// or names no section is dropped, a damaged map or index ends the loading
// (what was read before stays usable) with one line on standard error, and a
// text that cannot be read is a missing key. A "~KEY" reference chain is
// followed at most kMaxRefDepth steps.
#include <zfound/Assert.h>
#include <zfound/EnvVar.h>
#include <zfound/HashTab.h>
#include <zfound/MsgTable.h>
#include <zfound/Portable.h>
#include <zfound/ProcessHooks.h>
#include <zfound/PtrArray.h>

#include <sys/stat.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

namespace {
constexpr int kMaxRefDepth = 32;
constexpr int32_t kBuckets = 29;
constexpr char const kRecursion[] = "(ERROR: infinite recursion detected)";

// The key of an index entry: section number, then message key.
struct MsgFileNode {
  int32_t section;
  String key;
};

// A hash node: the link, the key (the node's key area), the text offset.
// The table holds &link, which is the node's own address.
struct MsgFileNodeInt {
  HashNode link;
  MsgFileNode k;
  int32_t offset;
};
static_assert(offsetof(MsgFileNodeInt, k) == sizeof(HashNode), "key area must follow the link");

long nodeCompare(void const* a, void const* b) {
  auto const* x = static_cast<MsgFileNode const*>(a);
  auto const* y = static_cast<MsgFileNode const*>(b);
  if (x->section != y->section) return x->section < y->section ? -1 : 1;
  return cmp(x->key, y->key);
}

uint32_t slotHash(int32_t section, String const& key, uint32_t modulo) {
  return ((uint32_t(section) << 16) + uint32_t(hashVal(key, kBuckets))) % modulo;
}

long nodeHash(void const* a, long modulo) {
  auto const* x = static_cast<MsgFileNode const*>(a);
  return long(slotHash(x->section, x->key, uint32_t(modulo)));
}

void nodeDelete(HashNode* n) { delete reinterpret_cast<MsgFileNodeInt*>(n); }

MsgFile* fileList = nullptr;  // the process-wide list of open files

String highest() { return String(reinterpret_cast<char const*>(1)); }

// Reads n bytes at `offset` when they lie inside the file.
bool readAt(FILE* f, int64_t size, int64_t offset, void* buf, size_t n) {
  if (offset < 0 || offset > size || int64_t(n) > size - offset) return false;
  if (std::fseek(f, long(offset), SEEK_SET) != 0) return false;
  return std::fread(buf, 1, n, f) == n;
}

// Reads the stored String at `offset` (2-byte length, 0 null, then the
// characters); `next` becomes the offset after it. False when the length
// word is the highest mark (never a valid key or text) or runs past the end.
bool readString(FILE* f, int64_t size, int64_t offset, String& out, int64_t& next) {
  unsigned char len[2];
  if (!readAt(f, size, offset, len, 2)) return false;
  uint32_t n = ldushort(len);
  if (n == 0xFFFF) return false;
  if (int64_t(n) > size - offset - 2) return false;
  out = String();
  if (n > 0) {
    char* p = out.getBuffer(long(n));
    if (std::fread(p, 1, n, f) != n) {
      out = String();
      return false;
    }
    // A stored text holds no NUL; a NUL would hide the rest of the text.
    if (std::memchr(p, '\0', n)) {
      out = String();
      return false;
    }
  }
  next = offset + 2 + n;
  return true;
}

bool readLong(FILE* f, int64_t size, int64_t offset, int32_t& v) {
  unsigned char b[4];
  if (!readAt(f, size, offset, b, 4)) return false;
  v = ldlong(b);
  return true;
}
}  // namespace

class MsgFileNodeIntHashTab : public BaseHashTab {
public:
  MsgFileNodeIntHashTab() : BaseHashTab(19, nodeCompare, nodeHash, nodeDelete) {}  // 29 buckets
};

struct MsgFile::Sections : PtrArrayOf<String> {
  Sections() : PtrArrayOf<String>(0, 8) {}
  ~Sections() {
    for (long i = 0; i < dim(); ++i) delete at(i);
  }
};

// --- opening and closing ---------------------------------------------------

MsgFile::MsgFile(String const& n)
    : index(new MsgFileNodeIntHashTab), sections(new Sections), name(n), file(nullptr), fileSize(0),
      next(nullptr) {
  String path;
  auto addDir = [&path](String const& dir) {
    if (!dir) return;
    if (!path.isNull()) path += ":";
    path += dir;
  };
  char const* dataDir = readEnvVar("DATADIR");
  if (dataDir && *dataDir) addDir(dataDir);
  String corvane(readEnvVar("CORVANE"));
  if (startUpDone()) {
    addDir(corvane + "/" + appName() + "-" + appVersion() + "/resources");
    addDir(corvane + "/" + appName() + "/resources");
  }
  addDir(corvane + "/resources");
  addDir(String(readEnvVar("ZEPHRA")) + "/data");
  language = readEnvVar("LANGUAGE");
  file = openDataDirFile(path, language, name + ".msg");
  if (file) load();
}

FILE* openDataDirFile(String const& path, String const& subdir, String const& file, String* found) {
  if (!path) return nullptr;
  std::string list = toCharPtr(path);
  std::string tail = "/";
  if (subdir) tail += std::string(toCharPtr(subdir)) + "/";
  if (file) tail += toCharPtr(file);
  size_t start = 0;
  for (;;) {
    size_t end = list.find(':', start);
    std::string entry = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!entry.empty()) {
      std::string name = entry + tail;
      // Only a regular file counts: a directory of that name opens but
      // cannot be read, and must not hide the entries after it.
      if (FILE* f = std::fopen(name.c_str(), "r")) {
        struct stat st;
        if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) {
          if (found) *found = String(name.c_str());
          return f;
        }
        std::fclose(f);
      }
    }
    if (end == std::string::npos) return nullptr;
    start = end + 1;
  }
}

MsgFile::~MsgFile() {
  if (file) std::fclose(file);
  delete index;
  delete sections;
}

void MsgFile::load() {
  struct stat st;
  if (fstat(fileno(file), &st) != 0) {
    std::fclose(file);
    file = nullptr;
    return;
  }
  fileSize = int64_t(st.st_size);
  char const* problem = nullptr;
  int32_t indexOffset = 0;
  int64_t pos = 4;
  if (!readLong(file, fileSize, 0, indexOffset)) {
    problem = "too short for a message file";
  } else {
    // Section map: names until the null name.
    for (;;) {
      String s;
      int64_t after = 0;
      if (!readString(file, fileSize, pos, s, after)) {
        problem = "section map runs past the end of the file";
        break;
      }
      pos = after;
      if (s.isNull()) break;
      addSection(s);
    }
  }
  if (!problem && (int64_t(indexOffset) < pos || int64_t(indexOffset) > fileSize - 4))
    problem = "index offset outside the file";
  if (!problem) {
    // Index: {section, key, offset} until section -1.
    int64_t at = indexOffset;
    int32_t nSections = int32_t(sections->dim());
    for (;;) {
      int32_t section = 0;
      if (!readLong(file, fileSize, at, section)) {
        problem = "index runs past the end of the file";
        break;
      }
      if (section == -1) break;
      String key;
      int64_t after = 0;
      int32_t textOffset = 0;
      if (!readString(file, fileSize, at + 4, key, after) ||
          !readLong(file, fileSize, after, textOffset)) {
        problem = "index runs past the end of the file";
        break;
      }
      at = after + 4;
      // Texts lie between the section map and the index.
      if (section < 0 || section >= nSections || key.isNull() || textOffset < 4 ||
          int64_t(textOffset) > fileSize - 2) {
        if (!problem) problem = "index entry out of range (dropped)";
        continue;
      }
      auto* node = new MsgFileNodeInt;
      node->k.section = section;
      node->k.key = key;
      node->offset = textOffset;
      index->addNode(&node->link);
    }
  }
  if (problem) {
    std::fprintf(stderr, "%s.msg (%s): damaged message file: %s.\n", toCharPtr(name),
                 toCharPtr(language), problem);
  }
}

MsgFile* MsgFile::find(String const& n) {
  if (!ZF_ASSERT(!n.isNull())) return nullptr;
  // A catalogue is shared by name within one language: a process that
  // changes LANGUAGE (catdump does, for the language it is asked for) gets
  // that language's file, not the one opened earlier under another.
  String language(readEnvVar("LANGUAGE"));
  for (MsgFile* f = fileList; f; f = f->next) {
    if (cmp(f->name, n) == 0 && cmp(f->language, language) == 0) {
      f->ref();
      return f;
    }
  }
  MsgFile* f = new MsgFile(n);
  f->ref();
  f->next = fileList;
  fileList = f;
  return f;
}

void MsgFile::dispose(MsgFile* f) {
  if (!f) return;
  if (!ZF_ASSERT_TEXT(f->refcount > 0, "refcount > 0")) return;
  if (f->refcount == 1) {
    MsgFile** link = &fileList;
    while (*link && *link != f) link = &(*link)->next;
    if (!ZF_ASSERT(*link != nullptr)) return;
    *link = f->next;
  }
  f->unRef();
}

int32_t MsgFile::TEST_openCount() {
  int32_t n = 0;
  for (MsgFile* f = fileList; f; f = f->next) ++n;
  return n;
}

// --- sections --------------------------------------------------------------

int32_t MsgFile::sectionNumber(String const& s) const {
  for (long i = 0; i < sections->dim(); ++i) {
    String const* p = sections->at(i);
    if (p && cmp(*p, s) == 0) return int32_t(i);
  }
  return -1;
}

int32_t MsgFile::addSection(String const& s) { return int32_t(sections->add(new String(s))); }

String MsgFile::sectionName(int32_t n) const {
  if (n < 0 || n >= sections->dim() || !sections->at(n)) return String();
  return *sections->at(n);
}

// --- lookup ----------------------------------------------------------------

String MsgFile::notFound(int32_t section, String const& key) const {
  return name + "." + sectionName(section) + "." + key + ": Message not found.";
}

bool MsgFile::readText(int32_t offset, String& text) {
  int64_t after = 0;
  return file && readString(file, fileSize, offset, text, after);
}

String MsgFile::search(int32_t section, String const& key, bool quiet) {
  return searchDepth(section, key, quiet, 0);
}

String MsgFile::searchDepth(int32_t section, String const& key, bool quiet, int depth) {
  MsgFileNodeInt* node = nullptr;
  if (file) {
    MsgFileNode probe{section, key};
    node = reinterpret_cast<MsgFileNodeInt*>(index->findNode(&probe));
  }
  if (!node) return quiet ? highest() : notFound(section, key);

  CacheSlot& slot = cache[slotHash(section, key, NSLOTS)];
  String text;
  if (slot.offset == node->offset) {
    text = slot.text;
  } else {
    if (!readText(node->offset, text)) return quiet ? highest() : notFound(section, key);
    if (!text.isNull()) {
      slot.offset = node->offset;
      slot.text = text;
    }
  }
  if (text.length() > 0 && text[0] == '~') {
    String ref(text(1));
    if (cmp(ref, key) == 0 || depth + 1 >= kMaxRefDepth) return String(kRecursion);
    return searchDepth(section, ref, quiet, depth + 1);
  }
  return text;
}

// --- MsgTable --------------------------------------------------------------

MsgTable::MsgTable(String const& f, String const& sect, bool q)
    : section(-1), file(MsgFile::find(f)), quiet(q) {
  section = resolve(sect);
}

MsgTable::MsgTable(MsgTable const& t) : section(t.section), file(t.file), quiet(t.quiet) {
  if (file) file->ref();
}

MsgTable& MsgTable::operator=(MsgTable const& t) {
  if (this == &t) return *this;
  if (t.file) t.file->ref();
  MsgFile::dispose(file);
  file = t.file;
  section = t.section;
  quiet = t.quiet;
  return *this;
}

MsgTable::~MsgTable() { MsgFile::dispose(file); }

int32_t MsgTable::resolve(String const& sect) const {
  if (!file) return -1;
  String s = sect.isNull() ? String("main") : sect;
  int32_t n = file->sectionNumber(s);
  return n >= 0 ? n : file->addSection(s);
}

String MsgTable::find(String const& key) const { return find(key, quiet); }

String MsgTable::find(String const& key, bool q) const {
  if (!ZF_ASSERT(file)) return q ? highest() : String();
  return file->search(section, key, q);
}

String MsgTable::find(String const& sect, String const& key, bool q) const {
  if (!ZF_ASSERT(file)) return q ? highest() : String();
  return file->search(resolve(sect), key, q);
}

String MsgTable::find(String const& sect, String const& key) const { return find(sect, key, quiet); }

Message MsgTable::operator()(String const& key) const { return Message(find(key)); }

Message MsgTable::operator()(String const& sect, String const& key) const {
  return Message(find(sect, key));
}

Message MsgTable::dMsg(String const& key, char const* deflt) const {
  String s = find(key, true);
  return s.isHighest() ? Message(deflt) : Message(s);
}

Message MsgTable::dMsg(String const& key, String const& deflt) const {
  String s = find(key, true);
  return s.isHighest() ? Message(deflt) : Message(s);
}

Message MsgTable::dMsg(String const& sect, String const& key, char const* deflt) const {
  String s = find(sect, key, true);
  return s.isHighest() ? Message(deflt) : Message(s);
}

// --- plain-function entry points -------------------------------------------

namespace {
// The next of ten process-wide result slots, used in rotation.
String& msgTab() {
  static String slots[10];
  static int next = 0;
  String& slot = slots[next];
  next = (next + 1) % 10;
  return slot;
}

char const* libSectionText(MsgTable*& table, char const* section, char const* key) {
  if (!table) table = new MsgTable("lib", section, false);
  String& slot = msgTab();
  slot = table->find(String(key));
  return toCharPtr(slot);
}

MsgTable* dbTab = nullptr;
MsgTable* fmTab = nullptr;
MsgTable* gnTab = nullptr;
MsgTable* rpTab = nullptr;
MsgTable* stTab = nullptr;
MsgTable* wiTab = nullptr;
}  // namespace

char const* __DbErrmsg(char const* key) { return libSectionText(dbTab, "db", key); }
char const* __FmErrmsg(char const* key) { return libSectionText(fmTab, "fm", key); }
char const* __GnErrmsg(char const* key) { return libSectionText(gnTab, "gn", key); }
char const* __RpErrmsg(char const* key) { return libSectionText(rpTab, "rp", key); }
char const* __StErrmsg(char const* key) { return libSectionText(stTab, "st", key); }
char const* __WiErrmsg(char const* key) { return libSectionText(wiTab, "wi", key); }
