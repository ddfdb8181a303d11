/* Short dates and times of the plain-function interface: 16-bit forms of
 * dates and times for generated programs and the forms and report run time.
 *
 * A short date is a signed 16-bit day number from 1984-01-01: -32768 is
 * null, 32766 highest, 32767 the marker for today ("TODAY").
 * A short time counts two-second units of one day: 0 is null, u in
 * 1..43200 stands for 2 * (u - 1) seconds after midnight, 65535 is the
 * marker for the current time ("HOUR"). 43200 is also the highest short
 * time, so in this form the highest value and 23:59:58/59 cannot be told
 * apart; the 32-bit Time's stored short form keeps them apart (43201).
 *
 * Every text is built in a bounded buffer: DToStr and TToStr write at most
 * SHORT_TEXT_SIZE bytes (NUL included) into the caller's buffer, cutting
 * long national names. */
#pragma once

#include <stdint.h>

#define SHORT_TEXT_SIZE 64

#define SHORT_DATE_NULL ((int16_t)-32768)
#define SHORT_DATE_HIGH ((int16_t)32766)
#define SHORT_DATE_TODAY ((int16_t)32767)
#define SHORT_TIME_NULL ((uint16_t)0)
#define SHORT_TIME_HIGH ((uint16_t)43200)
#define SHORT_TIME_NOW ((uint16_t)65535)

#ifdef __cplusplus
extern "C" {
#endif

/* Today's day number of the local clock, limited to -32768..32766. */
int16_t Today(void);
/* The current local time of day in two-second units plus 1. */
uint16_t Hour(void);
/* The weekday name of n mod 7 (0 Sunday; negative values wrap). */
char const* DayName(int16_t n);
/* The month name of m in 1..12; a null pointer otherwise. */
char const* MonthName(int m);

/* Text to short date: null pointer or empty text -32768; the pointer 1 or
 * "(high value)" 32766; "TODAY" Today(); else the date reader with the
 * month-first order of the date order flag, limited to -32768..32766. */
int16_t StrToD(char const* s);
/* As StrToD, but "TODAY" gives the marker 32767. */
int16_t StrNXToD(char const* s);
/* The calendar conversion, limited to -32768..32766. */
int16_t DMYToD(int day, int month, int year);
/* Day, month and year of d (outputs may be null); null and highest give
 * the 32-bit null and highest values in every part. */
void DToDMY(int16_t d, int* day, int* month, int* year);
int Day(int16_t d);
int Month(int16_t d);
int Year(int16_t d);
/* The text of d into buffer (SHORT_TEXT_SIZE bytes). Flags: 1 "/"
 * separators, 2 four-digit year, 4 short month name, 8 full month name,
 * 16 short weekday name, 32 full weekday name, 64 the marker as "TODAY".
 * Null gives the empty text and highest "(high value)". */
char* DToStr(int16_t d, char* buffer, int flags);

/* Text to short time: null pointer or empty text 0; the pointer 1 or
 * "(high value)" 43200; "HOUR" Hour(); else hours, an optional separator,
 * minutes, optionally a separator and seconds (odd seconds rounded down),
 * optionally "AM" or "PM" (12 AM is midnight, 12 PM noon). An unreadable
 * text gives 0. */
uint16_t StrToT(char const* s);
/* As StrToT, but "HOUR" gives the marker 65535. */
uint16_t StrNXToT(char const* s);
/* The text of t into buffer (SHORT_TEXT_SIZE bytes). Flags: 1 ":"
 * separators, 2 seconds, 4 twelve-hour clock with " AM"/" PM" (midnight
 * is 12 AM, noon 12 PM), 64 the marker as "HOUR". Values outside 1..43200
 * (other than the marker) give the empty text. */
char* TToStr(uint16_t t, char* buffer, int flags);


/* The date order flag: 1 means month before day. Until set it follows the
 * national settings' date format. */
void SetDateFmt(int n);
int GetDateFmt(void);
/* Forgets a flag set by SetDateFmt: the national settings decide again. */
void TEST_resetDateFmt(void);

#ifdef __cplusplus
}
#endif
