#include "zub_print_capture.h"

#include <mutex>

#include "zub_print.h"

namespace {

std::mutex g_mutex;
std::vector<std::string> g_lines;

void capture_sink(BYTE /*level*/, const char* /*file*/, int /*line*/, const char* text)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.emplace_back(text);
}

}  // namespace

zub_print_capture::zub_print_capture()
{
    clear();
    zub_print_set_sink(capture_sink);
}

zub_print_capture::~zub_print_capture() { zub_print_set_sink(nullptr); }

std::vector<std::string> zub_print_capture::lines() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_lines;
}

std::size_t zub_print_capture::count_of(const std::string& text) const
{
    std::size_t n = 0;
    for (const std::string& line : lines()) {
        n += line == text ? 1 : 0;
    }
    return n;
}

void zub_print_capture::clear()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.clear();
}
