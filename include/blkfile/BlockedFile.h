// BlockedFile: the server's paged record file.
//
// Fixed-length record slots, numbered from 1, packed into blocks that are
// read and written only through the shared page cache (CacheBuffer). Two
// copies of a 1012-byte header lie at the front, one per checkpoint parity,
// so the copy of the last completed checkpoint is never overwritten while
// the server runs. Two free lists swap roles at every checkpoint, so a freed
// record is reused only after the next one. Up to 122 retained versions keep
// a header snapshot each in a page of their own.
//
// File format (every long 4 bytes, most significant first). Copy k of the
// header starts at byte k x page size:
//
//   offset size content
//   0      4    last              highest record number ever allocated
//   4      4    free head A       list A, chained through LINK1
//   8      4    free head B       list B, chained through LINK2
//   12     4    nReg              records in use
//   16     4    rBegin            first record of a stored index root
//   20     1    level             2 right after a change, else 0
//   21     1    rDepth            a stored 0 reads back as 2
//   22     2    rSlots            big-endian
//   24     976  122 x {chain head (4), header-page record (4)}
//   1000   4    lastRecId
//   1004   8    lastMod           TimeStamp stored form
//
// A version header page holds the short form (1004 bytes) right after the
// record prefix of the page's first record: bytes 0-23 as above, 120 entries
// at 24-983, bytes 984-987 zero, lastMod at 988-995, bytes 996-999 zero,
// lastRecId at 1000-1003. It lies as the file's bytes do from the slot's
// first byte: through the block's pages (an unused block tail included) and
// past the block's end into the next block, which the reservation covers.
//
// Data area: block 0 starts at 2 x page size for a packed layout, else at
// 2 x bsize; block b at that offset + b x bsize. Record n lies in block
// (n-1)/slotsPerBlock at ((n-1) mod slotsPerBlock) x slot length. Each
// record's prefix starts with LINK1 (0-3), LINK2 (4-7) and the record's
// modification stamp (8-15).
//
// State machine of one file:
//   Closed --open--> Open(mlevel from the header read)
//   Open --add/del/markModified--> Open(mlevel 3, on the modified list)
//   Open --writeHeader(advance)--> mlevel-1; at 0 the file leaves the list
//   Open --destructor/close--> pages written back and dropped, off the list
//
// Invariants:
//  - mFree is list A at parity 0 and list B at parity 1; oFree the other;
//  - the micro cache holds only pages of this file currently in the cache;
//  - inModList_ is true exactly while the file is on modList_;
//  - every record number handed to get/fill/mark/del is checked against
//    1..last before use; a bad one is refused with an error;
//  - a free list is walked once per checkpoint interval before add takes
//    from it; a list with a link outside 1..last or a cycle is reported and
//    dropped, and allocation goes on past last.
#pragma once

#include <zfound/OsFile.h>
#include <zfound/String.h>
#include <zfound/TimeStamp.h>

#include <cstdint>

class BoolArray;
class CacheBuffer;

class BlockedFile : public OsFile {
public:
  static constexpr int32_t kNVersions = 122;    // version entries of the full header
  static constexpr int32_t kNShortVersions = 120;  // entries kept by a version page
  static constexpr int32_t kHeaderLength = 1012;   // full stored header
  static constexpr int32_t kShortHeaderLength = 1004;  // version-page form

  // One version entry: the head of the chain of preserved records and the
  // record number of the version's header page.
  struct Version {
    int32_t chain = 0;
    int32_t header = 0;
  };

  // The live header (see the byte table above).
  struct Header {
    int32_t last = 0;
    int32_t freeA = 0;
    int32_t freeB = 0;
    int32_t nReg = 0;
    int32_t rBegin = 0;
    uint8_t mlevel = 0;
    uint8_t rDepth = 2;
    uint16_t rSlots = 0;
    Version vers[kNVersions];
    int32_t lastRecId = 15;
    TimeStamp lastMod;
  };

  // A closed file: zero geometry, empty micro cache, off the modified list,
  // header marked written.
  BlockedFile();
  // Writes back and drops every cached page, leaves the modified list,
  // closes.
  ~BlockedFile() override;

  // ---- virtual operations (slot order) ----
  // The OsFile sync of the file; true on success.
  bool syncCache() override;
  using OsFile::flush;
  // Allocates a record: from mFree, else past `last`. p points at its slot;
  // returns the pinned page when lock is set, else null; null with p null
  // and an error recorded on failure.
  virtual CacheBuffer* add(char*& p, int32_t& recno, bool lock);
  // Bytes of per-record prefix kept by the subclass (0 here).
  virtual int32_t prefixSize() const;
  // Called by del on the page of a record unchanged since the last
  // checkpoint (nothing here).
  virtual void reRead(CacheBuffer* cb);

  // Opens (creating) the file placed by the server's disk layout under
  // `name` (file name `fileName`, or name when null), reads the header of
  // `parity` (-1: the last completed checkpoint's) and sets the record
  // length. False, with nothing written, when the file or its header cannot
  // be read.
  bool open(String const& name, String const& fileName, String const& ext, int32_t recLength, int32_t parity);

  // ---- header ----
  // Reads the header copy of parity (-1: 1 - currCP). A copy that reads
  // short or all zero gives a fresh header (and the file goes on the
  // modified list); false on a read error or a copy whose counts no file
  // can hold (live header unchanged).
  bool readHeaders(int32_t parity);
  // A fresh header: all zero, rDepth 2, lastRecId 15; marks modified.
  void clearHeader();
  // Decodes a full stored header.
  static Header getHeader(char const* buf);
  // Encodes h into buf at level `level` (full form, 1012 bytes, or version
  // form, 1004 bytes).
  static void storeHeader(Header const* h, unsigned char level, bool versionForm, char* buf);
  // Writes the current-parity copy once per interval; with advance steps
  // mlevel down and leaves the list at 0. False when the write failed.
  bool writeHeader(bool advance);
  // writeHeader for every listed file whose lastMod is not later than
  // limit (every file for the null stamp; advance exactly then); the count.
  static int32_t writeAllHeaders(TimeStamp const& limit);

  // ---- geometry ----
  void setRecLength(int32_t recordLength);
  int32_t recordLength() const { return slot_; }
  int32_t length() const { return slot_ ? slot_ - prefixSize() : 0; }
  int32_t blockLength() const { return bsize(); }
  int32_t slotsPerBlock() const { return slotsPerBlock_; }
  int64_t blockToOffset(int32_t block) const { return dataOffset() + int64_t(block) * bsize(); }
  int64_t dataOffset() const;
  bool isPacked() const { return OsFile::isPacked(); }

  // ---- records ----
  // Frees recno onto oFree or its retained version's chain. False (error
  // recorded) for a number outside 1..last.
  bool del(int32_t recno);
  // Reserves a fresh block's worth of slots for a version header page.
  CacheBuffer* addPage(char*& p, int32_t& recno, bool lock);
  // Points p at recno's slot in the cache; pins and returns the page when
  // lock is set. Null p (error recorded) for a number outside 1..last.
  CacheBuffer* get(char*& p, int32_t recno, bool lock);
  // The whole record (staged when the slot is longer than a page); null
  // for a bad number.
  char* get(int32_t recno);
  // Copies the whole slot into dest; false for a bad number.
  bool fill(char* dest, int32_t recno);
  // Copies bytes from onward of image r back into the cached slot at cp.
  void flush(char* r, CacheBuffer* cbuff, char* cp, int32_t from);
  // Marks recno's page modified when cached; false for a bad number.
  bool mark(int32_t recno);
  // writeHeader(false), then writes back (and with release drops) the
  // file's pages; false when a write failed.
  bool flush(bool release);

  // ---- versions ----
  // Starts version v (-1: the server's current one); false without one.
  bool newVers(int32_t v);
  Version& version(int32_t n);
  uint8_t rDepth(int32_t v);
  int32_t rBegin(int32_t v);
  uint16_t rSlots(int32_t v);
  // The chain head of version `which` as the header page saved for version
  // `saved` recorded it; -1 when either is out of range (the page keeps
  // 120 entries) or the page cannot be read.
  int32_t versionChain(int32_t saved, int32_t which);
  // Records reserved for a version header page.
  int32_t sizeOfVersionHeader() const;

  // ---- modified list ----
  void addToModList();
  void delFromModList();
  void markModified();
  bool inModList() const { return inModList_; }

  // Hands every physical part to the server's deferred-removal list.
  void unlink(String const& schemaName);
  // Reopens under a new physical file name.
  bool chgPhName(String const& fileName);

  // ---- checks and dumps ----
  bool verify(bool check);
  // Walks both free lists marking each record in `seen`; the first record
  // that is out of range, already marked (a live record, or a cycle) or
  // unreadable, or 0.
  int32_t verifyFree(BoolArray* seen);
  // Marks record n (>= 1) in `marks`, which grows as record numbers come
  // (doubling, at least to n + 1), so its size follows the records met and
  // not a header's claim; false when n was marked already.
  static bool markRecord(BoolArray& marks, int32_t n);
  void printNRecs();
  void printMFree();
  void printOFree();
  void dumpContents(bool withCreation, int32_t from, int32_t to);

  // ---- accessors ----
  int32_t& last() { return hdr_.last; }
  int32_t& nReg() { return hdr_.nReg; }
  int32_t& lastRecId() { return hdr_.lastRecId; }
  TimeStamp const& lastMod() const { return hdr_.lastMod; }
  int32_t& mFree();
  int32_t& oFree();
  uint8_t& rDepth() { return hdr_.rDepth; }
  int32_t& rBegin() { return hdr_.rBegin; }
  uint16_t& rSlots() { return hdr_.rSlots; }
  Header const& header() const { return hdr_; }
  uint8_t mlevel() const { return hdr_.mlevel; }
  void clearMicroCache();
  void rotateMicroCache();
  static int64_t nTries() { return ntries; }
  static int64_t nHits() { return nhits; }
  int64_t nObjTries() const { return objTries_; }
  int64_t nObjHits() const { return objHits_; }
  // Identity of the file in the page cache's keys, unique per object.
  uint32_t serial() const { return serial_; }
  void close();
  void idStart() {}
  void idStop() {}
  void idCheck() const {}

  // Record lookups and lookups answered by a file's micro cache, summed
  // over all files.
  static int64_t ntries;
  static int64_t nhits;

  // The head of the modified-file list (null when empty).
  static BlockedFile* modList() { return modList_; }
  // The file's successor on the modified list.
  BlockedFile* nextModified() const { return nextMod_; }

private:
  friend class CacheBuffer;

  // Reads or writes len bytes at byte off from the start of recno's slot,
  // through the cache, crossing pages and blocks as the file lays them.
  bool putBytes(int32_t recno, int32_t off, char const* src, int32_t len);
  bool getBytes(int32_t recno, int32_t off, char* dst, int32_t len);
  bool moveBytes(int32_t recno, int32_t off, char* buf, int32_t len, bool write);
  // The page for recno, found or read; null when it cannot be had.
  CacheBuffer* page(int32_t recno, bool lock);
  // Checks recno against 1..last; records an error and warns when bad.
  bool checkRecno(int32_t recno, char const* op);
  // Checks a free-list link; a bad one is reported naming the file.
  bool checkLink(int32_t n, char const* list);
  // Walks a free list once, checking every link against 1..last and for a
  // cycle; a damaged list is reported naming the file. True when sound.
  bool checkList(int32_t head, bool listA, char const* list);
  // The link word that chains list A (LINK1 at 0) or B (LINK2 at 4).
  static int32_t linkOffset(bool listA) { return listA ? 0 : 4; }
  // Reads free record n's link of list A (B) into next; false when unreadable.
  bool freeLink(int32_t n, bool listA, int32_t& next);
  String qualName() const;

  int32_t slotsPerBlock_ = 0;
  CacheBuffer* micro_[3] = {nullptr, nullptr, nullptr};
  bool headerWritten_ = true;
  BlockedFile* nextMod_ = nullptr;
  bool inModList_ = false;
  int64_t objTries_ = 0;
  int64_t objHits_ = 0;
  Header hdr_;
  int32_t slot_ = 0;
  int32_t recLen_ = 0;  // record length as given to setRecLength
  // Lists A and B walked in the current checkpoint interval, and the
  // checkpoint stamp of that interval.
  bool listChecked_[2] = {false, false};
  TimeStamp listCheckedAt_;
  uint32_t serial_;

  static BlockedFile* modList_;
  static char* staging_;
  static int32_t stagingLen_;
  static uint32_t nextSerial_;
};
