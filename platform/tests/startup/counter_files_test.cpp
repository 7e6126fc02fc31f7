#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "startup/counter_files.h"
#include "startup/omp_cfg.h"

namespace {

class PlatformStartupCounterFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/startup-counter-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/count";
    }
    void TearDown() override {
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
    std::string dir_, path_;
};

TEST_F(PlatformStartupCounterFiles, AddStartsAtZeroAndCounts) {
    EXPECT_EQ(FileRead(path_.c_str()), -1);
    ASSERT_EQ(FileAdd(path_.c_str()), 0);
    ASSERT_EQ(FileAdd(path_.c_str()), 0);
    EXPECT_EQ(FileRead(path_.c_str()), 2);
}

TEST_F(PlatformStartupCounterFiles, ModSetWrapsWhenTheCountReachesTheModulus) {
    EXPECT_EQ(FileModSet(path_.c_str(), 3), 0);
    EXPECT_EQ(FileModSet(path_.c_str(), 3), 0);
    EXPECT_EQ(FileRead(path_.c_str()), 2);
    EXPECT_EQ(FileModSet(path_.c_str(), 3), 0);
    EXPECT_EQ(FileRead(path_.c_str()), 0);
}

TEST_F(PlatformStartupCounterFiles, InitWritesTheUpmNumberAndUncreatableFilesFail) {
    g_upm_ModuleNum = 7;
    ASSERT_EQ(FileInit_UpmNo(path_.c_str()), 0);
    EXPECT_EQ(FileRead(path_.c_str()), 7);
    g_upm_ModuleNum = 1;
    const std::string bad = dir_ + "/missing/dir/count";
    EXPECT_EQ(FileAdd(bad.c_str()), -1);
    EXPECT_EQ(FileModSet(bad.c_str(), 5), -1);
    EXPECT_EQ(FileInit_UpmNo(bad.c_str()), -1);
}

}  // namespace
