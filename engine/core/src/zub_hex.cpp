#include "zub_hex.h"

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

void put_byte(char* out, BYTE b)
{
    out[0] = kDigits[b >> 4];
    out[1] = kDigits[b & 0x0F];
}

}  // namespace

void zub_bytes_to_hex(char* out, const BYTE* in, WORD16 len)
{
    if (out == nullptr) {
        return;
    }
    for (unsigned i = 0; in != nullptr && i < len; ++i) {
        put_byte(out + 2 * i, in[i]);
    }
    out[in != nullptr ? 2u * len : 0u] = '\0';
}

void zub_bytes_to_hex_Time(char* out, const BYTE* in, WORD16 len)
{
    if (out == nullptr) {
        return;
    }
    for (unsigned i = 0; in != nullptr && i < len; ++i) {
        put_byte(out + 2 * i, in[len - 1 - i]);
    }
    out[in != nullptr ? 2u * len : 0u] = '\0';
}
