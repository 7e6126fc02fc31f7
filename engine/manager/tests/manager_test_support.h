// manager_test_support.h - report messages as the frame router builds them, and a manager
// output that records what a manager sends (locked, so several manager threads may share it).
#pragma once

#include <mutex>
#include <vector>

#include "manager_router.h"

namespace mt {

// u16 anchor id, u16 payload length, then an arrival payload (code, seq, 64-bit tag id, zeros)
// padded to `total` message bytes. The declared length is `total` - 4 unless given.
std::vector<BYTE> arrival_msg(WORD16 anc_id, BYTE seq, WORD64 tag, size_t total, BYTE code = 0x32);
// The same head, then a ranging payload (0x83, seq, u16 anchor field, u16 short id, ...).
std::vector<BYTE> ranging_msg(WORD16 anc_id, BYTE seq, WORD16 anc_field, WORD16 short_id, size_t total);

struct SelectorSend {
    unsigned index;
    std::vector<BYTE> msg;
};

class RecordingOutput final : public ManagerOutput {
public:
    void power_on_ack() override;
    void start_ok() override;
    void to_selector(unsigned index, const BYTE* msg, WORD16 len) override;
    void to_display(const RawBlinkBytes& raw_blink) override;

    int acks();
    int start_oks();
    std::vector<SelectorSend> selector_sends();
    std::vector<RawBlinkBytes> raw_blinks();

private:
    std::mutex mutex_;
    int acks_ = 0;
    int start_oks_ = 0;
    std::vector<SelectorSend> selector_;
    std::vector<RawBlinkBytes> display_;
};

}  // namespace mt
