// The conversions of the selector's records: full ranging tag ids and millimetres.
#include <cinttypes>
#include <cmath>
#include <limits>

#include "zub_print.h"
#include "zub_selector_records.h"
#include "zub_tag_id.h"

WORD64 zub_full_tag_id(WORD64 prefix, WORD16 short_id)
{
    unsigned digits = 1;
    for (unsigned v = short_id >> 4; v != 0; v >>= 4) {
        ++digits;
    }
    const unsigned shift = 4 * digits;
    if ((prefix >> (64 - shift)) != 0) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "tag id prefix %" PRIx64 " with short id %x exceeds 64 bits", prefix,
                  static_cast<unsigned>(short_id));
        return ~WORD64{0};
    }
    return (prefix << shift) | short_id;
}

int32_t zub_metres_to_mm(double metres)
{
    const double mm = std::trunc(metres * 1000.0);
    if (!(mm > static_cast<double>(std::numeric_limits<int32_t>::min()))) {
        return std::numeric_limits<int32_t>::min();
    }
    if (mm >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(mm);
}
