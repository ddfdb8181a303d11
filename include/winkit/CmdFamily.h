// What the command families share besides the registry's pattern
// (WinCmd.h): the registering constructor, default-key binding, the
// current view of a desktop command, and the message boxes of the file
// commands.
#pragma once
#include <winkit/CmdBinding.h>
#include <winkit/WinCmd.h>

#include <zfound/String.h>

// The registering constructor of C with its default key (0: none), in the
// family's source beside ZF_WINCMD_DEFINE(C).
#define ZF_WINCMD_REGISTER(C, KEY) \
  C::C(char const* name) { cmdId = WinCmd::registerCmd(name, this, KEY, eventId); }

// The declarations of a command class without members of its own.
#define ZF_WINCMD_PLAIN(C) \
  ZF_WINCMD_CLASS(C)       \
public:                    \
  C() = default;           \
  explicit C(char const* name);

namespace winkit_cmd {

// Binds a command's default key to its id.
template <class C>
inline void bindDefault(CmdBinding* binding) {
  binding->bind(C::eventId, C::cmdId);
}

// The current view of the application's desktop (asserts one) and its
// editable view (null when it cannot edit).
View* deskView(WinApp* app);
EditableView* deskEdView(WinApp* app);

// A message box titled with the library's "ERR" over a text of the
// toolkit's "error" section, run and destroyed.
void errorBox(char const* key, long height, long width, long row, long col);
// A yes/no/cancel box titled with the library's "MESSAGE"; true when it was
// accepted with "yes".
bool askYes(String const& message);

}  // namespace winkit_cmd
