// Child processes connected through pipes: the run-time layer's way of
// running a shell command whose output is read or whose input is written.
//
// The child never shares the caller's terminal when both flags are given:
// every standard descriptor that is not a pipe is the null device. The
// caller's ends of the pipes are close-on-exec, so a second child never
// inherits them (a reader would otherwise never see the end of its input).
#pragma once

#define ZEPH_PROC_EXPORT __attribute__((visibility("default")))

extern "C" {

// Starts "/bin/sh -c command" and returns the child's process id, or -1 when
// the pipes or the process could not be made (nothing is left open then).
// With readFd, the child's standard output is a pipe whose reading end is
// stored there; with writeFd, its standard input is a pipe whose writing end
// is stored there. errToNull: the child's standard error is the null device.
// stdToNull: the child's standard input and output that are not pipes are
// the null device.
ZEPH_PROC_EXPORT int ioPipe(char const* command, int* readFd, int* writeFd, bool errToNull, bool stdToNull);

// True when path is an absolute path (begins with "/"); false for null.
ZEPH_PROC_EXPORT bool isAbsolutePath(char const* path);

}
