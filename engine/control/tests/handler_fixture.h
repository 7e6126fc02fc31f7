// handler_fixture.h - three anchors for the handler tests: A (0xa1) and B (0xb2) with a link,
// C (0xc3) without; the handler idle, rfConfig and the context at their defaults, every log
// line's rate limit fresh, and fake ports recording every frame, reply and timer.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "CNPlatLogLimit.h"
#include "RTLSControlHandler.h"
#include "control_test_support.h"
#include "zub_config.h"
#include "zub_context.h"
#include "zub_public.h"

namespace ctl {

constexpr WORD64 kA = 0xa1;
constexpr WORD64 kB = 0xb2;
constexpr WORD64 kC = 0xc3;

using Bytes = std::vector<BYTE>;

// A range result 0x83 or 0x84: the distance in 1/10000 m at offset 6, 7 timeouts at offset 10.
inline Bytes range_reply(BYTE code, WORD32 distance = 12345)
{
    return {code, 0, 0, 0, 0, 0, static_cast<BYTE>(distance), static_cast<BYTE>(distance >> 8),
            static_cast<BYTE>(distance >> 16), static_cast<BYTE>(distance >> 24), 0x07, 0x00};
}

class HandlerTest : public ::testing::Test {
protected:
    FakePorts ports;
    Prints prints;
    RTLSControlHandler* h = RTLSControlHandler::Instance();
    context_t* c = zub_context();
    Anchor* a = nullptr;
    Anchor* b = nullptr;
    Anchor* cc = nullptr;

    void SetUp() override
    {
        CN_LogLimit::restart_all();
        zub_set_default_config();
        // The defaults leave the anchors' debug logs as they were (the loader sets them from the
        // site file): off, as a file without the attribute gives, whatever a test before chose.
        zub_store(c->log_ctrl.diagnostics_log, BYTE{0});
        a = prepare(kA, true);
        b = prepare(kB, true);
        cc = prepare(kC, false);
        c->anchor_count = 3;
        rfConfig = RfConfig();
        h->expectedRxResponseNum = 0;
        h->expectedResponseCode = 0;
        h->expectedResponseCode2 = 0;
        h->twrWithDiagnostics = 0;
        h->tmWatiRspTimer = 0xFFFFFFFF;
        h->twr_anchors.clear();
        h->twr_initiator = h->twr_responder = 0;
        h->comm_results_due.clear();
        h->ranging_anchors[0] = h->ranging_anchors[1] = nullptr;
        h->xmlResponse.clear();
        h->cfg_answer_from_ms.clear();
        h->cfg_requests_dropped = 0;
        prints.clear();
    }

    static Anchor* prepare(WORD64 hw, bool linked)
    {
        const WORD16 local = zub_new_anchor_id(hw);
        Anchor* x = &zub_context()->anchors[local];
        x->init(hw, local);
        x->mode = 0;
        x->version[0] = '\0';
        {
            std::lock_guard<GuardMutex> lock(x->cfg_lock);
            x->masters.clear();
            x->rfDistanceToMaster.clear();
        }
        x->link_take(nullptr, nullptr);
        if (linked) {
            x->link_record(500u + local, nullptr);
        }
        return x;
    }

    void request(const std::string& text)
    {
        char* heap = static_cast<char*>(std::malloc(text.size() + 1));
        std::memcpy(heap, text.c_str(), text.size() + 1);
        h->HandleRequests(heap);
    }

    // A sock_data_t message from anchor x with this payload.
    int reply(const Anchor* x, const Bytes& payload)
    {
        Bytes m = {static_cast<BYTE>(x->id & 0xFF), static_cast<BYTE>(x->id >> 8),
                   static_cast<BYTE>(payload.size() & 0xFF), static_cast<BYTE>(payload.size() >> 8)};
        m.insert(m.end(), payload.begin(), payload.end());
        return h->HandleResponse(m.data(), static_cast<WORD16>(m.size()));
    }
};

}  // namespace ctl
