// LoopConnection: writes parts into memory and reads them back through the
// Connection word discipline (see LoopConnection.h).
#include <zfound/LoopConnection.h>

#include <algorithm>

LoopConnection::LoopConnection(int32_t capacity)
    : partWords_(capacity < 1 ? 1 : capacity),
      out_(size_t(kHeaderWords + partWords_), 0),
      in_(size_t(kHeaderWords + partWords_), 0) {
  capacity_ = partWords_;
  peerId_ = -1;
  startPart();
  readPos_ = nullptr;
  readLeft_ = 0;
}

LoopConnection::~LoopConnection() = default;

void LoopConnection::startPart() {
  std::fill(out_.begin(), out_.end(), 0u);
  buffer_ = out_.data();
  writePos_ = out_.data() + kHeaderWords;
  writeLeft_ = partWords_;
}

std::vector<uint32_t> LoopConnection::words() const {
  std::vector<uint32_t> all;
  for (auto const& part : sent_) all.insert(all.end(), part.begin(), part.end());
  all.insert(all.end(), out_.begin() + kHeaderWords, out_.begin() + (writePos_ - out_.data()));
  return all;
}

void LoopConnection::_flush() {
  sent_.emplace_back(out_.begin() + kHeaderWords, out_.begin() + (writePos_ - out_.data()));
  ++flushes_;
  startPart();
  writeLeft_ = partWords_ - 1;  // the word about to be written
}

void LoopConnection::rewind() {
  std::vector<uint32_t> all = words();
  sent_.clear();
  startPart();
  feed(all);
}

void LoopConnection::feed(std::vector<uint32_t> const& input) {
  input_ = input;
  inputPos_ = 0;
  readPos_ = nullptr;
  readLeft_ = 0;
  counter_ = -1;
  clearBad();
}

int32_t LoopConnection::wordsLeft() const {
  int32_t inPart = readPos_ != nullptr ? readLeft_ : 0;
  return inPart + static_cast<int32_t>(input_.size() - inputPos_);
}

void LoopConnection::_fill() {
  std::fill(in_.begin(), in_.end(), 0u);
  buffer_ = in_.data();
  readPos_ = in_.data() + kHeaderWords;
  size_t n = std::min(input_.size() - inputPos_, size_t(partWords_));
  if (n == 0) {
    // Nothing more was written: one zero word, and the channel is bad.
    readLeft_ = 0;
    setBad();
    return;
  }
  std::copy(input_.begin() + long(inputPos_), input_.begin() + long(inputPos_ + n), in_.begin() + kHeaderWords);
  inputPos_ += n;
  readLeft_ = static_cast<int32_t>(n) - 1;  // the word about to be read
}
