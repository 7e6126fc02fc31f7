#include "sandbox/files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace vorlen::sandbox {

bool write_file(const std::string& path, const std::string& text) {
    std::error_code ec;
    std::filesystem::path p(path);
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string read_dir_files(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        if (e.is_regular_file(ec)) names.push_back(e.path().string());
    }
    std::sort(names.begin(), names.end());
    std::string all;
    for (const std::string& name : names) all += read_file(name);
    return all;
}

size_t count_of(const std::string& hay, const std::string& needle) {
    if (needle.empty()) return 0;
    size_t n = 0;
    for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + needle.size())) ++n;
    return n;
}

bool wait_for_text(const std::string& path, const std::string& needle, std::chrono::milliseconds timeout,
                   size_t times) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (count_of(read_file(path), needle) >= times) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::vector<std::string> lines_of(const std::string& path) {
    std::vector<std::string> out;
    std::istringstream in(read_file(path));
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

bool in_order(const std::string& text, const std::vector<std::string>& parts, std::string* missing) {
    size_t at = 0;
    for (const auto& p : parts) {
        const size_t found = text.find(p, at);
        if (found == std::string::npos) {
            *missing = p;
            return false;
        }
        at = found + p.size();
    }
    return true;
}

}  // namespace vorlen::sandbox
