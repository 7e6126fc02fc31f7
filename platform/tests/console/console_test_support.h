// console_test_support.h - a console on a loopback ephemeral port of a platform brought up for
// each test (started the way a program would start it: a starter run on a CNCommTask), a plain
// socket client that reads exact byte counts, a capture of ACE's log lines, and the program's
// command hook as the tests supply it.
//
// Threads: the console runs on the platform's reactor thread; the client, the fixture and the
// log and hook records are used from the test thread (the records are locked).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace console_test {

// The twelve negotiation bytes, the greeting and the password prompt of a new session.
std::string greeting();

// One TCP connection to the console.
class Client {
public:
    Client() = default;
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Connects to 127.0.0.1:port; rcvbuf > 0 sets a small receive buffer first.
    bool connect_to(unsigned short port, int rcvbuf = 0);
    bool send(const std::string& bytes);
    // Reads exactly n bytes, or what came within the time-out.
    std::string read(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Reads until the console closes the connection (or the time-out).
    std::string read_to_eof(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Connects, takes the greeting and logs in with the console password.
    bool login(unsigned short port);
    // Reset on close instead of an orderly end.
    void set_abortive_close();
    void close();
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

// Commands the test hook has been called with, and its scripted answers:
//   "lines" -> "first", "second";  "flood" -> 100 lines "row000".."row099" but a count of 250.
std::vector<std::string> hook_calls();
void clear_hook_calls();

// ACE log lines (formatted, every thread) since the last clear.
std::string ace_log();
void clear_ace_log();
// Waits until the ACE log contains `text`.
bool wait_for_log(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The platform reactor on its own thread with a console listening on 127.0.0.1:<ephemeral>;
// the history is empty at the start of each test.
class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    unsigned short port_ = 0;
};

}  // namespace console_test
