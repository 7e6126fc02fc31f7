// trace_control_fuzz.cpp - any bytes as the trace log's control file: opening the ring must
// start at the file the control file names when it names one of the ring, else at file 1, and
// leave the control file naming the file it opened.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_support.h"
#include "trace/CNLogFile.h"

namespace {

constexpr int kRingMegabytes = 250;  // 250 * 1000 / 50000: a ring of five files
constexpr WORD32 kRingFiles = 5;

// The number the control file names, worked out apart from the reader: the first 31 bytes up to
// a NUL, blanks and line ends skipped, then a positive decimal number below 2^32 - 1.
WORD32 expected_number(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size < 31 ? size : 31);
    text = text.substr(0, text.find('\0'));
    size_t i = text.find_first_not_of(" \t\r\n");
    if (i == std::string::npos || !std::isdigit(static_cast<unsigned char>(text[i]))) return 0;
    unsigned long long n = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        n = n * 10 + static_cast<unsigned>(text[i] - '0');
        if (n >= 0xFFFFFFFFULL) return 0;
    }
    return static_cast<WORD32>(n);
}

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string control = fuzz::write_temp_file("division.ctl", data, size);
    const std::string log = fuzz::temp_dir() + "/division.log";
    CNLogFile& file = CNLogFile::Instance();

    const WORD32 named = expected_number(data, size);
    fuzz::expect(file.Init(CNOstream::kMinLimit, 0, log.c_str(), control.c_str(), kRingMegabytes,
                           CNTrace::e_separateFile) == 1,
                 "Init of the ring");
    fuzz::expect(file.TotalLogFiles() == kRingFiles, "ring size");
    const WORD32 opened = file.CurrentNumber();
    fuzz::expect(opened == (named >= 1 && named <= kRingFiles ? named : 1), "the file the control file names");
    fuzz::expect(read_all(control) == std::to_string(opened), "the control file names the open file");

    // The next input starts from a ring without files, so the log never grows across inputs.
    file.Close();
    for (WORD32 n = 1; n <= kRingFiles; ++n) {
        std::remove((fuzz::temp_dir() + "/division" + std::to_string(n) + ".log").c_str());
    }
    return 0;
}
