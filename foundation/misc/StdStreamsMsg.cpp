// The process-wide message stream: standard error unless a program points
// stdMsg_address at another stream.
#include <zfound/StdStreams.h>
#include <zfound/Stream.h>

OutputStream* stdMsg_address = nullptr;

OutputStream& stdMsg() { return stdMsg_address ? *stdMsg_address : stdErr; }
