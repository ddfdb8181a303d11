// Journal: the server's redo and undo log. Every change a client makes to a
// table, every transaction end, abort and two-phase vote, every schema
// creation and drop and every client connection and removal is appended as
// a record; checkpoints start a new file holding the clients, the active
// and the completed two-phase transactions. Recovery reads the files
// forwards from the checkpoint position; rollback reads one client's chain
// of records backwards.
//
// Stored form (every long 4 bytes, most significant first, on every host):
//   file   = prefix (80 bytes) then records back to back from offset 80
//   prefix =  0 magic 0x7F832BC1 | 4 reserved 0 | 8 closed flag (0 being
//             written, 1 closed) | 12 reserved 0 | 16 next file's base name
//             (32 bytes, NUL-terminated) | 48 previous file's base name (32)
//   record = header (8 longs: kind, body length or -1 while unfinished,
//            client id, transaction number, offset and total length of the
//            client's previous record, table word, record OID) then body.
//   String in a body = long length, then the bytes; TimeStamp = its 8-byte
//   stored form.
//
// State machine:
//   WRITING (initial; newFile, every store) --goBack--> READBACK
//   READBACK --store--> WRITING (the buffer end reset; writing resumes at
//     the end of the file)
//   any --restart/resetRestart--> RESTART (reading forwards from a file)
//   RESTART --store--> WRITING
//   RESTART | READBACK --resumeWriting--> WRITING at the end of the records
//     that forward reading met
//
// Files: each new file gets a name made by the foundation's temporary-name
// service ("rlog" followed by a number, created exclusively) in the journal
// directory. Every write goes through the durable-I/O seam (FileOps.h); a
// flush writes the buffered bytes and syncs the file, so a flushed record is
// on disk.
//
// Damage: nothing read from a file reaches an assertion. A record that runs
// past the end of a closed file, an unknown kind, a body item that runs past
// its record, a wrong magic: the reader answers kDamaged (or false) and
// damage() names file, offset and what is wrong. Only the file being written
// (closed flag 0) may end in a cut record, which ends reading there (-1).
//
// Invariants: the write base never passes kMaxOffset (a store that would is
// refused and the journal becomes unsound); an item longer than the buffer
// is written directly after a flush; a record is never split between the
// buffer and the file except for such items.
#pragma once

#include <svcatalog/TableEnv.h>
#include <zfound/ObjectId.h>
#include <zfound/String.h>
#include <zfound/TimeStamp.h>

#include <cstdint>
#include <vector>

class Client;
class SvTabRep;
class SvTable;

// The 80-byte prefix of a journal file, in memory.
struct JournalPrefix {
  uint32_t magic = 0;
  int32_t reserved1 = 0;
  int32_t closed = 1;
  int32_t reserved2 = 0;
  char next[32] = {};
  char prev[32] = {};
};

// One active transaction of an ACTIVETRANS record.
struct JournalTrans {
  int32_t clientId = -1;
  int32_t transNum = -1;
  int32_t lastOffset = -1;
  int32_t lastLength = -1;
  String leader;
  TimeStamp leaderStamp;
};

// The identity of a client as an ADDCLIENT record holds it.
struct JournalClient {
  int32_t id = -1;
  int32_t pid = 0;
  String path;
  String args;
  int32_t uid = 0;
  int32_t gid = 0;
  String node;
  String tty;

  // The identity a connected client gave at Connect, with its client id.
  static JournalClient of(Client const& c);
};

// How a table's data record is laid out, as the row bodies need it: the
// record length (prefix included), the prefix size, the primary key's parts
// (offset and stored length each; length 0 for a virtual field) and the
// stored fields (number, offset, stored length; virtual fields left out).
struct JournalRowLayout {
  struct Part {
    int32_t offset = 0;
    int32_t length = 0;
  };
  struct Field {
    int32_t number = 0;
    int32_t offset = 0;
    int32_t length = 0;
  };
  int32_t recordLength = 0;
  int32_t prefixSize = 0;
  std::vector<Part> keyParts;
  std::vector<Field> fields;

  // The layout of table t (its primary index, index 0, gives the key parts).
  static JournalRowLayout of(SvTable const* t);
};

class Journal : public svcatalog::TableJournal {
public:
  enum Kind : int32_t {
    ADD = 0,
    DEL = 1,
    UPDATE = 2,
    ENDTRANSACTION = 3,
    ABORTTRANSACTION = 4,
    ACTIVETRANS = 5,
    UPDATEPKEY = 6,
    READYTOEND = 7,
    COMPLETETRANS = 8,
    ADDSCHEMA = 9,
    DELSCHEMA = 10,
    ADDCLIENT = 11,
    DELCLIENT = 12
  };
  enum State : int32_t { WRITING = 0, READBACK = 1, RESTART = 2 };

  static constexpr uint32_t kMagic = 0x7F832BC1u;
  static constexpr int32_t kPrefixSize = 80;
  static constexpr int32_t kHeaderSize = 32;
  static constexpr int32_t kNameSize = 32;
  // Smallest buffer, in kilobytes.
  static constexpr int32_t kMinBuffKb = 32;
  // Offsets are 32-bit: no byte of a file lies beyond this.
  static constexpr int64_t kMaxOffset = 0x7FFFFFFF;
  // nextOp's answer for a damaged record (damage() tells what).
  static constexpr int32_t kDamaged = -2;
  // The table word of a table object id.
  static int32_t tableWord(ObjectId const& tableOid) {
    return int32_t((tableOid.classId() & 0xFFFFF000u) | (tableOid.instId() & 0x00000FFFu));
  }

  // A buffer of kb kilobytes (32768 bytes below kMinBuffKb); no file open.
  Journal(int32_t kb, String const& dir);
  // Flushes and closes the file.
  ~Journal() override;
  Journal(Journal const&) = delete;
  Journal& operator=(Journal const&) = delete;

  // ---- files ----
  // A file is open and no I/O failed on it.
  bool ok() const;
  String fileName() const;
  // The current file's base name (empty when none).
  String baseName() const;
  String const& getDir() const { return dir_; }
  // "rlog" followed by ".*".
  static String filePattern();
  // Closes the current file (closed 1, next name) and starts a new one;
  // false when the new file can't be made.
  bool newFile();
  void initFile(String const& prev);
  void closeFile(String const& next);
  void clearPrefix(int32_t closed);
  // The 80-byte image of a prefix, and back; loadPrefix loads nothing and
  // answers false when the magic is wrong.
  static void storePrefix(unsigned char* image, JournalPrefix const& p);
  static bool loadPrefix(JournalPrefix& p, unsigned char const* image);
  bool closed() const { return prefix_.closed != 0; }
  JournalPrefix const& prefix() const { return prefix_; }
  // Replaces the buffer (flushed first); false for kb below kMinBuffKb or in
  // the RESTART state, nothing changed.
  bool setBuffLen(int32_t kb);
  int32_t buffLen() const { return int32_t(buf_.size()); }
  State state() const { return state_; }
  // The oldest file of the directory (smallest modification time), and the
  // file whose previous name is `name`; empty when none.
  String findOldestFile();
  String findNextFile(String const& name);
  // Offsets reach this many bytes below kMaxOffset: the server checkpoints.
  bool nearLimit() const;
  // Tests: the highest offset (kMaxOffset by default) and the margin that
  // nearLimit keeps below it.
  void setOffsetLimit(int64_t limit, int64_t margin);

  // ---- writing (each answers the offset where its record begins, -1 on
  // failure: ok() is false then) ----
  int32_t storeHeader(int32_t op, int32_t length, Client* c, int32_t tableWord, int32_t recOid);
  // The same with the client fields given (client id, transaction number,
  // previous record's offset and length).
  int32_t storeHeader(int32_t op, int32_t length, JournalTrans const& t, int32_t tableWord, int32_t recOid);
  // Row records (TableJournal): recno and oldRecno are not journalled.
  void putAdd(Client* c, SvTable* t, int32_t recno, char const* image) override;
  void putDel(Client* c, SvTable* t, int32_t recno, char const* image) override;
  void putUpdate(Client* c, SvTable* t, int32_t recno, int32_t oldRecno, char const* newImage,
                 char const* oldImage, bool pKeyChanged) override;
  // The same through a layout (the table word given).
  int32_t putRow(int32_t kind, Client* c, JournalRowLayout const& l, int32_t tableWord, char const* image);
  int32_t putUpdateRow(Client* c, JournalRowLayout const& l, int32_t tableWord, char const* newImage,
                       char const* oldImage, bool pKeyChanged);
  int32_t putEndTransaction(Client* c);
  int32_t putAbortTransaction(Client* c);
  // ABORTTRANSACTION of a transaction whose client is gone (rolled back at
  // the end of a restart), chained to its last record.
  int32_t putAbortTransaction(JournalTrans const& t);
  // After a forward replay to the end of the file being written (not
  // closed), and any reading back since: writing resumes where the records
  // read end, a cut record cut off first. False (nothing changed) when no
  // such file is open.
  bool resumeWriting();
  int32_t putReadyToEnd(Client* c, String const& leader, int32_t nServers, TimeStamp const& leaderStamp);
  int32_t putAddSchema(Client* c, String const& name, int32_t schemaId);
  int32_t putDelSchema(Client* c, String const& name);
  int32_t putAddClient(JournalClient const& id);
  int32_t putDelClient(int32_t id);
  // ACTIVETRANS: the header, n, then per transaction putTrans, its deferred
  // deletes and putEndDefDels; putEndActiveTrans stores the length back.
  int32_t putActiveTransTable(int32_t n);
  int32_t putTrans(JournalTrans const& t);
  int32_t putDefDel(int32_t tableWord, int32_t recno);
  int32_t putEndDefDels();
  void putEndActiveTrans();
  // COMPLETETRANS: length 12 n + 4.
  int32_t putCompleteTransTable(int32_t n);
  int32_t putCompleteTransItem(TimeStamp const& stamp, int32_t nParticipants);
  // Primitive stores.
  int32_t store(int32_t v);
  int32_t store(String const& s);
  int32_t store(TimeStamp const& ts);
  int32_t store(int32_t length, void const* bytes);
  // Writes the buffered bytes and syncs the file; true when something was
  // written.
  bool flush();
  // flush(); kept for callers that ask for durability by name.
  bool sync();
  int32_t currWrOffset() const;
  int32_t currRdOffset() const;
  // Flushes counted (for the profile) and the time of the last flush.
  int64_t nFlushes() const { return nFlushes_; }
  TimeStamp const& lastFlush() const { return lastFlush_; }

  // ---- reading ----
  // Opens file `name` of the directory for forward reading at offset.
  bool restart(String const& name, int32_t offset);
  bool resetRestart(int32_t offset);
  // Moves to the file after the current one; false when there is none yet.
  bool nextFile();
  // Re-reads the current file's prefix; false (damage() set) on a wrong
  // magic or a failed read.
  bool updateHeader();
  // The next record forwards: its kind, -1 at the end of the data there,
  // kDamaged for a damaged record. Records of a table that is gone are
  // skipped. offset and length: the record's place and total length.
  int32_t nextOp(int32_t& clientId, int32_t& transNum, SvTable*& table, int32_t& offset, int32_t& length);
  // The record at (offset, length); (offset, length) move to the client's
  // previous record. The kind, -1 when offset is -1, kDamaged on damage.
  int32_t prevOp(SvTable*& table, int32_t& offset, int32_t& length);
  // Header fields of the record last read.
  int32_t lastClientId() const { return hdr_[2]; }
  int32_t lastTransNum() const { return hdr_[3]; }
  int32_t lastTableWord() const { return hdr_[6]; }
  int32_t lastRecOid() const { return hdr_[7]; }
  // What was damaged, with file and offset; empty when nothing was.
  String const& damage() const { return damage_; }

  // Body readers, right after nextOp/prevOp in body order. Each answers
  // false (damage() set) when the body does not hold what it should; a null
  // record skips the bytes.
  bool getAdd(SvTable* t, char* record);
  bool getDel(SvTable* t, char* record);
  bool getRow(JournalRowLayout const& l, char* record);
  bool getUpdateKey(SvTable* t, char* record);
  bool getUpdateKey(JournalRowLayout const& l, char* record);
  bool getUpdateNew(SvTable* t, char* record);
  bool getUpdateNew(JournalRowLayout const& l, char* record);
  bool getUpdateOld(SvTable* t, char* record);
  bool getUpdateOld(JournalRowLayout const& l, char* record);
  bool getReadyToEnd(String& leader, int32_t& nServers, TimeStamp& leaderStamp);
  // n, or -1 on damage.
  int32_t getActiveTransTable();
  bool getTrans(JournalTrans& t);
  // recno -1 ends the list.
  bool getDefDel(int32_t& tableWord, int32_t& recno);
  int32_t getCompleteTransTable();
  bool getCompleteTransItem(TimeStamp& stamp, int32_t& nParticipants);
  bool getAddSchema(String& name, int32_t& schemaId);
  bool getDelSchema(String& name);
  bool getAddClient(JournalClient& id);
  bool getDelClient(int32_t& id);
  // Primitive loads, bounded by the record being read.
  bool load(int32_t& v);
  bool load(String& s);
  bool load(TimeStamp& ts);
  bool load(int32_t length, void* dest);
  // Bytes of the current record's body not yet read.
  int32_t bodyLeft() const;

  // The table whose word this is among the live objects, or null.
  SvTable* locateTable(int32_t tableWord);
  // Replaces the table lookup (tests); null puts the object registry back.
  void setTableFinder(SvTable* (*finder)(int32_t tableWord)) { finder_ = finder; }
  // The kind's name, "<<<INVALID>>>" for any other number.
  static char const* opName(int32_t kind);

private:
  bool openFile(String const& path, bool create);
  void closeFd();
  bool writeAt(int64_t offset, void const* bytes, int64_t length);
  void toWriting();
  void storeLengthBack(int32_t headerOffset);
  int32_t chained(Client* c, int32_t offset, int32_t total);
  bool fill(int64_t from, int32_t need);
  bool readRecordAt(int32_t offset, int32_t total);
  bool goForw(int32_t len);
  bool setDamage(char const* what);
  bool getUpdatePart(JournalRowLayout const& l, char* record, bool takeNew);

  String dir_;
  String path_;
  int fd_ = -1;
  int errNo_ = 0;
  State state_ = WRITING;
  std::vector<char> buf_;
  int32_t wptr_ = 0;       // bytes buffered for writing
  int64_t wbase_ = kPrefixSize;  // file offset of buf_[0] when writing
  int64_t rbase_ = kPrefixSize;  // file offset of buf_[0] when reading
  int32_t rptr_ = 0;       // read position in buf_
  int32_t rend_ = 0;       // end of the data read into buf_
  int32_t hdr_[8] = {-1, -1, -1, -1, -1, -1, 0, 0};
  int32_t recStart_ = -1;  // file offset of the record being read
  int32_t recEndIdx_ = 0;  // its end in buf_
  int64_t cutAt_ = -1;     // where forward reading met a cut record
  int64_t readEnd_ = -1;   // where forward reading met the end of the data
  int32_t activeAt_ = -1;  // the ACTIVETRANS header being written
  bool inRecord_ = false;  // nextOp returned a record whose end is recEndIdx_
  JournalPrefix prefix_;
  TimeStamp lastFlush_;
  int64_t nFlushes_ = 0;
  bool firstNext_ = true;
  int64_t limit_ = kMaxOffset;
  int64_t margin_ = int64_t(64) * 1024 * 1024;
  String damage_;
  SvTable* (*finder_)(int32_t) = nullptr;
};
