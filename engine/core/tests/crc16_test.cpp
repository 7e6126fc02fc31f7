// CRC-16/KERMIT of anchor frames, worked from the definition (reflected 0x1021, init 0).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "zub_crc16.h"

namespace {

// Bit-at-a-time reference: reflected polynomial 0x8408, initial value 0, no final XOR.
uint16_t kermit_reference(const uint8_t* p, size_t n)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b) {
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

std::vector<BYTE> check_string()
{
    const char* s = "123456789";
    return std::vector<BYTE>(s, s + 9);
}

}  // namespace

TEST(engine_core_Crc16, TablesHoldThePolynomialAndMirroredBytes)
{
    init_crc16();
    EXPECT_EQ(crc16Table[0], 0x0000);
    EXPECT_EQ(crc16Table[1], 0x1021);
    EXPECT_EQ(crc16Table[0x80], 0x9188);  // 0x8000 shifted eight times through 0x1021
    EXPECT_EQ(crc16Table[0xFF], 0x1EF0);
    EXPECT_EQ(reverseByte[0x01], 0x80);
    EXPECT_EQ(reverseByte[0x0F], 0xF0);
    EXPECT_EQ(reverseByte[0xA5], 0xA5);
    EXPECT_EQ(reverseByte[0x12], 0x48);
}

TEST(engine_core_Crc16, KermitCheckValueOfOneToNine)
{
    auto data = check_string();
    ASSERT_EQ(kermit_reference(data.data(), data.size()), 0x2189);
    // The frame's first CRC byte sits in the high half: 89 21 on the wire.
    EXPECT_EQ(calc_crc16(data.data(), 9), 0x8921);
}

TEST(engine_core_Crc16, FrameEndingInItsCrcChecksOkayAndAnyChangedByteFails)
{
    auto frame = check_string();
    frame.push_back(0x89);
    frame.push_back(0x21);
    EXPECT_EQ(check_crc16(frame.data(), static_cast<WORD16>(frame.size())), CRC_OKAY);
    for (size_t i = 0; i < frame.size(); ++i) {
        auto bad = frame;
        bad[i] ^= 0x04;
        EXPECT_EQ(check_crc16(bad.data(), static_cast<WORD16>(bad.size())), CRC_ERROR) << "byte " << i;
    }
    std::swap(frame[9], frame[10]);  // CRC stored big-endian is wrong
    EXPECT_EQ(check_crc16(frame.data(), static_cast<WORD16>(frame.size())), CRC_ERROR);
}

TEST(engine_core_Crc16, LengthsBelowTwoAreErrorsAndTwoZeroBytesCheck)
{
    const BYTE zero[2] = {0, 0};
    EXPECT_EQ(check_crc16(zero, 0), CRC_ERROR);
    EXPECT_EQ(check_crc16(zero, 1), CRC_ERROR);
    EXPECT_EQ(check_crc16(nullptr, 10), CRC_ERROR);
    EXPECT_EQ(check_crc16(zero, 2), CRC_OKAY);  // CRC of nothing is 0
    EXPECT_EQ(calc_crc16(zero, 0), 0);
    EXPECT_EQ(calc_crc16(zero, -3), 0);
}

TEST(engine_core_Crc16, MatchesReferenceOnFramesOfEveryLengthUpTo300)
{
    std::vector<BYTE> data(300);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<BYTE>(i * 37 + 11);
    }
    for (size_t n = 1; n <= data.size(); ++n) {
        const uint16_t ref = kermit_reference(data.data(), n);
        const WORD16 got = calc_crc16(data.data(), static_cast<int16_t>(n));
        ASSERT_EQ(got, static_cast<WORD16>(((ref & 0xFF) << 8) | (ref >> 8))) << n;
        std::vector<BYTE> frame(data.begin(), data.begin() + n);
        frame.push_back(static_cast<BYTE>(ref & 0xFF));
        frame.push_back(static_cast<BYTE>(ref >> 8));
        ASSERT_EQ(check_crc16(frame.data(), static_cast<WORD16>(frame.size())), CRC_OKAY) << n;
    }
}
