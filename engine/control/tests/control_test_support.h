// control_test_support.h - what the control tests share: a fresh temporary working folder with
// files written into it, a capture of engine prints, and fake platform ports that record every
// send, timer and print-flag change instead of reaching a platform.
//
// Threads: the test thread only (it stands in for the control job's thread).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "VorlenTypes.h"
#include "zub_control_ports.h"

class Anchor;

namespace ctl {

// Creates a temporary folder and makes it the working directory; removes it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    void write(const std::string& name, const std::string& text) const;

private:
    std::string path_;
    std::string previous_;
};

// Engine prints captured while the object lives.
class Prints {
public:
    Prints();
    ~Prints();
    Prints(const Prints&) = delete;
    Prints& operator=(const Prints&) = delete;
    std::vector<std::string> lines() const;
    size_t count_of(const std::string& text) const;
    void clear();
};

struct SentFrame {
    WORD16 anchor_id;
    std::vector<BYTE> bytes;
};

// Replaces zub_control_ports() with recording fakes; the real ones come back on destruction.
class FakePorts {
public:
    FakePorts();
    ~FakePorts();
    FakePorts(const FakePorts&) = delete;
    FakePorts& operator=(const FakePorts&) = delete;

    std::vector<SentFrame> frames;       // to anchors (only anchors with a link are sent to)
    std::vector<std::string> replies;    // to the controller
    std::vector<std::pair<WORD32, JID>> events;
    std::vector<std::pair<BYTE, WORD32>> timers_set;  // (type, seconds)
    std::vector<WORD32> timers_deleted;
    std::vector<BYTE> print_flags;
    std::vector<unsigned> sleeps;
    std::vector<int> exits;
    int distance_matrix_calls = 0;
    bool refuse_timers = false;
    WORD32 next_timer = 100;
    WORD64 now_ms = 1000000;  // the monotonic clock the handler reads

    std::vector<std::vector<BYTE>> frames_to(WORD16 anchor_id) const;
};

}  // namespace ctl
