// backcomm_link_fuzz.cpp - the byte stream a peer sends on a back-communication link, cut at
// arbitrary points, through the link's reassembly and the proxy's handling of each message
// (registration, heartbeats, the hand-over to the job), with the job side replaced by a port
// that records what it is handed. No socket and no reactor: the bytes are handed to the link
// as its reads would deliver them.
//
// Input: byte 0 sets the largest cut (0: one byte at a time), byte 1 the circumstances (bit 0: the
// module 7 is bound to another link already; bit 1: a link timer tick after every cut; bit 2: the
// job's queue refuses every second message), the rest is the stream. Every hand-over is
// compared with an independent reading of the stream.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <ace/Message_Block.h>

#include "CNPlatform.h"
#include "omc_msg_head.h"
#include "oms_proxy_service.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz expectation broken: %s\n", what);
    std::abort();
}

void expect(bool ok, const char* what) {
    if (!ok) fail(what);
}

constexpr WORD16 kTakenModule = 7;

class RecordingPort final : public BackCommJobPort {
public:
    bool refuse_every_second = false;
    std::vector<std::string> accepted;  // the data of each block the job took
    int offered = 0;

    JID self_jid() const override {
        JID j{};
        j.dwJno = static_cast<WORD32>(CN_BACKCOMM_JOB_TYPE) << 16 | 1;
        j.wModule = 1;
        j.wUnit = 0xFFFF;
        return j;
    }
    int hand_over(ACE_Message_Block* block) override {
        ++offered;
        if (refuse_every_second && offered % 2 == 0) return -1;
        accepted.emplace_back(block->rd_ptr(), block->length());
        block->release();
        return 0;
    }
};

// --- the independent reading of the stream ---

WORD16 load16(const uint8_t* p, bool swap) {
    const WORD16 v = static_cast<WORD16>(p[0] | p[1] << 8);
    return swap ? static_cast<WORD16>(v >> 8 | v << 8) : v;
}

WORD32 load32(const uint8_t* p, bool swap) {
    const WORD32 v = static_cast<WORD32>(p[0]) | static_cast<WORD32>(p[1]) << 8 | static_cast<WORD32>(p[2]) << 16 |
                     static_cast<WORD32>(p[3]) << 24;
    return swap ? __builtin_bswap32(v) : v;
}

JID read_jid(const uint8_t* p, bool swap) {
    JID j{};
    j.dwJno = load32(p, swap);
    j.dwDevId = load32(p + 4, swap);
    j.wModule = load16(p + 8, swap);
    j.wUnit = load16(p + 10, swap);
    j.ucSUnit = p[12];
    j.ucSubSystem = p[13];
    j.ucRouteType = p[14];
    j.ucExtendFlag = p[15];
    return j;
}

struct Event {
    size_t ready_at;  // stream offset at which the link has the whole message (or the oversized head)
    bool oversized;
    T_OMCMsgHead head;  // host order
    size_t body_at;
};

std::vector<Event> read_stream(const uint8_t* s, size_t n) {
    std::vector<Event> events;
    size_t at = 0;
    while (at < n && n - at >= kOmcHeadSize) {
        const uint8_t* h = s + at;
        const bool swap = load32(h + 12, false) != kOmcEndianMark;
        Event e{};
        std::memcpy(&e.head, h, 6);  // version, message version and type, padding
        e.head.wMsgSize = load16(h + 6, swap);
        e.head.dwMsgId = load32(h + 8, swap);
        e.head.dwEndian = load32(h + 12, false);
        e.head.tSender = read_jid(h + 16, swap);
        e.head.tReceiver = read_jid(h + 32, swap);
        e.body_at = at + kOmcHeadSize;
        e.oversized = e.head.wMsgSize > LinkInput::kMaxBody;
        if (e.oversized) {
            e.ready_at = e.body_at;
        } else if (n - e.body_at >= e.head.wMsgSize) {
            e.ready_at = e.body_at + e.head.wMsgSize;
        } else {
            break;
        }
        events.push_back(e);
        at = e.body_at + e.head.wMsgSize;
    }
    return events;
}

std::string expected_block(const RecordingPort& port, const Event& e, const uint8_t* stream) {
    T_CNMessageHead msg{};
    msg.DestJID = port.self_jid();
    msg.SrcJID = e.head.tSender;
    msg.dwMsgID = e.head.dwMsgId;
    msg.dwMsgLen = static_cast<WORD32>(kOmcHeadSize + e.head.wMsgSize);
    std::string out(reinterpret_cast<const char*>(&msg), sizeof msg);
    out.append(reinterpret_cast<const char*>(&e.head), kOmcHeadSize);
    out.append(reinterpret_cast<const char*>(stream + e.body_at), e.head.wMsgSize);
    return out;
}

// What the proxy must do with the stream: the blocks it hands over and whether it closes.
struct Model {
    bool registered = false;
    bool closed = false;
    int unregistered_ticks = 0;
    int silent_ticks = 0;
    std::vector<const Event*> forwarded;

    void on_event(const Event& e, bool module_taken) {
        if (e.oversized) {
            if (registered) silent_ticks = 0;
            return;
        }
        if (!registered) {
            if (e.head.dwMsgId != kOmcMsgRegister) return;
            if (module_taken && e.head.tSender.wModule == kTakenModule) {
                closed = true;
                return;
            }
            registered = true;
            silent_ticks = 0;
            return;
        }
        silent_ticks = 0;
        if (e.head.dwMsgId == kOmcMsgHeartbeat || e.head.tSender.ucRouteType != 5) return;
        forwarded.push_back(&e);
    }
    void on_tick() {
        if (registered) {
            closed = ++silent_ticks >= OmsProxyService::kSilentTicks;
        } else {
            closed = ++unregistered_ticks >= OmsProxyService::kUnregisteredTicks;
        }
    }
};

struct Cutter {
    uint32_t state;
    size_t largest;
    size_t next(size_t left) {
        state = state * 1103515245u + 12345u;
        const size_t len = 1 + (state >> 8) % largest;
        return len < left ? len : left;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t largest = 1 + static_cast<size_t>(data[0]) * 64;
    const bool module_taken = (data[1] & 1) != 0;
    const bool ticks = (data[1] & 2) != 0;
    const uint8_t* stream = data + 2;
    const size_t n = size - 2;

    OmsLinkManager links;
    if (module_taken) links.bind(kTakenModule, reinterpret_cast<OmsProxyService*>(&links));  // never dereferenced
    RecordingPort port;
    port.refuse_every_second = (data[1] & 4) != 0;
    OmsProxyService* link = new OmsProxyService();
    link->reactor(nullptr);  // nothing to wake: output stays queued on the link
    link->attach(&links, &port);
    link->add_reference();  // ours, so the link outlives its own close

    const std::vector<Event> events = read_stream(stream, n);
    Model model;
    size_t next_event = 0;
    Cutter cut{data[0] * 2654435761u + data[1], largest};
    for (size_t at = 0; at < n && !model.closed;) {
        const size_t len = cut.next(n - at);
        link->receive(stream + at, len);
        at += len;
        for (; next_event < events.size() && events[next_event].ready_at <= at && !model.closed; ++next_event) {
            model.on_event(events[next_event], module_taken);
        }
        if (ticks && !model.closed) {
            link->handle_timeout(ACE_Time_Value::zero, nullptr);
            model.on_tick();
        }
        expect(link->closed() == model.closed, "the link closes exactly when the stream says so");
    }

    expect(link->state() == (model.registered ? OmsProxyService::kRegistered : 0), "registration state");
    expect(static_cast<size_t>(port.offered) == model.forwarded.size(), "every message for the job, and only those");
    size_t taken = 0;
    for (size_t i = 0; i < model.forwarded.size(); ++i) {
        if (port.refuse_every_second && (i + 1) % 2 == 0) continue;
        expect(taken < port.accepted.size(), "a block for every accepted message");
        expect(port.accepted[taken++] == expected_block(port, *model.forwarded[i], stream),
               "the job gets the host-order head and the body");
    }
    expect(taken == port.accepted.size(), "no other block");

    link->handle_close(ACE_INVALID_HANDLE, ACE_Event_Handler::ALL_EVENTS_MASK);
    expect(links.total_size() == (module_taken ? 1u : 0u), "a closed link leaves no binding of its own");
    link->remove_reference();
    return 0;
}
