#include "zub_pending_bytes.h"

void PendingBytes::clear()
{
    bytes_.clear();
    bytes_.shrink_to_fit();
    head_ = 0;
}

void PendingBytes::append(const BYTE* data, size_t len)
{
    // The sent half goes before the vector grows again, so a slow reader's queue does not creep.
    if (head_ > 0 && head_ >= bytes_.size() / 2) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    bytes_.insert(bytes_.end(), data, data + len);
}
