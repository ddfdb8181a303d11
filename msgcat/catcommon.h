// What catdump and catload share: the record separator of the text exchange
// form, the program version, the check of the language operand and the way
// both report a failure (also one that gives up an open editor).
#pragma once

#include <msgcat/MsgEditor.h>
#include <zfound/Message.h>
#include <zfound/String.h>

#include <cstdint>

// The line that begins every record of the text exchange form.
inline constexpr char const kRecordMark[] = "@(#)@";
// The version number of both programs.
inline constexpr int32_t kCatVersion = 4320;
// The longest language operand: a language is one directory name.
inline constexpr long kLanguageMax = 255;

// The program's catalogue text of key, or deflt when the catalogue lacks it.
inline String catText(char const* key, char const* deflt) { return String(appMsg(key, deflt)); }

// Reports text as an error, which ends the program; returns 1 only when no
// fatal-error handler is installed, so that the caller still ends non-zero.
inline int32_t catFail(String const& text) {
  error("%s", toCharPtr(text));
  return 1;
}

// Null when the file, language and section operands can be used; else the
// refusal's text. None may be empty, and the language is one directory name.
inline String catOperandProblem(String const& file, String const& language, String const& section) {
  if (file.isNull() || language.isNull() || section.isNull())
    return catText("EMPTYOPERAND", "The file, language and section must not be empty.");
  if (language.length() > kLanguageMax)
    return catText("LANGTOOLONG", "The language name is too long (at most 255 characters).");
  return String();
}

// Destroys the editor and reports why nothing was done (`why` may be the
// editor's own error text: it is copied first).
inline int32_t catGiveUp(MsgEditor* editor, String const& why) {
  String text = why;
  delete editor;
  return catFail(text);
}
