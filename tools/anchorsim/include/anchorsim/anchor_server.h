// anchor_server.h - one fake anchor's side of its TCP link: it listens on its own address
// and port, accepts the engine's connection (again after every reconnect, a newer link
// replacing an older one), asks for its configuration ('B') on every new link, reads and
// records the commands it receives, and sends its reports only while the engine has started
// it ('W' 01, or a ranging start 'Z' / '['; 'W' 00 silences it). Fault switches close the
// link or the listener (also in the middle of a frame), stop reading, send garbage or a frame
// with a bad CRC or a wrong end byte, or keep the anchor silent; the clock-calibration reports
// can go out before the start command and stop at a moment or at a given command.
//
// Non-blocking sockets driven by one poll loop: every member is called from that loop's
// thread only.
#pragma once

#include <poll.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "anchorsim/commands.h"
#include "anchorsim/frames.h"

namespace anchorsim {

struct ReceivedCommand {
    double t = 0.0;  // run time when it was read
    Command command;
};

struct ServerStats {
    uint64_t links_accepted = 0;
    uint64_t frames_sent = 0;      // queued on a link
    uint64_t frames_dropped = 0;   // not queued: no link, not started, silent, or backlog full
    uint64_t clock_frames_sent = 0;  // of frames_sent: clock-calibration reports ('0', '1')
    uint64_t bytes_written = 0;
};

class AnchorServer {
public:
    // Frames waiting for a link that does not read are dropped whole beyond this backlog.
    static constexpr size_t kMaxBacklog = 16u << 20;

    AnchorServer(uint64_t hw_id, std::string version, std::string ip, uint16_t port);
    ~AnchorServer();
    AnchorServer(const AnchorServer&) = delete;
    AnchorServer& operator=(const AnchorServer&) = delete;

    // Starts listening; false with a message when the address cannot be bound. Port 0 takes
    // an ephemeral port (see port()).
    bool listen(std::string* error);
    uint16_t port() const { return port_; }
    uint64_t hw_id() const { return hw_id_; }
    bool connected() const { return conn_fd_ >= 0; }
    bool started() const { return started_; }
    bool ranging() const { return ranging_; }

    // The descriptors to poll, with their events, appended to `fds`; dispatch() then takes
    // the results of the same entries.
    void poll_set(std::vector<pollfd>* fds) const;
    void dispatch(const pollfd* fds, size_t n, double now);

    // Frames and queues one report when the link is up, started and not silent. A clock-
    // calibration report ('0' or '1') also needs the clock reports on, and goes out before the
    // start command too when they are set to.
    bool send_report(const Bytes& payload);
    // Queues `n` bytes of whole report frames (`frames` of them, encoded, no clock reports) as
    // send_report would each.
    bool send_frames(const uint8_t* bytes, size_t n, uint64_t frames);
    // Writes what the link can take now.
    void flush();
    // Bytes queued and not yet taken by the link.
    size_t backlog() const { return out_.size() - out_head_; }

    const std::vector<ReceivedCommand>& commands() const { return commands_; }
    const ServerStats& stats() const { return stats_; }

    // --- fault switches
    void drop_link();                  // close the link; the listener stays
    void set_listening(bool on);       // close or reopen the listener (off also drops the link)
    void set_reading(bool on);         // stop or resume reading commands
    void set_silent(bool on);          // send nothing at all, 'B' included
    void send_garbage(size_t n, std::mt19937_64& rng);  // n random bytes that start no frame
    void send_bad_crc(const Bytes& payload);            // a whole frame whose CRC is wrong
    void send_bad_etx(const Bytes& payload);            // a whole frame whose last byte is not ETX
    // Queues the frame of `payload`, writes what is queued up to the middle of that frame and
    // closes the link: the engine holds a cut frame when the link ends.
    void drop_link_mid_frame(const Bytes& payload);
    void set_clock_reports(bool on);        // stop or resume the clock-calibration reports
    void set_clock_before_start(bool on);   // clock reports from the link's opening on
    // The clock reports stop for good when a command with this code is read (-1: never).
    void stop_clock_on_command(int code);
    bool clock_reports() const { return clock_on_; }
private:
    void accept_link(double now);
    void read_commands(double now);
    void apply(const Command& c);
    void queue_bytes(const Bytes& b);
    void close_link();

    uint64_t hw_id_;
    std::string version_;
    std::string ip_;
    uint16_t port_;
    int listen_fd_ = -1;
    int conn_fd_ = -1;
    bool started_ = false;
    bool ranging_ = false;
    bool reading_ = true;
    bool silent_ = false;
    bool clock_on_ = true;
    bool clock_before_start_ = false;
    int clock_stop_code_ = -1;
    Bytes out_;
    size_t out_head_ = 0;
    CommandSplitter splitter_;
    std::vector<ReceivedCommand> commands_;
    ServerStats stats_;
};

}  // namespace anchorsim
