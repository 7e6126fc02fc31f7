// comm_test_support.h - a job platform running the engine's job table with probe jobs in
// place of the engine's entries, a recorder of what each probe job received, a way to run code
// inside a job (on its own task thread, as its current job), the socket job's reactor run on
// the socket job's thread, loopback stand-ins for anchors, and a capture of engine prints.
//
// The process enters a network namespace of its own in main (when the system allows it), so
// the fixed intra-board port and the anchors' port 3000 on 127.0.0.x are free to use; tests
// that need that call ct::require_private_netns() and skip otherwise. The working directory is
// a fresh temporary one, so the trace log's files land there.
//
// Threads: the recorder and the capture are locked; run_on_job may be called from any thread
// that is not the target job's own.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>

#include "VorlenComm.h"
#include "job_probe.h"
#include "pub_pqe_jobtype.h"
#include "qk_reactor.h"
#include "zub_print_capture.h"

class Anchor;

namespace ct {

using namespace std::chrono_literals;

constexpr WORD16 kTypeScs = 0x0000;
constexpr WORD16 kTypeNotExist = 0x0001;
constexpr WORD16 kTaskCount = 28;
constexpr int kAnchorPort = 3000;

// The engine's job table: its 29 rows with their types, tasks, names, sizes and flags; every
// engine row runs the probe entry instead of the engine job.
const T_JobCreatReg* engine_probe_table();

// The probe jobs, their recorder and in-job execution are the shared job probe's.
using probe::Call;
using probe::local_jid;
using probe::Recorder;

// Runs fn inside job jobType and waits for it; false when it could not be queued or did not
// finish within the time-out.
inline bool run_on_job(WORD16 jobType, const std::function<void()>& fn, std::chrono::milliseconds timeout = 30s)
{
    return probe::run_on_job(jobType, fn, timeout);
}

// The platform of this process (started once by the test main's environment).
bool private_netns();
// Skips the calling test unless the process has a network namespace of its own.
#define CT_REQUIRE_PRIVATE_NETNS()                                                            \
    do {                                                                                      \
        if (!ct::private_netns()) {                                                           \
            GTEST_SKIP() << "no network namespace of our own: the anchors' port 3000 on "     \
                            "127.0.0.x cannot be used safely";                                \
        }                                                                                     \
    } while (0)

// Engine prints captured while an object lives.
using PrintCapture = zub_print_capture;

// What the socket job's reactor read from one anchor link.
struct ReadLog {
    std::vector<BYTE> bytes;
    std::vector<WORD32> link_socket_seen;  // the anchor's recorded socket at each callback
    std::vector<int> fds;                  // the descriptor of each callback
    bool eof = false;
};

// The socket job's reactor: created here, stored in the context's reactor_info with a read
// callback for anchor links, and run on the socket job's own thread (as the engine runs it).
// The read callback keeps what it reads; at end of stream it closes the link, as the frame
// reader does, unless told not to.
class SocketJobReactor {
public:
    SocketJobReactor();
    ~SocketJobReactor();
    SocketJobReactor(const SocketJobReactor&) = delete;
    SocketJobReactor& operator=(const SocketJobReactor&) = delete;

    bool ok() const { return ok_; }
    reactor_handle_t* handle() const { return handle_; }
    static void set_close_on_eof(bool on);
    static ReadLog read_log(const Anchor* anchor);
    // Waits until the anchor's link has delivered at least n bytes; false on time-out.
    static bool wait_bytes(const Anchor* anchor, size_t n, std::chrono::milliseconds timeout);
    static bool wait_eof(const Anchor* anchor, std::chrono::milliseconds timeout);

private:
    reactor_handle_t* handle_ = nullptr;
    struct event* wake_ev_ = nullptr;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::function<void()> loop_;
    bool ok_ = false;
};

// A test with the socket job's reactor running and the recorder emptied; it skips outside a
// network namespace of its own. At its end the links of context anchors 0 .. linked - 1 are
// closed from the reconnection job, then the reactor stops.
class ReactorTest : public ::testing::Test {
protected:
    explicit ReactorTest(unsigned linked) : linked_(linked) {}
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<SocketJobReactor> reactor_;

private:
    unsigned linked_;
};

// A stand-in anchor: a TCP listener on 127.0.0.<host>:3000.
class FakeAnchor {
public:
    explicit FakeAnchor(int host, int backlog = 8);
    ~FakeAnchor();
    FakeAnchor(const FakeAnchor&) = delete;
    FakeAnchor& operator=(const FakeAnchor&) = delete;

    bool ok() const { return listen_fd_ >= 0; }
    in_addr address() const;
    // Accepts one connection within the time-out: its descriptor, or -1.
    int accept_one(std::chrono::milliseconds timeout);
    int listen_fd() const { return listen_fd_; }
    // Closes an accepted connection now (the anchor goes away).
    void close_peer(int fd);

private:
    int host_;
    int listen_fd_ = -1;
    std::vector<int> accepted_;
};

// Reads exactly n bytes from fd within the time-out (fewer on time-out or end of stream).
std::vector<BYTE> read_exactly(int fd, size_t n, std::chrono::milliseconds timeout);

// Prepares context anchor `index` as a configured anchor at 127.0.0.<host>, without a link.
Anchor* configure_anchor(unsigned index, int host);

// Number of open descriptors of this process.
int open_fd_count();

}  // namespace ct
