// The frame of the server-client database library, shared by its sources:
// the library's own part of the schema and table descriptors, the lookups
// from a handle to its schema, table and connection, the one way a request
// is sent to a server object and its reply read, and the field converters.
//
// Schema lifecycle: a slot of the open-schema table is free -> taken by an
// open (descriptor made, schema attached on its server, its table list read
// into unattached table descriptors, record length 0) -> each table is
// attached on its first use (_AttachTable) -> closed (every attached table
// detached, the schema detached, the connection given back) -> free. A
// failed open leaves nothing behind.
//
// Invariants: a schema in slot n has handle n << 16 and its om part; table
// number i of a schema (1..ntables) names a descriptor whose om part holds
// the whole server name and the server's table number; a table with record
// length 0 is not attached (objId -1, no fields, no indexes); an attached
// table has one converter per field and key parts naming its own fields.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <dbm/DbDescr.h>
#include <zfound/InCheck.h>
#include <zfound/MsgHeader.h>

class Connection;
class DbConnection;
class Expr;
class Privilege;

// ---- constants ---------------------------------------------------------------
inline constexpr int32_t kOmProtocol = 1101;          // this client's protocol version
inline constexpr int32_t kOmOldestRefused = 1100;     // server versions up to this are refused
inline constexpr int32_t kOmPrefixBytes = 32;         // record prefix of a record buffer
inline constexpr int32_t kOmServerObject = 0x70000000;
inline constexpr int32_t kOmRunMarker = 0x7ffffffe;   // announces a run count on the wire
inline constexpr int32_t kOmWireNull = int32_t(0x80000000);
inline constexpr int32_t kOmWireHigh = 0x7fffffff;
// Attach kinds of the Attach request.
inline constexpr int32_t kOmAttachSchema = 16;
inline constexpr int32_t kOmAttachTable = 32;
inline constexpr int32_t kOmAttachCursor = 64;

// ---- the library's part of the descriptors ------------------------------------
class ZxField;

struct om_schema {
  std::string name;        // schema name, lower case, whole
  std::string server;      // server name (text before '/'), empty for none
  int32_t version = 0;     // version asked for, -1 current
  int32_t mode = 0;        // open mode
  DbConnection* conn = nullptr;  // given back through DbConnection::dispose
  int32_t objId = -1;      // schema object on the server; -1 not attached
  int32_t protocol = 0;    // the server's protocol version
  int32_t ntables = 0;     // tables + 1
  std::vector<std::unique_ptr<char[]>> kept;  // _StrValPut / _MemValPut copies
  // Enumerations declared by _AddEnumItem and not sent yet: name, item
  // count declared, items so far.
  struct PendingEnum {
    std::string name;
    int32_t declared = 0;
    std::vector<std::pair<std::string, int32_t>> items;
  };
  std::vector<PendingEnum> pending;
};

// What a field keeps beside s_field.
struct om_field {
  int32_t kept = 0;        // the long after the type
  int32_t srvFlags = 0;    // flags word as received
  std::string enumName;    // enumeration of a list check
  std::string collate;     // collating-set name
  uint32_t refClass = 0;   // referenced object: the server's table number
  uint32_t refInst = 0;    // and the library's number of its index (kOmNoIndex: none)
  ZxField* conv = nullptr; // wire converter
  std::string defaultText; // default of a field defined here, sent with its table
  std::string maskText;    // mask of a field defined here as given, sent with its table
};

// What an index keeps beside s_index.
struct om_index {
  int32_t kept = 0;        // the first long (the server's index number)
  int32_t srvFlags = 0;    // flags as received
};

struct om_table {
  std::string name;        // name as received, whole
  int32_t number = 0;      // the server's table number
  int32_t objId = -1;      // table object on the server; -1 not attached
  DbConnection* conn = nullptr;
  int32_t kept1 = 0;       // second table long
  int32_t kept2 = 0;       // long after the check expression
  int32_t srvFlags = 0;    // table flags as received
  int32_t recnoIndex = -1; // the record-number index handle, -1 none
  std::vector<om_field> fields;
  std::vector<om_index> indexes;
  int32_t declared = 0;    // fields CreateTable declared; 0 once the table is on the server
};

// An index number no index of a table has (a table holds at most 255,
// numbered from 0): what a reference read from the server names when the
// table it names has no index of the server's number.
inline constexpr int32_t kOmNoIndex = 0xff;

// Index numbers of a table. The library numbers a table's indexes 0..n-1 in
// order (the low byte of an index handle; a dropped index moves the later
// ones down one); the server keeps the number each index got when it was
// made, and a dropped index leaves its number unused. After a drop the two
// differ, so every number that goes to or comes from the server passes here.
// toServer: the server's number of the library's index n (-1 when the table
// has no index n or it is not on the server yet); else the library's number
// of the server's index n (-1 when the table holds none of that number).
int32_t omIndexNumber(om_table const* ot, int32_t n, bool toServer);

// ---- lookups (Schema.cpp, Descriptor.cpp) ---------------------------------------
// The open schema of a handle (slot 0: the current one); reports
// "IO_INV_SCHEMA" / "IO_NO_CURR_SCHEMA" and gives null otherwise.
s_schema* omSchema(int32_t handle);
// The library part of a schema / table (never null for a live descriptor).
om_schema* omOf(s_schema* sp);
om_table* omOf(s_table* tp);
// The attached descriptor of a table handle (attaching it on first use);
// null after a report when the handle names no table or the attach failed.
s_table* omTable(int32_t handle);
// The connection of a schema handle / of a table handle's schema; null none.
DbConnection* omConnection(int32_t handle);
// The connection to server `server` for a schema it does not list yet (a
// new one); a blank name means the first server listed in "SERVERS". Null,
// with nothing ended, when none is listed or it cannot be reached.
DbConnection* omServerConnection(std::string const& server);
// The handle registered for a server table number, -1 when unknown: in
// the current schema first, else in the first open schema listing it (a
// number is unique within one server only). The second form looks in the
// schema of handle `schema` only. A registration is kept per schema:
// registering a number again in the same schema replaces its handle;
// forgetting it leaves other schemas' entries.
int32_t findDbTable(int32_t number);
int32_t findDbTable(int32_t number, int32_t schema);
void addDbTable(int32_t number, int32_t handle);
void delDbTable(int32_t number, int32_t schema);

// The schema's table list: a new unattached table of `name` (kept whole)
// and server number in the first free table number; its
// handle, or -1 when the schema has no free number.
int32_t omNewTable(s_schema* sp, std::string const& name, int32_t number);
// Forgets table number `slot` of the schema (detaching it on the server
// when attached) and frees its number.
void omForgetTable(s_schema* sp, int32_t slot);
// Detaches an attached table on the server and makes it unattached again
// (record length 0): its next use attaches it and reads its new description.
void omResetTable(s_table* tp);
// The record buffer (record length + 4 bytes) and the client table cache
// of a table number are allocations of def_Alloc; the frame frees both
// (def_Free) when the table is forgotten or its schema closed.

// A text the descriptors keep: a new[] copy the frame frees with the
// descriptor; a null text is kept as "" (`omKeepText(String)`) or stays null.
char* omKeepText(char const* text);
char* omKeepText(String const& text);
// The characters of a received text: "" for the null and the highest value.
char const* omChars(String const& text);

// ---- requests (Request.cpp) ------------------------------------------------------
// Begins request `op` on server object `objId` of `c`; the caller writes the
// arguments with << and completes it with omExecute (a void request is only
// buffered and goes with the next one).
DbConnection& omBegin(DbConnection& c, int32_t objId, SvMessage op);
// Completes the request begun last: the reply's result word, after which
// the reply body is read with >>. A request that failed (no reply, an error
// reply) gives its result (usually -1) with the error in Exception::last().
int32_t omExecute(DbConnection& c);
// The code of the error of the last request (0 none).
int32_t omLastError();
// True when the reply being read was malformed (a length or count out of
// range, or read past its end): the caller refuses what it was building.
bool omReplyBad(DbConnection& c);

// ---- privileges as the interface keeps them (Privilege lists) ------------------
// The interface array of a server privilege list (def_Alloc, null when the
// list is empty) and its count; schema lists hold one level per entry.
int32_t* omToInterfacePrivs(Privilege const& p, uint16_t& count, bool schema);

// ---- field converters (Convert.cpp) -----------------------------------------------
// Moves one field between a record buffer and a connection, every element
// of an array, with runs of equal elements sent once behind the run marker.
class ZxField {
public:
  explicit ZxField(s_field const* f) : fp_(f) {}
  virtual ~ZxField() = default;
  ZxField(ZxField const&) = delete;
  ZxField& operator=(ZxField const&) = delete;

  // Bytes of one element in the buffer (n: the length asked for a text).
  virtual int32_t ilength(int32_t n) const;
  // Sends one element.
  virtual void sendOne(Connection& c, char const* elem) = 0;
  // Receives every element into data (null: a work buffer of the library);
  // false when the reply is malformed (nothing is written past the field).
  virtual bool receive(Connection& c, char* data);
  // Sends every element (n: the length of a text element; full: a text goes
  // as it stands, bounded by the field length).
  virtual void send(Connection& c, char const* data, int32_t n, bool full);

  s_field const* field() const { return fp_; }
  // Elements of the field (its dimension, 1 without one).
  int32_t elements() const;

protected:
  // Reads one value with its run count (1 without one) into elem; false
  // when the value or count is malformed.
  virtual bool receiveOne(Connection& c, char* elem, int32_t& count) = 0;

  s_field const* fp_;
};

// The converter of a field by its type and internal type; null for a type
// that has none (reported).
ZxField* BuildZxField(s_field const* f);

// ---- value checks (Convert.cpp) ----------------------------------------------------
// The foundation's checks with their object ids in the library's numbering:
// (0, table handle | (n + 1)) for the server's (table number, n).
class ZxIntegrity : public Integrity {
public:
  ZxIntegrity() = default;
  explicit ZxIntegrity(Connection& c) : Integrity(c) {}
  void send(Connection& c) const override;
};
class ZxInList : public InList {
public:
  ZxInList() = default;
  explicit ZxInList(Connection& c) : InList(c) {}
  void send(Connection& c) const override;
};
// Turns the server's object ids of a received check into the library's,
// and the index a referential check names into the library's index number
// (omLibraryIndex: the table it names may be attached here, so a table's
// checks are converted once the table itself is attached); false (the
// check unchanged) when one names a table the schema does not know.
bool convertZx(InCheck& check, s_schema* sp);
// Sends a check's type, values and counts with its object ids in the
// server's numbering.
void sendConvertedZx(InCheck const& check, Connection& c);
// Sends a value check with its object ids in the server's numbering: the
// check's values (an empty check as such), and for a referential check the
// index it looks keys up in, (0, table handle | index) sent as the server's
// (table number, index number) (omServerIndex); an index the server does
// not hold goes as (0, 0), no index (_SetInCheck refuses such a check
// before sending). Both checks' send() and the design calls use it.
void sendCheck(Connection& c, InCheck const& check);
// The server's (table number, index number) of the library's index handle
// (table handle | index); false when the table is unknown or the index is
// not on the server.
bool omServerIndex(int32_t index, ObjectId& out);
// The library's (0, table handle | index) of the server's (table number,
// index number) in schema sp, the table attached when it is not yet; an
// index the table does not hold becomes kOmNoIndex. False when the schema
// has no table of that number.
bool omLibraryIndex(s_schema* sp, ObjectId& id);
