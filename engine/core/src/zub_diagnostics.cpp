#include "zub_diagnostics.h"

#include <cstring>

#include "zub_print.h"

namespace {

struct RegisterRecord {
    BYTE id;
    WORD16 sub_address;
    BYTE length;
    BYTE first_input_byte;
};

// Input byte 41 belongs to no record.
constexpr RegisterRecord kRecords[] = {
    {0x0F, 0x0000, 5, 1},   {0x10, 0x0000, 4, 6},  {0x12, 0x0000, 8, 10},
    {0x13, 0x0000, 4, 18},  {0x14, 0x0000, 5, 22}, {0x15, 0x0000, 14, 27},
    {0x25, 0x0000, 16, 42}, {0x2E, 0x1000, 2, 58}, {0x27, 0x0028, 4, 60},
    {0x2E, 0x1002, 2, 64},
};

constexpr unsigned output_bytes()
{
    unsigned n = 0;
    for (const auto& r : kRecords) {
        n += 4u + r.length;
    }
    return n;
}
static_assert(output_bytes() == ZUB_DIAG_OUTPUT_BYTES, "ten records fill 104 bytes");
static_assert(kRecords[9].first_input_byte + kRecords[9].length == ZUB_DIAG_INPUT_BYTES,
              "the last record ends the 66-byte block");

}  // namespace

bool zub_diag_convert_to_format(BYTE* out, const BYTE* in, bool check)
{
    if (out == nullptr || in == nullptr) {
        return false;
    }
    if (check && in[0] != ZUB_DIAG_VERSION) {
        ZUB_PRINT(ZUB_PRINT_ERROR,
                  "\nDiagnostics version %d not supported. Please use supported Anchors firmware\n", in[0]);
        return false;
    }
    BYTE* p = out;
    for (const auto& r : kRecords) {
        p[0] = r.id;
        p[1] = static_cast<BYTE>(r.sub_address >> 8);
        p[2] = static_cast<BYTE>(r.sub_address & 0xFF);
        p[3] = r.length;
        std::memcpy(p + 4, in + r.first_input_byte, r.length);
        p += 4 + r.length;
    }
    return true;
}
