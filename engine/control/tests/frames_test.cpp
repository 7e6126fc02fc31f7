// The command records byte for byte, and the 'D' frame of configured anchors.
#include <cstring>

#include "handler_fixture.h"
#include "zub_control_frames.h"

namespace {

using ctl::Bytes;

template <class F>
Bytes bytes(const F& f)
{
    const BYTE* p = reinterpret_cast<const BYTE*>(&f);
    return Bytes(p, p + sizeof f);
}

TEST(engine_control_Frames, RecordsAreLaidOutByteForByte)
{
    cmd_twr_asymm_t asymm{0x5B, 0x03, 0x01, 0x0102, 0x01, 0x0304, 0x0506, 0x0708, 0x090A, 0x0B0C, 0x0D0E, 0x0F10, 0x1112, 0x01, 0x44332211};
    cmd_comm_test_t comm{0x53, 1, 1000};
    cmd_power_test_t power{0x58, 1, 30};
    cmd_reset_t reset{};
    reset.command = 0x59;
    std::memcpy(reset.text, "reset_anchor_now", 17);
    cmd_log_accumulator_t accum{0x88, 0xA2, 0x0203};
    cmd_rtls_start_t start{0x57, 1};
    struct Row { const char* name; Bytes got; Bytes expected; };
    const Row rows[] = {
        {"[", bytes(asymm), {0x5B, 0x03, 0x01, 0x02, 0x01, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07, 0x0A, 0x09,
                             0x0C, 0x0B, 0x0E, 0x0D, 0x10, 0x0F, 0x12, 0x11, 0x01, 0x11, 0x22, 0x33, 0x44}},
        {"S", bytes(comm), {0x53, 0x01, 0xE8, 0x03}},
        {"X", bytes(power), {0x58, 0x01, 0x1E, 0x00}},
        {"Y", bytes(reset), {0x59, 'r', 'e', 's', 'e', 't', '_', 'a', 'n', 'c', 'h', 'o', 'r', '_', 'n', 'o', 'w', 0x00}},
        {"0x88", bytes(accum), {0x88, 0xA2, 0x03, 0x02}},
        {"W", bytes(start), {0x57, 0x01}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.got, r.expected);
    }
}

class engine_control_ConfigFrame : public ctl::HandlerTest {};

TEST_F(engine_control_ConfigFrame, FromDefaultsAndFromAnchorCfg)
{
    // After init and with rfConfig's defaults: channel 2, PRF 64 M (2), 6.8 M (2), code 9,
    // 128 symbols (0x14), PAC 8 and nsfd 0, no delays, lag 20000 = 0x4E20.
    EXPECT_EQ(bytes(zub_build_config_frame(*a)),
              (Bytes{0x44, 0x00, 0x00, 0x22, 0x02, 0x09, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0x4E, 0x00, 0x00}));

    c->log_ctrl.diagnostics_log = 1;
    request("<r type=\"anchor cfg\"><anchor addr=\"a1\" master=\"1\" ant_delay_rx=\"16400\" master_lag_delay=\"70000\"/>"
            "<anchor addr=\"B2\" master_addr=\"a1\" ant_delay=\"16500\" ant_delay_tx=\"16600\"/></r>");
    // a1: both delays 16400 = 0x4010; debug logs on; follows itself; lag 70000 = 0x11170.
    EXPECT_EQ(ports.frames_to(a->id).at(0),
              (Bytes{0x44, 0x00, 0x01, 0x22, 0x02, 0x09, 0x14, 0x00, 0x10, 0x40, 0x10, 0x40, 0x00, 0x01,
                     0xA1, 0, 0, 0, 0, 0, 0, 0, 0x70, 0x11, 0x01, 0x00}));
    // b2: receive 16500 = 0x4074, transmit 16600 = 0x40D8; follows a1.
    EXPECT_EQ(ports.frames_to(b->id).at(0),
              (Bytes{0x44, 0x00, 0x00, 0x22, 0x02, 0x09, 0x14, 0x00, 0x74, 0x40, 0xD8, 0x40, 0x00, 0x01,
                     0xA1, 0, 0, 0, 0, 0, 0, 0, 0x20, 0x4E, 0x00, 0x00}));
    EXPECT_TRUE(ports.frames_to(cc->id).empty());  // no link: dropped silently
}

TEST_F(engine_control_ConfigFrame, RangingStartFrame)
{
    request("<r type=\"anchor cfg\"><anchor addr=\"a1\" use_tof=\"1\" four_mode=\"1\" ant_delay_rx=\"16400\" "
            "ant_delay_tx=\"16416\" tof_delayed=\"1000\" tof_id=\"5\" anc_power=\"522133279\"/></r>");
    ports.frames.clear();
    request("<r type=\"rtls start\"/>");
    // 'Z': role 1, use_ant_delay 1 (rfConfig), tx 0x4020, rx 0x4010, 1000 = 0x3E8, addr 5, lna 1,
    // power 0x1F1F1F1F, log_all 1. B has no ranging: 'W' start.
    EXPECT_EQ(ports.frames_to(a->id),
              (std::vector<Bytes>{{0x5A, 0x01, 0x01, 0x20, 0x40, 0x10, 0x40, 0xE8, 0x03, 0x05, 0x00, 0x01, 0x1F, 0x1F,
                                   0x1F, 0x1F, 0x01}}));
    EXPECT_EQ(ports.frames_to(b->id), (std::vector<Bytes>{{0x57, 0x01}}));
}

}  // namespace
