// hostile.h - a misbehaving peer of the location engine, on loopback: a controller that floods
// the control port with one request line (reading its replies slowly or never), a fake anchor
// whose link carries whatever bytes are handed to it (valid frames or noise) and counts what the
// engine sends it, a controller that stops reading and closing, a report client that talks to a
// port that only sends, another local process that forges job messages as datagrams, an operator
// who leaves something odd at a trace file's path, and the measures a run takes (resident memory,
// log size, gaps in a tag's positions). Plain functions and one class; each object belongs to the
// thread that made it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "roadbench/road_client.h"

namespace hostile {

// The request a flooding controller repeats.
constexpr const char* kFloodLine = "<req type=\"anchor list\"/>\n";

struct FloodResult {
    bool connected = false;
    uint64_t bytes_written = 0;  // request bytes the engine's link took
    uint64_t reply_bytes = 0;    // reply bytes read
    double last_write_s = 0.0;   // when the link last took request bytes
};

// Connects to 127.0.0.1:port and writes `line` over and over, as fast as the link takes it, for
// `seconds`; meanwhile reads at most `read_bytes_per_s` of replies a second (0: never reads).
// Then closes the connection (unread replies make that a reset), or, given `kept_open`, leaves
// it open, neither read nor closed, its descriptor there for the caller to close.
FloodResult flood_controller(uint16_t port, const std::string& line, double seconds, size_t read_bytes_per_s,
                             int* kept_open = nullptr);

// Waits without reading until the peer of `fd` closes or resets it: the time it did (now_s), or
// a negative number when it has not after timeout_s.
double wait_peer_closed(int fd, double timeout_s);

// Connects to 127.0.0.1:port and writes `count` pseudo-random bytes (from `seed`), giving up
// after `timeout_s`; the bytes written.
uint64_t push_noise(uint16_t port, uint64_t count, uint64_t seed, double timeout_s);

// `count` pseudo-random bytes; the same seed gives the same bytes.
std::vector<uint8_t> noise(size_t count, uint64_t seed);

// What an anchor that repeats one frame saw meanwhile.
struct AnchorFloodResult {
    uint64_t frames_written = 0;          // whole frames the engine's link took
    std::vector<double> start_frames_at;  // when each start frame (57 01) was read (reading anchors)
};

// A fake anchor for the engine to link to: listens on ip:port, takes the engine's link and
// writes on it what it is given. It answers no command (commands it receives are read and
// dropped while it writes).
class RawAnchor {
public:
    RawAnchor() = default;
    ~RawAnchor();
    RawAnchor(const RawAnchor&) = delete;
    RawAnchor& operator=(const RawAnchor&) = delete;

    // False with a message when the address cannot be bound.
    bool listen(const std::string& ip, uint16_t port, std::string* error);
    // Waits for the engine's link (a newer link replaces an older one); false after timeout_s.
    bool wait_link(double timeout_s);
    // Writes all of `bytes` on the link within timeout_s.
    bool write(const std::vector<uint8_t>& bytes, double timeout_s);
    // Writes `count` pseudo-random bytes in pieces within timeout_s; the bytes written.
    uint64_t write_noise(uint64_t count, uint64_t seed, double timeout_s);
    // Reads what the engine sends for `seconds`; the bytes it has sent on the link so far.
    uint64_t commands_after(double seconds);
    // Writes `frame` over and over, as fast as the link takes it, for `seconds`; reads what the
    // engine sends meanwhile when `reading`, and never otherwise.
    AnchorFloodResult flood(const std::vector<uint8_t>& frame, double seconds, bool reading);
    // Drops what the engine sent so far, writes `bytes` and reads until the engine's bytes hold
    // `answer`: the seconds that took, or a negative number when it did not come within timeout_s.
    double exchange(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& answer, double timeout_s);

private:
    bool write_some(const uint8_t* data, size_t len, double give_up);
    int listen_fd_ = -1;
    int link_fd_ = -1;
    uint64_t received_ = 0;
};

// Bytes in the regular files of `dir` (not recursive) plus the file `also` (may be empty).
uint64_t log_bytes(const std::string& dir, const std::string& also);

// The longest time between records of `tag` within [from_s, to_s], counting the window's
// edges as records: a tag that never appears has a gap of the whole window.
double longest_gap_s(const std::vector<roadbench::PositionRecord>& records, uint64_t tag, double from_s, double to_s);

// Sends one request line on a new controller link (again while the engine refuses the link) and
// waits for a whole reply line holding `needle`: the seconds it took, with that line (without
// its newline) in *reply, or a negative number when none came within timeout_s.
double ask(uint16_t port, const std::string& line, const std::string& needle, double timeout_s, std::string* reply);

// Asks as `ask` does, again and again a fifth of a second after each answer, until until_s.
struct AskResult {
    unsigned asked = 0;
    unsigned unanswered = 0;  // not answered within timeout_s
    double worst_s = 0.0;     // the longest an answer took
};
AskResult ask_until(uint16_t port, const std::string& line, const std::string& needle, double until_s,
                    double timeout_s);

// The least time between two of `times` (in order); a negative number for fewer than two.
double least_gap_s(const std::vector<double>& times);

// Job messages forged as intra-board datagrams to the engine, each a kind that acted when any
// local process could send it; the header names qes_omp's sequencer as the sender.
enum class Forged {
    recon_start,       // 0x20001 to the reconnection job: its start complete
    recon_link,        // 0x20002 to the reconnection job: a link event of local anchor 0
    recon_rcvlen,      // 4 to the reconnection job: a receive-length line of local anchor 0
    socket_20k,        // a message of 20,436 bytes to the socket job, which never reads its queue
    display_position,  // 0x70000 to the display job: a position of kForgedTag
    control_range,     // 3 to the control job: a final range report (0x84) of local anchor 0
};
constexpr Forged kForgedKinds[] = {Forged::recon_start,  Forged::recon_link,       Forged::recon_rcvlen,
                                   Forged::socket_20k,   Forged::display_position, Forged::control_range};
constexpr uint64_t kForgedTag = 0x0f0f0f0f12345678;
const char* forged_name(Forged kind);
// Header and body of one datagram of the kind.
std::vector<uint8_t> forged_datagram(Forged kind);
// Sends `count` datagrams of the kind to 127.0.0.1:port from a socket of its own (an ephemeral
// port), pausing 1 ms after every 128 KiB; the number sent.
uint64_t send_forged(uint16_t port, Forged kind, uint64_t count);

// What a careless operator may leave at a trace file's path.
enum class TraceFile {
    fifo,       // a FIFO nobody writes to
    dev_zero,   // a symbolic link to /dev/zero
    no_blanks,  // a regular file of `mib` MiB of hexadecimal digits without a blank
};
// Replaces whatever lies at `path` by the kind (its folder made when missing); false when it
// cannot be made.
bool place_trace_file(const std::string& path, TraceFile kind, uint64_t mib);

}  // namespace hostile
