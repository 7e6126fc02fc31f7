// display_fakes.h - stand-ins for the display job's surroundings in its unit tests: client
// lists whose clients record every send (and may take only part of it), a platform that
// records acknowledgements and timers, a fixed wall clock, captured engine prints and a
// temporary file root.
#pragma once

#include <cerrno>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "zub_display.h"
#include "zub_print.h"
#include "zub_print_capture.h"

namespace dt {

using Bytes = std::vector<BYTE>;

struct fake_client {
    unsigned slot = 0;
    int sock = 0;
    WORD64 generation = 0;
    size_t room = SIZE_MAX;  // bytes it takes before it stops reading
    int fail_errno = 0;      // a send error other than "would block"
    std::vector<Bytes> sends;
    Bytes received;
};

class fake_clients final : public display_clients {
public:
    fake_client& add(display_stream s, unsigned slot, int sock, WORD64 generation = 1)
    {
        fake_client c;
        c.slot = slot;
        c.sock = sock;
        c.generation = generation;
        lists_[s].push_back(c);
        return lists_[s].back();
    }
    fake_client& at(display_stream s, size_t i) { return lists_[s][i]; }
    void drop(display_stream s, int sock)
    {
        auto& l = lists_[s];
        for (auto it = l.begin(); it != l.end(); ++it) {
            if (it->sock == sock) {
                l.erase(it);
                return;
            }
        }
    }

    void for_each(display_stream s, const std::function<void(unsigned, int)>& visit) override
    {
        in_walk_ = true;
        for (const fake_client& c : lists_[s]) {
            visit(c.slot, c.sock);
        }
        in_walk_ = false;
    }
    ssize_t send(int sock, const BYTE* data, size_t len) override
    {
        fake_client* c = find(sock);
        if (c == nullptr) {
            errno = EBADF;
            return -1;
        }
        c->sends.emplace_back(data, data + len);
        if (c->fail_errno != 0) {
            errno = c->fail_errno;
            return -1;
        }
        if (c->room == 0) {
            errno = EAGAIN;
            return -1;
        }
        const size_t n = std::min(len, c->room);
        if (c->room != SIZE_MAX) {
            c->room -= n;
        }
        c->received.insert(c->received.end(), data, data + n);
        return static_cast<ssize_t>(n);
    }
    WORD64 identity(int sock) override
    {
        fake_client* c = find(sock);
        return c == nullptr ? 0 : static_cast<WORD64>(sock) * 1000 + c->generation;
    }
    void remove(display_stream s, int sock) override
    {
        removed.push_back({s, sock});
        removed_inside_walk = removed_inside_walk || in_walk_;
        drop(s, sock);
    }

    std::vector<std::pair<display_stream, int>> removed;
    bool removed_inside_walk = false;

private:
    fake_client* find(int sock)
    {
        for (auto& [s, l] : lists_) {
            for (fake_client& c : l) {
                if (c.sock == sock) {
                    return &c;
                }
            }
        }
        return nullptr;
    }

    std::map<display_stream, std::deque<fake_client>> lists_;  // references stay valid
    bool in_walk_ = false;
};

class fake_platform final : public display_platform {
public:
    void power_on_ack() override { ++acks; }
    void start_ok() override { ++start_oks; }
    void start_loop_timer_ms(BYTE type, WORD32 ms) override { timers.push_back({type, ms}); }

    int acks = 0;
    int start_oks = 0;
    std::vector<std::pair<BYTE, WORD32>> timers;
};

// Engine prints while it lives.
using print_capture = zub_print_capture;

// A fresh directory with cfg/ and log/ under it, removed at the end.
class temp_root {
public:
    temp_root();
    ~temp_root();
    const std::string& path() const { return path_; }
    void write(const std::string& rel, const std::string& text) const;
    std::string read(const std::string& rel) const;  // "" when missing
    bool exists(const std::string& rel) const;

private:
    std::string path_;
};

// Wall-clock ms of a UTC calendar time.
WORD64 utc_ms(int year, int month, int day, int hour, int minute, int second);

}  // namespace dt
