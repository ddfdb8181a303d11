// Shared pieces of the fuzz harnesses: a private start-up, the guard that
// turns a fatal report into the end of an input, and a reader of the input's
// bytes.
//
// A fatal report is how the system refuses bad outside data in some places
// (a damaged settings file, a malformed layout line): the guard ends the
// input there, which is not a finding. A failed assertion, precondition or
// postcondition is one: the harnesses link the four check functions to
// wrappers that abort (never judged by the report's text, which the input
// may have chosen), and a sanitizer report, a time-out and a memory blow-up
// are findings through the fuzzer itself.
//
// Invariants: init() does its work once per process and removes its private
// directory at exit; guarded() calls may not nest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class Expr;

namespace zffuzz {

// Once per process: a private temporary directory (DATADIR, OMBREL, TMPDIR
// and HOME point into it), start-up as program "zffuzz", the report handlers
// silenced, and the crash signals given back to the sanitizers. Returns the
// directory.
std::string const& init();

// Runs body; a fatal report that is not a failed check ends it early.
// Returns false when it was ended so.
bool guarded(std::function<void()> const& body);

// Writes size bytes at data to `name` in the private directory and returns
// its path.
std::string writeFile(std::string const& name, void const* data, size_t size);

// True when the code holds a loop: such code is bound and checked but never
// evaluated, since an input could make it run for ever.
bool hasLoop(Expr const& e);

// Reads the bytes of one input from the front; past the end every reader
// gives zeros and empty texts.
class Input {
public:
  Input(uint8_t const* data, size_t size) : p_(data), end_(data + size) {}
  size_t left() const { return size_t(end_ - p_); }
  bool empty() const { return p_ == end_; }
  uint8_t u8() { return p_ < end_ ? *p_++ : 0; }
  uint16_t u16() { return uint16_t(u8() << 8 | u8()); }
  uint32_t u32() { return uint32_t(u16()) << 16 | u16(); }
  // Up to max bytes, the length taken from the next byte.
  std::string text(size_t max = 255);
  // Every byte left.
  std::string rest();

private:
  uint8_t const* p_;
  uint8_t const* end_;
};

}  // namespace zffuzz
