// SvIndex: one index of one attached table version, open in the server: the
// B-tree path (root, middle nodes, leaf) with a current position, the key
// buffer, key building and transfer, search in every mode, maintenance with
// its undo, the modified list of headers to write, and verification.
//
// State machine of one open index:
//   Clean (off the modified list) --any change--> Modified (on modList_,
//     lastMod_ set) --updateHeader--> Clean (root chain written, header's
//     root fields stored)
//   any --a damaged value read from the file--> Failed for that operation:
//     the operation answers failure with the error recorded; the next
//     operation starts afresh (failed_ is cleared at its start).
//
// Search modes (findKey): 0x80 exact, 0x100 next, 0x200 previous, 0x400
// first, 0x800 last, 0x1000 partial over nParts parts.
//
// Invariants: depth is 2..16; the path has depth nodes; the key buffer holds
// keyLength() bytes; nodes lock at most one page each until unLock.
#pragma once

#include <sindex/IndexNode.h>
#include <sindex/SvIndRep.h>

#include <svobject/SvObject.h>
#include <zfound/String.h>
#include <zfound/Time.h>

#include <cstdint>
#include <vector>

class Client;
class Connection;

class SvIndex : public SvObject {
public:
  static constexpr int32_t kExact = 0x80;
  static constexpr int32_t kNext = 0x100;
  static constexpr int32_t kPrev = 0x200;
  static constexpr int32_t kFirst = 0x400;
  static constexpr int32_t kLast = 0x800;
  static constexpr int32_t kPartial = 0x1000;
  static constexpr int32_t kMaxDepth = 16;
  static constexpr int32_t kStatRead = 7;
  static constexpr int32_t kStatWrite = 8;

  // Opens the index of a definition on a table attachment for a version.
  // ok() is false (error recorded) when the stored depth is out of range.
  SvIndex(SvIndRep* rep, svstore::IndexTable* table, int32_t version);
  ~SvIndex() override;
  SvIndex(SvIndex const&) = delete;
  SvIndex& operator=(SvIndex const&) = delete;
  bool ok() const { return ok_; }

  // ---- server-object facet ----
  // Key transfer uses the connection of the client being served
  // (SvObject::con).
  String name() const override { return rep_->name(); }
  String qualifiedName() const { return rep_->qualifiedName(); }
  int32_t objectType() const override { return 8; }
  // "SvIndex", with " - version " and the number for an older version.
  String objType() override;
  // The profile line; adds only the counts since the last line.
  void getMethInfo(String& s) override { getMethInfo(s, nullptr, nullptr); }
  void getMethInfo(String& s, int64_t* schemaHits, int64_t* schemaTries);

  // ---- path and length ----
  // Takes a key length and rebuilds the path; false, nothing changed, when
  // a node would hold fewer than 4 slots.
  bool setLength(int32_t l);
  void reBuildNodes();

  // ---- search ----
  int32_t findKey(Client* c, int32_t mode);
  int32_t searchKey();
  int32_t next();
  int32_t prev();
  int32_t realNext(Client* c);
  int32_t realPrev(Client* c);
  char* currentKey();
  int32_t nKeys() const;
  int32_t count(bool loInc, char* lo, bool hiInc, char* hi);
  void empty(Client* c);
  bool incDepth();
  bool decDepth();
  void unLock();

  // ---- keys ----
  void buildKey(char const* record, int32_t recno);
  void setKey(char const* key);
  void setRecno(int32_t recno);
  // Reads a key from `con`; false (error recorded) on bad input or a
  // negative record number.
  bool receiveKey(char* buf, bool withRec);
  void sendKey(char* buf);
  bool differ(char const* a, char const* b);
  bool indepChanged(char const* a, char const* b);
  void resetIndepChanged() { rep_->indepChanged_ = false; }
  int32_t cmpKeyTo(char const* key, int32_t n) { return rep_->cmpKeys(key_, key, n); }
  int32_t cmpCurrKeyTo(char const* key, int32_t n);

  // ---- maintenance (with undo) ----
  bool addKey(Client* c, int32_t recno, bool unique);
  bool delKey(int32_t recno);
  bool delCurrent();
  bool addCurrent(int32_t recno);
  bool update(Client* c, char const* oldRec, char const* newRec, int32_t newNo, int32_t oldNo);
  void reverseAdd(char const* record, int32_t recno);
  void reverseUpdate(Client* c, char const* oldRec, char const* newRec, int32_t newNo, int32_t oldNo);

  // ---- modified list and headers ----
  void markModified();
  void clearModified();
  bool inModList() const { return inList_; }
  Time const& lastMod() const { return lastMod_; }
  virtual bool updateHeader();
  static int32_t updateAllHeaders(Time const& t);
  bool flush(bool release);
  bool newVers(int32_t v);
  bool chgPhName(String const& file);
  static SvIndex* modList() { return modList_; }

  // ---- verification and listings ----
  bool verify(bool exhaustive);
  void printTree();
  void list() const;
  void listContents() const;

  // ---- delegations ----
  SvIndRep* indRep() const { return rep_; }
  svstore::IndexTable* table() const { return table_; }
  int32_t number() const { return rep_->number(); }
  int32_t nFields() const { return rep_->nFields(); }
  SvIndFld* iField(int32_t n) const { return rep_->iField(n); }
  IndFlags flags() const { return rep_->flags(); }
  int32_t length() const { return rep_->length(); }
  int32_t keyLength() const { return keyLen_; }
  bool isDup() const { return rep_->isDup(); }
  bool isPublic() const { return rep_->isPublic(); }
  bool isIndep() const { return rep_->isIndep(); }
  bool hasNotNull() const { return rep_->hasNotNull(); }
  bool hasDescending() const { return rep_->hasDescending(); }
  bool isModByUpdate() const { return rep_->modifByUpdate; }
  int32_t prevRec() const { return rep_->prevRec; }
  Client* creator() const { return rep_->creator(); }
  int32_t lastTableRec() const { return rep_->lastTableRec(); }
  void load(String& s, char const*& p) const { rep_->load(s, p); }
  void setNParts(int32_t n) { rep_->nParts = n; }
  bool isTemporary() const { return temporary_; }
  bool isPrimary() const { return number() == 0; }
  int32_t vers() const { return version_; }
  int32_t depth() const { return depth_; }
  char* getKey() const { return key_; }
  RootNode* root() const { return root_; }
  LeafNode* leaf() const { return leaf_; }
  void delField(SvIndFld* f);

  // ---- node support ----
  // Records a damaged-file error for the running operation.
  void fail(String const& what);
  bool failed() const { return failed_; }
  // What the last failure found.
  String const& failure() const { return failure_; }
  // Counters of reads and writes while profiling.
  void countRead() { ++reads_; }
  void countWrite() { ++writes_; }

private:
  void destroyNodes();
  void beginOp() { failed_ = false; }
  // Steps of findKey.
  int32_t skipHidden(Client* c, int32_t rec, bool forward);
  bool removeFromModList();
  // Walks root to leaf positioning on key; true when the leaf holds it.
  bool descend(char const* key);

  SvIndRep* rep_;
  svstore::IndexTable* table_;
  RootNode* root_ = nullptr;
  LeafNode* leaf_ = nullptr;
  char* key_ = nullptr;
  int32_t keyLen_ = 0;
  int32_t version_;
  int32_t depth_ = 2;
  SvIndex* nextMod_ = nullptr;
  Time lastMod_;
  bool inList_ = false;
  // The key of the current leaf slot, saved when the path lets go of its
  // pages, so next and prev can find their place again.
  std::vector<char> posKey_;
  int32_t posState_ = 0;  // 0 none, 1 on posKey_, 2 just past it
  bool ok_ = true;
  bool failed_ = false;
  String failure_;
  int64_t reads_ = 0;
  int64_t writes_ = 0;
  // Counts already reported by getMethInfo.
  int64_t shownReads_ = 0;
  int64_t shownWrites_ = 0;
  int64_t shownTries_ = 0;
  int64_t shownHits_ = 0;

  static SvIndex* modList_;
};
