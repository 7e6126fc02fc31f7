// controller_client.h - the controller's side of the control port for system tests: one TCP
// connection to 127.0.0.1, request lines out, reply lines in. Owned by one thread.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace ctrltest {

class ControllerClient {
public:
    ControllerClient() = default;
    ~ControllerClient();
    ControllerClient(const ControllerClient&) = delete;
    ControllerClient& operator=(const ControllerClient&) = delete;

    // Connects to 127.0.0.1:port, retrying until a connection stays open or `timeout` passes.
    bool connect(int port, std::chrono::milliseconds timeout);
    // Closes the connection (connect() may be called again).
    void disconnect();
    // Sends all of `bytes` (blocking).
    bool send_all(const std::string& bytes);
    // The next reply line without its newline, or nothing after `timeout`.
    std::optional<std::string> read_line(std::chrono::milliseconds timeout);
    // True when no byte arrives within `window` (nothing held either).
    bool quiet(std::chrono::milliseconds window);

private:
    int fd_ = -1;
    std::string held_;
};

}  // namespace ctrltest
