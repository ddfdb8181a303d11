// Sections of a message file in memory: the owned entry list, its order, and
// the writing of a section's texts and index entries.
#include <msgcat/MsgSection.h>

#include <msgcat/MsgStore.h>
#include <zfound/Portable.h>
#include <zfound/Stream.h>

#include <cstdint>

namespace {
// Growth step of an entry list.
constexpr long kEntryStep = 16;

// Compares two entry slots: empty slots after every entry, then by key.
int entryOrder(void const* a, void const* b) {
  auto const* x = *static_cast<MsgEntry* const*>(a);
  auto const* y = *static_cast<MsgEntry* const*>(b);
  if (!x || !y) return x ? -1 : (y ? 1 : 0);
  return cmp(x->key, y->key);
}
}  // namespace

MsgSection::MsgSection(String const& name) : name(name), entries(0, kEntryStep) {}

MsgSection::~MsgSection() { clear(); }

void MsgSection::add(String const& key, String const& text) { entries.add(new MsgEntry(key, text)); }

bool MsgSection::ins(int32_t n, String const& key, String const& text) {
  if (n < 0 || n > nEntries()) return false;
  auto* e = new MsgEntry(key, text);
  if (!entries.ins(n, e)) {
    delete e;
    return false;
  }
  return true;
}

bool MsgSection::del(int32_t n) {
  if (n < 0 || n >= nEntries()) return false;
  delete entries.at(n);
  return entries.del(n);
}

MsgEntry* MsgSection::entry(int32_t n) {
  if (n < 0) return nullptr;
  if (n >= nEntries() && !entries.reAlloc(long(n) + 1)) return nullptr;
  if (!entries.at(n)) entries[n] = new MsgEntry(String(), String());
  return entries.at(n);
}

void MsgSection::clear() {
  for (long i = 0; i < entries.dim(); ++i) delete entries.at(i);
  entries.reAlloc(0);
}

void MsgSection::sort() { entries.sort(entryOrder); }

bool MsgSection::write(OutputFile& f) {
  for (long i = 0; i < entries.dim(); ++i) {
    MsgEntry* e = entries.at(i);
    int64_t at = f.tell();
    if (!e || at > INT32_MAX) return false;
    e->offset = int32_t(at);
    if (!storeMsgText(f, e->text)) return false;
  }
  return true;
}

bool MsgSection::writeIndex(OutputFile& f, int32_t sectionNumber) const {
  for (long i = 0; i < entries.dim(); ++i) {
    MsgEntry const* e = entries.at(i);
    if (!e || e->offset == -1) return false;
    store(f, sectionNumber);
    if (!storeMsgText(f, e->key)) return false;
    store(f, e->offset);
  }
  return true;
}
