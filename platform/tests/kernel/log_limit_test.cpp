// The per-site rate limit of the platform log, on a clock the test drives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "CNPlatLogLimit.h"

namespace {

// The platform log into a temporary file for the life of one test.
class LogCapture {
public:
    LogCapture() : fp_(std::tmpfile()) { CN_SetPlatLogFile(fp_); }
    ~LogCapture() {
        CN_SetPlatLogFile(nullptr);
        std::fclose(fp_);
    }
    std::string text() const {
        std::fflush(fp_);
        std::rewind(fp_);
        std::string out;
        for (int c; (c = std::fgetc(fp_)) != EOF;) out += static_cast<char>(c);
        return out;
    }

private:
    FILE* fp_;
};

std::string lines(std::initializer_list<int> times) {
    std::string out;
    for (int t : times) out += "rejected at " + std::to_string(t) + "\n";
    return out;
}

std::string held(int count, int t) {
    return "(" + std::to_string(count) + " lines like this held back) rejected at " + std::to_string(t) + "\n";
}

std::string range(int from, int to, int step = 1) {
    std::string out;
    for (int t = from; t <= to; t += step) out += lines({t});
    return out;
}

}  // namespace

TEST(platform_log_limit, FirstLinesAsTheyStandThenOneASecondWithTheHeldCount) {
    struct Row {
        const char* name;
        std::vector<int> times;  // arrival of each line, in ms
        std::string written;
        size_t restart_before = SIZE_MAX;  // index of the line before which every site restarts
    };
    auto every = [](int from, int to, int step) {
        std::vector<int> t;
        for (int i = from; i <= to; i += step) t.push_back(i);
        return t;
    };
    auto join = [](std::vector<int> a, const std::vector<int>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<int> flood = every(0, 2999, 1);  // 1,000 lines a second for 3 s
    const Row rows[] = {
        // Ten a second is the burst: two seconds of it are written whole.
        {"under the limit", every(0, 1900, 100), range(0, 1900, 100)},
        // The eleventh line of a second is held back, and so is the rest of that second.
        {"a flood", every(0, 999, 1), range(0, 9)},
        // Held since 10: lines 10..1009 (1,000), then 1011..2009 (999); 2011..2999 still held.
        {"the summary's count", flood, range(0, 9) + held(1000, 1010) + held(999, 2010)},
        // Quiet for two seconds: the next line carries the 989 held, the site is normal again
        // (nine more in that second), the tenth after it is held.
        {"recovery after quiet", join(flood, every(5000, 5010, 1)),
         range(0, 9) + held(1000, 1010) + held(999, 2010) + held(989, 5000) + range(5001, 5009)},
        // Slowing to five a second: 991 held up to 1000; four held in the next second is below
        // the burst, so that line is the last with a count and 2400 reads as before.
        {"recovery when the rate drops", join(every(0, 999, 1), every(1000, 2400, 200)),
         range(0, 9) + held(991, 1200) + held(4, 2200) + lines({2400})},
        // Restarted in the flood: the held lines are forgotten and the next ten, in what would
        // still be the flood's second, read as they stand (without it: "(1000 ...) at 1010").
        {"restarted after a flood", join(every(0, 999, 1), every(1000, 1010, 1)),
         range(0, 9) + range(1000, 1009), 1000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LogCapture log;
        CN_LogLimit site;
        for (size_t i = 0; i < row.times.size(); ++i) {
            if (i == row.restart_before) CN_LogLimit::restart_all();
            CN_PlatLogLimitedAt(&site, static_cast<WORD64>(row.times[i]), "rejected at %d\n", row.times[i]);
        }
        EXPECT_EQ(row.written, log.text());
    }
}

TEST(platform_log_limit, EachCallSiteHasItsOwnLimit) {
    LogCapture log;
    CN_LogLimit flooded, quiet;
    for (int i = 0; i < 50; ++i) CN_PlatLogLimitedAt(&flooded, 0, "flood %d\n", i);
    CN_PlatLogLimitedAt(&quiet, 0, "other site\n");
    std::string want;
    for (int i = 0; i < 10; ++i) want += "flood " + std::to_string(i) + "\n";
    EXPECT_EQ(want + "other site\n", log.text());
}

// A restart reaches every site, the macro's static ones included, whatever its clock.
TEST(platform_log_limit, RestartStartsEverySiteAfresh) {
    CN_LogLimit::restart_all();  // the macro's site as a fresh one, whatever ran before
    LogCapture log;
    CN_LogLimit site;
    auto flood = [&site] {
        for (int i = 0; i < 20; ++i) {
            CN_PlatLogLimitedAt(&site, 0, "site %d\n", i);
            CN_PLAT_LOG_LIMITED("macro %d\n", i);
        }
    };
    flood();
    CN_LogLimit::restart_all();
    flood();
    std::string burst;
    for (int i = 0; i < 10; ++i) burst += "site " + std::to_string(i) + "\nmacro " + std::to_string(i) + "\n";
    EXPECT_EQ(burst + burst, log.text());
}

TEST(platform_log_limit, ManyThreadsOnOneSiteWriteTheBurstOnly) {
    LogCapture log;
    CN_LogLimit site;
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&site] {
            for (int n = 0; n < 1000; ++n) CN_PlatLogLimitedAt(&site, 500, "same second\n");
        });
    }
    for (auto& t : threads) t.join();
    std::string want;
    for (int i = 0; i < 10; ++i) want += "same second\n";
    EXPECT_EQ(want, log.text());
    // The 7,990 held lines are reported with the next line a second later.
    CN_PlatLogLimitedAt(&site, 1500, "next\n");
    EXPECT_EQ(want + "(7990 lines like this held back) next\n", log.text());
}

// Restarts amid a flood of eight threads: each gives the site at most one more burst.
TEST(platform_log_limit, RestartsAmidThreadsGiveAtMostABurstEach) {
    LogCapture log;
    CN_LogLimit site;
    constexpr int kRestarts = 5;
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&site] {
            for (int n = 0; n < 1000; ++n) CN_PlatLogLimitedAt(&site, 500, "x\n");
        });
    }
    for (int i = 0; i < kRestarts; ++i) CN_LogLimit::restart_all();
    for (auto& t : threads) t.join();
    const std::string text = log.text();
    const auto written = static_cast<WORD32>(std::count(text.begin(), text.end(), '\n'));
    EXPECT_GE(written, CN_LogLimit::kBurst);
    EXPECT_LE(written, CN_LogLimit::kBurst * (kRestarts + 1));
    EXPECT_EQ(text.find("held back"), std::string::npos);  // same millisecond: no summary line
}
