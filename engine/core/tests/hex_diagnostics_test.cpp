// Hex printers and the diagnostics-block converter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zub_diagnostics.h"
#include "zub_hex.h"
#include "zub_print.h"

namespace {

std::vector<std::string> g_lines;
std::vector<BYTE> g_levels;

void capture(BYTE level, const char*, int, const char* text)
{
    g_levels.push_back(level);
    g_lines.emplace_back(text);
}

struct engine_core_Diagnostics : ::testing::Test {
    void SetUp() override
    {
        g_lines.clear();
        g_levels.clear();
        zub_print_set_sink(capture);
    }
    void TearDown() override { zub_print_set_sink(nullptr); }
};

std::vector<BYTE> block(BYTE version)
{
    std::vector<BYTE> in(ZUB_DIAG_INPUT_BYTES);
    in[0] = version;
    for (unsigned i = 1; i < in.size(); ++i) {
        in[i] = static_cast<BYTE>(i);  // byte i holds i
    }
    return in;
}

}  // namespace

TEST(engine_core_Hex, BytesInOrderAndReversed)
{
    const BYTE in[] = {0x0A, 0xBC};
    char out[5];
    zub_bytes_to_hex(out, in, 2);
    EXPECT_STREQ(out, "0ABC");
    zub_bytes_to_hex_Time(out, in, 2);
    EXPECT_STREQ(out, "BC0A");
}

TEST(engine_core_Hex, DeviceTimePrintsMostSignificantFirstAndEmptyIsEmpty)
{
    const BYTE t[] = {0x05, 0x01, 0x00, 0x80, 0x7F};
    char out[11];
    zub_bytes_to_hex_Time(out, t, 5);
    EXPECT_STREQ(out, "7F80000105");
    char empty[1] = {'x'};
    zub_bytes_to_hex_Time(empty, t, 0);
    EXPECT_STREQ(empty, "");
    zub_bytes_to_hex(empty, t, 0);
    EXPECT_STREQ(empty, "");
}

TEST_F(engine_core_Diagnostics, VersionFiveBlockBecomesTenRegisterRecords)
{
    auto in = block(5);
    std::vector<BYTE> out(ZUB_DIAG_OUTPUT_BYTES + 1, 0xEE);
    ASSERT_TRUE(zub_diag_convert_to_format(out.data(), in.data(), true));
    // Record 1: id 0x0F, sub-address 0x0000, length 5, input bytes 1..5.
    const std::vector<BYTE> first = {0x0F, 0x00, 0x00, 5, 1, 2, 3, 4, 5};
    EXPECT_EQ(std::vector<BYTE>(out.begin(), out.begin() + 9), first);
    // Record 7 starts after records 1..6 (9 + 8 + 12 + 8 + 9 + 18 = 64 bytes): input
    // byte 41 is skipped, 42..57 are copied.
    EXPECT_EQ(out[64], 0x25);
    EXPECT_EQ(out[67], 16);
    EXPECT_EQ(out[68], 42);
    EXPECT_EQ(out[83], 57);
    // Record 8: 0x2E, sub-address 0x1000 high byte first.
    EXPECT_EQ(out[84], 0x2E);
    EXPECT_EQ(out[85], 0x10);
    EXPECT_EQ(out[86], 0x00);
    EXPECT_EQ(out[87], 2);
    EXPECT_EQ(out[88], 58);
    // Record 9: 0x27, sub-address 0x0028.
    EXPECT_EQ(out[90], 0x27);
    EXPECT_EQ(out[91], 0x00);
    EXPECT_EQ(out[92], 0x28);
    // Record 10 ends the 104 bytes with input bytes 64, 65.
    EXPECT_EQ(out[98], 0x2E);
    EXPECT_EQ(out[99], 0x10);
    EXPECT_EQ(out[100], 0x02);
    EXPECT_EQ(out[102], 64);
    EXPECT_EQ(out[103], 65);
    EXPECT_EQ(out[104], 0xEE);  // nothing beyond
    EXPECT_TRUE(g_lines.empty());
}

TEST_F(engine_core_Diagnostics, OtherVersionIsRefusedWithOneErrorPrintWhenChecked)
{
    auto in = block(4);
    std::vector<BYTE> out(ZUB_DIAG_OUTPUT_BYTES, 0xEE);
    EXPECT_FALSE(zub_diag_convert_to_format(out.data(), in.data(), true));
    EXPECT_EQ(out, std::vector<BYTE>(ZUB_DIAG_OUTPUT_BYTES, 0xEE));
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_levels[0], ZUB_PRINT_ERROR);
    EXPECT_EQ(g_lines[0], "\nDiagnostics version 4 not supported. Please use supported Anchors firmware\n");

    EXPECT_TRUE(zub_diag_convert_to_format(out.data(), in.data(), false));
    EXPECT_EQ(out[0], 0x0F);
    EXPECT_EQ(g_lines.size(), 1u);
}
