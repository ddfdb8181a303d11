// LoopPort: a reply port over a loop connection, for in-process tests of
// server objects: request words are fed in, and each reply begun is kept
// with its client, status, result word and body words.
#pragma once

#include <svobject/SvObject.h>
#include <zfound/LoopConnection.h>

#include <cstdint>
#include <vector>

namespace zftest {

class LoopPort : public SvReplyPort {
public:
  struct Reply {
    int32_t client = -1;
    int32_t status = 0;
    int32_t result = 0;
    std::vector<uint32_t> body;
    bool sent = false;
  };

  // Parts of `capacity` body words.
  explicit LoopPort(int32_t capacity = 4096) : loop_(capacity) { SvObject::setPort(this); }
  ~LoopPort() override { SvObject::setPort(nullptr); }
  LoopPort(LoopPort const&) = delete;
  LoopPort& operator=(LoopPort const&) = delete;

  Connection& channel() override { return loop_; }
  void reply(int32_t clientId, int32_t status, int32_t result) override {
    current_ = Reply{clientId, status, result, {}, false};
    mark_ = loop_.words().size();
    loop_.setRetValue(result);
    begun_ = true;
  }
  void reply() override {
    replies.push_back(take());
    replies.back().sent = true;
  }
  void getRemainder() override {}
  void clear() override {
    begun_ = false;
    mark_ = loop_.words().size();
  }

  // The words of the next request.
  void feed(std::vector<uint32_t> const& words) { loop_.feed(words); }
  // The reply being built (not sent yet): its header fields and body.
  Reply take() {
    Reply r = current_;
    r.result = loop_.retValue();
    std::vector<uint32_t> const all = loop_.words();
    if (begun_ && mark_ <= all.size()) r.body.assign(all.begin() + long(mark_), all.end());
    begun_ = false;
    mark_ = all.size();
    return r;
  }
  bool begun() const { return begun_; }

  std::vector<Reply> replies;  // replies sent, in order

private:
  LoopConnection loop_;
  Reply current_;
  size_t mark_ = 0;
  bool begun_ = false;
};

}  // namespace zftest
