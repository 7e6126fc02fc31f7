#include "selector_fixture.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace selector_test {

namespace {

void capture(BYTE, const char*, int, const char* text)
{
    LogCapture::lines().emplace_back(text);
}

}  // namespace

Position position_of(const Record& r)
{
    msg_position_t m{};
    EXPECT_EQ(r.event, ZUB_EV_SELECTOR_DISPLAY_TAG_LOC);
    EXPECT_EQ(r.bytes.size(), sizeof m);
    std::memcpy(&m, r.bytes.data(), std::min(sizeof m, r.bytes.size()));
    return Position{m.anchor_mode, m.tag_id, m.anchor_id, m.x, m.y, m.z};
}

LogCapture::LogCapture()
{
    lines().clear();
    zub_print_set_sink(capture);
}

LogCapture::~LogCapture()
{
    zub_print_set_sink(nullptr);
}

std::vector<std::string>& LogCapture::lines()
{
    static std::vector<std::string> l;
    return l;
}

bool LogCapture::contains(const std::string& text) const
{
    return count(text) > 0;
}

size_t LogCapture::count(const std::string& text) const
{
    size_t n = 0;
    for (const std::string& l : lines()) {
        n += l.find(text) != std::string::npos ? 1 : 0;
    }
    return n;
}

Harness::Harness(TagBudget* budget, unsigned holder, RefusedTags* refused)
{
    SelectorEnv env;
    env.now_ms = [this] { return now; };
    env.send = [this](WORD32 event, const void* data, WORD16 len) {
        const auto* b = static_cast<const BYTE*>(data);
        records.push_back(Record{event, std::vector<BYTE>(b, b + len)});
    };
    env.ctx = zub_context();
    env.tag_budget = budget;
    env.budget_holder = holder;
    env.refused_tags = refused;
    sel.set_env(std::move(env));
}

}  // namespace selector_test
