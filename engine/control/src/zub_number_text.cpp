#include "zub_number_text.h"

#include <cctype>
#include <climits>

namespace {

const char* skip_blanks(const char* p)
{
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) {
        ++p;
    }
    return p;
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Unsigned value of base 10 or 16 within `limit`; false for no digit, another character, or
// overflow.
bool parse_unsigned(const char* text, unsigned base, WORD64 limit, WORD64* out)
{
    if (text == nullptr) {
        return false;
    }
    const char* p = skip_blanks(text);
    if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hex_digit(p[2]) >= 0) {
        p += 2;
    }
    WORD64 value = 0;
    int digits = 0;
    for (;; ++p, ++digits) {
        const int d = (base == 16) ? hex_digit(*p) : ((*p >= '0' && *p <= '9') ? *p - '0' : -1);
        if (d < 0) {
            break;
        }
        if (value > (limit - static_cast<WORD64>(d)) / base) {
            return false;
        }
        value = value * base + static_cast<WORD64>(d);
    }
    if (digits == 0 || *skip_blanks(p) != '\0') {
        return false;
    }
    *out = value;
    return true;
}

}  // namespace

bool zub_parse_hex64(const char* text, WORD64* out)
{
    return parse_unsigned(text, 16, ~WORD64{0}, out);
}

bool zub_parse_hex32(const char* text, WORD32* out)
{
    WORD64 v = 0;
    if (!parse_unsigned(text, 16, 0xFFFFFFFFu, &v)) {
        return false;
    }
    *out = static_cast<WORD32>(v);
    return true;
}

bool zub_parse_dec_u32(const char* text, WORD32* out)
{
    WORD64 v = 0;
    if (!parse_unsigned(text, 10, 0xFFFFFFFFu, &v)) {
        return false;
    }
    *out = static_cast<WORD32>(v);
    return true;
}

bool zub_parse_int(const char* text, int* out)
{
    if (text == nullptr) {
        return false;
    }
    const char* p = skip_blanks(text);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    if (*p < '0' || *p > '9') {
        return false;
    }
    WORD64 magnitude = 0;
    const WORD64 limit = negative ? WORD64{1} + INT_MAX : WORD64{INT_MAX};
    if (!parse_unsigned(p, 10, limit, &magnitude)) {
        return false;
    }
    *out = negative ? static_cast<int>(-static_cast<long long>(magnitude)) : static_cast<int>(magnitude);
    return true;
}
