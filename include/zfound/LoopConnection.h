// LoopConnection: a Connection that loops back to itself, for tests of the
// wire forms of every value type.
//
// Words written go into parts of `capacity` body words behind a 3-word
// header, exactly as a transport's buffer holds them; a full part is kept
// when the word discipline flushes it. rewind() ends the writing: what was
// written becomes the input, read back part by part through the same
// discipline. feed() replaces the input with words of the caller's choice
// (to test decoders against malformed or hostile input).
//
// Invariants: reading never passes the words that were written or fed; a
// read past the end marks the channel bad and yields zero words.
#pragma once

#include <zfound/Connection.h>

#include <cstdint>
#include <cstddef>
#include <vector>

class LoopConnection : public Connection {
public:
  // Parts of `capacity` body words (at least 1).
  explicit LoopConnection(int32_t capacity = 256);
  ~LoopConnection() override;

  // Every body word written so far, in order (flushed parts and the part
  // being filled).
  std::vector<uint32_t> words() const;
  // Parts handed to the transport by the word discipline so far.
  int32_t flushes() const { return flushes_; }
  // Ends writing: the words written so far become the input, read from the
  // start; writing starts again on an empty output.
  void rewind();
  // Makes `input` the words to read (in parts of `capacity`), from the start.
  void feed(std::vector<uint32_t> const& input);
  // Body words not read yet.
  int32_t wordsLeft() const;

protected:
  void _flush() override;
  void _fill() override;

private:
  void startPart();

  int32_t partWords_;                        // body words of one part
  std::vector<uint32_t> out_;                // header + body of the part being written
  std::vector<std::vector<uint32_t>> sent_;  // body words of flushed parts
  std::vector<uint32_t> input_;              // words to read
  size_t inputPos_ = 0;                      // next input word to load
  std::vector<uint32_t> in_;                 // header + body of the part being read
  int32_t flushes_ = 0;
};
