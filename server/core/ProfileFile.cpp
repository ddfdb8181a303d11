// The profile file writer.
#include <svcore/ProfileFile.h>

#include <blkfile/BlockedFile.h>
#include <svcatalog/SvSchema.h>
#include <svobject/SvObject.h>
#include <zfound/Format.h>
#include <zfound/Message.h>
#include <zfound/OsFile.h>
#include <zfound/Time.h>

#include <cstdio>

namespace {

constexpr char kSeparator[] = "-----------------------------------------------------------\n\n";
constexpr int32_t kOpenMode = 1 | 2 | 16 | 32;  // read, write, create, truncate
constexpr int32_t kStatHits = 9;
constexpr int32_t kStatTries = 10;

String num(int64_t n) { return toString(long(n)); }

// A catalogue text, or the key itself when the catalogue lacks it.
String text(char const* key) { return String(appMsg(key, key)); }

}  // namespace

ProfileFile::ProfileFile(String const& path, TimeStamp const& stamp)
    : file_(std::make_unique<OsFile>()), start_(stamp) {
  ok_ = file_->open(String(), path, String(), kOpenMode);
}

ProfileFile::~ProfileFile() {
  if (file_) file_->close();
}

String ProfileFile::ratio(int64_t hits, int64_t tries) {
  double const r = tries > 0 ? double(hits) / double(tries) : 0.0;
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", r);
  return String(text);
}

void ProfileFile::put(String const& s) {
  int64_t const n = s.length();
  if (n <= 0 || !file_) return;
  int64_t const w = file_->write(toCharPtr(s), written_, n);
  if (w > 0) written_ += w;
}

void ProfileFile::writeHeader() {
  put("\n\n");
  String const when = toString(start_.time(), 6);
  FmtArg const arg(&when);
  put(toStrArgs(toCharPtr(text("OMBSTATS")), &arg, 1));
  put("\n");
}

void ProfileFile::writeMethStats(std::vector<GServObj*> const& objects) {
  put("\n");
  put(text("OMBMETHSTATS"));
  put("\n");
  String line = String("Object").center(50);
  line += "\t\t";
  for (int32_t k = 1; k <= 8; ++k) {
    line += "\t";
    line += String(GServObjStats::statTypeDescr(k)).center(12);
  }
  line += "\n";
  put(line);
  for (GServObj* o : objects) {
    if (o == nullptr) continue;
    String s;
    o->getMethInfo(s);
    put(s);
  }
}

void ProfileFile::writeIOGralStats() {
  put(kSeparator);
  put(text("OMBIOGRALSTATS"));
  put(String("\t") + num(OsFile::nReads()) + " reads, " + num(OsFile::nWrites()) + " writes");
}

void ProfileFile::writeCacheStats() {
  put("\n");
  put(kSeparator);
  put(text("CACHESTATS"));
  int64_t const tries = BlockedFile::nTries(), hits = BlockedFile::nHits();
  put(String("\t") + num(tries) + " tries, " + num(hits) + " hits" + ",ratio:->" + ratio(hits, tries) + " %\n");
  for (SvSchema* s = SvSchema::first(); s != nullptr; s = s->next()) {
    String line = String("Schema: ") + s->name() + "\t";
    int64_t sHits = 0, sTries = 0;
    for (auto& st : s->getSObjs()) {
      int32_t const kind = int32_t(st->statType());
      if (kind == kStatHits) {
        line += String("nhits = ") + num(st->nTimes()) + "\t";
        sHits += st->nTimes();
      } else if (kind == kStatTries) {
        line += String("ntries: ") + num(st->nTimes()) + "\t";
        sTries += st->nTimes();
      }
    }
    line += String("ratio: ") + ratio(sHits, sTries) + " %\n";
    put(line);
    for (auto& st : s->getSObjs()) {
      int32_t const kind = int32_t(st->statType());
      if (kind == kStatHits || kind == kStatTries) st->resetNTimes();
    }
  }
}

void ProfileFile::writeIOJrnlStats(int64_t flushes, int64_t timeFlushes) {
  put("\n");
  put(kSeparator);
  put(text("JRNLSTATS"));
  put("\n\n");
  put(String("\t") + num(flushes) + " flush, " + num(timeFlushes) + " time flush\n");
}

void ProfileFile::writeSections(int64_t flushes, int64_t timeFlushes) {
  std::vector<GServObj*> objects;
  int32_t const n = GServObj::nObjects();
  for (uint32_t slot = 0; int32_t(objects.size()) < n && slot < (1u << 24); ++slot) {
    uint32_t const id = GServObj::idOf(slot);
    if (GServObj::validObject(id)) objects.push_back(GServObj::object(id));
  }
  writeMethStats(objects);
  writeIOGralStats();
  writeCacheStats();
  writeIOJrnlStats(flushes, timeFlushes);
}
