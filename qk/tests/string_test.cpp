// Bounded string functions: capacities, truncation and the null cases callers rely on.
#include "qk_string.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(qk_string, StrcpyCopiesAtMostMaxMinusOne) {
    char dst[8];
    std::memset(dst, '#', sizeof dst);
    EXPECT_EQ(qk_strcpy(dst, "abcdef", 4), 3);
    EXPECT_STREQ(dst, "abc");
    EXPECT_EQ(dst[4], '#');
    EXPECT_EQ(qk_strcpy(dst, "abcdef", 1), 0);
    EXPECT_STREQ(dst, "");
    EXPECT_EQ(qk_strcpy(dst, "ab", 8), 2);
    EXPECT_STREQ(dst, "ab");

    std::strcpy(dst, "keep");
    EXPECT_EQ(qk_strcpy(dst, "abc", 0), 0);
    EXPECT_EQ(qk_strcpy(dst, nullptr, 8), 0);
    EXPECT_EQ(qk_strcpy(nullptr, "abc", 8), 0);
    EXPECT_STREQ(dst, "keep");
}

TEST(qk_string, StrncpyTakesTheSmallerLimit) {
    char dst[8];
    EXPECT_EQ(qk_strncpy(dst, "abcdef", 2, 8), 2);
    EXPECT_STREQ(dst, "ab");
    EXPECT_EQ(qk_strncpy(dst, "abcdef", 10, 4), 3);
    EXPECT_STREQ(dst, "abc");
    std::strcpy(dst, "keep");
    EXPECT_EQ(qk_strncpy(dst, "abc", 0, 8), 0);
    EXPECT_EQ(qk_strncpy(dst, "abc", 2, 0), 0);
    EXPECT_EQ(qk_strncpy(dst, nullptr, 2, 8), 0);
    EXPECT_STREQ(dst, "keep");
}

TEST(qk_string, StrcatStopsAtCapacityAndLeavesOverfullTextAlone) {
    char dst[16] = "abc";
    EXPECT_EQ(qk_strcat(dst, "defgh", 8), 7);
    EXPECT_STREQ(dst, "abcdefg");
    EXPECT_EQ(qk_strcat(dst, "xyz", 8), 7); // already holds max - 1
    EXPECT_STREQ(dst, "abcdefg");

    std::strcpy(dst, "abcdef");
    EXPECT_EQ(qk_strcat(dst, "xyz", 4), 6); // length already above max
    EXPECT_STREQ(dst, "abcdef");
    EXPECT_EQ(qk_strcat(dst, "xyz", 6), 6);
    EXPECT_STREQ(dst, "abcdef");
    EXPECT_EQ(qk_strcat(dst, "xyz", 0), 0);
    EXPECT_EQ(qk_strcat(nullptr, "xyz", 8), 0);
    EXPECT_EQ(qk_strcat(dst, nullptr, 8), 0);
}

TEST(qk_string, StrncatAppendsAtMostNeed) {
    char dst[16] = "ab";
    EXPECT_EQ(qk_strncat(dst, "cdef", 2, 16), 4);
    EXPECT_STREQ(dst, "abcd");
    EXPECT_EQ(qk_strncat(dst, "efgh", 10, 6), 5);
    EXPECT_STREQ(dst, "abcde");
    EXPECT_EQ(qk_strncat(dst, "x", 1, 3), 5);
    EXPECT_STREQ(dst, "abcde");
}

TEST(qk_string, StrnappendFormatsBehindTheText) {
    char buf[16] = "ab";
    EXPECT_EQ(qk_strnappend(buf, 16, "%d-%s", 12, "x"), 6);
    EXPECT_STREQ(buf, "ab12-x");

    char small[8] = "abcde";
    EXPECT_EQ(qk_strnappend(small, 8, "%s", "XYZW"), 9); // what it wanted, not what fitted
    EXPECT_STREQ(small, "abcdeXY");
    EXPECT_EQ(qk_strnappend(small, 7, "%s", "Q"), 0); // already fills max
    EXPECT_STREQ(small, "abcdeXY");
    EXPECT_EQ(qk_strnappend(nullptr, 8, "%s", "Q"), 0);
}

TEST(qk_string, StrstrAndStristrEmptyCases) {
    const char* hay = "Hello World";
    EXPECT_EQ(qk_strstr(hay, "World"), hay + 6);
    EXPECT_EQ(qk_strstr(hay, "world"), nullptr);
    EXPECT_EQ(qk_strstr(hay, ""), hay);
    const char* empty = "";
    EXPECT_EQ(qk_strstr(empty, ""), empty);
    EXPECT_EQ(qk_strstr(empty, "a"), nullptr);
    EXPECT_EQ(qk_strstr(nullptr, "a"), nullptr);
    EXPECT_EQ(qk_strstr(hay, nullptr), nullptr);

    EXPECT_EQ(qk_stristr(hay, "wORLD"), hay + 6);
    EXPECT_EQ(qk_stristr(hay, "LO w"), hay + 3);
    EXPECT_EQ(qk_stristr(hay, "worlds"), nullptr);
    EXPECT_EQ(qk_stristr(hay, ""), hay);
    EXPECT_EQ(qk_stristr(empty, ""), nullptr);
    EXPECT_EQ(qk_stristr(nullptr, "a"), nullptr);
}

TEST(qk_string, StrchrFindsTheTerminatorForZero) {
    const char* s = "abcabc";
    EXPECT_EQ(qk_strchr(s, 'b'), s + 1);
    EXPECT_EQ(qk_strchr(s, 0), s + 6);
    EXPECT_EQ(qk_strchr(s, 'z'), nullptr);
    EXPECT_EQ(qk_strchr(nullptr, 'a'), nullptr);
    EXPECT_EQ(qk_strrchr(s, 'b'), s + 4);
    EXPECT_EQ(qk_strrchr(nullptr, 'b'), nullptr);
}

TEST(qk_string, ComparisonsAndTheirNullResults) {
    EXPECT_EQ(qk_strcmp("abc", "abc"), 0);
    EXPECT_EQ(qk_strcmp("abc", "abd"), 'c' - 'd');
    EXPECT_EQ(qk_strcmp("abc", "ab"), 'c');
    EXPECT_EQ(qk_strcmp("ab", "abc"), -'c');
    EXPECT_LT(qk_strcmp("\x80", "a"), 0); // characters compare signed
    EXPECT_EQ(qk_strcmp(nullptr, "a"), 1);
    EXPECT_EQ(qk_strcmp("a", nullptr), 1);

    EXPECT_EQ(qk_strncmp("abX", "abY", 2), 0);
    EXPECT_EQ(qk_strncmp("abX", "abY", 3), 'X' - 'Y');
    EXPECT_EQ(qk_strncmp("ab", "ab", 10), 0);
    EXPECT_EQ(qk_strncmp("a", "b", 0), 0);
    EXPECT_EQ(qk_strncmp(nullptr, "b", 3), 0);

    EXPECT_EQ(qk_stricmp("HeLLo", "hello"), 0);
    EXPECT_EQ(qk_stricmp("abc", "ABD"), 'c' - 'd');
    EXPECT_EQ(qk_stricmp("abc", "AB"), 'c');
    EXPECT_EQ(qk_stricmp(nullptr, "a"), 0);
    EXPECT_EQ(qk_strnicmp("ABCx", "abcY", 3), 0);
    EXPECT_EQ(qk_strnicmp("ABCx", "abcY", 4), 'x' - 'y');
    EXPECT_EQ(qk_strnicmp("a", nullptr, 4), 0);
}

TEST(qk_string, AsciiCaseHelpersLeaveOtherValuesAlone) {
    EXPECT_EQ(qk_toupper('a'), 'A');
    EXPECT_EQ(qk_toupper('z'), 'Z');
    EXPECT_EQ(qk_toupper('A'), 'A');
    EXPECT_EQ(qk_toupper('1'), '1');
    EXPECT_EQ(qk_toupper(0xE4), 0xE4);
    EXPECT_EQ(qk_tolower('Q'), 'q');
    EXPECT_EQ(qk_tolower('['), '[');
    EXPECT_EQ(qk_tolower(-1), -1);
    EXPECT_EQ(qk_isupper('A'), 1);
    EXPECT_EQ(qk_isupper('a'), 0);
    EXPECT_EQ(qk_isupper('@'), 0);
    EXPECT_EQ(qk_islower('z'), 1);
    EXPECT_EQ(qk_islower('{'), 0);
}

TEST(qk_string, EmptyClearEqual) {
    char buf[4] = "ab";
    EXPECT_EQ(qk_str_empty(buf), 0);
    qk_str_clear(buf);
    EXPECT_EQ(qk_str_empty(buf), 1);
    EXPECT_EQ(buf[1], 'b');
    qk_str_clear(nullptr);
    EXPECT_EQ(qk_str_equal("ab", "ab"), 1);
    EXPECT_EQ(qk_str_equal("ab", "abc"), 0);
    EXPECT_EQ(qk_str_equal(nullptr, "ab"), 0);
}

TEST(qk_string, StartsEndsContainsPosUseTheFirstOccurrence) {
    EXPECT_EQ(qk_str_startswith("abab", "ab"), 1);
    EXPECT_EQ(qk_str_startswith("xab", "ab"), 0);
    EXPECT_EQ(qk_str_startswith(nullptr, "ab"), 0);
    EXPECT_EQ(qk_str_endswith("xyab", "ab"), 1);
    EXPECT_EQ(qk_str_endswith("abab", "ab"), 0); // the first occurrence is at the start
    EXPECT_EQ(qk_str_endswith("abc", "zz"), 0);
    EXPECT_EQ(qk_str_endswith("abc", nullptr), 0);
    EXPECT_EQ(qk_str_contains("hello", "ll"), 1);
    EXPECT_EQ(qk_str_contains("hello", "lo!"), 0);
    EXPECT_EQ(qk_str_pos("hello", "ll"), 2);
    EXPECT_EQ(qk_str_pos("hello", "x"), -1);
    EXPECT_EQ(qk_str_pos(nullptr, "x"), -1);
}

TEST(qk_string, SliceKeepsTheStartMarker) {
    char out[32];
    EXPECT_EQ(qk_str_slice("id=<v1>;<v2>", "<", ">", out), out);
    EXPECT_STREQ(out, "<v1");
    EXPECT_EQ(qk_str_slice("key: value\r\n", "key", "\r\n", out), out);
    EXPECT_STREQ(out, "key: value");
    // The end marker is looked for behind the start marker only.
    EXPECT_EQ(qk_str_slice("b>a<b", "a<", ">", out), nullptr);
    EXPECT_STREQ(out, "");

    std::strcpy(out, "old");
    EXPECT_EQ(qk_str_slice("abc", "x", "c", out), nullptr);
    EXPECT_STREQ(out, "");
    std::strcpy(out, "old");
    EXPECT_EQ(qk_str_slice(nullptr, "a", "c", out), nullptr);
    EXPECT_STREQ(out, "old");
    EXPECT_EQ(qk_str_slice("abc", "a", "c", nullptr), nullptr);
}

} // namespace
