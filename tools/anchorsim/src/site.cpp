#include "anchorsim/site.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace anchorsim {

namespace {

bool parse_double(const std::string& s, double* out)
{
    if (s.empty()) {
        return false;
    }
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || !std::isfinite(v)) {
        return false;
    }
    *out = v;
    return true;
}

bool parse_hex(const std::string& s, uint64_t* out)
{
    std::string digits = s;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
    }
    if (digits.empty() || digits.size() > 16 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    *out = std::strtoull(digits.c_str(), nullptr, 16);
    return true;
}

bool parse_vec(const std::string& s, Vec3* out)
{
    std::stringstream in(s);
    std::string part;
    int n = 0;
    while (std::getline(in, part, ',')) {
        if (n == 3 || !parse_double(part, &(*out)[static_cast<size_t>(n)])) {
            return false;
        }
        ++n;
    }
    return n == 3;
}

bool parse_path(const std::string& s, std::vector<Vec3>* out)
{
    std::stringstream in(s);
    std::string point;
    while (std::getline(in, point, ';')) {
        Vec3 v{};
        if (!parse_vec(point, &v)) {
            return false;
        }
        out->push_back(v);
    }
    return !out->empty();
}

using Fields = std::map<std::string, std::string>;

bool split_fields(std::istream& in, Fields* fields, std::string* bad)
{
    std::string token;
    while (in >> token) {
        const size_t eq = token.find('=');
        if (eq == std::string::npos || eq == 0) {
            *bad = token;
            return false;
        }
        (*fields)[token.substr(0, eq)] = token.substr(eq + 1);
    }
    return true;
}

bool take_flag(const Fields& f, const char* key, bool* out)
{
    const auto it = f.find(key);
    if (it == f.end()) {
        return true;
    }
    if (it->second != "0" && it->second != "1") {
        return false;
    }
    *out = it->second == "1";
    return true;
}

bool take_optional(const Fields& f, const char* key, std::optional<double>* out)
{
    const auto it = f.find(key);
    if (it == f.end()) {
        return true;
    }
    double v = 0;
    if (!parse_double(it->second, &v)) {
        return false;
    }
    *out = v;
    return true;
}

std::string anchor_line(const Fields& f, AnchorSpec* a)
{
    static const std::set<std::string> keys = {"id", "ip", "pos", "port", "master", "follows", "offset",
                                               "ppm", "drift", "silent", "version"};
    for (const auto& [k, v] : f) {
        if (keys.count(k) == 0) {
            return "unknown key " + k;
        }
    }
    if (!f.count("id") || !parse_hex(f.at("id"), &a->hw_id) || a->hw_id == 0) {
        return "anchor needs id=<non-zero hex>";
    }
    if (!f.count("pos") || !parse_vec(f.at("pos"), &a->pos)) {
        return "anchor needs pos=x,y,z";
    }
    if (f.count("ip")) {
        a->ip = f.at("ip");
    }
    if (f.count("port")) {
        double p = 0;
        if (!parse_double(f.at("port"), &p) || p < 0 || p > 65535 || p != std::floor(p)) {
            return "bad port";
        }
        a->port = static_cast<uint16_t>(p);
    }
    if (f.count("follows")) {
        std::stringstream in(f.at("follows"));
        std::string id;
        while (std::getline(in, id, ',')) {
            uint64_t m = 0;
            if (!parse_hex(id, &m)) {
                return "bad follows id " + id;
            }
            a->follows.push_back(m);
        }
    }
    if (!take_flag(f, "master", &a->ccp_master) || !take_flag(f, "silent", &a->silent)) {
        return "flags take 0 or 1";
    }
    if (!take_optional(f, "offset", &a->offset_s) || !take_optional(f, "ppm", &a->rate_ppm) ||
        !take_optional(f, "drift", &a->drift_ppm_per_s)) {
        return "bad clock number";
    }
    if (a->rate_ppm && std::fabs(*a->rate_ppm) > kMaxRatePpm) {
        return "clock rate beyond 20 ppm";
    }
    if (f.count("version")) {
        a->version = f.at("version");
    }
    return "";
}

std::string tag_line(const Fields& f, TagSpec* t)
{
    static const std::set<std::string> keys = {"id", "rate", "pos", "path", "speed", "imu", "short", "ranging", "start"};
    for (const auto& [k, v] : f) {
        if (keys.count(k) == 0) {
            return "unknown key " + k;
        }
    }
    if (!f.count("id") || !parse_hex(f.at("id"), &t->id)) {
        return "tag needs id=<hex>";
    }
    if (f.count("rate") && (!parse_double(f.at("rate"), &t->rate_hz) || t->rate_hz <= 0 || t->rate_hz > 1000)) {
        return "rate must be in (0, 1000] Hz";
    }
    if (f.count("pos") == f.count("path")) {
        return "tag needs either pos=x,y,z or path=x,y,z;x,y,z;...";
    }
    if (f.count("pos")) {
        Vec3 p{};
        if (!parse_vec(f.at("pos"), &p)) {
            return "bad pos";
        }
        t->path = {p};
    } else if (!parse_path(f.at("path"), &t->path)) {
        return "bad path";
    }
    if (f.count("speed") && (!parse_double(f.at("speed"), &t->speed) || t->speed < 0)) {
        return "bad speed";
    }
    if (f.count("start") && (!parse_double(f.at("start"), &t->start_s) || t->start_s < 0)) {
        return "bad start";
    }
    if (!take_flag(f, "imu", &t->imu) || !take_flag(f, "ranging", &t->ranging)) {
        return "flags take 0 or 1";
    }
    t->short_id = static_cast<uint16_t>(t->id);
    if (f.count("short")) {
        uint64_t s = 0;
        if (!parse_hex(f.at("short"), &s) || s > 0xFFFF) {
            return "bad short id";
        }
        t->short_id = static_cast<uint16_t>(s);
    }
    return "";
}

std::string setting_line(const std::string& item, std::istream& in, SiteModel* site)
{
    std::string value;
    std::string extra;
    if (!(in >> value) || (in >> extra)) {
        return item + " takes one value";
    }
    double v = 0;
    if (!parse_double(value, &v)) {
        return "bad number " + value;
    }
    if (item == "seed") {
        if (v < 0 || v != std::floor(v)) {
            return "seed is a whole number";
        }
        site->seed = static_cast<uint64_t>(v);
    } else if (item == "ccp_interval") {
        if (v < 0.001) {
            return "ccp_interval below 1 ms";
        }
        site->ccp_interval_s = v;
    } else if (item == "noise_ns") {
        if (v < 0) {
            return "negative noise";
        }
        site->noise_ns = v;
    } else {
        if (v < 0 || v > 1023) {
            return "first_path outside 0..1023";
        }
        site->first_path = static_cast<int>(v);
    }
    return "";
}

std::string check_site(const SiteModel& site)
{
    std::set<uint64_t> ids;
    for (const AnchorSpec& a : site.anchors) {
        if (!ids.insert(a.hw_id).second) {
            return "anchor listed twice";
        }
    }
    for (const AnchorSpec& a : site.anchors) {
        for (uint64_t m : a.follows) {
            if (!ids.count(m) || m == a.hw_id) {
                return "follows= names no other anchor of the site";
            }
        }
    }
    std::set<uint64_t> tags;
    for (const TagSpec& t : site.tags) {
        if (!tags.insert(t.id).second) {
            return "tag listed twice";
        }
    }
    return "";
}

}  // namespace

double distance(const Vec3& a, const Vec3& b)
{
    const double dx = a[0] - b[0];
    const double dy = a[1] - b[1];
    const double dz = a[2] - b[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

int anchor_index(const SiteModel& site, uint64_t hw_id)
{
    for (size_t i = 0; i < site.anchors.size(); ++i) {
        if (site.anchors[i].hw_id == hw_id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool parse_site(const std::string& text, SiteModel* out, std::string* error)
{
    SiteModel site;
    std::stringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        const size_t hash = line.find('#');
        if (hash != std::string::npos) {
            line.resize(hash);
        }
        std::stringstream in(line);
        std::string item;
        if (!(in >> item)) {
            continue;
        }
        std::string problem;
        if (item == "anchor" || item == "tag") {
            Fields fields;
            std::string bad;
            if (!split_fields(in, &fields, &bad)) {
                problem = "expected key=value, got " + bad;
            } else if (item == "anchor") {
                AnchorSpec a;
                problem = anchor_line(fields, &a);
                site.anchors.push_back(a);
            } else {
                TagSpec t;
                problem = tag_line(fields, &t);
                site.tags.push_back(t);
            }
        } else if (item == "seed" || item == "ccp_interval" || item == "noise_ns" || item == "first_path") {
            problem = setting_line(item, in, &site);
        } else {
            problem = "unknown item " + item;
        }
        if (!problem.empty()) {
            *error = "line " + std::to_string(number) + ": " + problem;
            return false;
        }
    }
    const std::string problem = check_site(site);
    if (!problem.empty()) {
        *error = problem;
        return false;
    }
    if (site.anchors.empty()) {
        *error = "no anchor";
        return false;
    }
    *out = site;
    return true;
}

bool load_site_file(const std::string& path, SiteModel* out, std::string* error)
{
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read " + path;
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    if (!parse_site(text.str(), out, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

}  // namespace anchorsim
