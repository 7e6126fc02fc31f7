// Test helpers of the selector: a fake clock and record sink, captured log lines, and the site
// set-up of selector_site.h (anchors, clock-sync slots, report messages).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "selector_site.h"
#include "zub_public.h"
#include "zub_selector.h"

namespace selector_test {

struct Record {
    WORD32 event;
    std::vector<BYTE> bytes;
};

// A position record's fields, unpacked (the packed ones cannot be bound to references).
struct Position {
    int anchor_mode;
    WORD64 tag_id;
    WORD64 anchor_id;
    int32_t x, y, z;
};
// The position in a record; a record of another event or size fails the test.
Position position_of(const Record& r);

// Captures engine prints while alive.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    static std::vector<std::string>& lines();
    bool contains(const std::string& text) const;
    size_t count(const std::string& text) const;
};

// A selector on a fake clock whose records land in `records`; its tags within `budget` as
// holder `holder` (null: the selector's own budget).
struct Harness {
    explicit Harness(TagBudget* budget = nullptr, unsigned holder = 0, RefusedTags* refused = nullptr);
    WORD64 now = 1'000'000;
    std::vector<Record> records;
    Selector sel;
};

// The site set-up is the shared one.
using namespace selector_site;

}  // namespace selector_test
