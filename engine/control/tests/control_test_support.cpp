#include "control_test_support.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "zub_anchor.h"
#include "zub_print.h"
#include "zub_shared_field.h"

namespace ctl {

namespace {

std::mutex g_mutex;
std::vector<std::string> g_lines;

void sink(BYTE, const char*, int, const char* text)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.emplace_back(text);
}

}  // namespace

TempDir::TempDir()
{
    char buf[] = "/tmp/zub_control_test_XXXXXX";
    if (mkdtemp(buf) != nullptr) {
        path_ = buf;
    }
    previous_ = std::filesystem::current_path().string();
    std::filesystem::current_path(path_);
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
    std::filesystem::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& text) const
{
    std::ofstream out(path_ + "/" + name, std::ios::binary);
    out << text;
}

Prints::Prints()
{
    clear();
    zub_print_set_sink(sink);
}

Prints::~Prints() { zub_print_set_sink(nullptr); }

std::vector<std::string> Prints::lines() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_lines;
}

size_t Prints::count_of(const std::string& text) const
{
    size_t n = 0;
    for (const std::string& line : lines()) {
        n += line == text ? 1 : 0;
    }
    return n;
}

void Prints::clear()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.clear();
}

FakePorts::FakePorts()
{
    ControlPorts& p = zub_control_ports();
    p.send_to_anchor = [this](const BYTE* buf, WORD16 len, Anchor* anchor) {
        if (anchor == nullptr || anchor->link_socket() == 0) {
            return false;
        }
        frames.push_back(SentFrame{anchor->id, std::vector<BYTE>(buf, buf + len)});
        return true;
    };
    p.send_to_controller = [this](const std::string* text) {
        replies.push_back(*text);
        return true;
    };
    p.send_event = [this](WORD32 msg, const JID* dst) {
        events.emplace_back(msg, *dst);
        return true;
    };
    p.set_timer = [this](BYTE type, WORD32, WORD32 seconds) {
        if (refuse_timers) {
            return WORD32{0xFFFFFFFF};
        }
        timers_set.emplace_back(type, seconds);
        return next_timer++;
    };
    p.del_timer = [this](WORD32 id) {
        timers_deleted.push_back(id);
        return true;
    };
    p.set_print_flag = [this](BYTE flag) { print_flags.push_back(flag); };
    p.sleep_seconds = [this](unsigned s) { sleeps.push_back(s); };
    p.exit_process = [this](int status) { exits.push_back(status); };
    p.compute_distance_matrix = [this](bool) { ++distance_matrix_calls; };
    p.now_ms = [this] { return now_ms; };
}

FakePorts::~FakePorts() { zub_control_ports() = zub_control_real_ports(); }

std::vector<std::vector<BYTE>> FakePorts::frames_to(WORD16 anchor_id) const
{
    std::vector<std::vector<BYTE>> out;
    for (const SentFrame& f : frames) {
        if (f.anchor_id == anchor_id) {
            out.push_back(f.bytes);
        }
    }
    return out;
}

}  // namespace ctl
