// The platform configuration reader, rule by rule.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "CNPlatLog.h"
#include "startup/omp_cfg.h"
#include "startup/process_dir.h"

namespace {

size_t count_of(const std::string& hay, const std::string& needle) {
    size_t n = 0;
    for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
    return n;
}

// A configuration file and a captured platform log, both in a fresh temporary directory.
class PlatformStartupCfg : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/startup-cfg-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        cfg_ = dir_ + "/omp.cfg";
        log_path_ = dir_ + "/plat.log";
        log_ = std::fopen(log_path_.c_str(), "w+");
        ASSERT_NE(log_, nullptr);
        CN_SetPlatLogFile(log_);
    }
    void TearDown() override {
        CN_SetPlatLogFile(nullptr);
        std::fclose(log_);
        std::remove(cfg_.c_str());
        std::remove(log_path_.c_str());
        rmdir(dir_.c_str());
    }
    void Write(const std::string& text) { std::ofstream(cfg_) << text; }
    int Nav(const char* key = "bureau", int def = -1, int lo = -1, int hi = 1000) {
        return CN_GetIntFromCfg("NAV", "EndNAV", key, def, lo, hi, cfg_.c_str());
    }
    std::string Log() {
        std::fflush(log_);
        std::ifstream in(log_path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string dir_, cfg_, log_path_;
    FILE* log_ = nullptr;
};

TEST_F(PlatformStartupCfg, ReadsAKeyWithOrWithoutBlanksAroundTheEqualsSign) {
    Write("[NAV]\nbureau=5\n[EndNAV]\n");
    EXPECT_EQ(Nav(), 5);
    Write("[NAV]\n   bureau   =   5   \n[EndNAV]\n");
    EXPECT_EQ(Nav(), 5);
    Write("[NAV]\n\tbureau\t=\t-1\n[EndNAV]\n");
    EXPECT_EQ(Nav("bureau", 7), -1);
}

TEST_F(PlatformStartupCfg, OutOfRangeGivesTheDefaultAndLogsTheRange) {
    Write("[NAV]\nbureau=1001\n[EndNAV]\n");
    EXPECT_EQ(Nav(), -1);
    EXPECT_NE(Log().find("error, config value not between min and max, szAttrName=bureau, szFileName=" + cfg_ + "\n"),
              std::string::npos);
    Write("[NAV]\nbureau=-2\n[EndNAV]\n");
    EXPECT_EQ(Nav("bureau", 9), 9);
    // Beyond 32 bits is out of any range, not a wrapped value.
    Write("[NAV]\nbureau=4294967301\n[EndNAV]\n");
    EXPECT_EQ(Nav("bureau", 9), 9);
}

TEST_F(PlatformStartupCfg, TakesLeadingDigitsOnly) {
    Write("[NAV]\nbureau=abc\n[EndNAV]\n");
    EXPECT_EQ(Nav("bureau", 9), 0);
    Write("[NAV]\nbureau=12ab\n[EndNAV]\n");
    EXPECT_EQ(Nav("bureau", 9), 12);
}

TEST_F(PlatformStartupCfg, EmptyOrCommentedValueIsAFormatError) {
    Write("[NAV]\nbureau=\n[EndNAV]\n");
    EXPECT_EQ(Nav("bureau", 9), 9);
    Write("[NAV]\nbureau= #5\n[EndNAV]\n");
    EXPECT_EQ(Nav("bureau", 9), 9);
    EXPECT_EQ(count_of(Log(), "error, config format error..., szAttrName=bureau, szFileName=" + cfg_ + "\n"), 2u);
}

TEST_F(PlatformStartupCfg, SkipsCommentsAndReportsAMissingKey) {
    Write("[NAV]\n#bureau=5\n\nother=3\nno equals sign\n[EndNAV]\nbureau=6\n");
    EXPECT_EQ(Nav(), -1);
    EXPECT_NE(Log().find("error, can not find config, szAttrName=bureau, szFileName=" + cfg_ + "\n"),
              std::string::npos);
}

TEST_F(PlatformStartupCfg, MatchesSectionNamesWithBlanksInsideTheBrackets) {
    Write("[  NAV  ]\nbureau=8\n[EndNAV]\n");
    EXPECT_EQ(Nav(), 8);
    Write("[nav]\nbureau=8\n[Endnav]\n");  // names are case-sensitive
    EXPECT_EQ(Nav(), -1);
    EXPECT_NE(Log().find("error, can not find class, szCapBegName=NAV, szFileName=" + cfg_ + "\n"), std::string::npos);
}

TEST_F(PlatformStartupCfg, EndLineEndsTheSectionOnlyWhenItsWordEndsAtTheBracket) {
    Write("[NAV]\n[EndNAV]x\nbureau=4\n[EndNAV]\n");
    EXPECT_EQ(Nav(), 4);
    Write("[NAV]\n[EndNAV] closing words\nbureau=4\n");
    EXPECT_EQ(Nav(), -1);
    Write("[NAV]\n[ EndNAV ]\nbureau=4\n");  // the first word after "[" is EndNAV
    EXPECT_EQ(Nav(), -1);
}

TEST_F(PlatformStartupCfg, FirstOfTwoKeysWinsAndOtherSectionsAreNotRead) {
    Write("[QES]\nbureau=3\n[EndQES]\n[NAV]\nbureau=4\nbureau=5\n[EndNAV]\n");
    EXPECT_EQ(Nav(), 4);
}

TEST_F(PlatformStartupCfg, TheTailOfAnOverlongLineIsNotTakenForALine) {
    Write("[NAV]\n#" + std::string(300, 'x') + "bureau=9\nbureau=5\n[EndNAV]\n");
    EXPECT_EQ(Nav(), 5);
}

TEST_F(PlatformStartupCfg, MissingFileOrNullNameGivesTheDefault) {
    EXPECT_EQ(CN_GetIntFromCfg("NAV", "EndNAV", "bureau", 42, -1, 1000, (dir_ + "/none.cfg").c_str()), 42);
    EXPECT_NE(Log().find("error, can not open config file(" + dir_ + "/none.cfg)\r"), std::string::npos);
    EXPECT_EQ(CN_GetIntFromCfg(nullptr, "EndNAV", "bureau", 43, -1, 1000, cfg_.c_str()), 43);
    EXPECT_NE(Log().find("error, the input parameter is null\n"), std::string::npos);
}

TEST_F(PlatformStartupCfg, LoadOmpCfgCountsTheSectionsThatGiveABureau) {
    Write("[HOB]\nbureau=2\n[EndHOB]\n");
    EXPECT_EQ(LoadOmpCfgFrom(cfg_.c_str()), 1);
    EXPECT_EQ(g_wHobBureauID, 2);
    EXPECT_NE(Log().find("the hob _thisBureauID is 2\n"), std::string::npos);
    Write("[NAV]\nbureau=7\n[EndNAV]\n[QES]\nbureau=8\n[EndQES]\n[HOB]\nbureau=9\n[EndHOB]\n");
    EXPECT_EQ(LoadOmpCfgFrom(cfg_.c_str()), 3);
    EXPECT_EQ(g_wNavBureauID, 7);
    EXPECT_EQ(g_wQesBureauID, 8);
    EXPECT_NE(Log().find("the nav _thisBureauID is 7\nthe qes _thisBureauID is 8\n"), std::string::npos);
    Write("# nothing here\n");
    EXPECT_EQ(LoadOmpCfgFrom(cfg_.c_str()), 0);
}

TEST_F(PlatformStartupCfg, GetModuleCfgReadsUpmnumWithMinusOneMeaningOne) {
    Write("[QES]\nupmnum=4\n[EndQES]\n");
    EXPECT_EQ(GetModuleCfgFrom(cfg_.c_str()), 0);
    EXPECT_EQ(CN_GetUpmModuleNum(), 4);
    Write("[QES]\nupmnum=-1\n[EndQES]\n");
    GetModuleCfgFrom(cfg_.c_str());
    EXPECT_EQ(CN_GetUpmModuleNum(), 1);
    Write("[QES]\nupmnum=0\n[EndQES]\n");
    GetModuleCfgFrom(cfg_.c_str());
    EXPECT_EQ(CN_GetUpmModuleNum(), 0);
    Write("[NAV]\nupmnum=5\n[EndNAV]\n");
    GetModuleCfgFrom(cfg_.c_str());
    EXPECT_EQ(CN_GetUpmModuleNum(), 1);
}

TEST(PlatformStartupTrim, TrimsBlanksButLeavesAStringOfBlanks) {
    char a[] = "ab  \t";
    EXPECT_STREQ(CN_RTrim(a), "ab");
    char b[] = "   ";
    EXPECT_STREQ(CN_RTrim(b), "   ");
    char c[] = "  x y ";
    EXPECT_STREQ(CN_LTrim(c), "x y ");
    char d[] = "  ";
    EXPECT_EQ(*CN_LTrim(d), '\0');
}

TEST(PlatformStartupPath, TakesTheDirectoryOfTheProgramPath) {
    char out[CN_CUR_PATH_MAX];
    ASSERT_EQ(CN_GetCurrPath("/qvx/zub/vorlen", out), 0);
    EXPECT_STREQ(out, "/qvx/zub/");
    ASSERT_EQ(CN_GetCurrPath("vorlen", out), 0);
    EXPECT_STREQ(out, "./");
    EXPECT_EQ(CN_GetCurrPath(nullptr, out), 1);
    // A directory part of 260 characters (its final "/" included) is too long; 259 fits.
    std::string dir259 = "/" + std::string(258, 'd');
    ASSERT_EQ(CN_GetCurrPath((dir259 + "/p").c_str(), out), 1);
    std::string dir258 = "/" + std::string(257, 'd');
    ASSERT_EQ(CN_GetCurrPath((dir258 + "/p").c_str(), out), 0);
    EXPECT_EQ(std::string(out), dir258 + "/");
}

}  // namespace
