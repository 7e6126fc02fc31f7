// Fuzz target over the controller's requests. The first byte picks the form: even, the rest
// is one request line as it arrives; odd, the rest builds a line from the known request types
// and attributes with values taken from the input. Replies, frames and timers go to no-op ports.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "RTLSControlHandler.h"
#include "fuzz_input.h"
#include "fuzz_rig.h"

namespace {

const char* const kTypes[] = {
    "anchor list", "anchor cfg", "tag training", "rf cfg", "power test", "comm test", "range test", "twr test",
    "anchor init all", "rtls start", "rtls stop", "motion filter", "log accumulator", "log start", "log stop",
    "log text", "zub cfg", "rtls anc_reset", "shutdown", "unknown",
};
const char* const kAttributes[] = {
    "addr", "master_addr", "id", "master", "x", "y", "z", "use_tof", "four_mode", "tof_delayed", "anc_power",
    "tof_id", "mode", "ant_delay", "ant_delay_rx", "ant_delay_tx", "master_lag_delay", "rfdistance", "chan",
    "prf", "rate", "code", "plen", "pac", "nsfd", "filter_type", "filter_length", "num_accum", "ccp_blink",
    "loglevel", "text", "blinks", "tag",
};
const char* const kValues[] = {
    "a1", "b2", "c3", "0", "1", "-1", "16", "64", "110", "850", "6810", "1024", "4096", "2147483648",
    "ffffffffffffffff", "1ffffffffffffffff", "1.5", "nan", "1e308", "", "x", "0x10",
};
const WORD64 kAnchors[] = {0xa1, 0xb2, 0xc3};

std::string attributes(Input& in, int count)
{
    std::string out;
    for (int i = 0; i < count && in.n > 0; ++i) {
        out += std::string(" ") + pick(kAttributes, in.next()) + "=\"" + pick(kValues, in.next()) + "\"";
    }
    return out;
}

std::string built_request(Input& in)
{
    std::string line = std::string("<r type=\"") + pick(kTypes, in.next()) + "\"" + attributes(in, in.next() % 4) + ">";
    const int children = in.next() % 4;
    for (int i = 0; i < children && in.n > 0; ++i) {
        line += "<anchor" + attributes(in, in.next() % 5) + ">";
        const int grandchildren = in.next() % 3;
        for (int j = 0; j < grandchildren && in.n > 0; ++j) {
            line += "<m" + attributes(in, in.next() % 5) + "/>";
        }
        line += "</anchor>";
    }
    return line + "</r>";
}

// What a request leaves in the handler and the anchors is let go after each input, so that
// every input starts alike and only what it leaks is reported.
void reset_state()
{
    RTLSControlHandler* h = RTLSControlHandler::Instance();
    h->expectedRxResponseNum = 0;
    h->expectedResponseCode = h->expectedResponseCode2 = 0;
    h->tmWatiRspTimer = 0xFFFFFFFF;
    h->xmlResponse.clear();
    h->xmlResponse.shrink_to_fit();
    for (WORD64 hw : kAnchors) {
        Anchor* a = Anchor::zub_get_anchor_by_hardware_id(hw);
        std::lock_guard<GuardMutex> lock(a->cfg_lock);
        a->masters.clear();
        a->rfDistanceToMaster.clear();
        a->trainingTags.clear();
        for (auto& entry : a->trainingState) {
            delete entry.second;
        }
        a->trainingState.clear();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    control_fuzz::keep_context_in_leak_scan();
    zub_control_ports() = control_fuzz::quiet_ports();
    control_fuzz::add_anchors(kAnchors);
    RTLSControlHandler::Instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    Input in{data + 1, size - 1};
    const std::string line = (data[0] & 1) ? built_request(in) : std::string(reinterpret_cast<const char*>(data + 1), size - 1);
    char* text = static_cast<char*>(std::malloc(line.size() + 1));
    if (text == nullptr) {
        return 0;
    }
    std::memcpy(text, line.c_str(), line.size() + 1);
    RTLSControlHandler::Instance()->HandleRequests(text);
    reset_state();
    return 0;
}
