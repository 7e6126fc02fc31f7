// The trace log's lines: prefixes per option, the level threshold, the buffer and many writers.
#include <cstdlib>
#include <ctime>
#include <sys/time.h>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "trace_test_support.h"

namespace {

using trace_test::read_file;

std::string tid_text() { return std::to_string(static_cast<unsigned long>(pthread_self())); }

class platform_trace_lines : public trace_test::TraceDirTest {
protected:
    // Opens the log and leaves exactly the given options set; returns the file's bytes so far.
    void open_with_options(WORD32 options) {
        CN_initCNLogFile(3, 25000);
        CNTrace::ClearOptions(0xFFFFFFFF);
        CNTrace::SetOptions(options);
        start_ = read_file(zub("division1.log")).size();
    }
    std::string written() const { return read_file(zub("division1.log")).substr(start_); }
    size_t start_ = 0;
};

TEST(platform_trace_time, DateAndTimeReadsMonthDayAndMilliseconds) {
    const char* old_tz = std::getenv("TZ");
    const std::string saved = old_tz ? old_tz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    struct tm when = {};
    when.tm_year = 2021 - 1900;
    when.tm_mon = 2;  // March
    when.tm_mday = 7;
    when.tm_hour = 14;
    when.tm_min = 5;
    when.tm_sec = 9;
    const time_t t = timegm(&when);
    char out[32];
    EXPECT_EQ(CN_FormatTraceTime(out, sizeof out, t, 42999), 18);
    EXPECT_STREQ(out, "03/07 14:05:09.042");
    EXPECT_EQ(CN_FormatTraceTime(out, sizeof out, t + 86400 * 300, 999999), 18);
    EXPECT_STREQ(out, "01/01 14:05:09.999");  // 2022-01-01
    if (old_tz) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(platform_trace_time, BaseNameAfterLastSlashOrBackslash) {
    EXPECT_STREQ(CN_TraceBaseName("/a/b/file.cpp"), "file.cpp");
    EXPECT_STREQ(CN_TraceBaseName("c:\\src\\job.cpp"), "job.cpp");
    EXPECT_STREQ(CN_TraceBaseName("plain.cpp"), "plain.cpp");
}

TEST_F(platform_trace_lines, DateAndTimeOnlyGivesStampBlankTextNewline) {
    open_with_options(CNTrace::DateAndTime);
    // The trace stamps with gettimeofday; time() reads a coarser clock that may still show the
    // previous second in the first milliseconds of a new one.
    auto now_seconds = [] {
        struct timeval tv;
        gettimeofday(&tv, nullptr);
        return static_cast<time_t>(tv.tv_sec);
    };
    const time_t before = now_seconds();
    CN_PrintToLog(2, "anchor 7 online");
    const time_t after = now_seconds();

    const std::string line = written();
    ASSERT_EQ(line.size(), 18u + 1 + 15 + 1) << line;
    EXPECT_EQ(line.substr(18), " anchor 7 online\n");
    // The stamp is the local wall clock of the call, to the second.
    bool matches = false;
    for (time_t t = before; t <= after; ++t) {
        struct tm parts;
        localtime_r(&t, &parts);
        char expect[32];
        std::snprintf(expect, sizeof expect, "%02d/%02d %02d:%02d:%02d.", parts.tm_mon + 1, parts.tm_mday,
                      parts.tm_hour, parts.tm_min, parts.tm_sec);
        matches = matches || line.compare(0, 15, expect) == 0;
    }
    EXPECT_TRUE(matches) << line;
    EXPECT_TRUE(std::regex_match(line.substr(15, 3), std::regex("[0-9]{3}")));
}

TEST_F(platform_trace_lines, ThreadLevelAndFileLineWithoutDate) {
    open_with_options(CNTrace::Thread | CNTrace::TraceLevel | CNTrace::FileAndLine);
    CNTrace::Begin(2, "/a/b/file.cpp", 12) << "text" << '\n';
    CNTrace::End();
    CNLogFile::Instance().Flush();
    EXPECT_EQ(written(), tid_text() + " 2\tfile.cpp(12)\ttext\n");
}

TEST_F(platform_trace_lines, EachOptionAddsOnlyItsOwnPart) {
    open_with_options(CNTrace::TraceLevel | CNTrace::Blocks | CNTrace::Timestamp);
    CNTrace::Begin(3, "/x/y.cpp", 5) << "lvl" << '\n';
    CNTrace::End();
    CNTrace::ClearOptions(CNTrace::TraceLevel);
    CNTrace::SetOptions(CNTrace::FileAndLine);
    CNTrace::Begin(3, "/x/y.cpp", 5) << "file" << '\n';
    CNTrace::End();
    CNTrace::Begin(3, nullptr, 0) << "no file given" << '\n';
    CNTrace::End();
    CNTrace::ClearOptions(0xFFFFFFFF);
    CNTrace::Begin(1, "/x/y.cpp", 5) << "bare" << '\n';
    CNTrace::End();
    CNLogFile::Instance().Flush();
    EXPECT_EQ(written(), "3\tlvl\ny.cpp(5)\tfile\nno file given\nbare\n");
}

TEST_F(platform_trace_lines, PrintToLogNamesTheTraceLogsOwnSource) {
    open_with_options(CNTrace::FileAndLine);
    CN_PrintToLog(1, "from a job");
    EXPECT_TRUE(std::regex_match(written(), std::regex("CNTraceApi\\.cpp\\([0-9]+\\)\tfrom a job\n"))) << written();
}

TEST_F(platform_trace_lines, LevelAboveThresholdIsDropped) {
    open_with_options(CNTrace::TraceLevel);
    CN_PrintToLog(4, "four");
    CN_PrintToLog(3, "three");
    CN_SetLogLevel(1);
    CN_PrintToLog(2, "two");
    CN_PrintToLog(1, "one");
    CN_PrintToLog(-1, "negative");  // counted unsigned: far above any threshold
    CN_PrintToLog(1, nullptr);
    EXPECT_EQ(written(), "3\tthree\n1\tone\n");
    EXPECT_FALSE(CNTrace::CanTrace(2));
    EXPECT_TRUE(CNTrace::CanTrace(1));
}

TEST_F(platform_trace_lines, SetAndClearOptionsAreBitwise) {
    CN_SetLogOptions(CNTrace::Thread | CNTrace::TraceLevel);
    EXPECT_EQ(CNTrace::GetOptions(), static_cast<WORD32>(CNTrace::FileAndLine | CNTrace::Thread | CNTrace::TraceLevel));
    CN_ClearLogOptions(CNTrace::FileAndLine | CNTrace::Blocks);
    EXPECT_EQ(CNTrace::GetOptions(), static_cast<WORD32>(CNTrace::Thread | CNTrace::TraceLevel));
}

TEST_F(platform_trace_lines, NothingIsWrittenBeforeOpening) {
    CN_PrintToLog(0, "before any opening");
    CNTrace::Begin(0, "f.cpp", 1) << "also dropped" << 5 << '\n';
    CNTrace::End();
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/log"));
    EXPECT_EQ(CNOstream::BufferedBytes(), 0);
}

TEST_F(platform_trace_lines, InsertionsFormatEveryKind) {
    open_with_options(0);
    int x = 0;
    char pointer_text[32];
    std::snprintf(pointer_text, sizeof pointer_text, "%p", static_cast<const void*>(&x));
    CNTrace::Begin(1) << 'c' << static_cast<unsigned char>(200) << ' ' << static_cast<short>(-32768) << ' '
                      << static_cast<unsigned short>(65535) << ' ' << -2147483647 - 1 << ' ' << 4294967295u << ' '
                      << static_cast<long long>(-9223372036854775807LL - 1) << ' ' << 18446744073709551615ULL << ' '
                      << 0.5 << ' ' << 2.5f << ' ' << static_cast<const void*>(&x) << '\n';
    CNTrace::End();
    CNLogFile::Instance().Flush();
    EXPECT_EQ(written(), std::string("c200 -32768 65535 -2147483648 4294967295 -9223372036854775808 "
                                     "18446744073709551615 0.5 2.5 ") +
                             pointer_text + "\n");
}

TEST_F(platform_trace_lines, BufferLimitIsClamped) {
    CNOstream::SetBuf(10);
    EXPECT_EQ(CNOstream::GetBuf(), 512);
    CNOstream::SetBuf(100000000);
    EXPECT_EQ(CNOstream::GetBuf(), 5242880);
    CNOstream::SetBuf(4096);
    EXPECT_EQ(CNOstream::GetBuf(), 4096);
}

TEST_F(platform_trace_lines, PiecesLongerThanTheLimitAndTheBufferArriveWhole) {
    open_with_options(0);
    const std::string medium(1000, 'm');  // above the 512-byte limit, inside the buffer
    std::string huge(6 * 1024 * 1024 + 17, 'h');  // longer than the whole buffer
    huge[0] = '<';
    huge.back() = '>';
    CN_PrintToLog(1, medium.c_str());
    CNTrace::Begin(1) << "start ";
    CNTrace::GetStream()->Append(huge.data(), huge.size());
    *CNTrace::GetStream() << " end" << '\n';
    CNTrace::End();
    CN_PrintToLog(1, huge.c_str());
    CN_PrintToLog(1, "after");

    EXPECT_EQ(written(), medium + "\nstart " + huge + " end\n" + huge + "\nafter\n");
    EXPECT_EQ(CNOstream::GetTotalBytes(), read_file(zub("division1.log")).size());
}

TEST_F(platform_trace_lines, EightThreadsWriteWholeLines) {
    open_with_options(CNTrace::Thread | CNTrace::TraceLevel);
    constexpr int kThreads = 8;
    constexpr int kLines = 1000;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                // Lengths around the 512-byte limit, so lines flush in the middle as well.
                const std::string body = "w" + std::to_string(t) + " n" + std::to_string(i) + " " +
                                         std::string(static_cast<size_t>(300 + (i * 37 + t * 11) % 500), 'a' + t);
                CN_PrintToLog(2, body.c_str());
            }
        });
    }
    for (auto& w : writers) {
        w.join();
    }

    const std::string text = written();
    const std::regex line_form("([0-9]+) 2\tw([0-7]) n([0-9]+) ([a-h]+)");
    std::vector<int> next(kThreads, 0);
    std::set<std::string> thread_ids[kThreads];
    size_t pos = 0;
    int lines = 0;
    while (pos < text.size()) {
        const size_t end = text.find('\n', pos);
        ASSERT_NE(end, std::string::npos);
        const std::string line = text.substr(pos, end - pos);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, line_form)) << line.substr(0, 80);
        const int t = std::stoi(m[2]);
        const int i = std::stoi(m[3]);
        EXPECT_EQ(i, next[t]) << "lines of one thread stay in order";
        next[t] = i + 1;
        EXPECT_EQ(m[4].length(), static_cast<long>(300 + (i * 37 + t * 11) % 500));
        EXPECT_EQ(m[4].str(), std::string(m[4].length(), static_cast<char>('a' + t)));
        thread_ids[t].insert(m[1]);
        pos = end + 1;
        ++lines;
    }
    EXPECT_EQ(lines, kThreads * kLines);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(next[t], kLines);
        EXPECT_EQ(thread_ids[t].size(), 1u);
    }
}

} // namespace
