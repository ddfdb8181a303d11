// Restartable objects: long work done in slices, one Activation request per
// slice, answered 30 while work remains and 0 when done. CopyTable copies
// every record of one table into another (possibly of another structure),
// keeping record numbers, frees the gaps and rebuilds the target's indexes.
//
// State machine of a copy:
//   start --locks (target exclusive, source shared) and target emptied-->
//   COPYCONTENTS (records in slices) --> MARKPOOL (gaps freed) -->
//   BUILDINDICES (keys added) --> done
//   start --locks refused or target not emptied--> done, error as abort
//   any step --an error other than InvalidData, or a DuplicatedKey while
//     building--> done: the target emptied again, both table locks freed,
//     the error as an abort
//   done --Activation--> 0 (again and again)
// An Activation handles fewer than 30 records, gaps or keys in total. Values
// that do not convert (InvalidData) stay initial. While the job lives it
// holds a reference on both tables, so Alter, Replace and index drops see
// them in use, unless the copy was refused: then it holds neither, as it
// may stay with a client whose aborted transaction keeps it from being
// detached.
//
// The copy writes the target's slots and keys directly, journalling
// nothing: a rollback of the client's transaction does not undo it. A copy
// refused part-way therefore leaves the target empty, as the start made it,
// never with records that its indexes miss.
//
// Records of the source are its slots in use: every slot up to its highest
// record number except those on its free lists and the groups of version
// header pages, which are gaps, freed in the target. Deleted records that a
// retained version keeps (on a version's chain) are copied too and stay off
// the free lists. After the records the target gets one header page per
// retained version, saving the same chains as the source's page, and the
// source's live chains. Its indexes are built in one pass per version and
// one for the current data: pass p removes the keys of the records deleted
// since the version before, adds those of the records of version p, and
// then every index starts version p, so an older version of the target
// reads what that version of the source held.
#pragma once

#include <svobject/SvObject.h>

#include <cstdint>
#include <unordered_map>
#include <vector>

class Client;
class SvTable;

class RestartableObject : public SvObject {
public:
  RestartableObject() { temporary_ = true; }
  long estimation(Client*) override { return 0; }
  long activation(Client*) override { return 0; }
};

class CopyTable : public RestartableObject {
public:
  static constexpr int32_t kQuantum = 30;
  static constexpr int32_t kObjectType = 512;
  enum State : int32_t { kStart = 0, kCopyContents = 1, kMarkPool = 2, kBuildIndices = 3, kDone = 4 };

  CopyTable(SvTable* from, SvTable* to);
  ~CopyTable() override;

  long estimation(Client* c) override;
  long activation(Client* c) override;
  int32_t objectType() const override { return kObjectType; }
  String objType() override { return "CopyTable"; }

  State state() const { return state_; }
  // True when t is the source or the target (a refused copy has neither).
  bool uses(SvTable const* t) const { return t != nullptr && (t == tabFrom_ || t == tabTo_); }

  // Rebuilds every index of t from its records in use: each index is emptied, then the keys are added slice by
  // slice. False with the error pending when a key is refused.
  static bool rebuildIndices(Client* c, SvTable* t);

private:
  void changeState(State s);
  // Each answers 30 when the quantum ran out, else the count reached;
  // -1 when the copy must end with the pending error.
  int32_t copyContents(Client* c, int32_t n);
  int32_t markPool(Client* c, int32_t n);
  int32_t buildIndices(Client* c, int32_t n);
  // After the records: one header page per retained version of the
  // source, and the source's chains; 30, the count, or -1.
  int32_t copyVersions(int32_t n);
  // The records in use of the source (see the top of this file).
  void findLive(Client* c);
  // Ends the copy: locks freed; with an error, the target emptied again if
  // the copy had begun, both tables let go, and the error answered as an
  // abort.
  long finish(Client* c, bool failed);
  // Empties every index of the target, then its records; false when an
  // error is pending.
  bool emptyTarget(Client* c);
  // The kind of source slot r: kGap outside 1..the last record surveyed,
  // else kInUse unless findLive met it otherwise.
  char kindOf(int32_t r) const;
  void setKind(int32_t r, char kind);
  // Drops the references on both tables; the job touches them no more.
  void letTablesGo();

  SvTable* tabFrom_;
  SvTable* tabTo_;
  // Kinds of source slots in live_.
  static constexpr char kGap = 0;       // free, or a version header group
  static constexpr char kInUse = 1;     // a record of the current data
  static constexpr char kRetained = 2;  // a deleted record a retained version keeps

  int32_t nrec1_ = -1;
  int32_t nrec2_ = -1;
  int32_t nver1_ = -1;  // version page being made; index pass
  int32_t nver2_ = -1;  // key deletions of the pass's deleted records
  int32_t nRetained_ = 0;
  bool versionsDone_ = false;
  bool currentOnly_ = false;  // an index rebuild: current records, one pass
  std::vector<int32_t> dels_;
  std::vector<uint32_t> equiv_;
  // The kinds of the source slots met that are not in use, by record
  // number; a slot not listed is in use.
  std::unordered_map<int32_t, char> live_;
  int32_t liveLast_ = 0;  // the source's last record number when surveyed
  std::vector<int32_t> gaps_;  // target slots to free
  State state_ = kStart;
  bool locked_ = false;
  Client* locker_ = nullptr;  // the client holding the two table locks
};
