// ProfileFile: the server's usage statistics in a plain-text file: a header
// at start, then at each profiling pass four sections (request statistics
// per server object, file input and output, the blocked files' cache, the
// journal's flushes).
//
// Every piece is written at the current offset as soon as it is built, and
// the offset grows by what was written: a failed write leaves it where it
// was (nothing is overwritten later, nothing is skipped). A ratio over zero
// tries is 0.00.
//
// Layout (texts in capitals are catalogue keys of the server):
//   "\n\n" OMBSTATS(start time) "\n"
//   "\n" OMBMETHSTATS "\n" column line, then each object's own line
//   separator OMBIOGRALSTATS "\t<reads> reads, <writes> writes"
//   "\n" separator CACHESTATS "\t<tries> tries, <hits> hits,ratio:-><r> %\n"
//     then per open schema "Schema: <name>\t" nhits/ntries entries "ratio: <r> %\n"
//   "\n" separator JRNLSTATS "\n\n\t<n> flush, <m> time flush\n"
// where separator is 59 dashes and "\n\n".
#pragma once

#include <zfound/String.h>
#include <zfound/TimeStamp.h>

#include <cstdint>
#include <memory>
#include <vector>

class GServObj;
class OsFile;

class ProfileFile {
public:
  // Opens path for reading and writing, created and truncated.
  ProfileFile(String const& path, TimeStamp const& stamp);
  ~ProfileFile();
  ProfileFile(ProfileFile const&) = delete;
  ProfileFile& operator=(ProfileFile const&) = delete;

  bool ok() const { return ok_; }
  int64_t written() const { return written_; }

  void writeHeader();
  // The objects' request statistics (null entries skipped).
  void writeMethStats(std::vector<GServObj*> const& objects);
  void writeIOGralStats();
  void writeCacheStats();
  // The journal's flush counts (0 and 0 without a journal).
  void writeIOJrnlStats(int64_t flushes, int64_t timeFlushes);
  // One profiling pass: the four sections over every registered object.
  void writeSections(int64_t flushes, int64_t timeFlushes);

  // "%.2f" of hits / tries; 0.00 when there were no tries.
  static String ratio(int64_t hits, int64_t tries);

private:
  void put(String const& text);

  int64_t written_ = 0;
  std::unique_ptr<OsFile> file_;
  TimeStamp start_;
  bool ok_ = false;
};
