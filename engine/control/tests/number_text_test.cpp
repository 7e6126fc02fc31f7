// Bounded conversions of numbers in files and requests.
#include <gtest/gtest.h>

#include <climits>

#include "zub_number_text.h"

namespace {

TEST(engine_control_NumberText, ConversionsRefuseWhatIsNotWhollyANumberInRange)
{
    struct IntRow { const char* text; bool ok; int value; };
    for (const IntRow& r : {IntRow{"42", true, 42}, IntRow{" -7 ", true, -7}, IntRow{"+3", true, 3},
                            IntRow{"2147483647", true, INT_MAX}, IntRow{"-2147483648", true, INT_MIN},
                            IntRow{"2147483648", false, 0}, IntRow{"-2147483649", false, 0}, IntRow{"1.5", false, 0},
                            IntRow{"", false, 0}, IntRow{"-", false, 0}, IntRow{"12a", false, 0}}) {
        SCOPED_TRACE(r.text);
        int v = 0;
        EXPECT_EQ(zub_parse_int(r.text, &v), r.ok);
        EXPECT_EQ(v, r.value);
    }
    struct HexRow { const char* text; bool ok; WORD64 value; };
    for (const HexRow& r : {HexRow{"ff", true, 0xff}, HexRow{"0XaB", true, 0xab}, HexRow{"0x", false, 0},
                            HexRow{"ffffffffffffffff", true, ~0ull}, HexRow{"10000000000000000", false, 0},
                            HexRow{"g1", false, 0}, HexRow{"-1", false, 0}}) {
        SCOPED_TRACE(r.text);
        WORD64 v = 0;
        EXPECT_EQ(zub_parse_hex64(r.text, &v), r.ok);
        EXPECT_EQ(v, r.value);
    }
    WORD32 v32 = 0;
    EXPECT_TRUE(zub_parse_hex32("ffffffff", &v32));
    EXPECT_EQ(v32, 0xffffffffu);
    EXPECT_FALSE(zub_parse_hex32("100000000", &v32));
    EXPECT_TRUE(zub_parse_dec_u32("4294967295", &v32));
    EXPECT_EQ(v32, 4294967295u);
    EXPECT_FALSE(zub_parse_dec_u32("4294967296", &v32));
    EXPECT_FALSE(zub_parse_int(nullptr, nullptr));
}

}  // namespace
