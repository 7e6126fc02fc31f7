#include "link_output.h"

#include <ace/Time_Value.h>

#include <cerrno>

LinkOutput::LinkOutput() : queue_(kHighWater, kHighWater) {}

LinkOutput::~LinkOutput() { close(); }

bool LinkOutput::queue(ACE_Message_Block* block) {
    ACE_Time_Value no_wait(ACE_Time_Value::zero);
    return queue_.enqueue_tail(block, &no_wait) != -1;
}

bool LinkOutput::claim_wakeup() { return !wakeup_pending_.exchange(true); }

LinkOutput::Drain LinkOutput::drain(const SendFn& send) {
    // Cleared before looking at the queue: a block queued from now on brings a fresh wake-up.
    wakeup_pending_.store(false);
    for (;;) {
        if (in_flight_ == nullptr) {
            ACE_Time_Value no_wait(ACE_Time_Value::zero);
            if (queue_.dequeue_head(in_flight_, &no_wait) == -1) {
                in_flight_ = nullptr;
                return Drain::kEmpty;
            }
        }
        const std::size_t len = in_flight_->length();
        const ssize_t sent = len == 0 ? 0 : send(in_flight_->rd_ptr(), len);
        if (sent >= 0 && static_cast<std::size_t>(sent) == len) {
            in_flight_->release();
            in_flight_ = nullptr;
            continue;
        }
        if (sent > 0) {
            in_flight_->rd_ptr(static_cast<std::size_t>(sent));
            return Drain::kBlocked;
        }
        const bool try_again = sent == 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        return try_again ? Drain::kBlocked : Drain::kFailed;
    }
}

bool LinkOutput::empty() { return in_flight_ == nullptr && queue_.is_empty(); }

std::size_t LinkOutput::queued_bytes() {
    return queue_.message_length() + (in_flight_ != nullptr ? in_flight_->length() : 0);
}

void LinkOutput::close() {
    if (in_flight_ != nullptr) {
        in_flight_->release();
        in_flight_ = nullptr;
    }
    queue_.close();
}
