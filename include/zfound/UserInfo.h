// User accounts: the record of one account read from the account and group
// text files ("/etc/passwd", "/etc/group"), by user id, by the owner of a
// process, or by user name.
//
// Invariants: a record whose user is not found has user id and group id -1
// and tests false; ids are kept whole (32-bit ids in a 64-bit field, -1 for
// none); the files are only read.
#pragma once

#include <zfound/String.h>

#include <cstdint>

class Password {
public:
  // The calling process's real user id.
  Password();
  // The account of user id `uid`.
  explicit Password(int64_t uid);
  // The account of the owner of process `pid`; `unused` is not used.
  Password(int64_t pid, int unused);
  // The account named `name`.
  explicit Password(String const& name);

  int64_t userId() const { return userId_; }
  int64_t groupId() const { return groupId_; }
  String const& userName() const { return userName_; }
  String const& groupName() const { return groupName_; }
  String const& homeDir() const { return homeDir_; }
  String const& loginShell() const { return loginShell_; }

  // True when the account was found (the user id is not -1).
  explicit operator bool() const { return userId_ != -1; }
  bool operator!() const { return userId_ == -1; }

  // Reads the accounts from other files (for tests); null restores the
  // system's files.
  static void TEST_setAccountFiles(char const* passwdFile, char const* groupFile);

private:
  void byUid(int64_t uid);
  void byName(String const& name);
  void findGroup();

  int64_t userId_ = -1;
  int64_t groupId_ = -1;
  String userName_;
  String groupName_;
  String homeDir_;
  String loginShell_;
};

// The user id of the owner of process `pid` (the owner of "/proc/<pid>"),
// or -1 when there is no such process.
int64_t uidFromPid(int64_t pid);
