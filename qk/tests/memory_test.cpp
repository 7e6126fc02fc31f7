// Power-of-two sizing, allocation and byte copies. The block sizes are checked by writing
// to the last byte the rounding promises: AddressSanitizer reports any shortfall.
#include "qk_memory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <climits>
#include <cstring>

namespace {

TEST(qk_memory, Round2nTable) {
    EXPECT_EQ(qk_round2n(0), 0U);
    EXPECT_EQ(qk_round2n(1), 2U);
    EXPECT_EQ(qk_round2n(2), 2U);
    EXPECT_EQ(qk_round2n(3), 4U);
    EXPECT_EQ(qk_round2n(4), 4U);
    EXPECT_EQ(qk_round2n(5), 8U);
    EXPECT_EQ(qk_round2n(1000), 1024U);
    EXPECT_EQ(qk_round2n(1025), 2048U);
    EXPECT_EQ(qk_round2n(0x40000001U), 0x80000000U);
    EXPECT_EQ(qk_round2n(0x80000000U), 0x80000000U);
    EXPECT_EQ(qk_round2n(0x80000001U), 0U);
    EXPECT_EQ(qk_round2n(0xFFFFFFFFU), 0U);
}

TEST(qk_memory, Log2AndRound4) {
    EXPECT_EQ(qk_log2(0), 0U);
    EXPECT_EQ(qk_log2(1), 0U);
    EXPECT_EQ(qk_log2(2), 1U);
    EXPECT_EQ(qk_log2(3), 1U);
    EXPECT_EQ(qk_log2(1024), 10U);
    EXPECT_EQ(qk_log2(0xFFFFFFFFU), 31U);
    EXPECT_EQ(qk_round4(0), 0U);
    EXPECT_EQ(qk_round4(1), 4U);
    EXPECT_EQ(qk_round4(4), 4U);
    EXPECT_EQ(qk_round4(5), 8U);
}

TEST(qk_memory, MallocRoundsUpAndRefusesNegativeSizes) {
    EXPECT_EQ(qk_malloc(-1), nullptr);
    EXPECT_EQ(qk_malloc(INT_MIN), nullptr);
    qk_free(qk_malloc(0)); // a zero-byte request, as it always was

    auto* two = static_cast<char*>(qk_malloc(1));
    ASSERT_NE(two, nullptr);
    two[1] = 'x';
    qk_free(two);
    auto* eight = static_cast<char*>(qk_malloc(5));
    ASSERT_NE(eight, nullptr);
    eight[7] = 'x';
    qk_free(eight);
}

TEST(qk_memory, CallocZeroesTheProductInARoundedBlock) {
    auto* block = static_cast<unsigned char*>(qk_calloc(3, 5));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(block[i], 0) << i;
    }
    block[15] = 0xFF; // rounded to 16 bytes
    qk_free(block);
    qk_free(qk_calloc(0, 10));
    qk_free(qk_calloc(10, 0));
}

TEST(qk_memory, CallocRefusesNegativeAndOverflowingSizes) {
    EXPECT_EQ(qk_calloc(-1, 4), nullptr);
    EXPECT_EQ(qk_calloc(4, -1), nullptr);
    EXPECT_EQ(qk_calloc(-2, -2), nullptr); // positive product, still refused
    EXPECT_EQ(qk_calloc(INT_MAX, 2), nullptr);
    EXPECT_EQ(qk_calloc(65536, 65536), nullptr); // product wraps to 0 in 32 bits
    EXPECT_EQ(qk_calloc(65536, 32768), nullptr); // 2^31: above INT_MAX
    EXPECT_EQ(qk_calloc(3, 0x30000000), nullptr);
}

TEST(qk_memory, StrdupCopiesIntoARoundedBlock) {
    char* copy = qk_strdup("abcde");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "abcde");
    copy[7] = 'x'; // 6 bytes rounded to 8
    qk_free(copy);
    char* empty = qk_strdup("");
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    qk_free(empty);
    EXPECT_EQ(qk_strdup(nullptr), nullptr);
}

TEST(qk_memory, PagesAreZeroedGrowAndFree) {
    const int page = qk_getpagesize();
    ASSERT_GT(page, 0);
    EXPECT_EQ(page & (page - 1), 0);
    auto* p = static_cast<unsigned char*>(qk_page_calloc(2 * page));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 2 * page; ++i) {
        ASSERT_EQ(p[i], 0);
    }
    p[0] = 1;
    p[2 * page - 1] = 2;
    auto* grown = static_cast<unsigned char*>(qk_page_realloc(p, 2 * page, 16 * page));
    ASSERT_NE(grown, MAP_FAILED);
    EXPECT_EQ(grown[0], 1);
    EXPECT_EQ(grown[2 * page - 1], 2);
    grown[16 * page - 1] = 3;
    EXPECT_EQ(qk_page_free(grown, 16 * page), 0);

    EXPECT_EQ(qk_page_malloc(0), nullptr);
    EXPECT_EQ(qk_page_malloc(-5), nullptr);
    void* q = qk_page_malloc(page);
    ASSERT_NE(q, nullptr);
    ASSERT_EQ(qk_page_free(q, page), 0);
    // The mapping is gone: the system's failure value comes back unchanged.
    EXPECT_EQ(qk_page_realloc(q, page, 2 * page), MAP_FAILED);
}

TEST(qk_memory, MemsetBzeroMemcpy) {
    char buf[8] = "abcdefg";
    EXPECT_EQ(qk_memset(buf, 'z', 3), buf);
    EXPECT_STREQ(buf, "zzzdefg");
    EXPECT_EQ(qk_memset(nullptr, 'z', 3), nullptr);
    EXPECT_EQ(qk_bzero(buf, 2), buf);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], 0);
    EXPECT_EQ(buf[2], 'z');
    char dst[4] = {};
    EXPECT_EQ(qk_memcpy(dst, "xyz", 4), dst);
    EXPECT_STREQ(dst, "xyz");
}

TEST(qk_memory, MemncpyCheckedCopyHandlesOverlap) {
    char buf[16] = "abcdef";
    char out[8] = "-------";
    EXPECT_EQ(qk_memncpy(nullptr, buf, 3, 8), nullptr);
    EXPECT_EQ(qk_memncpy(out, nullptr, 3, 8), nullptr);
    EXPECT_EQ(qk_memncpy(out, buf, 0, 8), nullptr);
    EXPECT_EQ(qk_memncpy(out, buf, 5, 4), nullptr);
    EXPECT_STREQ(out, "-------");
    EXPECT_EQ(qk_memncpy(out, buf, 4, 4), out);
    EXPECT_STREQ(out, "abcd---");

    EXPECT_EQ(qk_memncpy(buf + 2, buf, 4, 14), buf + 2); // dst inside the source
    EXPECT_STREQ(buf, "ababcd");
    std::strcpy(buf, "abcdef");
    EXPECT_EQ(qk_memncpy(buf, buf + 2, 4, 16), buf); // source ahead of dst
    EXPECT_STREQ(buf, "cdefef");
}

} // namespace
