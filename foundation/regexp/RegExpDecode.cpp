// Escape decoding of a pattern typed by a user: control-character escapes and
// numeric codes become characters; a backslash before anything that has a
// meaning in a pattern (such as "\(", "\{" or "\1") stays as it is. A text
// holds no NUL, so a code of 0 becomes 31.
#include <zfound/CharClass.h>
#include <zfound/String.h>

String& String::decodeRegExp() {
  if (isNull() || isHighest()) return *this;
  char const* s = toCharPtr(*this);
  long n = length();
  String out;
  for (long i = 0; i < n; ++i) {
    char c = s[i];
    if (c != '\\' || i + 1 >= n) {
      out += c;
      continue;
    }
    char d = s[++i];
    int code = -1;
    switch (d) {
      case 'a': code = 7; break;
      case 'b': code = 8; break;
      case 't': code = 9; break;
      case 'n': code = 10; break;
      case 'v': code = 11; break;
      case 'f': code = 12; break;
      case 'r': code = 13; break;
      case 'e': code = 27; break;
      case '\\': code = '\\'; break;
      case 'x': {
        code = 0;
        int k = 0;
        while (k < 2 && i + 1 < n && hexDigitValue(s[i + 1]) >= 0) {
          code = code * 16 + hexDigitValue(s[++i]);
          ++k;
        }
        break;
      }
      case '0': {
        code = 0;
        int k = 0;
        while (k < 2 && i + 1 < n && s[i + 1] >= '0' && s[i + 1] <= '7') {
          code = code * 8 + (s[++i] - '0');
          ++k;
        }
        break;
      }
      default:
        out += '\\';
        out += d;
        continue;
    }
    out += static_cast<char>(code == 0 ? 31 : code);
  }
  *this = out;
  return *this;
}
