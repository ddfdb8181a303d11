// The Debug request of the server object, its listings, and the profile
// file's life in the server.
//
// Debug request: a command text and the number of String arguments that
// follow. Every command but "echo" answers 0; its output goes to the log as
// warnings. A wrong argument count is reported and the command not run. Index
// numbers, versions and names from the request are checked before they are
// used: an unknown schema, table or index makes the command a no-op.
// "cpoff" holds checkpoints through the process-lock count; "cpon" undoes
// only a hold that an earlier "cpoff" took, never a client's process lock.
#include <svcore/CopyTable.h>
#include <svcore/ProfileFile.h>
#include <svcore/Server.h>
#include <svcore/ServerObject.h>
#include <svcore/SvConfigFile.h>

#include <blkfile/CacheBuffer.h>
#include <sindex/SvIndex.h>
#include <svcatalog/SvSchema.h>
#include <svcatalog/SvTabRep.h>
#include <svcatalog/SvTable.h>
#include <svobject/Client.h>
#include <zfound/Connection.h>
#include <zfound/Message.h>

#include <zfound/CollateSet.h>

#include <cstdlib>
#include <memory>
#include <unistd.h>

ProfileFile* Server::profFile = nullptr;
Time Server::lastProfile;
int32_t Server::verb = 0;
int32_t Server::dbgCpOffs = 0;

// ---- profile file ------------------------------------------------------------

void Server::openProfile() {
  closeProfile();
  if (!profiling_sd || configFile == nullptr || configFile->profFile().isNull()) return;
  profFile = new ProfileFile(configFile->profFile(), timeStamp);
  profFile->writeHeader();
  lastProfile = Time::now();
}

void Server::profilePass() {
  if (profFile == nullptr || configFile == nullptr || configFile->profileFreq() <= 0) return;
  Time const now = Time::now();
  if (!lastProfile.isNull() && now < lastProfile + configFile->profileFreq()) return;
  lastProfile = now;
  profFile->writeSections(0, 0);
}

void Server::closeProfile() {
  delete profFile;
  profFile = nullptr;
  lastProfile = Time();
}

// ---- collation sets --------------------------------------------------------------

namespace {

std::vector<std::unique_ptr<CollateSet>>& collateSets() {
  static std::vector<std::unique_ptr<CollateSet>> sets;
  return sets;
}

std::vector<String>& collateNames() {
  static std::vector<String> names;
  return names;
}

}  // namespace

CollateSet* Server::findCollateSet(String const& name) {
  if (name.isNull() || name.length() == 0) return nullptr;
  for (size_t i = 0; i < collateNames().size(); ++i)
    if (cmp(collateNames()[i], name) == 0) return collateSets()[i].get();
  char const* const dir = std::getenv("DATADIR");
  String const file = String(dir != nullptr ? dir : "") + "/" + name + "/" + name + ".cs";
  auto set = std::make_unique<CollateSet>(file);
  if (::access(toCharPtr(file), F_OK) != 0 || !set->ok()) {
    String const text = String(appMsg("CANTFINDCOLLSET", "CANTFINDCOLLSET")) + " " + file;
    warning(String("%S"), &text);
    return nullptr;
  }
  collateNames().push_back(name);
  collateSets().push_back(std::move(set));
  return collateSets().back().get();
}

void Server::dropCollateSets() {
  collateSets().clear();
  collateNames().clear();
}

// ---- the Debug request --------------------------------------------------------

bool Server::checkArgs(int32_t received, int32_t expected) {
  if (received == expected) return true;
  String const text = String("Wrong number of parameters for dbg message, expected ") + toString(long(expected)) +
                      " and received " + toString(long(received));
  warning(String("%S"), &text);
  return false;
}

namespace {

void say(String const& text) { warning(String("%S"), &text); }

// Reads n String arguments; false when the request ran short.
bool readArgs(int32_t n, std::vector<String>& out) {
  Connection* const con = SvObject::con;
  for (int32_t i = 0; i < n; ++i) {
    String s;
    *con >> s;
    if (con->bad()) return false;
    out.push_back(s);
  }
  return true;
}

// A decimal number argument; false for anything else.
bool number(String const& s, int32_t& v) {
  if (s.isNull()) return false;
  char const* p = toCharPtr(s);
  char* end = nullptr;
  long const n = std::strtol(p, &end, 10);
  if (end == p || *end != '\0' || n < INT32_MIN || n > INT32_MAX) return false;
  v = int32_t(n);
  return true;
}

SvTabRep* findRep(String const& schema, String const& table) {
  SvSchema* const s = SvSchema::find(schema);
  return s != nullptr ? s->findTabRep(table) : nullptr;
}

// The index of a table version named by the arguments, or null (reported)
// when any part is unknown or out of range.
SvIndex* findIndex(String const& schema, String const& table, String const& ind, int32_t version) {
  SvTabRep* const rep = findRep(schema, table);
  SvTable* const t = rep != nullptr ? rep->attachment(version) : nullptr;
  int32_t n = -1;
  if (t == nullptr || !number(ind, n) || t->index(n) == nullptr) {
    say(String("No index ") + ind + " of table " + schema + "." + table);
    return nullptr;
  }
  return t->index(n);
}

void listClients() {
  for (Client* c : Server::clients) {
    if (c == nullptr) continue;
    String user, group;
    c->getUser(user, group);
    say(String("pid ") + toString(long(c->pid())) + ", tty " + c->tty() + ", time " +
        toString(c->connectTime(), 6) + ", proc " + c->proc() + ", node " + c->node() + ", user " + user +
        ", stime " + toString(c->connectTime(), 6) + ", nmsg " + toString(long(c->nMessages())) + ", grp " + group +
        ", nobj " + toString(long(c->nObjects())) + ", cid " + toString(long(c->id())) + ", state " +
        Client::stateLetter(c->state()));
  }
}

void listObjects() {
  int32_t const n = GServObj::nObjects();
  int32_t found = 0;
  for (uint32_t slot = 0; found < n && slot < (1u << 24); ++slot) {
    uint32_t const id = GServObj::idOf(slot);
    if (!GServObj::validObject(id)) continue;
    ++found;
    GServObj* const o = GServObj::object(id);
    say(String("oid(") + toString(long(id)) + "): " + o->objType() + "(" + o->name() + ")");
  }
}

}  // namespace

void Server::listCompleteTrans() {
  say(String("List of completed transactions..."));
  if (ctrans != nullptr)
    for (CompleteTransaction const& t : *ctrans) say(String("transId: ") + t.stamp().descr());
  say(String("End of list"));
}

long ServerObject::dbg(Client* c) {
  // Listings write any table's records to the log and "cpoff" holds
  // checkpoints for everyone: only the server's administrators may.
  if (administrationRefused(c)) return -1;
  String command;
  int32_t n = 0;
  *con >> command >> n;
  if (con->bad()) {
    Exception::last(InvalidData(String("Debug request cut short")));
    return -1;
  }
  if (verb > 0) say(String("Server received debug: '") + command + "'");
  // A hostile count is read as far as the request goes; the command then
  // sees the count it was sent and refuses it.
  std::vector<String> args;
  if (n > 0 && n <= 16 && !readArgs(n, args)) {
    Exception::last(InvalidData(String("Debug arguments cut short")));
    return -1;
  }
  auto is = [&](char const* name) { return cmp(command, String(name)) == 0; };

  if (is("echo")) {
    if (!checkArgs(n, 1)) return 0;
    reply(c, 0);
    *con << args[0];
    return 0;
  }
  if (is("von") || is("voff")) {
    if (checkArgs(n, 0)) verb = is("von") ? 1 : 0;
  } else if (is("po")) {
    if (checkArgs(n, 0)) listObjects();
  } else if (is("pc")) {
    if (checkArgs(n, 0)) CacheBuffer::list();
  } else if (is("pl")) {
    if (checkArgs(n, 0))
      for (SvSchema* s = SvSchema::first(); s != nullptr; s = s->next()) s->listLocks();
  } else if (is("pp")) {
    if (checkArgs(n, 0)) SvSchema::printPrivs();
  } else if (is("cc")) {
    int32_t flag = 0;
    if (checkArgs(n, 1) && number(args[0], flag)) {
      CacheBuffer::flushAll(nullptr, flag != 0);
      CacheBuffer::checkCache();
    }
  } else if (is("vinds")) {
    if (checkArgs(n, 0))
      for (SvSchema* s = SvSchema::first(); s != nullptr; s = s->next()) s->verify(true);
  } else if (is("pct")) {
    if (checkArgs(n, 0)) listCompleteTrans();
  } else if (is("lcl")) {
    if (checkArgs(n, 0)) listClients();
  } else if (is("pt") || is("vind")) {
    if (checkArgs(n, 3)) {
      if (SvIndex* ix = findIndex(args[0], args[1], args[2], -1)) {
        if (is("pt"))
          ix->printTree();
        else
          ix->verify(true);
        ix->unLock();
      }
    }
  } else if (is("ptv")) {
    int32_t version = 0;
    if (checkArgs(n, 4)) {
      if (!number(args[3], version) || !checkVersion(version)) {
        say(String("No version ") + args[3]);
      } else if (SvIndex* ix = findIndex(args[0], args[1], args[2], version)) {
        ix->printTree();
        ix->unLock();
      }
    }
  } else if (is("dt") || is("psd") || is("psm") || is("nrecs") || is("bk")) {
    if (checkArgs(n, 2)) {
      SvTabRep* const rep = findRep(args[0], args[1]);
      SvTable* const t = rep != nullptr ? rep->attachment(-1) : nullptr;
      if (t != nullptr) {
        if (is("dt")) {
          rep->printMFree();
          rep->printOFree();
          rep->dumpContents(rep->hasCreationStamp(), 1, rep->last());
        } else if (is("psm")) {
          t->listContents();
        } else if (is("nrecs")) {
          rep->printNRecs();
        } else if (is("psd")) {
          t->debug();
        } else if (!CopyTable::rebuildIndices(c, t)) {
          String const why = Exception::last().message();
          Exception::last(Exception(0));
          say(String("Index rebuild of ") + args[0] + "." + args[1] + ": " + why);
        }
      }
    }
  } else if (is("cpoff")) {
    if (checkArgs(n, 0)) {
      lockCheckpoints(true);
      ++dbgCpOffs;
      say(String("Checkpoints disabled"));
    }
  } else if (is("cpon")) {
    if (checkArgs(n, 0)) {
      // Only a hold of an earlier "cpoff" is undone.
      if (dbgCpOffs > 0) {
        --dbgCpOffs;
        lockCheckpoints(false);
      }
      say(String("Checkpoints enabled"));
    }
  } else {
    say(String("Debug type '") + command + "' is not known");
  }
  return 0;
}
