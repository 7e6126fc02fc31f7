// trace_test_support.h - a private program directory per test and small file helpers.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "trace/CNLogFile.h"
#include "trace/CNTrace.h"

namespace trace_test {

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

inline void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Makes a file of exactly `size` bytes cheaply (a sparse file of zeros).
inline void make_file_of_size(const std::string& path, long long size) {
    write_file(path, "");
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
}

// Runs each test in a fresh temporary directory that serves as the program directory,
// with the trace options and the log file object put back to their start state.
class TraceDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vorlen_trace_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        old_cwd_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        CNLogFile::Instance().Close();
        CNTrace::ClearOptions(0xFFFFFFFF);
        CNTrace::SetOptions(CNTrace::FileAndLine);
        CNTrace::SetLevel(0);
    }
    void TearDown() override {
        CNLogFile::Instance().Close();
        std::filesystem::current_path(old_cwd_);
        std::filesystem::remove_all(dir_);
    }
    std::string zub(const std::string& name) const { return dir_ + "/log/zub/" + name; }
    void make_zub_dir() const { std::filesystem::create_directories(dir_ + "/log/zub"); }

    std::string dir_;
    std::filesystem::path old_cwd_;
};

} // namespace trace_test
