// DirName: a directory path normalised by name alone ("." and empty
// components vanish, ".." drops the previous component but never climbs
// above the root), and changed by relative or absolute paths without
// touching the process's working directory.
//
// DirView: a sorted snapshot of the entries of one directory that match a
// file-name pattern, each with its name, size, mode, owner, group and
// modification time. The view owns its entries; elem(n) asserts that n is
// in range, the copying elem(n, ...) answers the highest name and -1 for an
// n outside the list.
#pragma once
#include <zfound/DirBrowser.h>
#include <zfound/String.h>
#include <zfound/Time.h>

#include <cstdint>
#include <memory>
#include <vector>

class DirName {
public:
  // The null path.
  DirName() = default;
  // The path, normalised with compress() when `compress` is set.
  DirName(String const& path, bool compress);
  void set(String const& path) { path_ = path; }
  String const& value() const { return path_; }
  // An absolute `path` (unless skipFirst) replaces the value; otherwise its
  // components are applied one by one, the first skipped when skipFirst.
  void chDir(String const& path, bool skipFirst);
  // Normalises the value: the text before its first "/", then the rest
  // applied with chDir.
  void compress();

private:
  String path_;
};

struct DirElem {
  DirElem(String const& n, int32_t sz, int32_t md, int32_t u, int32_t g)
      : name(n), size(sz), mode(md), uid(u), gid(g) {}
  DirElem(String const& n, int32_t sz, int32_t md, int32_t u, int32_t g, Time const& t)
      : name(n), size(sz), mode(md), uid(u), gid(g), modTime(t) {}
  String name;
  int32_t size;
  int32_t mode;
  int32_t uid;
  int32_t gid;
  Time modTime;  // null when not given
};

class DirView {
public:
  // Selection bits of reset.
  enum { kRegular = 1, kOther = 2, kDirs = 4, kDot = 8, kDotDot = 16 };
  // Sort codes of reset and sort.
  enum { kUnsorted = 1, kByName = 2, kBySize = 3, kByMode = 4, kByTime = 5 };

  // Empty; the directory is the highest String, the pattern null.
  DirView();
  DirView(String const& dir, String const& pattern, long select, long sortBy);
  DirView(DirBrowser& browser, long select, long sortBy);
  virtual ~DirView();
  // Keeps dir and pattern, browses dir over the pattern (a file-name
  // pattern anchored at the start) and runs the browser form.
  virtual void reset(String const& dir, String const& pattern, long select, long sortBy);
  // Clears the list, keeps each entry the browser gives by the selection
  // bits, then sorts by sortBy.
  virtual void reset(DirBrowser& browser, long select, long sortBy);

  // Sorts ascending; any code but 1..5 fails the assertion "0".
  void sort(long sortBy);
  void clear() { elems_.clear(); }
  long nElems() const { return static_cast<long>(elems_.size()); }
  // Takes ownership of e.
  void add(DirElem* e) { elems_.emplace_back(e); }
  void dir(String const& d) { dir_ = d; }
  String const& dir() const { return dir_; }
  String const& rexp() const { return rexp_; }
  bool isInRange(long n) const { return n >= 0 && n < nElems(); }
  // Entry n; n must be in range.
  DirElem& elem(long n);
  // Copies entry n out; outside the list the highest name, -1 and null time.
  void elem(long n, String& name, long& size, long& mode, long& uid, long& gid, Time& modTime) const;
  void elem(long n, String& name, long& size, long& mode, long& uid, long& gid) const;

private:
  DirView(DirView const&) = delete;
  DirView& operator=(DirView const&) = delete;

  std::vector<std::unique_ptr<DirElem>> elems_;
  String dir_;
  String rexp_;
};
