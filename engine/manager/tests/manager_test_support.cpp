#include "manager_test_support.h"

namespace mt {

namespace {

std::vector<BYTE> head(WORD16 anc_id, size_t total)
{
    std::vector<BYTE> m(total, 0);
    const size_t declared = total >= 4 ? total - 4 : 0;
    if (total >= 4) {
        m[0] = static_cast<BYTE>(anc_id);
        m[1] = static_cast<BYTE>(anc_id >> 8);
        m[2] = static_cast<BYTE>(declared);
        m[3] = static_cast<BYTE>(declared >> 8);
    }
    return m;
}

void put(std::vector<BYTE>& m, size_t at, WORD64 v, unsigned n)
{
    for (unsigned i = 0; i < n && at + i < m.size(); ++i) {
        m[at + i] = static_cast<BYTE>(v >> (8 * i));
    }
}

}  // namespace

std::vector<BYTE> arrival_msg(WORD16 anc_id, BYTE seq, WORD64 tag, size_t total, BYTE code)
{
    std::vector<BYTE> m = head(anc_id, total);
    put(m, 4, code, 1);
    put(m, 5, seq, 1);
    put(m, 6, tag, 8);
    return m;
}

std::vector<BYTE> ranging_msg(WORD16 anc_id, BYTE seq, WORD16 anc_field, WORD16 short_id, size_t total)
{
    std::vector<BYTE> m = head(anc_id, total);
    put(m, 4, 0x83, 1);
    put(m, 5, seq, 1);
    put(m, 6, anc_field, 2);
    put(m, 8, short_id, 2);
    return m;
}

void RecordingOutput::power_on_ack()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++acks_;
}

void RecordingOutput::start_ok()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++start_oks_;
}

void RecordingOutput::to_selector(unsigned index, const BYTE* msg, WORD16 len)
{
    std::lock_guard<std::mutex> lock(mutex_);
    selector_.push_back(SelectorSend{index, std::vector<BYTE>(msg, msg + len)});
}

void RecordingOutput::to_display(const RawBlinkBytes& raw_blink)
{
    std::lock_guard<std::mutex> lock(mutex_);
    display_.push_back(raw_blink);
}

int RecordingOutput::acks()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return acks_;
}

int RecordingOutput::start_oks()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return start_oks_;
}

std::vector<SelectorSend> RecordingOutput::selector_sends()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return selector_;
}

std::vector<RawBlinkBytes> RecordingOutput::raw_blinks()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return display_;
}

}  // namespace mt
