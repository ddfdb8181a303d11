// Server: the server's control object and the one place where the rest of
// the server reads and changes server-wide state.
//
// All state is static and lives in one translation unit (Server.cpp); the
// statics that the storage engine reads are inherited from
// svstore::StorageEnv, so `Server::currCP`, `Server::cachePageSize()` and the
// rest name the same objects that storage uses. `reset()` returns every
// static to its start value and installs the server's hooks into storage
// (versNum, deferUnlink and the assertion report); tests call it between
// cases.
//
// Units: `cachePageSize()` is in bytes (storage's unit); the configuration's
// CachePageSize key and the state file keep kilobytes.
//
// Invariants:
//  - defunlink and ctrans are null until first use;
//  - lastTempId never hands out 0;
//  - the configuration and state file, when present, are owned here.
#pragma once

#include <blkfile/StorageEnv.h>

#include <zfound/String.h>
#include <zfound/Time.h>
#include <zfound/TimeStamp.h>

#include <cstdint>
#include <vector>

class Client;
class Exception;
class Journal;
class SvTable;
namespace svcatalog {
struct LockObject;
}
class PhysLayout;
class CollateSet;
class Journal;
class ProfileFile;
class RunLog;
struct RunLogHooks;
class SvConnection;
struct SvConnectionHooks;
class StateFile;
class SvConfigFile;

// One deferred unlink: a path, or a pair of names (schema, file) when the
// second String is not empty.
class DeferFile {
public:
  DeferFile() = default;
  DeferFile(String const& path, String const& a, String const& b) : path_(path), second_(a), third_(b) {}
  String const& path() const { return path_; }
  String const& second() const { return second_; }
  String const& third() const { return third_; }

private:
  String path_, second_, third_;
};

// One transaction that this server completed as a two-phase-commit leader:
// the long is the number of servers of the transaction.
class CompleteTransaction {
public:
  CompleteTransaction() = default;
  CompleteTransaction(int32_t n, TimeStamp const& ts) : n_(n), ts_(ts) {}
  int32_t number() const { return n_; }
  TimeStamp const& stamp() const { return ts_; }

private:
  int32_t n_ = 0;
  TimeStamp ts_;
};

// The command-line settings the server starts with.
struct ServerOptions {
  String name;                // the server name (the one operand)
  int32_t verboseLevel = 0;
  bool foreground = false;
  bool readLog = false;       // replay the run log
  int32_t writeLog = -1;      // record a run log unless -1
  int32_t checkLevel = -1;
  bool prevCheckpoint = false;  // verify the files and exit
  int32_t tqBehavior = -1;
  bool mirror = false;
  String ignore;
  int32_t admin = -1;
  bool profile = false;
};

class Server : public svstore::StorageEnv {
public:
  static constexpr int32_t kProtocolVersion = 1101;
  static constexpr int32_t kVersion = 3302;

  // ---- state ----
  static String name_sd;                 // the server name
  static SvConfigFile* configFile;       // the configuration (owned)
  static StateFile* stateFile;           // the state file (owned)
  static bool foreground_sd;
  static int32_t verboseLevel_sd;
  static int32_t status_sd;              // exit status
  static bool logDisable;                // client removals not journalled
  static bool mirror_sd;                 // mirror mode
  static bool mustInvert_sd;             // replayed run log of the other byte order
  static String ignore_sd;               // the ignore option: comma-separated numbers
  static std::vector<DeferFile>* defunlink;
  static std::vector<CompleteTransaction>* ctrans;
  // Logs the completed transactions, one "transId: " line each.
  static void listCompleteTrans();

  // ---- accessors ----
  static String const& name() { return name_sd; }
  static bool isProfiling() { return profiling_sd; }
  static PhysLayout* physLayout();
  static bool mustInvert() { return mustInvert_sd; }
  static bool mirror() { return mirror_sd; }
  static bool isRestarting() { return restarting; }
  static int64_t nMethods() { return nMeth; }
  static bool foreground() { return foreground_sd; }
  static int32_t verboseLevel() { return verboseLevel_sd; }
  static int32_t currVers() { return currVersion; }
  static TimeStamp const& lastCP() { return lastChkPoint; }
  static int32_t protocolVersion() { return kProtocolVersion; }
  static int32_t version() { return kVersion; }
  static TimeStamp const& tStamp() { return timeStamp; }
  static int32_t status() { return status_sd; }
  static bool logDisabled() { return logDisable; }
  static void disableLog() { logDisable = true; }
  static void enableLog() { logDisable = false; }

  // The installation number: its low 8 bits lead temporary owner numbers.
  static int32_t instId() { return 1; }
  // The server id of the configuration (-1 without one).
  static int32_t id();

  // ---- services ----
  // Next temporary object id; never 0.
  static uint32_t newTempId();
  // Version number of a stamp (see StorageEnv::versNum).
  static int32_t versNum(TimeStamp const& ts);
  static void deferUnlink(String const& path, String const& a, String const& b);
  // With b empty: a path listed; otherwise the pair (schema b, file a).
  static bool belongsDeferUnlink(String const& a, String const& b);
  // True when n is one of the ignore option's items.
  static bool ignoreTrans(int32_t n);
  // Page cache size in KB; the cache's answer.
  static bool setCacheSize(int32_t kb);
  // No journal exists yet: false.
  static bool setJournalBuff(int32_t kb);
  // Registers a schema in the configuration and the disk layout.
  static bool addSchema(String const& dir, String const& name, int32_t id);
  // Removes a schema from the configuration and its layout entries.
  static bool delSchema(String const& name);
  // The assertion report: "file:line assertion failed (expr).", as a
  // warning ("Warning: ") or, with fatal, an error ("Error: ") that ends
  // the process after the server's files are closed.
  static void _assert(char const* expr, char const* file, int line, bool fatal);
  // A pending Locked error becomes the equivalent ModLocked; the pending
  // error.
  static Exception& convLastException();
  // Writes back what the server's files hold in the cache.
  static void closeFiles();

  // ---- disk layout of schemas ----
  // True when a layout entry's pattern, up to its first ".", is `schema`.
  static bool entryOfSchema(String const& pattern, String const& schema);
  // Moves each configured schema's old-style directory ("name:dir:id")
  // into its two packed layout entries.
  static void convertIntoDiskConfig();
  // Every layout entry must belong to a configured schema; otherwise the
  // fatal error "BADENTRY" (entry number, pattern) ends the server.
  static void checkDiskConfigEntries();
  // Sets the schema's entries' directory suffix and checks that each part
  // directory exists ("PARTNOTFOUND", fatal, otherwise). True when at least
  // one entry belongs to the schema.
  static bool checkDiskConfigDirs(String const& schema);
  // Lists every file of the schema's part directories, then the directories,
  // for deferred unlinking; a directory already listed is skipped.
  static void unlinkSchema(String const& schema);
  // Deletes every layout entry of the schema.
  static void delDiskConfigEntries(String const& schema);
  // Reports ("DELETINGFILE") each regular file of the schema's directories
  // that carries a server file name and that `claims` does not claim, and
  // removes it when the schema has tables; any other entry is reported
  // ("KEEPINGFILE") and kept.
  static void unlinkUnUsedFiles(String const& schema, bool (*claims)(void* ctx, String const& file), void* ctx,
                                bool hasTables);

  // Every static back to its start value (owned objects deleted) and the
  // server's hooks installed into storage.
  static void reset();
  // The storage engine's calls into the server: the version of a stamp,
  // deferred file removal and the assertion report. Start-up installs them
  // before any file is opened (reset() too).
  static void installStorageHooks();
  // Every hook a server process installs once its configuration is read:
  // storage's (as above), the client layer's (installClientHooks) and the
  // catalog's (svcore::installCatalogHooks). Start-up and the fuzz
  // harnesses' in-process server call it.
  static void installHooks();
  // The run log's calls into the server: the time stamp, the replayed
  // housekeeping pass and the removal of a client found dead, whose failure
  // is reported through `warn` like every warning of the log.
  static RunLogHooks runLogHooks(void (*warn)(char const* text));
  // The connection's calls into the server: housekeeping, the dead-client
  // check, known and removed clients; its warnings go to `warn`.
  static SvConnectionHooks connectionHooks(void (*warn)(char const* text));

  // ---- process, main loop and transport ----
  // The server's connection (null in check-previous-checkpoint mode and in
  // tests that make none); owned.
  static SvConnection* svCon;
  // The run log (recording, replaying or off); owned, may be null.
  static RunLog* runLog;
  // Requests since the last housekeeping pass.
  static int64_t nMethodsSinceLast;
  // The client, object id (check bits cleared) and message of the last
  // dispatched request, for the assertion report; lastMsg -1: none yet.
  static Client* lastClient;
  static int32_t lastOId;
  static int32_t lastMsg;
  // The time of the last checkpoint or of the last attempt given up.
  static Time lastTry;
  // A checkpoint / a new version is due.
  static bool cpTime;
  static bool nvTime;
  // Transactions in progress; clients holding the process lock.
  static int32_t activeTrans;
  static int32_t nProcessLock;
  // Clients by id (null slots are free); owned.
  static std::vector<Client*> clients;
  // Administrator mode for this client id (-1: off); transaction-query
  // behaviour; check level of -p.
  static int32_t admin_sd;
  static int32_t tqBehavior_sd;
  static int32_t checkLevel_sd;
  // Housekeeping tuning from the configuration (seconds / request counts).
  static int32_t hkMsgBound;

  // The main loop: returns when a Stop was answered with a result other
  // than -1.
  static void execute();
  // One housekeeping pass sparing client c (may be null); true when it did
  // work.
  static bool houseKeeping(Client* c);
  static bool isHouseKeepingTime();
  // Checks every client but c; true when one was removed.
  static bool heartBeat(Client* c);
  // Stores c in the first free slot (its id) and counts it.
  static void addClient(Client* c);
  // Drains, releases and destroys c; true when a Disconnect of c was among
  // its drained messages (null: true).
  static bool delClient(Client* c);
  // The client of an id; null when the id names no client.
  static Client* client(int32_t id) { return clientOfId(id); }
  static Client* clientOfId(int32_t id);
  // Clients registered.
  static int32_t nClients() { return clientCount(); }
  static int32_t clientCount();
  // Resumes the clients whose held requests can go on (the wake-up list).
  // The held-request layer installs the resumer; without one the list is
  // emptied.
  static void resumeWokenClients();
  static void (*resumeClientsHook)();
  // A housekeeping pass replaying a recorded round (the run log calls it).
  static void replayHouseKeeping();
  // Warnings naming the last dispatched request (assertion reports).
  static void reportLastRequest();
  // The loop's statics back to their start values (clients destroyed).
  static void resetLoop();
  // The largest ServerId (its keys are id << 8 in a 32-bit key).
  static constexpr int32_t kMaxServerId = 0x7FFFFF;
  static bool validServerId(int32_t id);
  // Brings the server up in its fixed order; fatal reports end the process
  // with status 1. status() is 0 after a normal start; after -p it is -1
  // when every file verified, 1 when one did not.
  static void startUp(ServerOptions const& o);
  // The one server object (registered before any other object, id
  // 0x70000000) and its end.
  static void makeObject();
  static void dropObject();
  // Closes what startUp opened: schemas, clients, run log, connection.
  static void tearDown();
  // The reporting routines handed to the daemon set-up (system log).
  static int logError(int prio, char const* title, char const* text);
  static int logWarning(int prio, char const* title, char const* text);
  static int logNotice(int prio, char const* title, char const* text);
  // The file layer's error handler: 0 to retry, non-zero to give up.
  static int errHandler(char const* text, int err);
  // Ends the process with code 1 when a stop was requested through the
  // semaphore set.
  static void checkStopTime();
  // Tries of an EACCES / EFBIG before errHandler gives up.
  static constexpr int32_t kHardErrorTries = 3;
  // Seconds errHandler waits before a retry.
  static int32_t retrySeconds;

  // ---- requests, clients, checkpoints ----
  // The Connect request of the connecting process headerId (pid | bit 30):
  // version check, the claimed identity (identityVerdict; recorded in and
  // replayed from the run log), administrator mode, then the client
  // registered and its id replied on the header's type.
  static void connectClient(int32_t headerId);
  // Verdicts on a claimed identity.
  static constexpr int32_t kIdentityOk = 0;
  static constexpr int32_t kIdentityNoProcess = 1;   // pid <= 0 or no such process
  static constexpr int32_t kIdentityOtherIds = 2;    // its effective uid or gid differ
  static constexpr int32_t kIdentityOtherSender = 3;  // the idle request queue's last sender differs
  // Checks that pid is a live process whose effective uid and gid are the
  // ones claimed and, with a connection whose request queue is idle, the
  // queue's last sender. The queues authenticate nobody; this ties a Connect
  // to the process the kernel knows without changing the protocol.
  static int32_t identityVerdict(int32_t pid, int32_t uid, int32_t gid);
  // True when c may end or reconfigure the service (Stop, Shut, SetAttrib,
  // Debug): uid 0 or the administrator uid of -a.
  static bool mayAdminister(Client const* c);
  // For a client that may not: NoPrivilege(0, the uid that may) becomes
  // the pending error and the answer is true; the request then reads and
  // changes nothing.
  static bool administrationRefused(Client const* c);
  static bool incompatibleVersions(int32_t v) { return v < kProtocolVersion || v > 9999; }
  // The previous run did not end through Stop (stopping user -1).
  static bool failureRestart() { return stopedBy == -1; }
  // One more (true) or one less (false) holder of the process lock.
  static void lockCheckpoints(bool on);
  static int32_t newSchId();
  // Table locks plus record locks over every open schema.
  static int32_t nLocks();
  static void clearException();
  // The statics of this block back to their start values (reset() calls it).
  static void resetRequests();

  // Start-up's one call for the request side, once the configuration is
  // read: the client hooks below (start-up installs the catalog's own).
  static void installRequests();
  // Copies the lock and client settings of the configuration into the
  // client layer and installs the server's hooks there and in the catalog
  // (rollback, event times, lock unification, detaching, lost
  // transactions). Start-up calls it once the configuration is read.
  static void installClientHooks();
  // Merges c's record locks into table locks over every open schema.
  static void unifyLocks(Client* c, svcatalog::LockObject*& lock);
  // Lowers nextClientEvent to t when earlier or unset.
  static void eventAt(Time const& t);
  // The earliest lock-wait deadline or notification time of any client.
  static Time nextClientEvent;
  // Forwarders of the lock manager's wake-up and pending-lock work.
  static void toBeWaken(Client* c);
  static void clearPendLock(Client* c);

  // ---- transactions ----
  // Begins c's transaction (number -1: the next serial). False, nothing
  // begun, while a checkpoint is due and c holds no locks.
  static bool beginTrans(Client* c, int32_t number, int32_t options);
  // Aborts c's transaction: locks freed; without a journal the server is
  // marked corrupt; the transaction finished and, unless keep, deleted.
  // False when nothing could be rolled back.
  static bool abortTrans(Client* c, bool keep);
  // Frees c's locks and counts one active transaction less; the last one
  // to finish takes a pending checkpoint or version.
  static void finishTransaction(Client* c);
  // "CORRUPTED" with c's description; the server corrupt unless tolerant.
  static void markCorrupt(Client* c);
  // The journal hooks of clients: ADDCLIENT; the rollback of c's
  // transaction and its ABORTTRANSACTION (false: nothing undone).
  static void journalAddClient(Client* c);
  static bool journalRollBack(Client* c);

  // ---- checkpoints and versions ----
  static bool corrupt;         // a transaction could not be rolled back
  static int32_t stopedBy;     // restart marker: the stopping uid, -1 after a failure
  static int64_t nTrans_;      // transactions begun since start
  static int32_t transSerial;  // last transaction number handed out
  static int32_t clevel_;      // check level of verification (-1 default)
  // 0 done, 2 refused: the server is corrupt and force is off.
  static int32_t chkPoint(bool force, int32_t marker);
  static bool shouldDoCP();
  // The file-size limit start-up asks for: at least 2 GB - 1, never lower
  // than the limit it had (unlimited stays unlimited).
  static uint64_t raisedFileLimit(uint64_t cur);
  // The state file's header at start: parity, last checkpoint, restart
  // marker; a clock behind the last checkpoint continues after it.
  static void readState();
  static void writeState(int32_t pos, int32_t marker, String const& file, String const& second);
  static void readStamps();
  static void writeStamps();
  static int32_t newVers();
  static TimeStamp& versStamp(int32_t n);
  static int32_t nVersions();
  // User version numbers to internal ones (see the data-version rules).
  static bool checkVersion(int32_t& v);
  // Resumes the clients waiting to begin a transaction.
  static void resumeBegTrans();
  // Resumer of a held begin (the held-request layer installs it); true
  // when the request ran and replied.
  static bool (*resumeBeginHook)(Client* c);

  // ---- held requests, cursors, copy, profile, debug ----
  // The profile file while profiling (owned); null otherwise.
  static ProfileFile* profFile;
  // When the last profiling pass was written.
  static Time lastProfile;
  // Opens the configured profile file and writes its header; nothing when
  // not profiling.
  static void openProfile();
  // A profiling pass once ProfileFrequency seconds have passed since the
  // last one.
  static void profilePass();
  static void closeProfile();
  // Debug tracing level ("von", "voff").
  static int32_t verb;
  // Checkpoint holds taken by the Debug command "cpoff" and not yet undone.
  static int32_t dbgCpOffs;
  // The Debug request's argument check: the warning and false when the
  // counts differ.
  static bool checkArgs(int32_t received, int32_t expected);
  // The collation set of that name: loaded once from
  // $DATADIR/<name>/<name>.cs and kept; null for an empty name, or with the
  // warning "CANTFINDCOLLSET" and the file name when the file is missing or
  // cannot be read.
  static CollateSet* findCollateSet(String const& name);
  // Every collation set loaded goes.
  static void dropCollateSets();

  // ---- recovery and mirroring ----
  // The decision on an in-doubt transaction (voted, its outcome with the
  // leader server): 1 end it, 0 abort it, -1 undecided. behaviour is the
  // transaction-query option (-1 none; 2 forces end, 4 abort; 0 / 1 decide
  // end / abort when the leader can't be reached). Otherwise the leader is
  // asked (GetInfo 4 with its stamp ts). Unreachable without a deciding
  // behaviour: with mustAnswer the fatal report CANTCONNECT, else the
  // warning CANTCONNECT and -1 at once (the caller asks again later).
  static int32_t isCompleteTrans(int32_t behaviour, String const& leader, TimeStamp const& ts, bool mustAnswer);
  // Clients removed (dead or disconnected) whose voted transaction is led
  // by another server that has not answered: they keep their slot, their
  // transaction and its locks, in state zombie, until the leader answers.
  static std::vector<Client*> inDoubt;
  // Seconds between two questions about the in-doubt clients (30; tests
  // shorten it).
  static int32_t inDoubtRetry;
  // Seconds the run-time question waits for a leader that lives but does
  // not answer before it counts as unreachable (10; tests shorten it).
  static int32_t leaderReplyWait;
  // When the in-doubt clients were last asked about.
  static Time inDoubtAsked;
  static bool isInDoubt(Client const* c);
  // The decision on removed client c's voted transaction led elsewhere:
  // true when it was ended or rolled back (c may go), false when c stays
  // in doubt.
  static bool settleVoted(Client* c);
  // Housekeeping: once inDoubtRetry seconds passed since the last
  // question, asks again about every in-doubt client and removes those
  // decided; true when one was.
  static bool askInDoubt();
  // Transactions found and rolled back by the last readJournalFiles.
  static int32_t transFound;
  static int32_t transRolledBack;
  // Only the first ACTIVETRANS record met is applied.
  static bool activeTransSeen;
  // On a mirror: the primary's clients rebuilt by the replay, by their id
  // (apart from the mirror's own clients); owned.
  static std::vector<Client*> replayed;
  // Seconds a completed two-phase transaction is kept (31 days).
  static constexpr int64_t kCompleteTransKeep = 2678400;
  // Highest client id a journal may name.
  static constexpr int32_t kMaxReplayedClient = 0xFFFF;
  // Once at start, the schemas open: replays the journal from the state
  // file's position (or the oldest file), then, unless mirroring, ends the
  // restart and takes a checkpoint. True when a record was replayed.
  static bool restart();
  static void beginRestart();
  // Forward replay until the journal data ends (a mirror calls it each
  // housekeeping round). A damaged journal is a fatal report (status 1)
  // naming file, offset and transaction.
  static bool readJournalFiles();
  // Applies one record read by nextOp; false when its body is damaged.
  static bool replayRecord(int32_t kind, Client* c, SvTable* t, int32_t offset, int32_t transNum);
  // Decides the voted transactions (once), deletes every rebuilt client
  // (rolling back what stays open) and leaves the restart.
  static void endRestart();
  // Undoes c's chain of records from (offset, length) backwards; false when
  // the chain could not be walked to its start (a warning says where).
  static bool rollBack(Client* c, int32_t offset, int32_t length);
  // The rollback hook: c's transaction undone from its chain, with the
  // notice ROLLBACK.
  static bool rollBackClient(Client* c);
  // A journalled stamp becomes the current one, never at or before the
  // last checkpoint.
  static void useTimeStamp(TimeStamp const& ts);
  // Removes the completed-transaction entry of that leader stamp.
  static void dropCompleteTrans(TimeStamp const& ts);

  // ---- journal and transactions ----
  // The journal (null without JournalDir).
  static Journal* journal() { return journal_; }
  // Makes the journal of JournalDir (buffer JournalBuffer kilobytes) and
  // installs it for the tables and schemas; nothing without JournalDir.
  static void openJournal();
  // Flushes and drops the journal.
  static void closeJournal();
  // A journal exists and writing is not suspended.
  static bool journalOn();
  // The journal's part of a checkpoint: a new file when no transaction is
  // active (the old one listed for deferred unlink when the options word is
  // 0), then the clients, the active and the completed transactions. The
  // position recovery starts from (-1 without a journal); file takes the
  // journal file's base name.
  static int32_t journalCheckpoint(String& file);
  // A write the journal refused: the fatal report "JOURNALFAILED".
  static void journalFailed();
  // Undoes c's transaction from the journal; installed by the rollback
  // code (null: nothing can be undone).
  static bool (*rollbackHook)(Client* c);
  // The requests' parts.
  static long begTransaction(Client* c, int32_t options);
  static long endTransaction(Client* c, int32_t syncWish);
  static long readyToEnd(Client* c, String const& leader, int32_t nServers, TimeStamp const& stamp);
  static long abortTransaction(Client* c);
  // The complete-transactions table.
  static void addCompleteTrans(TimeStamp const& ts, int32_t n);
  // False when no entry has that stamp.
  static bool deleteCompleteTrans(TimeStamp const& ts);
  static void clearCompleteTransTable();
  static int32_t nCompleteTrans();
  static Journal* journal_;
};

namespace svcore {

// a + "." + b, leaving out b's first character when it is '2'.
String logicalName(String const& a, String const& b);
// True for the file errors worth retrying.
bool canRecover(int err);

}  // namespace svcore
