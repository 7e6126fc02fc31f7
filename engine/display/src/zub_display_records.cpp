#include "zub_display_records.h"

#include <cstring>

namespace {

template <class T>
bool decode(const BYTE* body, size_t len, T* out)
{
    if (body == nullptr || out == nullptr || len < sizeof(T)) {
        return false;
    }
    std::memcpy(out, body, sizeof(T));
    return true;
}

}  // namespace

bool msg_position_decode(const BYTE* body, size_t len, msg_position_t* out) { return decode(body, len, out); }
bool msg_imu_decode(const BYTE* body, size_t len, msg_imu_t* out) { return decode(body, len, out); }
bool msg_raw_blink_decode(const BYTE* body, size_t len, msg_raw_blink_t* out) { return decode(body, len, out); }
bool dac_ccp_rx_decode(const BYTE* body, size_t len, dac_ccp_rx_t* out) { return decode(body, len, out); }
