// anchor_bank.h - a few fake anchors (anchorsim's AnchorServer) on their own loopback
// addresses, served by one poll thread, for system tests: the engine links to them, each new
// link asks for its configuration ('B'), and every command the engine sends is recorded.
//
// The poll thread owns the servers; the test thread reaches them only through the methods
// here, which take the bank's lock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "anchorsim/anchor_server.h"

namespace ctrltest {

struct FakeAnchor {
    uint64_t hw_id;
    std::string ip;
};

class AnchorBank {
public:
    AnchorBank() = default;
    ~AnchorBank();
    AnchorBank(const AnchorBank&) = delete;
    AnchorBank& operator=(const AnchorBank&) = delete;

    // Listens on ip:3000 for each anchor and starts serving; false with a message.
    bool open(const std::vector<FakeAnchor>& anchors, std::string* error);
    // The commands anchor i has received so far, whole, in order.
    std::vector<anchorsim::Bytes> commands(size_t i);
    bool connected(size_t i);
    // Waits until every anchor has a link; false after `timeout`.
    bool wait_all_connected(std::chrono::milliseconds timeout);
    // Waits until anchor i has received at least `count` commands; false after `timeout`.
    bool wait_commands(size_t i, size_t count, std::chrono::milliseconds timeout);
    // Sends one framed payload on anchor i's link (the anchor must have been started).
    bool send(size_t i, const anchorsim::Bytes& payload);

private:
    void serve();

    std::mutex lock_;
    std::vector<std::unique_ptr<anchorsim::AnchorServer>> servers_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace ctrltest
