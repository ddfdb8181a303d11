// Client: one connected client process as the server sees it. Here its
// identity (what the Connect request sends) and its state; locks, held
// requests, time-outs and transactions join it with the parts that use
// them.
//
// Invariants: the client id is -1 until the registry assigns a slot; the
// state starts ready; the identity never changes after construction.
#pragma once

#include <zfound/String.h>
#include <zfound/Time.h>

#include <cstdint>

class Client {
public:
  enum ClientState : int32_t { STATE_READY = 0, STATE_BLK_LOCK = 1, STATE_BLK_TRANS = 2, STATE_ZOMBIE = 3 };

  // pid, program path, arguments, uid, gid, node, terminal, stoppable.
  Client(int32_t pid, String const& path, String const& args, int32_t uid, int32_t gid, String const& node,
         String const& tty, bool stoppable);

  // proc [" " args] ":" user name ":" node ":" tty ":" pid.
  String descr() const;
  // "N", "L", "B", "Z" by state, "?" for any other value.
  static char const* stateLetter(int32_t st);

  int32_t id() const { return id_; }
  void setId(int32_t id) { id_ = id; }
  int32_t pid() const { return pid_; }
  String const& proc() const { return proc_; }
  String const& args() const { return args_; }
  int32_t uid() const { return uid_; }
  int32_t gid() const { return gid_; }
  String const& node() const { return node_; }
  String const& tty() const { return tty_; }
  Time const& connectTime() const { return connTime_; }
  ClientState state() const { return state_; }
  void setState(ClientState s) { state_ = s; }
  bool isReady() const { return state_ == STATE_READY; }
  bool stoppable() const { return stoppable_; }
  int32_t nMessages() const { return nMsgs_; }
  void countMessage() { ++nMsgs_; }

private:
  int32_t id_ = -1;
  int32_t pid_;
  String proc_;
  String args_;
  int32_t uid_;
  int32_t gid_;
  String node_;
  String tty_;
  Time connTime_;
  ClientState state_ = STATE_READY;
  int32_t nMsgs_ = 0;
  bool stoppable_;
};
