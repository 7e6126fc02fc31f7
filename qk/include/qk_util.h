// qk_util.h - clocks, number to text and back, regular-expression capture.
//
// Stateless; callable from any thread.
#pragma once

#include <stdint.h>
#include <time.h>

#include "qk_export.h"

QK_BEGIN_DECLS

// Wall-clock seconds.
QK_EXPORT time_t qk_now(void);
// Wall-clock microseconds.
QK_EXPORT int64_t qk_timeofday(void);

// Digits of n in radix 2..16 (upper-case), a leading '-' for negative n, NUL-terminated.
// 0, or -1 for another radix or a null buffer. The buffer must hold 34 bytes for radix 2.
QK_EXPORT int qk_itoa2(int n, char* buf, int radix);
QK_EXPORT int qk_uitoa2(uint32_t n, char* buf, int radix);
QK_EXPORT int qk_itoa(int n, char* buf);
QK_EXPORT int qk_uitoa(uint32_t n, char* buf);

// strtol / strtod, base 10; 0 for null.
QK_EXPORT int qk_atoi(const char* str);
QK_EXPORT long qk_atol(const char* str);
QK_EXPORT double qk_atof(const char* str);

// Matches text against a POSIX extended expression. On a match, capture groups 1 to 9 that
// took part are copied in order, each into the next (char* buffer, int size) pair of the
// variable arguments (at most size - 1 bytes and a NUL; a pair of size 0 is skipped); 0.
// The caller passes a pair for every group the pattern can capture. No match, a pattern
// that does not compile or a null argument: -1.
QK_EXPORT int qk_regex_search(const char* pattern, const char* text, ...);

QK_END_DECLS
