// Hall layouts and anchor files of the accuracy tool.
#include "accuracy/site.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <unistd.h>

TEST(accuracy_site, EightAnchorsAreCornersAndWallMidpoints)
{
    const arma::mat a = accuracy::wall_anchors(30, 20, 8, 2, 2.5, 5.0);
    const arma::mat want = {{0, 0, 2.5},   {30, 0, 2.5},  {30, 20, 2.5}, {0, 20, 2.5},
                            {15, 0, 2.5},  {30, 10, 2.5}, {15, 20, 2.5}, {0, 10, 2.5}};
    ASSERT_EQ(a.n_rows, 8u);
    EXPECT_TRUE(arma::approx_equal(a, want, "absdiff", 1e-12));
    // 3D: even rows high, odd rows low.
    const arma::mat b = accuracy::wall_anchors(30, 20, 8, 3, 2.5, 5.0);
    for (arma::uword i = 0; i < 8; ++i) {
        EXPECT_EQ(b(i, 2), i % 2 == 0 ? 5.0 : 2.5);
    }
}

TEST(accuracy_site, ManyAnchorsSpreadOverTheWalls)
{
    // 22 anchors: 18 extras, 5 on each of the first two walls and 4 on the others. The
    // first wall's 5 extras divide its 30 m into six 5 m steps.
    const arma::mat a = accuracy::wall_anchors(30, 20, 22, 2, 2.5, 5.0);
    ASSERT_EQ(a.n_rows, 22u);
    for (arma::uword j = 0; j < 5; ++j) {
        EXPECT_NEAR(a(4 + j, 0), 5.0 * static_cast<double>(j + 1), 1e-12);
        EXPECT_EQ(a(4 + j, 1), 0.0);
    }
    std::set<std::pair<double, double>> seen;
    for (arma::uword i = 0; i < a.n_rows; ++i) {
        const double x = a(i, 0), y = a(i, 1);
        EXPECT_TRUE(x == 0.0 || x == 30.0 || y == 0.0 || y == 20.0) << "row " << i;
        seen.insert({x, y});
    }
    EXPECT_EQ(seen.size(), 22u);
    EXPECT_EQ(accuracy::wall_anchors(30, 20, 3, 2, 1, 1).n_rows, 3u);
    EXPECT_TRUE(accuracy::wall_anchors(30, 20, 0, 2, 1, 1).is_empty());
}

namespace {

std::string write_temp(const std::string& text)
{
    char path[] = "/tmp/accuracy_site_XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << text;
    return path;
}

}  // namespace

TEST(accuracy_site, AnchorFileReadsTwoOrThreeValuesPerLine)
{
    const std::string path =
        write_temp("# hall B\n0 0 3\n\n12.5, 0\n  12.5 8.25 2.75  # by the door\n0 8.25\n");
    arma::mat a;
    std::string error;
    ASSERT_TRUE(accuracy::read_anchor_file(path, 2.0, a, error)) << error;
    const arma::mat want = {{0, 0, 3}, {12.5, 0, 2}, {12.5, 8.25, 2.75}, {0, 8.25, 2}};
    EXPECT_TRUE(arma::approx_equal(a, want, "absdiff", 0.0));
    std::remove(path.c_str());
}

TEST(accuracy_site, AnchorFileRejectsWhatIsNotAnAnchor)
{
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"0 0 3\n1 x 3\n", ":2: not a number"},
        {"0 0 3 4\n", ":1: expected x y [z]"},
        {"7\n", ":1: expected x y [z]"},
        {"# nothing\n\n", ": no anchors"},
        {"0 nan 1\n", ":1: not a number"},
        {"0 1e999 1\n", ":1: not a number"},
    };
    for (const Case& c : cases) {
        const std::string path = write_temp(c.text);
        arma::mat a;
        std::string error;
        EXPECT_FALSE(accuracy::read_anchor_file(path, 2.0, a, error)) << c.text;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        std::remove(path.c_str());
    }
    arma::mat a;
    std::string error;
    EXPECT_FALSE(accuracy::read_anchor_file("/nonexistent/anchors.txt", 2.0, a, error));
    EXPECT_NE(error.find("cannot read"), std::string::npos);
}
