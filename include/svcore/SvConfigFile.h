// SvConfigFile: the server's view of its configuration file
// ("$OMBREL/servers/<name>.sv"): every keyword that the shared base does not
// handle becomes a typed setting with a default, and the server's schema
// registry hands out schema ids.
//
// Invariants:
//  - cachePageSize_ is 1..16 (KB) once a file was read without a fatal
//    report; above 16 KB a root of 16 nodes could overflow the 16-bit rSlots;
//  - nextSchId_ is -1 (unset) or a 20-bit id whose text form is a.b.c with
//    a < 256, b < 64, c < 64; an id with c = 0 is never handed out;
//  - every accepted change sets the base's modified flag; store() writes the
//    keys in one fixed order (see storeOthers).
#pragma once

#include <zfound/ConfigFile.h>
#include <zfound/String.h>

#include <cstdint>
#include <cstdio>

class SvConfigFile : public ConfigFile {
public:
  // Sets every default, then reads the local server file of `name`;
  // operator! tells whether it was found.
  explicit SvConfigFile(String const& name);
  // Every default, no file read (for a server built in a test).
  SvConfigFile();
  ~SvConfigFile() override;

  void resolveOthers(Token token, String const& keyword, String const& value, int32_t line) override;
  void storeOthers(FILE* f) override;

  // ---- accessors ----
  int32_t serverOptions() const { return options_; }
  int32_t cachePageSize() const { return cachePageSize_; }
  int32_t cacheSz() const { return cacheSize_; }
  int32_t ckPointFreq() const { return ckPointFreq_; }
  int32_t ckPointLowBound() const { return ckPointLowBound_; }
  int32_t ckPointUpBound() const { return ckPointUpBound_; }
  bool tolerant() const { return tolerant_; }
  String const& dbase() const { return dbase_; }
  String const& diskConfiguration() const { return diskConfiguration_; }
  bool handleVersions() const { return handleVersions_; }
  int32_t hkMsgBound() const { return hkMsgBound_; }
  int32_t journalBuff() const { return journalBuff_; }
  String const& journalDir() const { return journalDir_; }
  int32_t journalFlushFreq() const { return journalFlushFreq_; }
  int32_t numLocks() const { return numLocks_; }
  int32_t numLocksPClient() const { return numLocksPClient_; }
  int32_t lkUnifyBound() const { return lkUnifyBound_; }
  int32_t lkUnifyPercent() const { return lkUnifyPercent_; }
  int32_t lkWait() const { return lkWait_; }
  int32_t matureTime() const { return matureTime_; }
  int32_t maxAttachsPClient() const { return maxAttachsPClient_; }
  int32_t getNextSchemaId() const { return nextSchId_; }
  int32_t numNotifies() const { return numNotifies_; }
  int32_t pendLockNotifTime() const { return pendLockNotifTime_; }
  String const& profFile() const { return profFile_; }
  int32_t profileFreq() const { return profileFreq_; }
  String const& runLogFile() const { return runLogFile_; }
  String const& stateFile() const { return stateFile_; }
  int32_t transTimeOut() const { return transTimeOut_; }

  // ---- setters: true when accepted; the modified flag only on a change ----
  bool setServerOptions(int32_t v);
  bool setCachePageSize(int32_t v);
  bool setCacheSz(int32_t v);
  bool setCkPointFreq(int32_t v);
  bool setCkPointLowBound(int32_t v);
  bool setCkPointUpBound(int32_t v);
  bool setTolerant(bool v);
  bool setDbase(String const& v);
  bool setDiskConfiguration(String const& v);
  bool setHandleVersions(bool v);
  bool setHkMsgBound(int32_t v);
  bool setJournalBuff(int32_t v);
  bool setJournalDir(String const& v);
  bool setJournalFlushFreq(int32_t v);
  bool setNumLocks(int32_t v);
  bool setNumLocksPClient(int32_t v);
  bool setLkUnifyBound(int32_t v);
  bool setLkUnifyPercent(int32_t v);
  bool setMatureTime(int32_t v);
  bool setMaxAttachsPClient(int32_t v);
  bool setNextSchemaId(int32_t v);
  bool setNumNotifies(int32_t v);
  bool setPendLockNotifTime(int32_t v);
  bool setProfileFile(String const& v);
  bool setProfileFreq(int32_t v);
  bool setRunLogFile(String const& v);
  bool setTransTimeOut(int32_t v);

  // ---- schema registry ----
  // Appends "name:a.b.c"; false when no file was read.
  bool addSchema(String const& name, int32_t schemaId);
  // The schema name of entry n, or null past the last entry.
  String schemaName(int32_t n) const;
  // The database directory of entry n, or null when it names none.
  String hasSchDbase(int32_t n) const;
  // Drops entry n's directory; false when it has none.
  bool removeSchDbase(int32_t n);
  // The schema id of entry n (-1 when it has none or it is malformed);
  // an id whose last field is 0 is refused with a warning (-1).
  int32_t getSchId(int32_t n) const;
  // Sets the next id when it is unset or 0.
  void initialSchemaId(int32_t id);
  // Hands out a new schema id (never one ending in 0); -1 with a warning
  // when the 20-bit space is used up.
  int32_t nextSchemaId();
  // An id handed out before a crash and met again in the journal: the next
  // id passes it.
  void usedSchemaId(int32_t id);
  void idStart() {}
  void idStop() {}
  void idCheck() {}

  // ---- schema ids ----
  // (a & 255) << 12 | (b & 63) << 6 | (c & 63).
  static int32_t schemaId(int32_t a, int32_t b, int32_t c);
  // "a.b.c" to an id; -1 unless three numeric parts are given.
  static int32_t parseSchemaId(String const& text);
  // The text form "a.b.c".
  static String schemaIdText(int32_t id);

private:
  void setDefaults();
  // Long value of a setting: the foundation's text-to-integer (0 for text).
  static int32_t toLong(String const& value);
  static bool toBool(String const& value);
  template <class T>
  bool change(T& field, T const& v);

  int32_t options_;
  int32_t cachePageSize_;
  int32_t cacheSize_;
  int32_t ckPointFreq_;
  int32_t ckPointLowBound_;
  int32_t ckPointUpBound_;
  bool tolerant_;
  String dbase_;
  String diskConfiguration_;
  bool handleVersions_;
  int32_t hkMsgBound_;
  int32_t journalBuff_;
  String journalDir_;
  int32_t journalFlushFreq_;
  int32_t numLocks_;
  int32_t numLocksPClient_;
  int32_t lkUnifyBound_;
  int32_t lkUnifyPercent_;
  int32_t lkWait_;
  int32_t matureTime_;
  int32_t maxAttachsPClient_;
  int32_t nextSchId_;
  int32_t numNotifies_;
  int32_t pendLockNotifTime_;
  String profFile_;
  int32_t profileFreq_;
  String runLogFile_;
  String stateFile_;
  int32_t transTimeOut_;
};
