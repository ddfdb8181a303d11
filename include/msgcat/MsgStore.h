// The values a message file is made of, on the system's buffered streams:
// a long is 4 bytes, most significant first (Portable.h's store/load of an
// int32_t); a text is a 16-bit signed length, most significant byte first,
// then exactly that many bytes. Length 0 is the null text, -1 (FF FF) the
// highest text; 1..32767 are that many bytes. A text never holds a NUL: the
// bytes stored are those before the first NUL.
#pragma once

#include <zfound/String.h>

#include <cstdint>

class InputStream;
class OutputStream;

// The longest text (or key, or section name) a message file can hold.
inline constexpr int32_t kMsgTextMax = 32767;

// The number of bytes of s a message file stores: those before the first NUL
// (0 for null); -1 for the highest text.
int32_t msgTextLength(String const& s);

// Stores s in the form above. False, and nothing written, when the text is
// longer than kMsgTextMax bytes.
bool storeMsgText(OutputStream& os, String const& s);

// Loads a text in the form above into s. False (s null) when the length word
// is not a valid length (32768 to 65534), the input ends inside the text or
// the text holds a NUL byte.
bool loadMsgText(InputStream& is, String& s);
