// omp_cfg_fuzz.cpp - any text as the platform configuration file: the section readers, the
// "upmnum" reader and the general key reader must keep to their ranges and defaults.
#include <cstdint>
#include <cstring>
#include <string>

#include "CNPlatLog.h"
#include "fuzz_support.h"
#include "startup/omp_cfg.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

void check_trims(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    std::string copy = text;
    char* right = CN_RTrim(copy.data());
    const size_t len = std::strlen(right);
    // Blanks at the end go, unless the text holds nothing else.
    size_t keep = text.find_last_not_of(" \t");
    fuzz::expect(len == (keep == std::string::npos ? text.size() : keep + 1), "CN_RTrim length");
    char* left = CN_LTrim(copy.data());
    fuzz::expect(left >= copy.data() && left <= copy.data() + len, "CN_LTrim inside the text");
    fuzz::expect(!is_blank(*left), "CN_LTrim leaves a blank in front");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check_trims(data, size);
    const std::string path = fuzz::write_temp_file("omp.cfg", data, size);

    const int sections = LoadOmpCfgFrom(path.c_str());
    fuzz::expect(sections >= 0 && sections <= 3, "LoadOmpCfgFrom counts three sections at most");

    GetModuleCfgFrom(path.c_str());
    const WORD16 upm = CN_GetUpmModuleNum();
    fuzz::expect(upm <= 1000, "upmnum within its range");

    const SWORD32 value = CN_GetIntFromCfg("QES", "EndQES", "upmnum", -7, -5, 5, path.c_str());
    fuzz::expect(value == -7 || (value >= -5 && value <= 5), "CN_GetIntFromCfg gives the default or a value in range");
    const SWORD32 wide = CN_GetIntFromCfg("NAV", "EndNAV", "bureau", 0, INT32_MIN, INT32_MAX, path.c_str());
    (void)wide;  // any 32-bit value is in range; what counts is reading it safely
    return 0;
}
