// The road tools' command lines: values to their options, lists in order, and the lines refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "roadbench/tool_options.h"

TEST(ToolOptions, ValuesAndRefusals)
{
    struct Parsed {
        std::string hall;
        double during = 20.0;
        int tags = 100;
        std::vector<std::string> floods;
        bool series = false;
    };
    struct Row {
        const char* name;
        std::vector<std::string> args;
        bool ok;
        std::string error;  // its start
        std::string hall;
        double during;
        int tags;
        std::vector<std::string> floods;
        bool series;
    } rows[] = {
        {"nothing given: the defaults", {}, true, "", "", 20.0, 100, {}, false},
        {"each kind", {"--hall", "h.site", "--during", "2.5", "--tags", "7", "--series", "1"}, true, "", "h.site", 2.5,
         7, {}, true},
        {"a list in order", {"--flood", "a:1", "--flood", "b:2"}, true, "", "", 20.0, 100, {"a:1", "b:2"}, false},
        {"the last of a repeated value", {"--tags", "7", "--tags", "9"}, true, "", "", 20.0, 9, {}, false},
        {"a switch other than 1 is off", {"--series", "yes"}, true, "", "", 20.0, 100, {}, false},
        {"unknown option", {"--hal", "h.site"}, false, "unknown option --hal", "", 20.0, 100, {}, false},
        {"no value", {"--hall"}, false, "no value for --hall", "", 20.0, 100, {}, false},
        {"not a number", {"--during", "2s"}, false, "--during: not a number", "", 20.0, 100, {}, false},
        {"not a whole number", {"--tags", "7.5"}, false, "--tags: not a whole number", "", 20.0, 100, {}, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Parsed p;
        roadbench::ToolOptions options;
        options.text("--hall", &p.hall);
        options.number("--during", &p.during);
        options.integer("--tags", &p.tags);
        options.list("--flood", &p.floods);
        options.flag("--series", &p.series);
        std::vector<std::string> args = r.args;
        args.insert(args.begin(), "tool");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        std::string error;
        ASSERT_EQ(options.parse(static_cast<int>(argv.size()), argv.data(), &error), r.ok);
        EXPECT_EQ(error.substr(0, r.error.size()), r.error);
        if (!r.ok) continue;
        EXPECT_EQ(p.hall, r.hall);
        EXPECT_EQ(p.during, r.during);
        EXPECT_EQ(p.tags, r.tags);
        EXPECT_EQ(p.floods, r.floods);
        EXPECT_EQ(p.series, r.series);
    }
}
