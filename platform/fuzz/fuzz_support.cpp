#include "fuzz_support.h"

#include <filesystem>
#include <fstream>

namespace fuzz {

namespace {

struct TempDir {
    std::string path;
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vorlen-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) fail("cannot make a temporary folder");
        path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

}  // namespace

const std::string& temp_dir() {
    static TempDir dir;
    return dir.path;
}

std::string write_temp_file(const char* name, const uint8_t* data, size_t size) {
    std::string path = temp_dir() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) fail("cannot write the input file");
    return path;
}

}  // namespace fuzz
