// qk_string.h - bounded string functions and ASCII case helpers.
//
// Stateless; callable from any thread. A max argument is the destination's capacity in
// bytes, terminating NUL included. Null pointers never fault: each function gives the
// result its comment names.
#pragma once

#include "qk_export.h"

QK_BEGIN_DECLS

// Length; 0 for null.
QK_EXPORT int qk_strlen(const char* str);
// Copies at most max - 1 characters and terminates; the count copied. 0 for null or max < 1.
QK_EXPORT int qk_strcpy(char* dst, const char* src, int max);
// Copies at most min(need, max - 1) characters and terminates; the count. 0 for null,
// max < 1 or need < 1.
QK_EXPORT int qk_strncpy(char* dst, const char* src, int need, int max);
// Appends until src ends or dst holds max - 1 characters; the new length. A dst already
// max long or longer is left as it is and its length returned. 0 for null or max < 1.
QK_EXPORT int qk_strcat(char* dst, const char* src, int max);
// As qk_strcat, appending at most need characters.
QK_EXPORT int qk_strncat(char* dst, const char* src, int need, int max);
// Formats behind the existing text into the space left; the old length plus vsnprintf's
// result (more than fits when the output was cut). 0 for null or a text that fills max.
QK_EXPORT int qk_strnappend(char* str, int max, const char* format, ...) __attribute__((format(printf, 3, 4)));

// First occurrence; an empty needle gives the haystack. Null for null.
QK_EXPORT char* qk_strstr(const char* haystack, const char* needle);
// The same ignoring ASCII case; an empty haystack gives null.
QK_EXPORT char* qk_stristr(const char* haystack, const char* needle);
// First occurrence of c (0 finds the terminator); null for null.
QK_EXPORT char* qk_strchr(const char* str, int c);
// Last occurrence of c; null for null.
QK_EXPORT char* qk_strrchr(const char* str, int c);

// Difference of the first differing characters (as signed char), 0 when equal; 1 when
// either is null.
QK_EXPORT int qk_strcmp(const char* s1, const char* s2);
// The same over at most n characters; 0 for null or n < 1.
QK_EXPORT int qk_strncmp(const char* s1, const char* s2, int n);
// ASCII upper case folded to lower case; 0 when either is null.
QK_EXPORT int qk_stricmp(const char* s1, const char* s2);
QK_EXPORT int qk_strnicmp(const char* s1, const char* s2, int n);

QK_EXPORT int qk_toupper(int c);
QK_EXPORT int qk_tolower(int c);
QK_EXPORT int qk_isupper(int c);
QK_EXPORT int qk_islower(int c);

// 1 when the first byte is NUL (or str is null).
QK_EXPORT int qk_str_empty(const char* str);
// Writes a NUL at the start; nothing for null.
QK_EXPORT void qk_str_clear(char* str);
// 1 when equal, else 0 (also for null).
QK_EXPORT int qk_str_equal(const char* s1, const char* s2);
// 1 when the first occurrence of sub is at the start.
QK_EXPORT int qk_str_startswith(const char* str, const char* sub);
// 1 when the first occurrence of sub ends exactly at the end of str (a later occurrence
// that would end there does not count); 0 when sub does not occur.
QK_EXPORT int qk_str_endswith(const char* str, const char* sub);
// 1 when sub occurs.
QK_EXPORT int qk_str_contains(const char* str, const char* sub);
// Offset of the first occurrence, -1 when none.
QK_EXPORT int qk_str_pos(const char* str, const char* sub);
// Copies from the start marker up to (not including) the first end marker behind it into
// out (unbounded) and terminates it; out. Null for null or a marker not found (out is
// emptied first when the arguments are valid).
QK_EXPORT char* qk_str_slice(const char* str, const char* start, const char* end, char* out);

QK_END_DECLS
