/*
 * The terminal window layer: numbered windows on a character screen, drawn
 * through ncurses on a terminal or, without one, kept in memory and written
 * out as text (headless mode).
 *
 * Windows. Handle 0 is the whole screen and is never removed. WiCreate's row
 * and column are the interior origin, 0-based, relative to the parent's
 * interior; rows and columns are the interior size. A border (242 single
 * line, 243 double, 0 none, any other value single) is a frame one cell
 * outside the interior with the label centred on its top line. Row or
 * column -1 centres the window in its parent; a height or width of 0 or less
 * makes the window, frame included, reach the parent's far edge. A window
 * whose frame would leave its parent is shifted back inside, and shrunk only
 * when it cannot fit. The cursor may stand on the frame (rows -1 and height,
 * columns -1 and width), so output can write marks into it.
 *
 * Current window and stacking. WiCreate puts the new window on top and makes
 * it current; WiSwitchTo raises a window (with its children) and makes it
 * current, answering the handle that was current before (-1 for an unknown
 * handle, nothing changes then). WiDelete removes a window and its children.
 * A deleted current handle stays the "previous" handle that the next
 * WiSwitchTo answers, while output goes to the top remaining window; WiCurrent
 * answers that window and makes it current.
 *
 * Output goes to the current window at its cursor: with wrap on it continues
 * on the next row and scrolls the scroll region (a rectangle, by default the
 * interior) at its bottom; with wrap off it is clipped. Characters are the
 * toolkit's 8-bit codes: 0xA0 blank, 0xA1 horizontal line, 0xA5 and 0xA7 line
 * joints, 0xAB guillemet, 0xAC..0xAF arrows, 0xB1 and 0xFF shades, other
 * 0xA0..0xFE Latin-1; "\n" starts the next row, "\r" goes to column 0, 7
 * rings the bell, other codes below 32 and 0x7F..0x9F show as "?".
 *
 * Attributes: 0x100 underline, 0x200 reverse, 0x400 blink, 0x800 bold,
 * 0x2000 standout; foreground colour in bits 16-18, background in bits 20-22
 * (the terminal's colour numbers 1-7, 0 for the default).
 *
 * Keys (WiGetc, low 8 bits) and their WiKeyHelp names:
 *   code  terminal key                          name
 *   128   F6                                    "F6"
 *   129   Esc (alone)                           "Esc"
 *   130   F4                                    "F4"
 *   131   F5                                    "F5"
 *   132   Enter (also Ctrl-J, Ctrl-M)           "Enter"
 *   133   Up                                    "Up"
 *   134   Left                                  "Left"
 *   135   Down                                  "Down"
 *   136   Right                                 "Right"
 *   137   PgUp                                  "PgUp"
 *   138   Home                                  "Home"
 *   139   PgDn                                  "PgDn"
 *   140   End                                   "End"
 *   141   Backspace (also Ctrl-H, DEL byte)     "Backspace"
 *   143   Ins                                   "Ins"
 *   144   Del                                   "Del"
 *   146   Tab                                   "Tab"
 *   147   F2                                    "F2"
 *   148   F1                                    "F1"
 *   150   F3                                    "F3"
 *   154   Ctrl-K or F9 (prefix)                 "^K"
 *   155   F10, or Esc followed by another key   "Alt"
 *         within 100 ms (that key comes next)
 * Any other key gives its byte (a character up to U+00FF its Latin-1 code;
 * characters above are not delivered). Names of other codes: the character
 * itself for a printable one, "^X" for a control character, else the
 * decimal code; a name never exceeds 15 characters and its NUL.
 *
 * Headless mode: when ZEPH_HEADLESS names a key-script file, WiConnect touches
 * no terminal; the screen is a grid of ZEPH_SIZE ("ROWSxCOLS", default
 * "24x80"). The script holds tokens between white space ("#" starts a comment
 * to the end of the line): a decimal 0-255 is that code; esc 129, close 130,
 * zoom 131, enter 132, up 133, left 134, down 135, right 136, pgup 137,
 * home 138, pgdn 139, end 140, bs 141, ins 143, del 144, tab 146, save 147,
 * help 148, open 150, k154, k155; "text" gives its bytes; dump appends the
 * screen, as it stands when the next key is asked for, to the file named by
 * ZEPH_SCREEN: exactly ROWS lines of exactly COLS characters in UTF-8. The
 * final screen is appended when the process ends. Asking for a key past the
 * last one appends the screen, reports "key script ended" on standard error
 * and ends the process with status 3. A malformed script is refused when
 * connecting (a fatal report naming its line).
 *
 * When the terminal is resized, window 0 takes the new size and every other
 * window is brought back inside its parent (shrunk only when it cannot fit).
 *
 * The terminal is given back as it was at every end of the process (exit,
 * stop, a fatal report, a fatal signal); a fatal report's text is written
 * after the terminal is restored, so it stays readable.
 */
#ifndef ZEPH_WI_H
#define ZEPH_WI_H

#include <stdint.h>

#if defined(__GNUC__)
#define ZEPH_API __attribute__((visibility("default")))
#else
#define ZEPH_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opens window mode (terminal or headless); later calls do nothing. The
   terminal name and program name are informational. Returns 0. Without a
   terminal and not headless, or with a malformed key script or screen size,
   it is a fatal report. */
ZEPH_API int WiConnect(char const* tty, char const* program, int flags);
/* Leaves window mode: the terminal is given back as it was (the window state
   is kept, so a headless final screen still shows it). Also runs at exit. */
ZEPH_API void WiDisconnect(void);

/* A new window under `parent` (an unknown parent: the screen); its handle. */
ZEPH_API int WiCreate(int parent, int row, int col, int rows, int cols, int border,
                      char const* label, int32_t attr);
/* Removes the window and its children; unknown handles and 0 are ignored. */
ZEPH_API int WiDelete(int handle);
/* The top remaining window, which becomes current. */
ZEPH_API int WiCurrent(void);
/* Raises `handle` and makes it current; the previous current handle, or -1. */
ZEPH_API int WiSwitchTo(int handle);

/* Sends pending output to the terminal. */
ZEPH_API void WiFlush(void);
/* Repaints the screen from the window state. */
ZEPH_API void WiRefresh(void);
/* Redraws the whole screen (the terminal's picture is cleared first). */
ZEPH_API void WiRedraw(void);

/* The next key (blocks); see the key table above. */
ZEPH_API int WiGetc(void);
/* Non-zero when a key is waiting (headless: while script keys remain). */
ZEPH_API int WiKeyReady(void);
/* The name of `key` into `buffer` (16 bytes, NUL included); returns buffer. */
ZEPH_API char const* WiKeyHelp(int key, char* buffer);

/* Formatted output at the cursor of the current window: "%s" (text),
   "%c" (int character), "%ld" (long), "%N" (a Num const*), and the other
   conversions of the system's formatting engine. Returns the characters
   written. */
ZEPH_API int WiPrintf(char const* format, ...);
/* One character at the cursor (7 rings the bell). */
ZEPH_API int WiPutc(int c);

/* Frame of the current window: border code and label; redraws both. */
ZEPH_API int WiSetBorder(int border, char const* label);
/* Scrolls the scroll region up `n` rows (down for n < 0). */
ZEPH_API int WiScroll(int n);
/* Sets the scroll region (interior coordinates, clamped to the interior). */
ZEPH_API int WiSetScroll(int top, int bottom, int left, int right);
/* Attribute of following output / of erased cells. */
ZEPH_API int WiSetAttr(int32_t attr);
ZEPH_API int WiSetBackGr(int32_t attr);
/* Moves the cursor (window-relative; -1 and the size reach the frame). */
ZEPH_API int WiMoveTo(int row, int col);
/* Clears to the end of the row / the whole interior (cursor to 0,0). */
ZEPH_API int WiEraEol(void);
ZEPH_API int WiErase(void);
/* Inserts / deletes `n` rows at `row` down to the scroll region's bottom. */
ZEPH_API int WiInsLines(int row, int n);
ZEPH_API int WiDelLines(int row, int n);
/* Inserts / deletes `n` characters at the cursor (the second value: 0). */
ZEPH_API int WiInsChar(int n, int unused);
ZEPH_API int WiDelChar(int n, int unused);
/* Shows or hides the cursor; wrap on or off. */
ZEPH_API int WiCursor(int on);
ZEPH_API int WiWrap(int on);

/* Queries of a window (-1 for an unknown handle): interior rows and
   columns, cursor row and column, screen row and column of the interior
   origin. */
ZEPH_API int WiHeight(int handle);
ZEPH_API int WiWidth(int handle);
ZEPH_API int WiLine(int handle);
ZEPH_API int WiCol(int handle);
ZEPH_API int WiOrgRow(int handle);
ZEPH_API int WiOrgCol(int handle);

/* One-line field editor at the cursor of the current window. `buffer` (512
   bytes) holds the text and receives the result; `start` is the first cursor
   position, `maxLength` the most characters kept (at most 511), `width` the
   columns shown (0 or less: up to the window's edge). With a mask (`checks`
   the check flags of each placeholder, `edit` the compiled edit string, both
   as the foundation's compileMask makes them; "" for none) the literals stay
   and each placeholder takes only what its flags allow. Backspace, Del,
   Left, Right, Home and End edit; keys 129, 132, 133, 135, 146, 148 and 155
   end the edit and are returned. */
ZEPH_API int WiGetField(int type, char* buffer, int start, int maxLength, int width, int32_t flags,
                        char const* checks, char const* edit);

/* Lets the user move / resize a window with the arrow keys inside its
   parent: Enter keeps (non-zero), Esc restores (0). */
ZEPH_API int WiMove(int handle);
ZEPH_API int WiResize(int handle);

/* Keyboard mode: 1 delivers Ctrl-C and Ctrl-Z as keys; 0 lets them signal. */
ZEPH_API int WiSetRaw(int mode);
/* Enables the layer's services (recorded). */
ZEPH_API int WiSetServices(int flag);
/* Runs `command` through the shell with window mode suspended; its status. */
ZEPH_API int WiExecCmd(char const* command, char const* unused);
/* "GoToShell" suspends window mode, runs $SHELL (else /bin/sh) and repaints:
   1 when the shell ran. Other services answer 0. */
ZEPH_API int WiService(char const* name);

#ifdef __cplusplus
}
#endif

#endif /* ZEPH_WI_H */
