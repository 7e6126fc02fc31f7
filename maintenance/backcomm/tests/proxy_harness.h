// proxy_harness.h - what the link tests need around the proxy: a reactor on a thread of its own,
// a job port that records what links hand over, and a peer on a plain TCP socket.
//
// The reactor thread runs the links; the test thread drives the peer and reads the port.
#pragma once

#include <ace/Reactor.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backcomm_job_port.h"
#include "omc_msg_head.h"

using Bytes = std::vector<BYTE>;

class ReactorThread {
public:
    ReactorThread();
    ~ReactorThread();
    ACE_Reactor* get() { return reactor_.get(); }

private:
    std::unique_ptr<ACE_Reactor> reactor_;
    std::thread thread_;
};

class FakeJobPort final : public BackCommJobPort {
public:
    explicit FakeJobPort(JID self) : self_(self) {}
    JID self_jid() const override { return self_; }
    int hand_over(ACE_Message_Block* block) override;

    // Waits until n blocks were handed over; a copy of them (header and data).
    std::vector<Bytes> wait_for(std::size_t n, std::chrono::milliseconds limit);
    std::size_t count();
    void refuse(bool on);

private:
    JID self_;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<Bytes> blocks_;
    bool refuse_ = false;
};

class Peer {
public:
    explicit Peer(std::uint16_t port, int rcvbuf = 0);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool connected() const { return fd_ >= 0; }
    void send(const Bytes& bytes);
    // Exactly n bytes, or fewer when the link closes or the time runs out.
    Bytes recv_exact(std::size_t n, std::chrono::milliseconds limit);
    // Up to n bytes that are there now, waiting at most limit for the first.
    Bytes recv_some(std::size_t n, std::chrono::milliseconds limit);
    // True when the program closes the link within limit (input arriving meanwhile is dropped).
    bool closed_within(std::chrono::milliseconds limit);
    // Aborts the connection with a reset.
    void reset();
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

// A message as a peer writes it; big_endian writes every multi-byte field reversed.
Bytes peer_frame(WORD32 id, const JID& sender, const JID& receiver, const Bytes& body, bool big_endian = false);
Bytes registration(WORD16 module, bool big_endian = false);
JID peer_jid(WORD16 module);  // a peer's own JID: route type 5
JID local_jid(WORD16 job_type, WORD16 module);
Bytes bytes_of(const std::string& text);
Bytes head_bytes(const T_OMCMsgHead& head);

// Polls until pred holds or the time runs out.
template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The next message from the program other than a heartbeat (head and body), empty on timeout.
Bytes next_message(Peer& peer, std::chrono::milliseconds limit);

// Runs fn on the reactor's thread (as a notification) and waits for it; false on time-out.
bool run_on_reactor(ACE_Reactor* reactor, const std::function<void()>& fn);
