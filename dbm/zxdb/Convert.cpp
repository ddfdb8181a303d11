// Copying records between two definitions of a table, and converting a
// table to a new definition.
//
// A conversion first checks the fields (the message function may stop it),
// then takes one of two roads:
//  - same fields and the same primary index (and no further unique index
//    that is new or changed): the old table keeps its data
//    file and takes the new definition; each index that differs is marked
//    for rebuilding in its file before the descriptor is written, then
//    rebuilt. A kill at any point leaves marked indexes, which the next
//    process rebuilds from the records under whichever definition the
//    descriptor holds.
//  - otherwise: the records are copied into the new table's files (a
//    primary key that clashes stops the conversion with the old table
//    untouched), its indexes built and its files forced to disk. Then one
//    journal "<schema>.cnv" is written, synced, holding the new descriptor
//    image and the file renames and removals that put the new files in
//    place of the old ones; it is the moment the conversion counts as done.
//    The journal is carried out (renames that are done already are skipped)
//    and removed. A process that opens the schema finishes a complete
//    journal and discards an incomplete one.
//  Renaming a table and dropping an index that moves others' files use the
//  same journal (zxdb::journalledChange).
//  The generated files of a temporary new table are listed beforehand in
//  "<schema>.cvs": a kill before the journal is complete leaves them to be
//  removed at the next open.
//
// Journal layout (little-endian): u32 image length, the image, then the
// operations as text lines "R <from> <to>" (rename), "U <file>" (remove)
// and "M <file>" (an index file marked for rebuilding, made when missing),
// file names "<name>.<ext>" in the schema directory; then the
// trailer: u32 length of everything before it, "CNV1".
#include "Descriptor.h"
#include "Design.h"
#include "VFile.h"

#include <dbm/DbInterface.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>
#include <zeph/Records.h>

#include <zfound/Expr.h>
#include <zfound/FileOps.h>
#include <zfound/Format.h>
#include <zfound/InCheck.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/Portable.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kJournalExt[] = "cnv";
constexpr char kStageExt[] = "cvs";
constexpr char kJournalMark[] = "CNV1";

s_table* tableOf(int32_t handle) { return dbTableSlot(handle) ? _GetTabPtr(handle & 0xffff00) : nullptr; }

bool sameText(char const* a, char const* b) { return (!a && !b) || (a && b && std::strcmp(a, b) == 0); }

std::string schemaPath(s_schema* sp, std::string const& file) {
  return std::string(sp->dir) + sp->d.name + "/" + file;
}

// A file name of a journal line: "<name>.<ext>" without '/'.
bool journalName(std::string const& f) {
  return !f.empty() && f.size() <= 16 && f.find('/') == std::string::npos && f != "." && f != "..";
}

// Writes `bytes` as the whole file <schema>.<ext>, synced.
bool writeWhole(s_schema* sp, char const* ext, std::vector<uint8_t> const& bytes) {
  s_vfile* vf = _DbOpen(sp, sp->d.name, ext, O_WRONLY | O_CREAT | O_TRUNC);
  if (!vf) return false;
  bool ok = _DbWrite(vf, bytes.data(), int32_t(bytes.size()), 0) == 0 && zxdb::truncateFile(vf, int64_t(bytes.size())) &&
            zxdb::syncFile(vf);
  _DbClose(vf);
  return ok;
}

// The journal of a change: the descriptor image of what the process now
// holds, then `ops`; written and synced, then carried out and removed.
std::vector<uint8_t> journalOf(std::vector<uint8_t> const& image, std::string const& ops) {
  std::vector<uint8_t> journal;
  journal.reserve(4 + image.size() + ops.size() + 8);
  uint8_t head[4];
  stLe32(uint32_t(image.size()), head);
  journal.insert(journal.end(), head, head + 4);
  journal.insert(journal.end(), image.begin(), image.end());
  journal.insert(journal.end(), ops.begin(), ops.end());
  uint8_t trailer[8];
  stLe32(uint32_t(journal.size()), trailer);
  std::memcpy(trailer + 4, kJournalMark, 4);
  journal.insert(journal.end(), trailer, trailer + 8);
  return journal;
}

bool readWhole(std::string const& path, std::vector<uint8_t>& out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  out.clear();
  uint8_t buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    out.insert(out.end(), buf, buf + n);
    if (out.size() > size_t(zxdb::kMaxDescriptor) * 2) break;
  }
  std::fclose(f);
  return out.size() <= size_t(zxdb::kMaxDescriptor) * 2;
}

struct JournalOp {
  enum Kind { Rename, Remove, Mark } kind;
  std::string from, to;
};

// The operations of a journal's text; false when a line is not one.
bool parseOps(std::string const& text, std::vector<JournalOp>& out) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream l(line);
    std::string op, a, b, rest;
    l >> op >> a >> b >> rest;
    if (op == "R" && journalName(a) && journalName(b) && rest.empty()) out.push_back({JournalOp::Rename, a, b});
    else if (op == "U" && journalName(a) && b.empty()) out.push_back({JournalOp::Remove, a, ""});
    else if (op == "M" && journalName(a) && b.empty()) out.push_back({JournalOp::Mark, a, ""});
    else return false;
  }
  return true;
}

// Carries out the operations of a journal (a rename whose source is gone
// was done before) and writes its image: false when a step failed.
bool applyJournal(s_schema* sp, std::vector<uint8_t> const& image, std::vector<JournalOp> const& ops) {
  for (JournalOp const& op : ops) {
    std::string from = schemaPath(sp, op.from);
    if (op.kind == JournalOp::Rename) {
      struct stat st{};
      if (stat(from.c_str(), &st) == 0 && fileOps().rename(from.c_str(), schemaPath(sp, op.to).c_str()) != 0)
        return false;
    } else if (op.kind == JournalOp::Remove) {
      fileOps().unlink(from.c_str());
    } else {
      size_t dot = op.from.rfind('.');
      if (dot == std::string::npos ||
          !zxdb::markIndexForRebuild(sp, op.from.substr(0, dot).c_str(), op.from.substr(dot + 1).c_str()))
        return false;
    }
  }
  // The names stay put before the descriptor names the new definition.
  if (!syncDirectory(schemaPath(sp, "").c_str())) return false;
  return zxdb::rewriteImage(sp, image);
}

void removeStaged(s_schema* sp) {
  std::vector<uint8_t> list;
  std::string path = schemaPath(sp, std::string(sp->d.name) + "." + kStageExt);
  if (!readWhole(path, list)) return;
  std::istringstream in(std::string(list.begin(), list.end()));
  std::string f;
  while (in >> f)
    if (journalName(f)) fileOps().unlink(schemaPath(sp, f).c_str());
  fileOps().unlink(path.c_str());
}

std::string fileOf(char const* name, char const* ext) { return std::string(name) + "." + ext; }

std::string indexExt(int32_t i) {
  char ext[8];
  zfSnprintf(ext, sizeof ext, "i%02d", int(i));
  return ext;
}

// The file of index i of t as it is named now.
std::string indexFile(s_table const* t, int32_t i) {
  if (char const* own = zxdb::tempIndexName(t, i)) return fileOf(own, zxdb::kTempIndexExt);
  return fileOf(t->d.name, indexExt(i).c_str());
}

std::string dataFile(s_table const* t) {
  auto const& design = t->schema->u.zx->design;
  auto it = design.find(t);
  if (it != design.end() && !it->second.dataName.empty()) return fileOf(it->second.dataName.c_str(), "tab");
  return fileOf(t->d.name, "tab");
}

// Copies the fields of the source record buffer into the destination's
// through the equivalence. Numbers given more decimals keep their value.
void copyFields(int32_t dh, s_table* dt, int32_t sh, s_table* st, uint32_t const* eq) {
  char text[1024];
  for (int32_t i = 0; i < st->d.nfields; ++i) {
    uint32_t w = eq[i];
    if (w & 0x20000000u) continue;
    int32_t dn = int32_t(w & 0xff);
    if (dn < 1 || dn > dt->d.nfields) continue;
    s_field const& sf = st->fields[i];
    s_field const& df = dt->fields[dn - 1];
    int32_t sfh = (sh & 0xffff00) | (i + 1), dfh = (dh & 0xffff00) | dn;
    int32_t n = std::min<int32_t>(sf.d.dim ? sf.d.dim : 1, df.d.dim ? df.d.dim : 1);
    bool scaled = sf.d.type == 0 && df.d.type == 0 && df.d.dec > sf.d.dec &&
                  (sf.d.f_itype == DB_IT_BYTE || sf.d.f_itype == DB_IT_SHORT || sf.d.f_itype == DB_IT_LONG ||
                   sf.d.f_itype == DB_IT_NUM);
    for (int32_t e = 0; e < n; ++e) {
      if (GetFld(sfh, e, text, sizeof text - 300) != 0 || !text[0]) continue;
      if (scaled && !std::strchr(text, '.') && !std::strchr(text, 'e') && !std::strchr(text, 'E'))
        for (int32_t k = sf.d.dec; k < df.d.dec; ++k) std::strcat(text, "0");
      SFld(dfh, e, text);
    }
  }
}

bool hasStamps(s_table const* t) {
  for (int32_t i = 0; i < t->d.nfields; ++i)
    if (t->fields[i].d.flags & 0x1c0) return true;
  return false;
}

// 1 same index with the same node size, 2 only the node size differs, 0
// different.
int32_t eqIndexes(s_index const& a, s_index const& b) {
  if (!sameText(a.d.name, b.d.name) || a.d.flags != b.d.flags || a.d.klen != b.d.klen || a.d.nparts != b.d.nparts)
    return 0;
  for (int32_t k = 0; k < a.d.nparts; ++k) {
    s_index_field const& p = a.parts[k];
    s_index_field const& q = b.parts[k];
    if (p.itype != q.itype || p.flags != q.flags || p.len != q.len || p.offset != q.offset) return 0;
  }
  return a.d.node == b.d.node ? 1 : 2;
}

void quietConversion(char const*, char const*) {}

// Says `key` with the table and field to the message function: true when
// it answers that the conversion stops.
bool stopAt(DbConvMessage message, char const* key, char const* table, char const* field) {
  if (!message) return false;
  char text[512];
  zfSnprintf(text, sizeof text, __DbErrmsg(key), table, field ? field : "");
  return message(text) != 0;
}

void tell(DbConvProgress progress, char const* key, char const* a, char const* b) {
  if (!progress) return;
  char text[512];
  zfSnprintf(text, sizeof text, __DbErrmsg(key), a ? a : "", b ? b : "");
  progress(text);
}

bool markForRebuild(s_schema* sp, std::string const& name, std::string const& ext) {
  return zxdb::markIndexForRebuild(sp, name.c_str(), ext.c_str());
}

void closeIndexFiles(s_table* t) {
  for (int32_t i = 0; i < t->nindexes; ++i) {
    if (t->indexes[i].file) _DbClose(t->indexes[i].file);
    t->indexes[i].file = nullptr;
  }
}

// Same fields, same primary index: the old table takes the new definition
// and rebuilds the indexes that differ.
int32_t swapDefinitions(s_schema* sp, int32_t oh, s_table* ot, int32_t nh, s_table* nt, DbConvProgress progress,
                        int32_t indexkb) {
  bool stored = !(ot->d.flags & 1);
  FlushTable(oh);
  FlushTable(nh);
  std::vector<int32_t> rebuild;
  for (int32_t i = 0; i < nt->nindexes; ++i)
    if (nt->indexes[i].d.nparts && (i >= ot->nindexes || eqIndexes(ot->indexes[i], nt->indexes[i]) != 1))
      rebuild.push_back(i);
  for (int32_t i = 0; i < ot->nindexes; ++i)
    if (ot->indexes[i].d.nparts) EmptyIndex(oh | i);
  for (int32_t i = 0; i < nt->nindexes; ++i)
    if (nt->indexes[i].d.nparts) EmptyIndex(nh | i);
  closeIndexFiles(ot);
  closeIndexFiles(nt);
  if (stored)
    for (int32_t i : rebuild)
      if (!markForRebuild(sp, ot->d.name, indexExt(i))) return -1;
  // The new table's own index files go with it; the old table's stay.
  if (!(nt->d.flags & 1))
    for (int32_t i = 0; i < nt->nindexes; ++i) _DbUnlink(sp, nt->d.name, indexExt(i).c_str());
  int32_t oldCount = ot->nindexes;
  int32_t oslot = dbTableSlot(oh), nslot = dbTableSlot(nh);
  std::swap(ot->fields, nt->fields);
  std::swap(ot->d.nfields, nt->d.nfields);
  std::swap(ot->indexes, nt->indexes);
  std::swap(ot->nindexes, nt->nindexes);
  std::swap(ot->d.nindex, nt->d.nindex);
  auto& od = sp->u.zx->design[ot];
  auto& nd = sp->u.zx->design[nt];
  std::swap(od.capacity, nd.capacity);
  od.tempIndex.clear();
  nd.tempIndex.clear();
  auto retarget = [](s_table* t, int32_t slot, bool temp) {
    for (int32_t i = 0; i < t->nindexes; ++i) {
      s_index& ix = t->indexes[i];
      ix.d.flags = uint16_t(temp ? (ix.d.flags | 2) : (ix.d.flags & ~2));
      for (int32_t k = 0; k < ix.d.nparts; ++k)
        ix.parts[k].field = int32_t((uint32_t(ix.parts[k].field) & ~uint32_t(0xff00)) | (uint32_t(slot) << 8));
    }
  };
  retarget(ot, oslot, !stored);
  retarget(nt, nslot, false);
  if (!stored)
    for (int32_t i : rebuild) {
      std::string name = zxdb::makeTempName(sp, "i", zxdb::kTempIndexExt);
      if (name.empty()) return -1;
      od.tempIndex[i] = name;
    }
  int32_t n = 0;
  for (int32_t i = 0; i < ot->nindexes; ++i) n += ot->indexes[i].d.nparts && !(ot->indexes[i].d.flags & 2);
  ot->d.nindex = uint8_t(std::min(n, 255));
  if (stored) {
    sp->rewrite = 1;
    if (_WriteSchema(sp->handle) != 0) return -1;
    for (int32_t i = ot->nindexes; i < oldCount; ++i) _DbUnlink(sp, ot->d.name, indexExt(i).c_str());
  }
  int32_t rc = 0;
  for (int32_t i : rebuild) {
    tell(progress, "IO_BUILD_INDEX", ot->indexes[i].d.name ? ot->indexes[i].d.name : "", ot->d.name);
    if (indexkb > 0) SetIndexCache(oh | i, indexkb);
    if (BuildIndex(oh | i, 128) < 0) rc = -1;
  }
  // The new table now holds the old definition over its own files.
  nt->d.flags = uint16_t(nt->d.flags & ~4);
  if (DeleteTable(nh) != 0) rc = -1;
  FlushTable(oh);
  return rc;
}

// Copies the records into the new table and puts its files in the old
// table's place.
int32_t copyAndReplace(s_schema* sp, int32_t oh, s_table* ot, int32_t nh, s_table* nt, uint32_t const* eq,
                       int32_t ignore, DbConvMessage message, DbConvProgress progress, int32_t indexkb,
                       int32_t datakb, int32_t correctrefs) {
  bool stored = !(ot->d.flags & 1);
  bool newTemp = nt->d.flags & 1;
  // The new table's generated files are listed first, so that a kill
  // leaves none behind; a stored new table is in the descriptor first.
  if (stored && newTemp) {
    std::string list = dataFile(nt) + "\n";
    for (int32_t i = 0; i < nt->nindexes; ++i)
      if (nt->indexes[i].d.nparts) list += indexFile(nt, i) + "\n";
    if (!writeWhole(sp, kStageExt, std::vector<uint8_t>(list.begin(), list.end()))) return -1;
  }
  if (stored && !newTemp && sp->rewrite && _WriteSchema(sp->handle) != 0) return -1;
  tell(progress, "IO_CONV_TABLE", ot->d.name, nullptr);
  auto fail = [&](int32_t rc) {
    SetDataCache(oh, 0, 0);
    SetDataCache(nh, 0, 0);
    zxdb::truncateTableFiles(nt);
    FreeTable(nh);
    return rc;
  };
  if (zxdb::truncateTableFiles(nt) != 0) return fail(-1);
  if (indexkb > 0 && nt->nindexes) SetIndexCache(nh, indexkb);
  if (datakb > 0) {
    SetDataCache(oh, datakb, 0x1000);
    SetDataCache(nh, datakb, 0x1000 | 1);
  }
  ZephConvHandler oldHandler = ignore ? _SetConvHandler(quietConversion) : nullptr;
  int32_t nindexes = nt->nindexes;
  nt->nindexes = std::min(nindexes, 1);
  bool stamps = hasStamps(nt) && (ProcUserId() == 0 || ProcUserId() == sp->owner);
  int32_t high = TabActualSize(oh);
  int32_t rc = 0;
  for (int32_t r = 1; r <= high && rc == 0; ++r) {
    if (GetRecord(oh, 0, 0, r) <= 0) continue;
    InitRecord(nh);
    copyFields(nh, nt, oh, ot, eq);
    int32_t added;
    if (stamps) {
      time_stamp c = CTimeStamp(oh), m = MTimeStamp(oh);
      added = AddRecordTS(nh, &c, &m);
    } else {
      added = AddRecord(nh);
    }
    if (added <= 0) {
      char which[16];
      zfSnprintf(which, sizeof which, "%d", int(r));
      if (message) {
        char text[512];
        zfSnprintf(text, sizeof text, __DbErrmsg("IO_EQ_DUP_KEY"), ot->d.name, int(r));
        message(text);
      }
      rc = -1;
    }
  }
  nt->nindexes = nindexes;
  if (ignore) _SetConvHandler(oldHandler);
  if (rc != 0) return fail(-1);
  for (int32_t i = 1; i < nt->nindexes; ++i) {
    if (!nt->indexes[i].d.nparts) continue;
    tell(progress, "IO_BUILD_INDEX", nt->indexes[i].d.name ? nt->indexes[i].d.name : "", ot->d.name);
    if (indexkb > 0) SetIndexCache(nh | i, indexkb);
    if (BuildIndex(nh | i, 128) < 0) return fail(-1);
  }
  SetDataCache(oh, 0, 0);
  SetDataCache(nh, 0, 0);
  if (!zxdb::syncTableFiles(nt)) return fail(-1);
  FlushTable(oh);
  FlushTable(nh);

  // The operations that put the new files in place of the old ones.
  std::string ops;
  if (stored) {
    ops += "R " + dataFile(nt) + " " + fileOf(ot->d.name, "tab") + "\n";
    for (int32_t i = 0; i < nt->nindexes; ++i)
      if (nt->indexes[i].d.nparts) ops += "R " + indexFile(nt, i) + " " + fileOf(ot->d.name, indexExt(i).c_str()) + "\n";
    for (int32_t i = nt->nindexes; i < ot->nindexes; ++i)
      if (!(ot->indexes[i].d.flags & 2)) ops += "U " + fileOf(ot->d.name, indexExt(i).c_str()) + "\n";
  }
  // Files closed; the old table's temporary files go now, its stored ones
  // through the journal.
  for (int32_t i = 0; i < ot->nindexes; ++i)
    if (ot->indexes[i].d.nparts) EmptyIndex(oh | i);
  closeIndexFiles(ot);
  closeIndexFiles(nt);
  _ForgetTableState(ot);
  _ForgetTableState(nt);
  if (ot->data) _DbClose(ot->data);
  if (nt->data) _DbClose(nt->data);
  ot->data = nt->data = nullptr;
  if (!stored) _DbUnlink(sp, dataFile(ot).substr(0, dataFile(ot).size() - 4).c_str(), "tab");

  // The new definition in the old table's slot, under its name.
  int32_t oslot = dbTableSlot(oh), nslot = dbTableSlot(nh);
  tab_array saved = sp->tables[oslot];
  sp->tables[oslot] = tab_array{};
  _ChangeTabSlot(sp, nslot, oslot);
  // What a failed commit puts back.
  auto savedNew = nt->d;
  zxdb::TableDesign savedDesign = sp->u.zx->design[nt];
  std::vector<uint16_t> savedIndexFlags;
  for (int32_t i = 0; i < nt->nindexes; ++i) savedIndexFlags.push_back(nt->indexes[i].d.flags);
  std::memcpy(nt->d.name, ot->d.name, sizeof nt->d.name);
  nt->d.privs = ot->d.privs;
  nt->d.nprivs = ot->d.nprivs;
  auto& nd = sp->u.zx->design[nt];
  if (stored) {
    nt->d.flags = uint16_t(nt->d.flags & ~1);
    for (int32_t i = 0; i < nt->nindexes; ++i) nt->indexes[i].d.flags = uint16_t(nt->indexes[i].d.flags & ~2);
    nd.dataName.clear();
    nd.tempIndex.clear();
    int32_t n = 0;
    for (int32_t i = 0; i < nt->nindexes; ++i) n += nt->indexes[i].d.nparts != 0;
    nt->d.nindex = uint8_t(std::min(n, 255));
    std::vector<uint8_t> image;
    if (!zxdb::writeDescriptor(sp, image)) {
      Error(__DbErrmsg("IO_SCHEMA_TOO_BIG"), sp->d.name);
      rc = -1;
    } else {
      if (!writeWhole(sp, kJournalExt, journalOf(image, ops))) {
        rc = -1;
      } else {
        // Done from here on: a journal that cannot be carried out now is
        // kept, and the next open finishes it.
        std::vector<JournalOp> parsed;
        if (parseOps(ops, parsed) && applyJournal(sp, image, parsed)) _DbUnlink(sp, sp->d.name, kJournalExt);
        else Error(__DbErrmsg("IO_CONV_PENDING"), ot->d.name, sp->d.name);
        sp->rewrite = 0;
      }
    }
    if (rc == 0) _DbUnlink(sp, sp->d.name, kStageExt);
    if (rc != 0) {
      // Nothing was put in place: the old table goes back to its slot.
      _ChangeTabSlot(sp, oslot, nslot);
      sp->tables[oslot] = saved;
      nt->d = savedNew;
      sp->u.zx->design[nt] = savedDesign;
      for (int32_t i = 0; i < nt->nindexes; ++i) nt->indexes[i].d.flags = savedIndexFlags[size_t(i)];
      _DbUnlink(sp, sp->d.name, kJournalExt);
      _DbUnlink(sp, sp->d.name, kStageExt);
      ot->data = _DbOpen(sp, ot->d.name, "tab", O_RDWR | O_CREAT | 0x1000);
      nt->data = _DbOpen(sp, dataFile(nt).substr(0, dataFile(nt).size() - 4).c_str(), "tab",
                         O_RDWR | O_CREAT | 0x1000);
      return -1;
    }
  }
  std::string dname = dataFile(nt);
  nt->data = _DbOpen(sp, dname.substr(0, dname.size() - 4).c_str(), "tab", O_RDWR | O_CREAT | 0x1000);
  nt->privg = _FindUserPrivg(nt);
  // The old table's memory.
  delete ot->check;
  for (int32_t i = 0; i < ot->d.nfields; ++i) {
    delete ot->fields[i].deflt;
    delete ot->fields[i].check;
    delete ot->fields[i].incheck;
  }
  def_Free(saved.buffer, __FILE__, __LINE__);
  sp->u.zx->design.erase(ot);
  if (correctrefs) _CorrectRefs(sp, nslot, oslot);
  return 0;
}

}  // namespace

namespace zxdb {

bool markIndexForRebuild(s_schema* sp, char const* name, char const* ext) {
  s_vfile* vf = _DbOpen(sp, name, ext, O_RDWR | O_CREAT);
  if (!vf) return false;
  uint8_t mark[4];
  stlong(-1, mark);
  bool ok = _DbWrite(vf, mark, 4, 4) == 0 && zxdb::syncFile(vf);
  _DbClose(vf);
  return ok;
}

int32_t journalledChange(s_schema* sp, std::string const& ops) {
  std::vector<uint8_t> image;
  if (!zxdb::writeDescriptor(sp, image)) {
    Error(__DbErrmsg("IO_SCHEMA_TOO_BIG"), sp->d.name);
    return -1;
  }
  if (!writeWhole(sp, kJournalExt, journalOf(image, ops))) {
    _DbUnlink(sp, sp->d.name, kJournalExt);
    return -1;
  }
  std::vector<JournalOp> parsed;
  if (parseOps(ops, parsed) && applyJournal(sp, image, parsed)) _DbUnlink(sp, sp->d.name, kJournalExt);
  sp->rewrite = 0;
  return 0;
}

void settleConversion(s_schema* sp) {
  std::vector<uint8_t> j;
  std::string path = schemaPath(sp, std::string(sp->d.name) + "." + kJournalExt);
  if (readWhole(path, j)) {
    bool complete = j.size() >= 12 && std::memcmp(&j[j.size() - 4], kJournalMark, 4) == 0 &&
                    ldLe32(&j[j.size() - 8]) == j.size() - 8;
    if (complete) {
      uint32_t ilen = ldLe32(j.data());
      // The image must at least be a descriptor of this schema.
      if (uint64_t(ilen) + 4 <= j.size() - 8 && ilen >= uint32_t(zxdb::kHeaderSize) &&
          ldLe16(&j[4]) == zxdb::kMagic && std::strncmp(reinterpret_cast<char const*>(&j[4 + 34]), sp->d.name, 10) == 0) {
        std::vector<uint8_t> image(j.begin() + 4, j.begin() + 4 + ilen);
        std::string ops(j.begin() + 4 + ilen, j.end() - 8);
        std::vector<JournalOp> parsed;
        // A damaged journal is dropped; one that could not be carried out
        // is kept for the next open.
        if (parseOps(ops, parsed) && !applyJournal(sp, image, parsed)) return;
      }
    }
    fileOps().unlink(path.c_str());
  }
  removeStaged(sp);
}

}  // namespace zxdb

extern "C" {

int32_t CopyTable(int32_t destination, int32_t source, uint32_t const* equivalence, int32_t flags) {
  s_table* dt = tableOf(destination);
  s_table* st = tableOf(source);
  if (!dt || !st || !equivalence || dt == st) return -1;
  int32_t dh = destination & 0xffff00, sh = source & 0xffff00;
  if ((flags & 1) && DelAllRecords(dh) != 0) return -1;
  bool stamps = (flags & 1) && hasStamps(dt);
  int32_t high = TabActualSize(sh);
  int32_t copied = 0;
  for (int32_t r = 1; r <= high; ++r) {
    if (GetRecord(sh, 0, 0, r) <= 0) continue;
    InitRecord(dh);
    copyFields(dh, dt, sh, st, equivalence);
    int32_t n;
    if (stamps) {
      time_stamp c = CTimeStamp(sh), m = MTimeStamp(sh);
      n = AddRecordTS(dh, &c, &m);
    } else {
      n = PutRecord(dh);
    }
    if (n > 0) ++copied;
  }
  FlushTable(dh);
  return copied;
}

int32_t ConvertTable(int32_t oldTable, int32_t newTable, int32_t ignore, int32_t, DbConvMessage message,
                     DbConvProgress progress, int32_t indexkilobytes, int32_t datakilobytes, int32_t correctrefs) {
  s_table* ot = tableOf(oldTable);
  s_table* nt = tableOf(newTable);
  if (!ot || !nt || ot == nt || ot->schema != nt->schema || !nt->d.nfields) return -1;
  s_schema* sp = ot->schema;
  int32_t oh = oldTable & 0xffff00, nh = newTable & 0xffff00;
  if (!(ot->d.flags & 1)) {
    if (sp->privg < DB_SCH_DESIGN) {
      _io_errno_ = 1;
      return -1;
    }
    if (!sp->u.zx->designLoaded) {
      Error(__DbErrmsg("(17)"), "ConvertTable", sp->d.name);
      _io_errno_ = 17;
      return -1;
    }
    int32_t r = LockSchema(sp->handle, 3);
    if (r != 0) return r == -2 ? -2 : -1;
  }
  uint32_t* eq = GetTabEquiv(nh, oh);
  if (!eq) return -1;
  struct Freer {
    uint32_t* p;
    ~Freer() { def_Free(p, __FILE__, __LINE__); }
  } freer{eq};
  bool identical = ot->d.nfields == nt->d.nfields;
  for (int32_t i = 0; i < ot->d.nfields; ++i) {
    s_field const& of = ot->fields[i];
    uint32_t w = eq[i];
    bool same = (w & 0x1000000u) != 0;
    s_field const* nf = (w & 0x20000000u) ? nullptr : &nt->fields[(w & 0xff) - 1];
    bool maskDiffers = nf && !sameText(of.d.mask, nf->d.mask);
    if (!same || maskDiffers) identical = false;
    if (same && !maskDiffers) continue;
    if (ignore) continue;
    char const* key = (w & 0x20000000u)   ? "IO_EQ_NO_FIELD"
                      : (w & 0x40000000u) ? "IO_EQ_BAD_TYPE"
                      : (w & 0x8000000u)  ? "IO_EQ_LESS_LEN"
                      : (w & 0x10000000u) ? "IO_EQ_LESS_NDEC"
                      : (w & 0x2000000u)  ? "IO_EQ_LESS_DIM"
                      : maskDiffers       ? "IO_EQ_DIFF_MASK"
                      : (w & 0x80000000u) ? "IO_EQ_NOT_NULL"
                                          : nullptr;
    if (key && stopAt(message, key, ot->d.name, of.d.name)) return -1;
  }
  if (!ignore)
    for (int32_t j = 0; j < nt->d.nfields; ++j) {
      s_field const& nf = nt->fields[j];
      if (FindDbField(oh, nf.d.name) >= 0) continue;
      if ((nf.d.flags & 1) && !nf.d.deflt.data && stopAt(message, "IO_EQ_NOT_NULL", ot->d.name, nf.d.name))
        return -1;
    }
  // A further unique index that is new or changed may meet keys the
  // records share; only the copying road finds that before the old table
  // is touched.
  for (int32_t i = 1; identical && i < nt->nindexes; ++i)
    if (nt->indexes[i].d.nparts && (nt->indexes[i].d.flags & 1) &&
        (i >= ot->nindexes || eqIndexes(ot->indexes[i], nt->indexes[i]) == 0))
      identical = false;
  if (identical && ot->nindexes > 0 && nt->nindexes > 0 && ot->indexes[0].d.nparts && nt->indexes[0].d.nparts &&
      eqIndexes(ot->indexes[0], nt->indexes[0]) != 0) {
    int32_t rc = swapDefinitions(sp, oh, ot, nh, nt, progress, indexkilobytes);
    if (rc == 0 && correctrefs) _CorrectRefs(sp, dbTableSlot(nh), dbTableSlot(oh));
    return rc;
  }
  return copyAndReplace(sp, oh, ot, nh, nt, eq, ignore, message, progress, indexkilobytes, datakilobytes,
                        correctrefs);
}

}  // extern "C"
