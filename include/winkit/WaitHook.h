// The wait-message hook: a plain function pointer that long work below the
// dialogs (a stream text reading its command's output) calls to show a
// "please wait" text, and that the dialogs fill with their wait message. It
// lives at the bottom of the toolkit so that both sides reach it without
// either including the other.
#pragma once

// Shows (text non-null) or removes (null) the wait message. Null until the
// dialogs install theirs.
extern void (*textWaitMsg)(char const* text);
