#include "replay/replay.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <istream>
#include <ostream>
#include <sstream>
#include <vector>

#include "selector_site.h"
#include "zub_public.h"
#include "zub_selector.h"
#include "zub_selector_job.h"

namespace replay {

namespace {

constexpr WORD64 kTickMs = 10;

class NoPort : public SelectorJobPort {
public:
    void answer_start() override {}
    WORD32 start_loop_timer(BYTE, WORD32, WORD32) override { return 1; }
};

bool set_config(context_t& c, const std::string& name, double v)
{
    struct Int { const char* name; int* field; };
    const Int ints[] = {{"zubWirelessSync", &c.zubWirelessSync},
                        {"zubFPIRF", &c.zubFPIRF},
                        {"zubSolveWaitTime", &c.zubSolveWaitTime},
                        {"zubSolver3D", &c.zubSolver3D},
                        {"zeroAlgorithmEnable", &c.zeroAlgorithmEnable},
                        {"enable_motion_filter", &c.enable_motion_filter},
                        {"min_mulitiple", &c.min_mulitiple},
                        {"single_blink_count", &c.single_blink_count},
                        {"single_blink_expire", &c.single_blink_expire},
                        {"filter", &c.filter}};
    for (const Int& f : ints) {
        if (name == f.name) {
            *f.field = static_cast<int>(v);
            return true;
        }
    }
    if (name == "toa_ignore_time") {
        c.toa_ignore_time = static_cast<WORD16>(v);
    } else if (name == "max_position_variance") {
        c.max_position_variance = static_cast<float>(v);
    } else if (name == "max_human_speed") {
        c.max_human_speed = static_cast<float>(v);
    } else if (name == "tad_id_prefix") {
        c.tad_id_prefix = static_cast<WORD64>(v);
    } else if (name == "ground_clearance") {
        c.ground_clearance = v;
    } else {
        return false;
    }
    return true;
}

bool parse_hex_bytes(std::istringstream& s, std::vector<BYTE>& out)
{
    std::string all;
    std::string word;
    while (s >> word) {
        all += word;
    }
    if (all.empty() || all.size() % 2 != 0 || all.size() > 2 * 0xFFFF) {
        return false;
    }
    for (size_t i = 0; i < all.size(); i += 2) {
        unsigned v = 0;
        if (std::sscanf(all.c_str() + i, "%2x", &v) != 1 || !std::isxdigit(static_cast<unsigned char>(all[i])) ||
            !std::isxdigit(static_cast<unsigned char>(all[i + 1]))) {
            return false;
        }
        out.push_back(static_cast<BYTE>(v));
    }
    return true;
}

class Replayer {
public:
    explicit Replayer(std::ostream& out) : out_(out)
    {
        SelectorEnv env;
        env.now_ms = [this] { return now_; };
        env.send = [this](WORD32 event, const void* data, WORD16 len) { print(event, data, len); };
        sel_.set_env(std::move(env));
    }

    // Empty on success, else the reason.
    std::string line(const std::string& text)
    {
        std::istringstream s(text);
        std::string verb;
        if (!(s >> verb) || verb[0] == '#') {
            return "";
        }
        context_t& c = *zub_context();
        if (verb == "config") {
            std::string name;
            double v = 0;
            if (!(s >> name >> v) || !set_config(c, name, v)) {
                return "config wants a known name and a number";
            }
        } else if (verb == "anchor") {
            unsigned id = 0;
            WORD64 hw = 0;
            double x = 0, y = 0, z = 0;
            unsigned mode = 0;
            if (!(s >> id >> std::hex >> hw >> std::dec >> x >> y >> z >> mode) || id >= ZUB_MAX_ANCHOR_NUM) {
                return "anchor wants <id below 10000> <hex hardware id> <x> <y> <z> <mode>";
            }
            add_anchor(static_cast<WORD16>(id), hw, x, y, z, static_cast<BYTE>(mode));
        } else if (verb == "sync") {
            unsigned slave = 0, slot = 0, master = 0;
            double x0 = 0, x1 = 0, tx = 0, rx = 0;
            if (!(s >> slave >> slot >> master >> x0 >> x1 >> tx >> rx) || slave >= ZUB_MAX_ANCHOR_NUM ||
                master >= ZUB_MAX_ANCHOR_NUM || slot >= ZUB_MAX_MASTERS) {
                return "sync wants <slave> <slot below 16> <master> <x0> <x1> <prevTxTime> <prevRxTime>";
            }
            selector_site::publish_sync(static_cast<WORD16>(slave), slot, static_cast<WORD16>(master), now_,
                                        selector_site::SyncFilter{x0, x1, tx, rx}, true);
        } else if (verb == "at") {
            WORD64 ms = 0;
            if (!(s >> ms) || ms < now_) {
                return "at wants a time in ms, not before the current one";
            }
            advance(ms);
        } else if (verb == "msg") {
            std::vector<BYTE> m;
            if (!parse_hex_bytes(s, m)) {
                return "msg wants an even number of hex digits";
            }
            zub_selector_step(sel_, port_, ZUB_SELECTOR_STATE_RUN, ZUB_EV_MANAGER_XX_ANCHOR_MSG, m.data(),
                              static_cast<WORD32>(m.size()), 0);
        } else {
            return "unknown line";
        }
        return "";
    }

private:
    // The configuration index is the id; the distance matrix follows every anchor added.
    static void add_anchor(WORD16 id, WORD64 hw, double x, double y, double z, BYTE mode)
    {
        selector_site::place_anchor(id, hw, x, y, z, mode, id);
        Selector::ComputeGlobalDistanceMatrix(0);
    }

    void advance(WORD64 ms)
    {
        for (WORD64 tick = (now_ / kTickMs + 1) * kTickMs; tick <= ms; tick += kTickMs) {
            now_ = tick;
            zub_selector_timeout(zub_timer_para_solve(), sel_);
        }
        now_ = ms;
    }

    static WORD32 zub_timer_para_solve() { return static_cast<WORD32>(ZUB_TIMER_TYPE_SOLVE) << 24; }

    void print(WORD32 event, const void* data, WORD16 len)
    {
        char line[256];
        if (event == ZUB_EV_SELECTOR_DISPLAY_TAG_LOC && len == sizeof(msg_position_t)) {
            msg_position_t m{};
            std::memcpy(&m, data, sizeof m);
            std::snprintf(line, sizeof line, "loc %" PRIu64 " mode=%u tag=%" PRIx64 " anchor=%" PRIx64 " x=%d y=%d z=%d",
                          now_, m.anchor_mode, static_cast<WORD64>(m.tag_id), static_cast<WORD64>(m.anchor_id),
                          static_cast<int>(m.x), static_cast<int>(m.y), static_cast<int>(m.z));
        } else if (event == ZUB_EV_SELECTOR_DISPLAY_TAG_EXT && len == sizeof(msg_imu_t)) {
            msg_imu_t m{};
            std::memcpy(&m, data, sizeof m);
            std::snprintf(line, sizeof line,
                          "ext %" PRIu64 " tag=%" PRIx64 " anchor=%" PRIx64 " power=%u temperature=%d heart_rate=%u warn=%u",
                          now_, static_cast<WORD64>(m.tagId), static_cast<WORD64>(m.anchor_id),
                          static_cast<unsigned>(m.power), static_cast<int>(m.temperature),
                          static_cast<unsigned>(m.heart_rate), static_cast<unsigned>(m.warn_type));
        } else {
            std::snprintf(line, sizeof line, "event %x of %u bytes", event, len);
        }
        out_ << line << '\n';
    }

    std::ostream& out_;
    Selector sel_;
    NoPort port_;
    WORD64 now_ = 0;
};

}  // namespace

bool run(std::istream& in, std::ostream& out, std::string& error)
{
    Replayer r(out);
    std::string text;
    for (unsigned n = 1; std::getline(in, text); ++n) {
        const std::string why = r.line(text);
        if (!why.empty()) {
            error = "line " + std::to_string(n) + ": " + why;
            return false;
        }
    }
    return true;
}

}  // namespace replay
