// TimeStamp: stamps handed out in strictly increasing order, their
// comparison and text (the stored and connection forms are with the other
// stored forms and the word channel).
//
// The process's last stamp only ever moves forward. setNow() gives the
// current second with sequence 0 when the clock has passed the last stamp;
// otherwise (same second, or a clock that went back) it gives the next
// sequence number of the last stamp, and when that second has used all
// 65,536 numbers it carries into the following second.
#include <zfound/TimeStamp.h>
#include <zfound/String.h>

#include "DateTimeImpl.h"

TimeStamp& TimeStamp::lastStamp() {
  static TimeStamp last;
  return last;
}

bool TimeStamp::setNow() {
  TimeStamp& last = lastStamp();
  Time now = Time::now();
  if (last.isNull() || now > last.time_) {
    last.time_ = now;
    last.nSec_ = 0;
  } else if (last.nSec_ < 65535) {
    ++last.nSec_;
  } else {
    last.time_ += 1;
    last.nSec_ = 0;
  }
  time_ = last.time_;
  nSec_ = last.nSec_;
  return nSec_ == 0;
}

TimeStamp& TimeStamp::operator++() {
  TimeStamp old = *this;
  if (nSec_ < 65535) {
    ++nSec_;
  } else {
    setNow();
    if (cmp(old) <= 0) {
      time_ = old.time_ + 1;
      nSec_ = 0;
    }
  }
  TimeStamp& last = lastStamp();
  if (last.isNull() || last.cmp(*this) < 0) last.setTime(*this);
  return *this;
}

TimeStamp& TimeStamp::operator--() {
  if (nSec_ > 0) {
    --nSec_;
  } else {
    nSec_ = 65535;
    time_ -= 1;
  }
  return *this;
}

TimeStamp& TimeStamp::operator+=(int32_t s) {
  time_ += s;
  return *this;
}

TimeStamp& TimeStamp::operator-=(int32_t s) {
  time_ -= s;
  return *this;
}

int32_t TimeStamp::cmp(TimeStamp const& ts) const {
  if (time_ != ts.time_) return time_ < ts.time_ ? -1 : 1;
  return int32_t(nSec_) - int32_t(ts.nSec_);
}

String TimeStamp::descr() const {
  char buf[128];
  dtx::Out out(buf, sizeof buf);
  out.put("(Time: ");
  char const* t = time_.format("DD/MM/YY HH:MI:SS");
  if (t == reinterpret_cast<char const*>(1))
    out.put("(high value)");
  else if (t)
    out.put(t);
  out.put(", seqn: ");
  out.num(nSec_, 0);
  out.put(", uid: ");
  out.num(userId_, 0);
  out.put(")");
  return String(buf);
}
