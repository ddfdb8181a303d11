// Texts of a message file on buffered streams (see MsgStore.h). The length
// word is written and read byte by byte; every length read is checked before
// a byte of the text is taken.
#include <msgcat/MsgStore.h>

#include <zfound/Stream.h>

#include <cstring>

int32_t msgTextLength(String const& s) {
  if (s.isHighest()) return -1;
  if (s.isNull()) return 0;
  return int32_t(strnlen(toCharPtr(s), size_t(s.length())));
}

bool storeMsgText(OutputStream& os, String const& s) {
  int32_t n = msgTextLength(s);
  if (n > kMsgTextMax) return false;
  uint16_t word = n < 0 ? uint16_t(0xFFFF) : uint16_t(n);
  os.put(char((word >> 8) & 0xFF));
  os.put(char(word & 0xFF));
  if (n > 0) os.write(toCharPtr(s), n);
  return true;
}

bool loadMsgText(InputStream& is, String& s) {
  s = String();
  unsigned char hi = static_cast<unsigned char>(is.getc());
  unsigned char lo = static_cast<unsigned char>(is.getc());
  if (!is.ok()) return false;
  uint16_t word = uint16_t((hi << 8) | lo);
  if (word == 0) return true;
  if (word == 0xFFFF) {
    s = String(reinterpret_cast<char const*>(1));
    return true;
  }
  if (word > uint16_t(kMsgTextMax)) return false;
  String t;
  char* p = t.getBuffer(long(word));
  // A cut file ends the text at its end: no further read is tried.
  for (uint16_t i = 0; i < word && is.ok(); ++i) p[i] = is.getc();
  if (!is.ok() || std::memchr(p, '\0', word) != nullptr) return false;
  s = t;
  return true;
}
