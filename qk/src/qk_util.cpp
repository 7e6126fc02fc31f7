// Clocks, number to text and back, regular-expression capture.
#include "qk_util.h"

#include <regex.h>
#include <sys/time.h>

#include <cstdarg>
#include <cstdlib>

#include "qk_string.h"

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
constexpr int kMaxGroups = 9;

// Writes the digits of magnitude in radix, most significant first, and a NUL.
void write_digits(uint32_t magnitude, char* buf, uint32_t radix) {
    char reversed[32];
    int n = 0;
    do {
        reversed[n++] = kDigits[magnitude % radix];
        magnitude /= radix;
    } while (magnitude != 0);
    int out = 0;
    while (n > 0) {
        buf[out++] = reversed[--n];
    }
    buf[out] = '\0';
}

bool radix_valid(int radix) { return radix >= 2 && radix <= 16; }

} // namespace

extern "C" {

time_t qk_now(void) { return time(nullptr); }

int64_t qk_timeofday(void) {
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    return static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

int qk_itoa2(int n, char* buf, int radix) {
    if (buf == nullptr || !radix_valid(radix)) {
        return -1;
    }
    // Negate in unsigned arithmetic: -INT_MIN does not fit in an int.
    uint32_t magnitude = static_cast<uint32_t>(n);
    if (n < 0) {
        *buf++ = '-';
        magnitude = 0U - magnitude;
    }
    write_digits(magnitude, buf, static_cast<uint32_t>(radix));
    return 0;
}

int qk_uitoa2(uint32_t n, char* buf, int radix) {
    if (buf == nullptr || !radix_valid(radix)) {
        return -1;
    }
    write_digits(n, buf, static_cast<uint32_t>(radix));
    return 0;
}

int qk_itoa(int n, char* buf) { return qk_itoa2(n, buf, 10); }

int qk_uitoa(uint32_t n, char* buf) { return qk_uitoa2(n, buf, 10); }

int qk_atoi(const char* str) { return str == nullptr ? 0 : static_cast<int>(std::strtol(str, nullptr, 10)); }

long qk_atol(const char* str) { return str == nullptr ? 0 : std::strtol(str, nullptr, 10); }

double qk_atof(const char* str) { return str == nullptr ? 0.0 : std::strtod(str, nullptr); }

int qk_regex_search(const char* pattern, const char* text, ...) {
    if (pattern == nullptr || text == nullptr) {
        return -1;
    }
    regex_t re;
    if (regcomp(&re, pattern, REG_EXTENDED) != 0) {
        return -1;
    }
    regmatch_t match[kMaxGroups + 1];
    const int rc = regexec(&re, text, kMaxGroups + 1, match, 0);
    regfree(&re);
    if (rc != 0) {
        return -1;
    }
    va_list args;
    va_start(args, text);
    for (int group = 1; group <= kMaxGroups && match[group].rm_so != -1; ++group) {
        char* out = va_arg(args, char*);
        const int size = va_arg(args, int);
        if (out == nullptr || size < 1) {
            continue; // no room, not even for the terminator
        }
        const int group_len = static_cast<int>(match[group].rm_eo - match[group].rm_so);
        qk_strncpy(out, text + match[group].rm_so, group_len, size);
        if (group_len == 0) {
            out[0] = '\0'; // qk_strncpy writes nothing for an empty count
        }
    }
    va_end(args);
    return 0;
}

} // extern "C"
