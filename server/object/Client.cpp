// Client identity and state.
#include <svobject/Client.h>

#include <zfound/UserInfo.h>

Client::Client(int32_t pid, String const& path, String const& args, int32_t uid, int32_t gid, String const& node,
               String const& tty, bool stoppable)
    : pid_(pid), proc_(path.baseFullName()), args_(args), uid_(uid), gid_(gid), node_(node), tty_(tty),
      connTime_(Time::now()), stoppable_(stoppable) {}

String Client::descr() const {
  String s = proc_;
  if (!args_.isNull())
    s += String(" ") + args_;
  Password pw{int64_t(uid_)};
  return s + ":" + pw.userName() + ":" + node_ + ":" + tty_ + ":" + toString(long(pid_));
}

char const* Client::stateLetter(int32_t st) {
  switch (st) {
  case STATE_READY: return "N";
  case STATE_BLK_LOCK: return "L";
  case STATE_BLK_TRANS: return "B";
  case STATE_ZOMBIE: return "Z";
  default: return "?";
  }
}
