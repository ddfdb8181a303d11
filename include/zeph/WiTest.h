/*
 * What tests read from the terminal window layer: the composed screen
 * (characters and attributes), the bell count and the list of Wi calls made,
 * and a way to give a headless session new keys. Meaningful in headless mode
 * (the call list is kept only there).
 */
#ifndef ZEPH_WITEST_H
#define ZEPH_WITEST_H

#include <zeph/Wi.h>

#ifdef __cplusplus
extern "C" {
#endif

/* True after WiConnect opened a headless session. */
ZEPH_API int WiTestHeadless(void);
/* The screen size. */
ZEPH_API int WiTestRows(void);
ZEPH_API int WiTestCols(void);
/* The character (a Unicode code point) and attribute of a screen cell as
   the terminal shows it; -1 outside the screen. */
ZEPH_API int WiTestChar(int row, int col);
ZEPH_API int32_t WiTestAttr(int row, int col);
/* Screen row `row` as UTF-8 text (exactly the screen's columns, trailing
   blanks kept) into `buffer` of `size` bytes; the length, or -1. */
ZEPH_API int WiTestRow(int row, char* buffer, int size);
/* Times the bell rang. */
ZEPH_API int WiTestBells(void);
/* The Wi calls made since the last WiTestClearCalls, each as
   "Name(arg,...)" (at most the newest 100,000); WiTestCall gives call i
   (0-based), null past the end. */
ZEPH_API int WiTestCallCount(void);
ZEPH_API char const* WiTestCall(int i);
ZEPH_API void WiTestClearCalls(void);
/* Replaces the keys still to come with those of a key-script text; 0, or the
   line number of the first malformed token (nothing changes then). */
ZEPH_API int WiTestKeys(char const* script);
/* The number of script keys still to come. */
ZEPH_API int WiTestKeysLeft(void);

#ifdef __cplusplus
}
#endif

#endif /* ZEPH_WITEST_H */
