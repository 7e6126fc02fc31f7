// Bounded string functions and ASCII case helpers.
#include "qk_string.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Folds as signed char, so that the differences match those of qk_strcmp.
int fold(char c) { return qk_tolower(static_cast<signed char>(c)); }

// Appends at most need characters of src behind the dst_len characters already in dst.
int append_bounded(char* dst, int dst_len, const char* src, int need, int max) {
    int len = dst_len;
    for (int i = 0; i < need && src[i] != '\0' && len < max - 1; ++i) {
        dst[len++] = src[i];
    }
    dst[len] = '\0';
    return len;
}

} // namespace

extern "C" {

int qk_strlen(const char* str) { return str == nullptr ? 0 : static_cast<int>(std::strlen(str)); }

int qk_strcpy(char* dst, const char* src, int max) {
    if (dst == nullptr || src == nullptr || max < 1) {
        return 0;
    }
    int n = 0;
    while (n < max - 1 && src[n] != '\0') {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = '\0';
    return n;
}

int qk_strncpy(char* dst, const char* src, int need, int max) {
    if (dst == nullptr || src == nullptr || max < 1 || need < 1) {
        return 0;
    }
    const int limit = need < max - 1 ? need : max - 1;
    int n = 0;
    while (n < limit && src[n] != '\0') {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = '\0';
    return n;
}

int qk_strcat(char* dst, const char* src, int max) {
    if (dst == nullptr || src == nullptr || max < 1) {
        return 0;
    }
    const int len = qk_strlen(dst);
    if (len >= max) {
        return len;
    }
    return append_bounded(dst, len, src, max, max);
}

int qk_strncat(char* dst, const char* src, int need, int max) {
    if (dst == nullptr || src == nullptr || max < 1) {
        return 0;
    }
    const int len = qk_strlen(dst);
    if (len >= max) {
        return len;
    }
    return append_bounded(dst, len, src, need, max);
}

int qk_strnappend(char* str, int max, const char* format, ...) {
    if (str == nullptr || format == nullptr || max < 1) {
        return 0;
    }
    const int len = qk_strlen(str);
    if (len >= max) {
        return 0;
    }
    va_list args;
    va_start(args, format);
    const int added = std::vsnprintf(str + len, static_cast<size_t>(max - len), format, args);
    va_end(args);
    return len + added;
}

char* qk_strstr(const char* haystack, const char* needle) {
    if (haystack == nullptr || needle == nullptr) {
        return nullptr;
    }
    return const_cast<char*>(std::strstr(haystack, needle));
}

char* qk_stristr(const char* haystack, const char* needle) {
    if (haystack == nullptr || needle == nullptr || haystack[0] == '\0') {
        return nullptr;
    }
    for (const char* start = haystack; *start != '\0'; ++start) {
        const char* h = start;
        const char* n = needle;
        while (*n != '\0' && *h != '\0' && fold(*h) == fold(*n)) {
            ++h;
            ++n;
        }
        if (*n == '\0') {
            return const_cast<char*>(start);
        }
    }
    return nullptr;
}

char* qk_strchr(const char* str, int c) {
    return str == nullptr ? nullptr : const_cast<char*>(std::strchr(str, c));
}

char* qk_strrchr(const char* str, int c) {
    return str == nullptr ? nullptr : const_cast<char*>(std::strrchr(str, c));
}

int qk_strcmp(const char* s1, const char* s2) {
    if (s1 == nullptr || s2 == nullptr) {
        return 1;
    }
    while (*s1 != '\0' && *s1 == *s2) {
        ++s1;
        ++s2;
    }
    return static_cast<signed char>(*s1) - static_cast<signed char>(*s2);
}

int qk_strncmp(const char* s1, const char* s2, int n) {
    if (s1 == nullptr || s2 == nullptr || n < 1) {
        return 0;
    }
    for (int i = 0; i < n; ++i) {
        if (s1[i] != s2[i] || s1[i] == '\0') {
            return static_cast<signed char>(s1[i]) - static_cast<signed char>(s2[i]);
        }
    }
    return 0;
}

int qk_stricmp(const char* s1, const char* s2) {
    if (s1 == nullptr || s2 == nullptr) {
        return 0;
    }
    while (*s1 != '\0' && fold(*s1) == fold(*s2)) {
        ++s1;
        ++s2;
    }
    return fold(*s1) - fold(*s2);
}

int qk_strnicmp(const char* s1, const char* s2, int n) {
    if (s1 == nullptr || s2 == nullptr || n < 1) {
        return 0;
    }
    for (int i = 0; i < n; ++i) {
        const int a = fold(s1[i]);
        const int b = fold(s2[i]);
        if (a != b || a == '\0') {
            return a - b;
        }
    }
    return 0;
}

int qk_toupper(int c) { return qk_islower(c) ? c - 'a' + 'A' : c; }

int qk_tolower(int c) { return qk_isupper(c) ? c - 'A' + 'a' : c; }

int qk_isupper(int c) { return c >= 'A' && c <= 'Z' ? 1 : 0; }

int qk_islower(int c) { return c >= 'a' && c <= 'z' ? 1 : 0; }

int qk_str_empty(const char* str) { return str == nullptr || str[0] == '\0' ? 1 : 0; }

void qk_str_clear(char* str) {
    if (str != nullptr) {
        str[0] = '\0';
    }
}

int qk_str_equal(const char* s1, const char* s2) {
    return s1 != nullptr && s2 != nullptr && std::strcmp(s1, s2) == 0 ? 1 : 0;
}

int qk_str_startswith(const char* str, const char* sub) {
    const char* found = qk_strstr(str, sub);
    return found != nullptr && found == str ? 1 : 0;
}

int qk_str_endswith(const char* str, const char* sub) {
    const char* found = qk_strstr(str, sub);
    if (found == nullptr) {
        return 0;
    }
    return found + std::strlen(sub) == str + std::strlen(str) ? 1 : 0;
}

int qk_str_contains(const char* str, const char* sub) { return qk_strstr(str, sub) != nullptr ? 1 : 0; }

int qk_str_pos(const char* str, const char* sub) {
    const char* found = qk_strstr(str, sub);
    return found == nullptr ? -1 : static_cast<int>(found - str);
}

char* qk_str_slice(const char* str, const char* start, const char* end, char* out) {
    if (str == nullptr || start == nullptr || end == nullptr || out == nullptr) {
        return nullptr;
    }
    out[0] = '\0';
    const char* from = std::strstr(str, start);
    if (from == nullptr) {
        return nullptr;
    }
    const char* to = std::strstr(from + std::strlen(start), end);
    if (to == nullptr) {
        return nullptr;
    }
    const size_t n = static_cast<size_t>(to - from);
    std::memcpy(out, from, n);
    out[n] = '\0';
    return out;
}

} // extern "C"
