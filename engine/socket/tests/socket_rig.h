// socket_rig.h - the socket job's servers on the engine's probe platform (the other engine jobs
// are probe jobs that record what they receive): free ports configured in the context, the
// servers created on the socket job's thread, the reactor loop run there as the job runs it,
// and everything torn down again so each test starts afresh. The control job's probe takes over
// each controller line (and frees it), as the control job does.
//
// Threads: the rig's methods run on the test thread; the loop and the callbacks on the socket
// job's task thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "comm_test_support.h"
#include "zub_socket.h"

namespace srig {

using namespace std::chrono_literals;

// Nine ports nobody listens on at the moment.
std::array<WORD16, ZUB_SOCKET_TYPE_COUNT> free_ports();
// Writes the ports into the context's configuration fields, in table order.
void configure_ports(const std::array<WORD16, ZUB_SOCKET_TYPE_COUNT>& ports);

// The controller lines the control job's probe has taken over, in order.
std::vector<std::string> ctrl_lines();
// Starts recording (and freeing) controller lines afresh.
void take_ctrl_lines();
bool wait_ctrl_lines(size_t n, std::chrono::milliseconds timeout);
// While on, the control job's probe waits before it takes the next line (a busy control job).
void hold_ctrl_lines(bool on);

class Servers {
public:
    Servers();
    ~Servers();
    // zub_socket_create on the socket job's thread.
    bool create();
    // Takes over servers that the job's own entry created.
    void adopt() { created_ = true; }
    // The reactor loop on the socket job's thread until stop().
    bool run();
    // Ends the loop, removes every client, listening socket and event, frees the reactor.
    void stop();

private:
    std::function<void()> loop_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{true};
    bool created_ = false;
};

// A blocking TCP client of 127.0.0.1:port; -1 when the connect fails.
int connect_to(WORD16 port);
// True when the peer has closed (or reset) `fd` within the time-out.
bool peer_closed(int fd, std::chrono::milliseconds timeout);
// Clients listed for a type (1..8), or 1/0 for the controller (type 0).
unsigned listed(BYTE type);
// Waits until pred() holds; false on time-out.
bool wait_until(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

}  // namespace srig
