// A small program on the database interface header, run by the tests as a
// real process: it starts through the foundation's start-up, then does what
// its first argument names.
//   info [schema]   prints dbmsType() and the library registry; with a
//                   schema, opens it for design, changes its description
//                   and ends with Stop(3) (the descriptor is written at stop)
//   open schema     opens the schema and prints the handle and _io_errno_
//   files schema n  reads the schema's table files, opens n more files,
//                   writes and reads each, and prints the descriptors of
//                   table files the process holds above 5
//   locks schema    locks one file, then opens a second one
//   keep schema n   locks bytes 0-9 of item.tab, then uses n other files,
//                   prints "ready" and waits for the end of its input
//   add schema k    adds to table slot 1 a record whose first long (at
//                   offset 4) is k, ends the transaction and prints the
//                   record number
#include <dbm/DbInterface.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include <zfound/Portable.h>

#include <zfound/LibraryInfo.h>
#include <zfound/Process.h>
#include <zfound/String.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void listFds() {
  DIR* d = opendir("/proc/self/fd");
  if (!d) return;
  while (dirent* e = readdir(d)) {
    int fd = std::atoi(e->d_name);
    if (e->d_name[0] == '.' || fd <= 5 || fd == dirfd(d)) continue;
    char link[64], target[1024] = {};
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n > 0 && std::strstr(target, ".tab"))
      std::printf("fd %d cloexec %d\n", fd, (fcntl(fd, F_GETFD) & FD_CLOEXEC) ? 1 : 0);
  }
  closedir(d);
}

}  // namespace

int main(int argc, char** argv) {
  startUp("zxdbprobe-1.0", argc, argv);
  if (argc < 2) return 2;
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (!std::strcmp(argv[1], "info")) {
    std::printf("dbmsType %d\n%s\n", int(dbmsType()), toCharPtr(LibraryInfo::libraries()));
    if (argc > 2) {
      int32_t h = OpenSchema(argv[2], 0x10 | 4);
      std::printf("open %ld\n", long(h));
      SetDescrSchema(h, "written at stop");
      Stop(3);
    }
    return 0;
  }
  if (!std::strcmp(argv[1], "open") && argc > 2) {
    _io_errno_ = 0;
    int32_t h = OpenSchema(argv[2], 0);
    std::printf("open %ld code %ld\n", long(h), long(_io_errno_));
    Stop(0);
  }
  if (!std::strcmp(argv[1], "add") && argc > 3) {
    if (OpenSchema(argv[2], 0) < 0) return 2;
    int32_t table = FindSchema(nullptr) | 0x100;
    char* b = _GetTabBuff(table);
    stlong(int32_t(std::atol(argv[3])), b + 4);
    int32_t n = AddRecord(table);
    EndTransaction();
    std::printf("add %ld\n", long(n));
    Stop(0);
  }
  if (!std::strcmp(argv[1], "files") && argc > 3) {
    int32_t h = OpenSchema(argv[2], 0);
    s_schema* sp = h < 0 ? nullptr : _GetSchPtr(h);
    if (!sp) return 4;
    for (int32_t s = 1; s <= kDbMaxTables; ++s)
      if (sp->tables[s].tab) {
        char b[4];
        std::printf("table %s read %d\n", sp->tables[s].tab->d.name, int(_DbRead(sp->tables[s].tab->data, b, 4, 0, 0)));
      }
    int n = std::atoi(argv[3]);
    for (int i = 0; i < n; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "f%d", i);
      s_vfile* vf = _DbOpen(sp, name, "tab", O_RDWR | O_CREAT);
      std::printf("open %s %s\n", name, vf ? "ok" : "failed");
      if (!vf) return 5;
      char buf[8] = "abcdefg";
      _DbWrite(vf, buf, 8, 0);
      char back[16];
      std::memset(back, 'x', sizeof back);
      int32_t r = _DbRead(vf, back, 16, 0, 0);
      std::printf("read %d %s zeros %d\n", int(r), back, back[8] == 0 && back[15] == 0 ? 1 : 0);
    }
    listFds();
    Stop(0);
  }
  if (!std::strcmp(argv[1], "keep") && argc > 3) {
    int32_t h = OpenSchema(argv[2], 0);
    s_schema* sp = h < 0 ? nullptr : _GetSchPtr(h);
    if (!sp) return 4;
    s_vfile* a = _DbOpen(sp, "item", "tab", O_RDWR | O_CREAT);
    char buf[10];
    if (_DbRead(a, buf, 10, 0, 1) != 0) return 6;
    for (int i = 0; i < std::atoi(argv[3]); ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "k%d", i);
      s_vfile* vf = _DbOpen(sp, name, "tab", O_RDWR | O_CREAT);
      if (!vf || _DbWrite(vf, buf, 10, 0) != 0) return 5;
    }
    std::printf("ready\n");
    char c;
    while (read(0, &c, 1) > 0) {
    }
    Stop(0);
  }
  if (!std::strcmp(argv[1], "locks") && argc > 2) {
    int32_t h = OpenSchema(argv[2], 0);
    s_schema* sp = h < 0 ? nullptr : _GetSchPtr(h);
    if (!sp) return 4;
    s_vfile* a = _DbOpen(sp, "item", "tab", O_RDWR | O_CREAT);
    char buf[4];
    std::printf("lock %d\n", int(_DbRead(a, buf, 4, 0, 1)));
    s_vfile* b = _DbOpen(sp, "other", "tab", O_RDWR | O_CREAT);
    std::printf("second %s\n", b ? "ok" : "failed");
    Stop(0);
  }
  return 2;
}
