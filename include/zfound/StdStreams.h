// The process-wide standard streams, built before main runs (in the order
// stdOut, stdErr, stdIn) and torn down after it in the reverse order, each
// output stream flushed as it goes: stdOut and stdErr write descriptors 1
// and 2, stdIn reads descriptor 0, each through a 1,024-byte buffer.
#pragma once

#include <zfound/Stream.h>

extern OutputFdFile stdOut;
extern OutputFdFile stdErr;
extern InputFdFile stdIn;
