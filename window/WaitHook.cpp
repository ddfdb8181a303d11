// The wait-message hook (see WaitHook.h).
#include <winkit/WaitHook.h>

void (*textWaitMsg)(char const* text) = nullptr;
