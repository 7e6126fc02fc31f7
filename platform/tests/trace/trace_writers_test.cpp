// Many threads writing trace lines at once: every line arrives whole and exactly once, the
// lines of one thread in their order, and the ring moves on at the first line boundary at or
// past 50,000,000 bytes, even when that boundary falls in the middle of the run.
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "trace_test_support.h"

namespace {

using trace_test::make_file_of_size;
using trace_test::read_file;
using trace_test::write_file;

constexpr long long kRotation = 50000000;
const std::string kSwitch = "switch log file when tracing";

std::string read_from(const std::string& path, long long offset) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    in.seekg(offset);
    std::ostringstream rest;
    rest << in.rdbuf();
    return rest.str();
}

// Thread t's line i: its own letter, and a length that varies from line to line.
std::string body_of(int t, int i) {
    return "t" + std::to_string(t) + " n" + std::to_string(i) + " " +
           std::string(static_cast<size_t>(40 + (i * 53 + t * 17) % 360), static_cast<char>('a' + t % 26));
}

class platform_trace_writers : public trace_test::TraceDirTest {
protected:
    // A fresh log directory whose control file names file 7, holding `start` bytes already.
    void open_at(long long start, WORD32 options) {
        CNLogFile::Instance().Close();
        std::filesystem::remove_all(dir_ + "/log");
        make_zub_dir();
        write_file(zub("division.ctl"), "7");
        make_file_of_size(zub("division7.log"), start);
        CN_initCNLogFile(3, 25000);
        CNTrace::ClearOptions(0xFFFFFFFF);
        CNTrace::SetOptions(options);
        start_ = static_cast<long long>(std::filesystem::file_size(zub("division7.log")));
    }
    long long start_ = 0;
};

TEST_F(platform_trace_writers, EveryLineWholeOnceInOrderAndRotationAtTheSize) {
    struct Row {
        const char* what;
        int threads;
        int lines;
        long long start;  // bytes already in file 7
        WORD32 options;
        bool rotates;
    };
    const WORD32 all = CNTrace::DateAndTime | CNTrace::Thread | CNTrace::TraceLevel | CNTrace::FileAndLine;
    const Row rows[] = {
        {"eight threads, far from the size", 8, 1500, 0, CNTrace::DateAndTime, false},
        {"eight threads across the size", 8, 1500, kRotation - 300000, CNTrace::DateAndTime, true},
        {"sixteen threads, every prefix, across the size", 16, 400, kRotation - 100000, all, true},
        {"three threads, no prefix, across the size", 3, 2000, kRotation - 50000, 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        open_at(row.start, row.options);
        std::vector<std::thread> writers;
        std::vector<std::string> thread_ids(static_cast<size_t>(row.threads));
        for (int t = 0; t < row.threads; ++t) {
            writers.emplace_back([t, &row, &thread_ids] {
                thread_ids[static_cast<size_t>(t)] = std::to_string(static_cast<unsigned long>(pthread_self()));
                for (int i = 0; i < row.lines; ++i) {
                    CN_PrintToLog(2, body_of(t, i).c_str());
                }
            });
        }
        for (auto& w : writers) {
            w.join();
        }

        std::string first = read_from(zub("division7.log"), start_);
        const std::string second = read_from(zub("division8.log"), 0);
        const long long size7 = static_cast<long long>(std::filesystem::file_size(zub("division7.log")));
        if (row.rotates) {
            ASSERT_GE(first.size(), kSwitch.size());
            ASSERT_EQ(first.substr(first.size() - kSwitch.size()), kSwitch);
            first.resize(first.size() - kSwitch.size());
            // The file holds the size or more, and its last line began below the size.
            const long long full = size7 - static_cast<long long>(kSwitch.size());
            const size_t last_start = first.rfind('\n', first.size() - 2) + 1;
            EXPECT_GE(full, kRotation);
            EXPECT_LT(full - static_cast<long long>(first.size() - last_start), kRotation);
            EXPECT_EQ(read_file(zub("division.ctl")), "8");
            EXPECT_EQ(CNOstream::GetTotalBytes(), second.size());
        } else {
            EXPECT_FALSE(std::filesystem::exists(zub("division8.log")));
            EXPECT_EQ(read_file(zub("division.ctl")), "7");
            EXPECT_EQ(CNOstream::GetTotalBytes(), static_cast<WORD32>(size7));
        }

        std::string prefix;
        if (row.options & CNTrace::DateAndTime) {
            prefix += "[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} ";
        }
        if (row.options & CNTrace::Thread) {
            prefix += "([0-9]+) ";
        }
        if (row.options & CNTrace::TraceLevel) {
            prefix += "2\t";
        }
        if (row.options & CNTrace::FileAndLine) {
            prefix += "CNTraceApi\\.cpp\\([0-9]+\\)\t";
        }
        const std::regex form(prefix + "(t([0-9]+) n([0-9]+) [a-z]+)");
        std::vector<int> next(static_cast<size_t>(row.threads), 0);
        int count = 0;
        const std::string all_lines = first + second;
        size_t pos = 0;
        while (pos < all_lines.size()) {
            const size_t end = all_lines.find('\n', pos);
            ASSERT_NE(end, std::string::npos) << "a cut line at the end";
            const std::string line = all_lines.substr(pos, end - pos);
            pos = end + 1;
            std::smatch m;
            ASSERT_TRUE(std::regex_match(line, m, form)) << line.substr(0, 100);
            const size_t g = (row.options & CNTrace::Thread) ? 2 : 1;
            const int t = std::stoi(m[g + 1]);
            const int i = std::stoi(m[g + 2]);
            ASSERT_LT(t, row.threads);
            EXPECT_EQ(i, next[static_cast<size_t>(t)]) << "each line once, in the thread's order";
            next[static_cast<size_t>(t)] = i + 1;
            EXPECT_EQ(m[g].str(), body_of(t, i));
            if (row.options & CNTrace::Thread) {
                EXPECT_EQ(m[1].str(), thread_ids[static_cast<size_t>(t)]);
            }
            ++count;
        }
        EXPECT_EQ(count, row.threads * row.lines);
    }
}

TEST_F(platform_trace_writers, LinesWrittenOneByOneMoveOnAtTheFirstBoundaryPastTheSize) {
    // A line of exactly n bytes with no prefix is n - 1 text bytes and the newline.
    struct Row {
        long long start;          // bytes in file 7 once the log is open
        std::vector<int> lines;   // lengths, newline included
        size_t lines_in_seven;    // how many stay in file 7
    };
    const Row rows[] = {
        {kRotation - 100, {50, 49, 10}, 3},  // 99 bytes: below the size, the third still goes in
        {kRotation - 100, {50, 50, 10}, 2},  // exactly at the size: the third moves on
        {kRotation - 100, {150, 10}, 1},     // one line past the size: the next moves on
        {kRotation - 1, {1, 1}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.start);
        CNLogFile::Instance().Close();
        std::filesystem::remove_all(dir_ + "/log");
        make_zub_dir();
        write_file(zub("division.ctl"), "7");
        CN_initCNLogFile(0, 25000);  // threshold 0: only the separator, kept in the buffer
        CN_SetLogLevel(3);
        CNTrace::ClearOptions(0xFFFFFFFF);
        // Level 0 wrote nothing to the file; the buffered separator goes with the first line.
        make_file_of_size(zub("division7.log"), row.start - static_cast<long long>(CNOstream::BufferedBytes()));
        CNOstream::SetTotalBytes(static_cast<WORD32>(row.start - CNOstream::BufferedBytes()));
        std::string expected7;
        std::string expected8;
        for (size_t k = 0; k < row.lines.size(); ++k) {
            const std::string text(static_cast<size_t>(row.lines[k] - 1), static_cast<char>('p' + k));
            CN_PrintToLog(1, text.c_str());
            (k < row.lines_in_seven ? expected7 : expected8) += text + "\n";
        }
        const bool moved_on = row.lines_in_seven < row.lines.size();
        const std::string seven = read_from(zub("division7.log"), row.start);
        EXPECT_EQ(seven, expected7 + (moved_on ? kSwitch : ""));
        EXPECT_EQ(read_file(zub("division8.log")), expected8);
        EXPECT_EQ(read_file(zub("division.ctl")), moved_on ? "8" : "7");
    }
}

// A file that refuses writes (a full disk) loses the lines but never crashes the writer, counts
// only bytes that reached it, and every later line tries the file again; the same lines go into
// a good file whole.
TEST_F(platform_trace_writers, AFileThatRefusesWritesCountsOnlyWhatReachedIt) {
    struct Row {
        std::string name;
        bool refuses;
    };
    const Row rows[] = {{"/dev/full", true}, {dir_ + "/good.log", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CNLogFile& log = CNLogFile::Instance();
        log.Close();
        ASSERT_EQ(log.Init(512, 3, row.name.c_str(), (dir_ + "/one.ctl").c_str(), 10, CNTrace::e_oneFile), 1);
        CNTrace::ClearOptions(0xFFFFFFFF);
        const WORD32 before = CNOstream::GetTotalBytes();
        for (int i = 0; i < 3; ++i) {
            CN_PrintToLog(1, "line that may not fit");
            if (row.refuses) {
                EXPECT_FALSE(log.Good()) << i;
            }
        }
        if (row.refuses) {
            EXPECT_EQ(CNOstream::GetTotalBytes(), 0u);
        } else {
            EXPECT_EQ(CNOstream::GetTotalBytes(), before + 3 * 22);
            const std::string text = read_file(row.name);
            EXPECT_EQ(text.substr(text.size() - 3 * 22),
                      "line that may not fit\nline that may not fit\nline that may not fit\n");
            EXPECT_EQ(CNOstream::GetTotalBytes(), text.size());
        }
    }
}

} // namespace
