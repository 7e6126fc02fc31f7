#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "omc_msg_head.h"

namespace {

using Wire = std::array<BYTE, 48>;

// A registration head written by a little-endian peer: id 17002, body 0x0102 bytes, sender
// job 0xC0050001 on device 0x01000001, module 0x0203, unit 0xFFFF, route type 5; receiver job
// 0x00010001, module 1.
Wire little_endian_head() {
    return Wire{
        7,    3,    2,    0,    0,    0,    0x02, 0x01,             // ver, msgver, type, pads, size 0x0102
        0x6A, 0x42, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00,             // id 17002 = 0x426A, endian mark
        0x01, 0x00, 0x05, 0xC0, 0x01, 0x00, 0x00, 0x01,             // sender dwJno, dwDevId
        0x03, 0x02, 0xFF, 0xFF, 9,    8,    5,    4,                // module, unit, sunit, subsys, route, ext
        0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00,             // receiver dwJno, dwDevId
        0x01, 0x00, 0xFF, 0xFF, 0,    0,    0,    0,
    };
}

// The same head as a big-endian peer writes it.
Wire big_endian_head() {
    return Wire{
        7,    3,    2,    0,    0,    0,    0x01, 0x02,
        0x00, 0x00, 0x42, 0x6A, 0x00, 0x00, 0xFF, 0xFF,
        0xC0, 0x05, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01,
        0x02, 0x03, 0xFF, 0xFF, 9,    8,    5,    4,
        0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01,
        0x00, 0x01, 0xFF, 0xFF, 0,    0,    0,    0,
    };
}

void expect_decoded_registration(const T_OMCMsgHead& h) {
    EXPECT_EQ(h.ucVer, 7);
    EXPECT_EQ(h.ucMsgVer, 3);
    EXPECT_EQ(h.ucMsgType, 2);
    EXPECT_EQ(h.wMsgSize, 0x0102);
    EXPECT_EQ(h.dwMsgId, 17002u);
    EXPECT_EQ(h.tSender.dwJno, 0xC0050001u);
    EXPECT_EQ(h.tSender.dwDevId, 0x01000001u);
    EXPECT_EQ(h.tSender.wModule, 0x0203);
    EXPECT_EQ(h.tSender.wUnit, 0xFFFF);
    EXPECT_EQ(h.tSender.ucSUnit, 9);
    EXPECT_EQ(h.tSender.ucSubSystem, 8);
    EXPECT_EQ(h.tSender.ucRouteType, 5);
    EXPECT_EQ(h.tSender.ucExtendFlag, 4);
    EXPECT_EQ(h.tReceiver.dwJno, 0x00010001u);
    EXPECT_EQ(h.tReceiver.dwDevId, 1u);
    EXPECT_EQ(h.tReceiver.wModule, 1);
    EXPECT_EQ(h.tReceiver.wUnit, 0xFFFF);
}

TEST(OmcMsgHead, DecodesLittleEndianPeerAsWritten) {
    const Wire wire = little_endian_head();
    const T_OMCMsgHead h = omc_head_decode(wire.data());
    expect_decoded_registration(h);
    EXPECT_EQ(h.dwEndian, 0x0000FFFFu);
}

TEST(OmcMsgHead, ReversesMultiByteFieldsOfBigEndianPeer) {
    const Wire wire = big_endian_head();
    const T_OMCMsgHead h = omc_head_decode(wire.data());
    expect_decoded_registration(h);
    EXPECT_EQ(h.dwEndian, 0xFFFF0000u) << "the mark itself is left as received";
}

TEST(OmcMsgHead, EncodesInOwnOrderWithMark) {
    T_OMCMsgHead h = omc_head_decode(big_endian_head().data());
    Wire out{};
    omc_head_encode(h, out.data());
    EXPECT_EQ(out, little_endian_head());
}

TEST(OmcMsgHead, LinkHeadsAreZeroButIdAndMark) {
    Wire hello{};
    omc_head_encode(omc_link_head(kOmcMsgHello), hello.data());
    Wire expected{};
    expected[8] = 0x69; // 17001 = 0x4269
    expected[9] = 0x42;
    expected[12] = 0xFF;
    expected[13] = 0xFF;
    EXPECT_EQ(hello, expected);
    EXPECT_EQ(kOmcMsgRegister, 17002u);
    EXPECT_EQ(kOmcMsgHeartbeat, 17003u);
}

} // namespace
