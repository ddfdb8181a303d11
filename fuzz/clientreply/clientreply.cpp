// Fuzz target: the client's reply path. A connection over a transport in
// memory sends its requests nowhere and takes its replies from the input:
// each reply part is a header (return word, status, flags) and body words.
// The input also chooses the requests and how the program reads each answer,
// so error objects, pending notifications, multi-part replies and reads past
// a reply's end all come from the peer.
#include <zfound/DbConnection.h>
#include <zfound/Exception.h>
#include <zfound/MsgHeader.h>
#include <zfound/Num.h>
#include <zfound/String.h>

#include "FuzzSupport.h"

#include <deque>
#include <vector>

namespace {

class ScriptedConnection : public DbConnection {
public:
  explicit ScriptedConnection(int32_t capacity) : DbConnection('i', String(), 1, "fuzz", ConnMode(0)) {
    capacity_ = capacity;
    buf_.assign(size_t(capacity) + 3, 0);
    setValues();
  }
  uint32_t* beginOfBuffer() override { return buf_.data(); }
  uint32_t* realBuffer() override { return buf_.data(); }
  int32_t sendPart() override {
    buffer_ = buf_.data();
    readPos_ = writePos_ = buffer_ + 3;
    writeLeft_ = readLeft_ = capacity_ - 1;
    return 0;
  }
  int32_t fillPart() override {
    if (replies.empty()) return -1;
    std::vector<uint32_t> p = replies.front();
    replies.pop_front();
    if (p.size() > buf_.size()) p.resize(buf_.size());
    std::copy(p.begin(), p.end(), buf_.begin());
    buffer_ = buf_.data();
    readPos_ = writePos_ = buffer_ + 3;
    writeLeft_ = capacity_ - 1;
    readLeft_ = int32_t(p.size()) - 4;
    return int32_t(p.size()) * 4;
  }
  std::vector<uint32_t> buf_;
  std::deque<std::vector<uint32_t>> replies;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  zffuzz::Input in(data, size);
  int32_t capacity = 4 + in.u8() % 64;
  std::string script = in.text(32);
  auto* c = new ScriptedConnection(capacity);
  int parts = in.u8() % 16;
  for (int i = 0; i < parts; ++i) {
    s_MsgBuff h;
    h.objId = int32_t(in.u32());
    h.serverOp = int16_t(in.u16());
    int32_t n = in.u8() % (capacity + 1);
    h.lenFlags = uint16_t((in.u8() & 0xC0) << 8 | n);
    std::vector<uint32_t> p(3);
    h.write(p.data());
    for (int32_t k = 0; k < n; ++k) p.push_back(in.u32());
    c->replies.push_back(p);
  }
  Exception::last(Exception(0));
  zffuzz::guarded([&] {
    for (char s : script) {
      switch (uint8_t(s) % 8) {
        case 0: (*c)(DBM_GETINFO) << int32_t(s); break;
        case 1: (*c)(5, DBM_PUTRECORD) << int32_t(s); break;
        case 2: c->execute(); break;
        case 3: { int32_t v; *c >> v; break; }
        case 4: { String t; *c >> t; break; }
        case 5: { Num n; *c >> n; break; }
        case 6: { char* p = nullptr; *c >> p; if (p != reinterpret_cast<char*>(1)) delete[] p; break; }
        default: (void)static_cast<int32_t>(*c); break;
      }
    }
  });
  delete c;
  Exception::last(Exception(0));
  return 0;
}
