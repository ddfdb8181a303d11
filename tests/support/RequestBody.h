// The words of a raw request body, written with the channel's own encoders
// as the client library writes them: longs, texts, an empty expression and
// time stamps, in order.
#pragma once

#include <zfound/Expr.h>
#include <zfound/LoopConnection.h>
#include <zfound/String.h>
#include <zfound/TimeStamp.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zftest {

class RequestBody {
public:
  RequestBody& w(int32_t v) {
    con_ << v;
    return *this;
  }
  RequestBody& s(char const* v) {
    con_ << String(v);
    return *this;
  }
  RequestBody& s(std::string const& v) { return s(v.c_str()); }
  RequestBody& e() {
    con_ << Expr();
    return *this;
  }
  // `class`: the database interface declares a function of that name.
  RequestBody& t(class TimeStamp const& ts) {
    con_ << ts;
    return *this;
  }
  std::vector<uint32_t> words() const { return con_.words(); }

private:
  LoopConnection con_{8192};
};

}  // namespace zftest
