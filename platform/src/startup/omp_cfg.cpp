// The INI-like reader of the platform configuration and the two start-up loaders built on it.
#include "startup/omp_cfg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <climits>

#include "CNPlatLog.h"

WORD16 g_upm_ModuleNum = 1;
WORD16 g_wNavBureauID = 0;
WORD16 g_wQesBureauID = 0;
WORD16 g_wHobBureauID = 0;

namespace {

constexpr int kLineMax = 256;  // 255 characters and the terminator

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool ends_word(char c) { return c == '\0' || is_blank(c) || c == '\r' || c == '\n'; }

// Reads one line of at most 255 characters; the rest of a longer line is discarded, so that
// its tail is never taken for a line of its own.
bool read_line(FILE* fp, char* line) {
    if (std::fgets(line, kLineMax, fp) == nullptr) return false;
    size_t len = std::strlen(line);
    if (len == kLineMax - 1 && line[len - 1] != '\n') {
        int c;
        while ((c = std::fgetc(fp)) != EOF && c != '\n') {
        }
    }
    return true;
}

bool is_skipped(const char* line) { return line[0] == '\0' || line[0] == '\n' || line[0] == '#'; }

// The first blank-delimited word at p, copied into out (at most kLineMax - 1 characters).
void first_word(const char* p, char* out) {
    while (is_blank(*p)) ++p;
    size_t n = 0;
    while (!ends_word(p[n]) && n < kLineMax - 1) {
        out[n] = p[n];
        ++n;
    }
    out[n] = '\0';
}

// Whether a line holding both brackets names the section `name`: the text between them,
// trimmed of blanks, equals the name.
bool names_section(char* line, const char* name) {
    char* open = std::strchr(line, '[');
    char* close = open ? std::strchr(open + 1, ']') : nullptr;
    if (close == nullptr) return false;
    *close = '\0';
    return std::strcmp(CN_LTrim(CN_RTrim(open + 1)), name) == 0;
}

// Whether a bracket line inside the section is its end line: the first word after "[" with one
// trailing "]" dropped equals the end name ("[EndNAV] x" ends the section, "[EndNAV]x" does not).
bool is_end_line(const char* line, const char* end_name) {
    const char* open = std::strchr(line, '[');
    if (open == nullptr) return false;
    char word[kLineMax];
    first_word(open + 1, word);
    size_t len = std::strlen(word);
    if (len == 0) return false;
    if (word[len - 1] == ']') word[len - 1] = '\0';
    return std::strcmp(word, end_name) == 0;
}

// Whether a "key = value" line holds the wanted key; then *value points behind the "=".
bool holds_key(char* line, const char* key, char** value) {
    char* eq = std::strchr(line, '=');
    if (eq == nullptr) return false;
    *eq = '\0';
    *value = eq + 1;
    return std::strcmp(CN_LTrim(CN_RTrim(line)), key) == 0;
}

SWORD32 parse_value(const char* text, const char* key, SWORD32 def, SWORD32 lo, SWORD32 hi, const char* file) {
    const char* p = text;
    while (is_blank(*p)) ++p;
    if (*p == '\0' || *p == '\n' || *p == '\r' || *p == '#') {
        CN_PlatLog("error, config format error..., szAttrName=%s, szFileName=%s\n", key, file);
        return def;
    }
    // Leading digits only ("abc" gives 0); a number beyond 32 bits is out of any range.
    long long v = std::strtoll(p, nullptr, 10);
    if (v < lo || v > hi) {
        CN_PlatLog("error, config value not between min and max, szAttrName=%s, szFileName=%s\n", key, file);
        return def;
    }
    return static_cast<SWORD32>(v);
}

SWORD32 find_in_section(FILE* fp, const char* end_name, const char* key, SWORD32 def, SWORD32 lo, SWORD32 hi,
                        const char* file) {
    char line[kLineMax];
    while (read_line(fp, line)) {
        if (is_skipped(line)) continue;
        if (std::strchr(line, '[') || std::strchr(line, ']')) {
            if (is_end_line(line, end_name)) break;
            continue;
        }
        char* value = nullptr;
        if (holds_key(line, key, &value)) return parse_value(value, key, def, lo, hi, file);
    }
    CN_PlatLog("error, can not find config, szAttrName=%s, szFileName=%s\n", key, file);
    return def;
}

}  // namespace

char* CN_RTrim(char* str) {
    if (str == nullptr) return str;
    size_t len = std::strlen(str);
    size_t keep = len;
    while (keep > 0 && is_blank(str[keep - 1])) --keep;
    if (keep > 0) str[keep] = '\0';  // a string of blanks only is left as it is
    return str;
}

char* CN_LTrim(char* str) {
    if (str == nullptr) return str;
    while (is_blank(*str)) ++str;
    return str;
}

SWORD32 CN_GetIntFromCfg(const char* szCapBegName, const char* szCapEndName, const char* szAttrName,
                         SWORD32 nDefaultValue, SWORD32 nMinValue, SWORD32 nMaxValue, const char* szFileName) {
    if (!szCapBegName || !szCapEndName || !szAttrName || !szFileName) {
        CN_PlatLog("error, the input parameter is null\n");
        return nDefaultValue;
    }
    FILE* fp = std::fopen(szFileName, "r");
    if (fp == nullptr) {
        CN_PlatLog("error, can not open config file(%s)\r", szFileName);
        return nDefaultValue;
    }
    SWORD32 result = nDefaultValue;
    bool in_section = false;
    char line[kLineMax];
    while (read_line(fp, line)) {
        if (is_skipped(line)) continue;
        if (std::strchr(line, '[') && std::strchr(line, ']') && names_section(line, szCapBegName)) {
            in_section = true;
            result = find_in_section(fp, szCapEndName, szAttrName, nDefaultValue, nMinValue, nMaxValue, szFileName);
            break;
        }
    }
    if (!in_section) CN_PlatLog("error, can not find class, szCapBegName=%s, szFileName=%s\n", szCapBegName, szFileName);
    std::fclose(fp);
    return result;
}

int LoadOmpCfgFrom(const char* szFileName) {
    struct Section {
        const char* begin;
        const char* end;
        const char* line;
        WORD16* store;
    };
    const Section sections[] = {
        {"NAV", "EndNAV", "the nav _thisBureauID is %d\n", &g_wNavBureauID},
        {"QES", "EndQES", "the qes _thisBureauID is %d\n", &g_wQesBureauID},
        {"HOB", "EndHOB", "the hob _thisBureauID is %d\n", &g_wHobBureauID},
    };
    int found = 0;
    for (const Section& s : sections) {
        SWORD32 v = CN_GetIntFromCfg(s.begin, s.end, "bureau", -1, -1, 1000, szFileName);
        if (v == -1) continue;
        *s.store = static_cast<WORD16>(v);
        CN_PlatLog(s.line, v);
        ++found;
    }
    return found;
}

int LoadOmpCfg() { return LoadOmpCfgFrom(CN_OMP_CFG_FILE); }

int GetModuleCfgFrom(const char* szFileName) {
    SWORD32 v = CN_GetIntFromCfg("QES", "EndQES", "upmnum", -1, -1, 1000, szFileName);
    g_upm_ModuleNum = static_cast<WORD16>(v == -1 ? 1 : v);
    return 0;
}

int GetModuleCfg() { return GetModuleCfgFrom(CN_OMP_CFG_FILE); }

WORD16 CN_GetUpmModuleNum() { return g_upm_ModuleNum; }
