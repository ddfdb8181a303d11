// The process-wide standard streams (see StdStreams.h). They are built ahead
// of ordinary static objects so that any static object may write to them,
// and, being in one unit, they are built in the order of their definitions
// and destroyed in the reverse order.
#include <zfound/StdStreams.h>

__attribute__((init_priority(200))) OutputFdFile stdOut(1, 1024);
__attribute__((init_priority(200))) OutputFdFile stdErr(2, 1024);
__attribute__((init_priority(200))) InputFdFile stdIn(0, 1024);
