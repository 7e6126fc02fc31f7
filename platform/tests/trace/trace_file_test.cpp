// The trace log's files: opening, the control file, restarts, rotation and the ring.
#include <sys/wait.h>

#include <regex>
#include <string>

#include "trace_test_support.h"

namespace {

using trace_test::make_file_of_size;
using trace_test::read_file;
using trace_test::write_file;

// "\n" five times, then 26 times " -", then "\n".
std::string separator() {
    std::string s = "\n\n\n\n\n";
    for (int i = 0; i < 26; ++i) {
        s += " -";
    }
    return s + "\n";
}

std::string tid_text() { return std::to_string(static_cast<unsigned long>(pthread_self())); }

const char kDate[] = "[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}";

// Runs `body` in a child process, as a separate start of the program would, and returns its status.
template <typename Body>
int run_as_process(Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

class platform_trace_files : public trace_test::TraceDirTest {};

TEST_F(platform_trace_files, OpeningWritesSeparatorAndStartLinesIntoFileOne) {
    CN_initCNLogFile(3, 25000);

    EXPECT_EQ(read_file(zub("division.ctl")), "1");
    const std::string text = read_file(zub("division1.log"));
    const std::string pattern = std::string(kDate) + " " + tid_text() + " Trace logging started\n" + kDate + " " +
                                tid_text() + " div log file create succefully, iLevel=3, iSize=25000\n";
    ASSERT_EQ(text.substr(0, separator().size()), separator());
    EXPECT_TRUE(std::regex_match(text.substr(separator().size()), std::regex(pattern))) << text;
    EXPECT_EQ(CNLogFile::Instance().TotalLogFiles(), 500u);
    EXPECT_EQ(CNTrace::GetOptions(), static_cast<WORD32>(CNTrace::DateAndTime | CNTrace::Thread));
}

TEST_F(platform_trace_files, OpeningAtLevelZeroWritesOnlyTheSeparator) {
    CN_initCNLogFile(0, 25000);
    CN_PrintToLog(0, "level zero still passes");
    CN_PrintToLog(1, "level one does not");

    const std::string text = read_file(zub("division1.log"));
    ASSERT_EQ(text.substr(0, separator().size()), separator());
    EXPECT_TRUE(std::regex_match(text.substr(separator().size()),
                                 std::regex(std::string(kDate) + " " + tid_text() + " level zero still passes\n")))
        << text;
}

TEST_F(platform_trace_files, RestartAppendsToTheFileNamedInTheControlFile) {
    make_zub_dir();
    write_file(zub("division.ctl"), "3");
    write_file(zub("division3.log"), "older lines\n");

    EXPECT_EQ(run_as_process([] {
                  CN_initCNLogFile(3, 25000);
                  CN_ClearLogOptions(CNTrace::Thread);
                  CN_PrintToLog(2, "first run");
              }),
              0);
    // A normal exit destroys the log file object, which says so at level 3.
    EXPECT_EQ(run_as_process([] {
                  CN_initCNLogFile(3, 25000);
                  CN_ClearLogOptions(CNTrace::Thread);
                  CN_PrintToLog(2, "second run");
                  std::exit(0);
              }),
              0);

    const std::string text = read_file(zub("division3.log"));
    EXPECT_EQ(text.rfind("older lines\n", 0), 0u);
    const size_t first = text.find(" first run\n");
    const size_t second_separator = text.find(separator(), first);
    const size_t second = text.find(" second run\n");
    const size_t goodbye = text.find(" ~CNLogFile()\n");
    ASSERT_NE(first, std::string::npos) << text;
    ASSERT_NE(second_separator, std::string::npos) << text;
    ASSERT_NE(second, std::string::npos) << text;
    ASSERT_NE(goodbye, std::string::npos) << text;
    EXPECT_LT(second_separator, second);
    EXPECT_LT(second, goodbye);
    EXPECT_EQ(read_file(zub("division.ctl")), "3");
    EXPECT_FALSE(std::filesystem::exists(zub("division1.log")));
}

TEST_F(platform_trace_files, MissingOrUnusableControlFileStartsAtFileOne) {
    for (const char* content : std::initializer_list<const char*>{"", "abc", "0", "-4", "501", nullptr}) {
        std::filesystem::remove_all(dir_ + "/log");
        make_zub_dir();
        if (content != nullptr) {
            write_file(zub("division.ctl"), content);
        }
        CN_initCNLogFile(3, 25000);
        EXPECT_EQ(CNLogFile::Instance().CurrentNumber(), 1u) << (content ? content : "(no file)");
        EXPECT_EQ(read_file(zub("division.ctl")), "1");
        EXPECT_NE(read_file(zub("division1.log")).find("Trace logging started"), std::string::npos);
        CNLogFile::Instance().Close();
    }
}

TEST_F(platform_trace_files, ControlFileWithBlanksAroundTheNumberIsRead) {
    make_zub_dir();
    write_file(zub("division.ctl"), " 12\n");
    CN_initCNLogFile(3, 25000);
    EXPECT_EQ(CNLogFile::Instance().CurrentNumber(), 12u);
    EXPECT_EQ(read_file(zub("division.ctl")), "12");
}

TEST_F(platform_trace_files, FullFileRotatesWithSwitchLineAndEmptiesTheNextFile) {
    make_zub_dir();
    write_file(zub("division.ctl"), "7");
    make_file_of_size(zub("division7.log"), 49999990);
    write_file(zub("division8.log"), "stale content of an earlier round\n");

    CN_initCNLogFile(3, 25000);

    // The start line still fits into file 7; the next line finds 50,000,000 bytes counted.
    const std::string old_file = read_file(zub("division7.log"));
    const std::string tail = old_file.substr(49999990);
    EXPECT_TRUE(std::regex_match(tail, std::regex(separator() + kDate + " " + tid_text() +
                                                  " Trace logging started\nswitch log file when tracing")))
        << tail;
    const std::string next = read_file(zub("division8.log"));
    EXPECT_TRUE(std::regex_match(next, std::regex(std::string(kDate) + " " + tid_text() +
                                                  " div log file create succefully, iLevel=3, iSize=25000\n")))
        << next;
    EXPECT_EQ(read_file(zub("division.ctl")), "8");

    CN_PrintToLog(1, "goes on in file 8");
    EXPECT_NE(read_file(zub("division8.log")).find(" goes on in file 8\n"), std::string::npos);
}

TEST_F(platform_trace_files, RingOf500WrapsFromTheLastFileToFileOne) {
    make_zub_dir();
    write_file(zub("division.ctl"), "500");
    make_file_of_size(zub("division500.log"), 50000000);
    write_file(zub("division1.log"), "stale\n");

    CN_initCNLogFile(3, 25000);

    EXPECT_EQ(CNLogFile::Instance().CurrentNumber(), 1u);
    EXPECT_EQ(read_file(zub("division.ctl")), "1");
    const std::string text = read_file(zub("division1.log"));
    EXPECT_EQ(text.find("stale"), std::string::npos);
    EXPECT_EQ(text.rfind(separator(), 0), 0u);
    EXPECT_EQ(std::filesystem::file_size(zub("division500.log")), 50000000u);
}

TEST_F(platform_trace_files, NegativeSizeMakesARingOfTwoFiles) {
    make_zub_dir();
    write_file(zub("division.ctl"), "2");
    make_file_of_size(zub("division2.log"), 50000000);

    CN_initCNLogFile(3, -1);

    EXPECT_EQ(CNLogFile::Instance().TotalLogFiles(), 2u);
    EXPECT_EQ(CNLogFile::Instance().MaxLogSize(), 100u);
    EXPECT_EQ(read_file(zub("division.ctl")), "1");
    EXPECT_NE(read_file(zub("division1.log")).find("iSize=-1\n"), std::string::npos);
}

TEST_F(platform_trace_files, RingSizeFollowsTheTotalSize) {
    CNLogFile& log = CNLogFile::Instance();
    log.SetMaxLogSize(25000);
    EXPECT_EQ(log.TotalLogFiles(), 500u);
    log.SetMaxLogSize(149);  // 149000 / 50000 = 2 (integer division)
    EXPECT_EQ(log.TotalLogFiles(), 2u);
    log.SetMaxLogSize(150);
    EXPECT_EQ(log.TotalLogFiles(), 3u);
    log.SetMaxLogSize(0);
    EXPECT_EQ(log.TotalLogFiles(), 2u);
    log.SetMaxLogSize(2147483647);  // no overflow of size × 1000
    EXPECT_EQ(log.TotalLogFiles(), 42949672u);
}

TEST_F(platform_trace_files, UncreatableDirectoryDropsLinesWithoutCrashing) {
    write_file(dir_ + "/log", "a file where the directory should be");
    CN_initCNLogFile(3, 25000);
    CN_PrintToLog(1, "nowhere to go");
    EXPECT_FALSE(CNLogFile::Instance().IsOpen());

    // Each later line tries the opening again.
    std::filesystem::remove(dir_ + "/log");
    make_zub_dir();
    CN_PrintToLog(1, "arrives once the directory exists");
    EXPECT_NE(read_file(zub("division1.log")).find(" arrives once the directory exists\n"), std::string::npos);
}

TEST_F(platform_trace_files, EmptyReopensTheBaseFileName) {
    CN_initCNLogFile(3, 25000);
    write_file(zub("division.log"), "old\n");
    ASSERT_TRUE(CNLogFile::Instance().Empty());
    CN_PrintToLog(2, "after emptying");
    const std::string text = read_file(zub("division.log"));
    EXPECT_TRUE(std::regex_match(text, std::regex(std::string(kDate) + " " + tid_text() + " empty the logging file\n" +
                                                  kDate + " " + tid_text() + " after emptying\n")))
        << text;
}

TEST_F(platform_trace_files, CloseSendsLaterLinesNowhere) {
    CN_initCNLogFile(3, 25000);
    CNLogFile::Instance().Close();
    CN_PrintToLog(1, "after close");
    EXPECT_EQ(read_file(zub("division1.log")).find("after close"), std::string::npos);
}

TEST_F(platform_trace_files, InitWithOneFileAppendsToTheNamedFileAndNeverRotates) {
    make_zub_dir();
    const std::string name = dir_ + "/single.log";
    make_file_of_size(name, 50000000);
    CNLogFile& log = CNLogFile::Instance();

    EXPECT_EQ(log.Init(4096, 3, nullptr, "x.ctl", 10, CNTrace::e_oneFile), -1);
    EXPECT_EQ(log.Init(4096, 3, name.c_str(), (dir_ + "/single.ctl").c_str(), 10, CNTrace::e_oneFile), 1);
    EXPECT_EQ(CNOstream::GetBuf(), 4096);
    CN_PrintToLog(1, "still in the one file");

    const std::string text = read_file(name);
    EXPECT_NE(text.find(" Trace logging started\n", 50000000), std::string::npos);
    EXPECT_NE(text.find(" still in the one file\n", 50000000), std::string::npos);
    EXPECT_EQ(text.find("switch log file"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/single1.log"));
}

TEST_F(platform_trace_files, InitWithSeparateFilesNumbersTheGivenName) {
    const std::string name = dir_ + "/my.trace.txt";
    EXPECT_EQ(CNLogFile::Instance().Init(100, 2, name.c_str(), (dir_ + "/my.ctl").c_str(), 100,
                                         CNTrace::e_separateFile),
              1);
    EXPECT_EQ(CNOstream::GetBuf(), 512);  // clamped up
    EXPECT_NE(read_file(dir_ + "/my.trace1.txt").find("Trace logging started"), std::string::npos);
    EXPECT_EQ(read_file(dir_ + "/my.ctl"), "1");
}

TEST_F(platform_trace_files, NameWithoutDotCannotBeNumbered) {
    const std::string name = dir_ + "/nodot";
    EXPECT_EQ(CNLogFile::Instance().Init(512, 2, name.c_str(), (dir_ + "/c.ctl").c_str(), 100,
                                         CNTrace::e_separateFile),
              1);
    EXPECT_EQ(CNLogFile::Instance().InitOpenFile(), -1);
    CN_PrintToLog(1, "dropped");
    EXPECT_FALSE(CNLogFile::Instance().IsOpen());
}

} // namespace
