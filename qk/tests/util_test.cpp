// Number conversions, clocks and regular-expression capture.
#include "qk_util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string itoa2(int n, int radix) {
    char buf[40];
    return qk_itoa2(n, buf, radix) == 0 ? std::string(buf) : std::string("error");
}

TEST(qk_util, Itoa2SignsAndRadixes) {
    EXPECT_EQ(itoa2(-255, 16), "-FF");
    EXPECT_EQ(itoa2(255, 2), "11111111");
    EXPECT_EQ(itoa2(0, 10), "0");
    EXPECT_EQ(itoa2(-7, 8), "-7");
    EXPECT_EQ(itoa2(INT_MAX, 16), "7FFFFFFF");
    EXPECT_EQ(itoa2(INT_MIN, 10), "-2147483648");
    EXPECT_EQ(itoa2(INT_MIN, 2), "-1" + std::string(31, '0'));
    EXPECT_EQ(itoa2(10, 1), "error");
    EXPECT_EQ(itoa2(10, 17), "error");
    char buf[16];
    EXPECT_EQ(qk_itoa2(1, nullptr, 10), -1);
    EXPECT_EQ(qk_itoa2(1, buf, 0), -1);
}

TEST(qk_util, UnsignedAndDecimalForms) {
    char buf[40];
    ASSERT_EQ(qk_uitoa2(0xFFFFFFFFU, buf, 16), 0);
    EXPECT_STREQ(buf, "FFFFFFFF");
    ASSERT_EQ(qk_uitoa2(0xFFFFFFFFU, buf, 2), 0);
    EXPECT_EQ(std::string(buf), std::string(32, '1'));
    EXPECT_EQ(qk_uitoa2(5, buf, 17), -1);
    ASSERT_EQ(qk_itoa(-12345, buf), 0);
    EXPECT_STREQ(buf, "-12345");
    ASSERT_EQ(qk_uitoa(4294967295U, buf), 0);
    EXPECT_STREQ(buf, "4294967295");
}

TEST(qk_util, TextToNumbers) {
    EXPECT_EQ(qk_atoi("42abc"), 42);
    EXPECT_EQ(qk_atoi("  -17"), -17);
    EXPECT_EQ(qk_atoi("0x10"), 0); // base 10 only
    EXPECT_EQ(qk_atoi(nullptr), 0);
    EXPECT_EQ(qk_atol("-123456789012"), -123456789012L);
    EXPECT_EQ(qk_atol(nullptr), 0);
    EXPECT_DOUBLE_EQ(qk_atof("2.5e3"), 2500.0);
    EXPECT_DOUBLE_EQ(qk_atof(nullptr), 0.0);
}

TEST(qk_util, ClocksAgreeWithEachOther) {
    const time_t before = time(nullptr);
    const int64_t us = qk_timeofday();
    // qk_now reads the seconds of the coarse clock, which may trail the exact one by a tick:
    // read after a pause longer than a tick, it has passed the second read above.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const time_t now = qk_now();
    EXPECT_GE(now, before);
    EXPECT_LE(now - before, 2);
    EXPECT_GE(us / 1000000, static_cast<int64_t>(before));
    EXPECT_LE(us / 1000000, static_cast<int64_t>(now));
}

TEST(qk_util, RegexCopiesGroupsInOrder) {
    char key[16] = "#";
    char value[16] = "#";
    ASSERT_EQ(qk_regex_search("([a-z]+)=([0-9]+)", "x: abc=123;", key, 16, value, 16), 0);
    EXPECT_STREQ(key, "abc");
    EXPECT_STREQ(value, "123");

    char small[3];
    ASSERT_EQ(qk_regex_search("([a-z]+)=([0-9]+)", "x: abc=123;", small, 3, value, 16), 0);
    EXPECT_STREQ(small, "ab");
    EXPECT_STREQ(value, "123");
}

TEST(qk_util, RegexSkipsZeroSizedBuffersAndStopsAtAnAbsentGroup) {
    char untouched[4] = "old";
    char value[16] = "#";
    ASSERT_EQ(qk_regex_search("([a-z]+)=([0-9]+)", "abc=123", untouched, 0, value, 16), 0);
    EXPECT_STREQ(untouched, "old");
    EXPECT_STREQ(value, "123");

    char first[8] = "#";
    char second[8] = "keep";
    ASSERT_EQ(qk_regex_search("(a)(b)?", "a", first, 8, second, 8), 0);
    EXPECT_STREQ(first, "a");
    EXPECT_STREQ(second, "keep");

    char empty[8] = "#";
    ASSERT_EQ(qk_regex_search("x(y*)z", "xz", empty, 8), 0);
    EXPECT_STREQ(empty, "");
}

TEST(qk_util, RegexFailures) {
    char buf[8];
    EXPECT_EQ(qk_regex_search("([0-9]+)", "no digits", buf, 8), -1);
    EXPECT_EQ(qk_regex_search("(", "x", buf, 8), -1);
    EXPECT_EQ(qk_regex_search(nullptr, "x", buf, 8), -1);
    EXPECT_EQ(qk_regex_search("x", nullptr, buf, 8), -1);
    EXPECT_EQ(qk_regex_search("x+", "axxb"), 0); // no groups, no buffers
}

} // namespace
