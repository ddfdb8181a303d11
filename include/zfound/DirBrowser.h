// DirBrowser: walks the entries of one directory whose names match a
// pattern (normally an LRegExp, a file-name pattern), giving each entry's
// name, full path and file information.
//
// The browser is true (operator void* non-null) while it stands on a
// matching entry. Status: 0 on an entry, 1 when the directory could not be
// opened (or no pattern was given), 2 at the end. The directory stream is
// open only while the status is 0. The pattern is not owned and must
// outlive the browser. The operations are virtual so that a browser can be
// specialised.
#pragma once

#include <dirent.h>

#include <zfound/String.h>
#include <zfound/Time.h>

class RegExp;

class DirBrowser {
public:
  // Browses `dir` ("." when null) for names matching the whole pattern.
  DirBrowser(String const& dir, RegExp const* pattern);

  // Reads the next entry; at the end the status becomes 2 and the stream
  // is closed.
  virtual void _next();
  // Closes any open stream.
  virtual ~DirBrowser();
  // Stores the directory and the pattern (required), closes any open
  // stream, opens the directory and advances to the first matching entry.
  virtual void reset(String const& dir, RegExp const* pattern);
  // reset(directory, pattern) again.
  virtual void reset();
  // reset(dir, pattern).
  virtual void setDir(String const& dir);
  // reset(directory, pattern).
  virtual void setFiles(RegExp const* pattern);
  // Advances to the next matching entry or the end.
  virtual void next();
  // The browser while it stands on an entry, else null.
  virtual operator void*() const;
  // The current entry's name; null when not on an entry.
  virtual String name();
  // The directory, a '/' unless it already ends in one, and name(); null
  // when not on an entry.
  virtual String fullName();
  // The file information of fullName(). When the entry cannot be examined
  // (gone, or not on an entry) every value is still set: mode, size, uid
  // and gid to 0 and mtime to the null time; the answer is then false.
  virtual bool info(long& mode, long& size, long& uid, long& gid, Time& mtime);

  DirBrowser& operator++() {
    next();
    return *this;
  }
  // 0 on an entry, 1 when the directory could not be opened, 2 at the end.
  long status() const { return status_; }
  String const& dir() const { return directory; }

private:
  DirBrowser(DirBrowser const&) = delete;
  DirBrowser& operator=(DirBrowser const&) = delete;
  void close();
  bool matches();

  String directory;         // the directory browsed
  RegExp const* pattern;    // not owned
  DIR* dirp;                // open directory stream, or null
  struct dirent* current;   // the current entry
  long status_;             // 0 entry, 1 not opened, 2 end
};
