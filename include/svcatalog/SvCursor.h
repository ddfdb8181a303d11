// SvCursor: the server object behind a client cursor: a range of keys of
// one index of one table attachment, read block by block forwards or
// backwards, with optional record locks, a field list and a per-block
// record limit. Made by the schema's cursor request; always temporary; it
// dies when its client detaches it or disconnects, after the records its
// last block locked are freed.
//
// Position state: `recno` is 0x80000000 before the range (nothing left
// backwards), 0x7fffffff past it (nothing left forwards), else the record
// last met. nextKey/backKey are the forward/backward search positions;
// posFlags bit 1 set: forward search includes nextKey (bit 0 the opposite
// mark); bit 3 set: backward search includes backKey (bit 2 the opposite).
//   created  --SetRange--> at start (or at end with range bit 0x80)
//   any      --GetNextBlock--> later in the range, or past it (0x7fffffff)
//   any      --GetPrevBlock--> earlier, or before it (0x80000000)
// A SetRange that fails changes nothing; its error is kept and answered by
// the next block, Build or Cardinal request (SetRange itself has no reply).
//
// Range flags: 1 start key excluded, 2 start included, 4 end excluded,
// 8 end included, 0x80 position at the end, 0x100 a held block gives up
// after LockWait, 0x200 blocks carry keys only, 0x800 locks of a block stay
// when the next block is read.
//
// Build adds the keys of the range's records to another index of the
// table, one batch per request. An index that must hold every record (not
// temporary, no part that may be null) would otherwise stay short of the
// table when the range is partial, and every later check would report it:
// once the range is exhausted, Build goes on over the records outside it
// (those the target lacks) until the index is complete, and only then
// answers the negative count of the last batch. A cursor that goes (its
// client detaches it or disconnects) while such a build is unfinished
// completes it first; when a key is refused there the index is emptied
// instead, so no index is ever left holding only part of the table.
//
// Block reply: per record its wire form (whole, listed fields, or key
// only) then its record number; result word n, or -n when the range is
// exhausted by this block, 0 for an empty block.
//
// Invariants: the four key buffers have the index's key length; `fields`
// holds only numbers of real fields of the table.
#pragma once

#include <svobject/Coroutine.h>
#include <svobject/SvObject.h>
#include <zfound/Exception.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class Client;
class SvIndex;
class SvTable;

class SvCursor : public SvObject {
public:
  static constexpr int32_t kObjectType = 64;
  static constexpr int32_t kBefore = int32_t(0x80000000u);
  static constexpr int32_t kPast = 0x7fffffff;
  // Range flag bits.
  static constexpr int32_t kFromExcl = 0x1;
  static constexpr int32_t kFromIncl = 0x2;
  static constexpr int32_t kToExcl = 0x4;
  static constexpr int32_t kToIncl = 0x8;
  static constexpr int32_t kAtEnd = 0x80;
  static constexpr int32_t kGiveUp = 0x100;
  static constexpr int32_t kKeysOnly = 0x200;
  static constexpr int32_t kKeepLocks = 0x800;

  // table, index (both not null; the index belongs to the table), lock mode
  // (bits 0x1, 0x2, 0x8, 0x10), records per block (0 or less: no limit).
  SvCursor(SvTable* table, SvIndex* index, int32_t lockMode, int32_t maxRecs);
  ~SvCursor() override;

  int32_t objectType() const override { return kObjectType; }
  String objType() override { return "SvCursor"; }
  SvCursor* getCursor() override { return this; }

  // ---- requests (arguments from SvObject::con) ----
  long getNextBlock(Client* c) override;
  long getPrevBlock(Client* c) override;
  long setRange(Client* c) override;
  long build(Client* c) override;
  long cardinal(Client* c) override;

  // Frees the client's locks on the records of the last block (nothing
  // with range bit 0x800, a lock mode without bit 0x1, or none locked).
  void freeRecords(Client* c);
  // The cursor is going: every index that must hold every record and whose
  // build from this cursor is unfinished is completed, or emptied when a
  // key is refused. Errors stay here; nothing is answered.
  void abandonBuilds(Client* c);
  // Position at the start / end of the range.
  void goFirst();
  void goLast();

  SvTable* table() const { return table_; }
  SvIndex* index() const { return index_; }
  int32_t recno() const { return recno_; }
  int32_t rangeFlags() const { return rangeFlags_; }
  int32_t posFlags() const { return posFlags_; }
  int32_t lockMode() const { return lockMode_; }
  int32_t maxRecs() const { return maxRecs_; }
  int32_t nLocked() const { return nLocked_; }
  // The error of a failed SetRange not yet answered, null when none.
  Exception const* rangeError() const { return rangeError_.get(); }

private:
  friend class GetNextBlock;
  friend class GetPrevBlock;
  // Answers a kept SetRange error as this request's error: true when one
  // was kept.
  bool answerRangeError();
  // One block read forwards or backwards (the body of GetNextBlock and
  // GetPrevBlock): false while the first record's lock is awaited.
  bool readBlock(Client* c, bool forward);
  // Build past the end of the range into an index that must hold every
  // record: adds, at most `room` of them, the keys of the table's records
  // the target lacks, walking a full index of the table from where the
  // last call stopped. done when the walk reached the end; false with the
  // error pending when a key was refused.
  bool completeBuild(Client* c, SvIndex* target, int32_t room, int32_t& added, bool& done);

  SvTable* table_;
  SvIndex* index_;
  std::vector<char> toKey_, fromKey_, backKey_, nextKey_;
  int32_t recno_ = kBefore;
  int32_t rangeFlags_ = 0;
  int32_t posFlags_ = 0;
  int32_t lockMode_;
  int32_t maxRecs_;
  int32_t nLocked_ = 0;
  std::vector<int32_t> fields_;
  std::unique_ptr<Exception> rangeError_;
  // Build after the range: the walk over the records outside it is on,
  // and the key of the walking index where it stopped (empty: not begun).
  bool completing_ = false;
  std::vector<char> completeKey_;
  // Indexes that must hold every record with a build from this cursor
  // begun and not finished: number and object (the number alone could
  // name an index made after a drop).
  std::vector<std::pair<int32_t, SvIndex*>> unfinished_;
  void markBuild(int32_t number, SvIndex* target, bool finished);
};

// The block reads of a cursor, held while the first record's lock is
// awaited.
class GetNextBlock : public Coroutine {
public:
  explicit GetNextBlock(SvCursor* cursor) : cursor_(cursor) {}
  GetNextBlock(GetNextBlock const&) = default;
  bool exec(Client* c) override;
  bool resume(Client* c) override { return exec(c); }
  Coroutine* clone() const override { return new GetNextBlock(*this); }

private:
  SvCursor* cursor_;
};

class GetPrevBlock : public Coroutine {
public:
  explicit GetPrevBlock(SvCursor* cursor) : cursor_(cursor) {}
  GetPrevBlock(GetPrevBlock const&) = default;
  bool exec(Client* c) override;
  bool resume(Client* c) override { return exec(c); }
  Coroutine* clone() const override { return new GetPrevBlock(*this); }

private:
  SvCursor* cursor_;
};
