#include "display_fakes.h"

#include <unistd.h>

#include <ctime>
#include <fstream>
#include <sstream>

namespace dt {

temp_root::temp_root()
{
    char templ[] = "/tmp/zub_root_XXXXXX";
    const char* made = mkdtemp(templ);
    path_ = made != nullptr ? made : "/tmp";
    std::filesystem::create_directories(path_ + "/cfg");
    std::filesystem::create_directories(path_ + "/log");
}

temp_root::~temp_root()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void temp_root::write(const std::string& rel, const std::string& text) const
{
    std::ofstream out(path_ + "/" + rel, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string temp_root::read(const std::string& rel) const
{
    std::ifstream in(path_ + "/" + rel, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool temp_root::exists(const std::string& rel) const { return std::filesystem::exists(path_ + "/" + rel); }

WORD64 utc_ms(int year, int month, int day, int hour, int minute, int second)
{
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return static_cast<WORD64>(timegm(&t)) * 1000;
}

}  // namespace dt
