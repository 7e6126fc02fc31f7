// zub_ctrl_framing.h - the controller link's line framing: the bytes the one controller client
// sends are held in g_ctrl_rcv_data, cut into lines at newlines, and every complete line goes
// to the control job as ZUB_EV_SOCKET_CONTROL_MSG whose 8-byte body is the address of a heap
// copy of the line (NUL-terminated, without its newline); the control job frees it.
//
// Splitting follows strtok with the delimiter "\n": runs of newlines count as one, a carriage
// return stays in its line, a NUL byte ends the held text. An unfinished line moves to the
// buffer's start and is completed by later reads. A pending line may grow to
// ZUB_CTRL_PENDING_MAX bytes; one that passes it is dropped up to its next newline (printed),
// so a read never lands past the buffer.
//
// A line is handed over only while the gate says the control job may take one more (the
// controller flow, zub_ctrl_flow.h): otherwise the framer stalls, keeping that line and the rest
// at the buffer's start for the next analyse().
//
// Threads: the socket job's reactor thread alone (controller accept, controller input, the
// controller server's creation). The heap line belongs to the control job once sent.
#pragma once

#include <cstddef>
#include <functional>

#include "VorlenTypes.h"

constexpr size_t ZUB_CTRL_RCV_BUFF_LEN = 2097152;
// At most this many bytes are taken from the controller per read event.
constexpr size_t ZUB_CTRL_READ_MAX = 8092;
// The longest unfinished line kept: one more read must still fit behind it.
constexpr size_t ZUB_CTRL_PENDING_MAX = ZUB_CTRL_RCV_BUFF_LEN - ZUB_CTRL_READ_MAX;

// The controller receive buffer. Bytes behind rcv_len are kept zero (one spare byte more than
// the buffer's size), so the held text is always NUL-terminated.
struct ctrl_rcv_data_t {
    WORD32 rcv_len;
    BYTE rcv_buff[ZUB_CTRL_RCV_BUFF_LEN + 1];
};

extern ctrl_rcv_data_t g_ctrl_rcv_data;
extern char g_send_buff[ZUB_CTRL_RCV_BUFF_LEN + 1];

// The framing over one receive buffer and one hand-over buffer, with the hand-over injected:
// `alloc` makes the heap copy (null: failed), `send` passes the copy on and reports whether it
// was accepted (it then owns it; a copy it refuses is freed here at once), `gate` says whether
// one more line may be handed over now (none: always).
class CtrlLineFramer {
public:
    using AllocFn = std::function<char*(size_t)>;
    using SendFn = std::function<bool(char* line)>;
    using GateFn = std::function<bool()>;

    CtrlLineFramer(ctrl_rcv_data_t& data, char* send_buff, AllocFn alloc, SendFn send, GateFn gate = nullptr);

    // Empties the receive buffer and forgets a line being dropped (controller accepted,
    // controller server created).
    void reset();
    // Where the next read goes and how many bytes it may take (clears the buffer first when
    // nothing is held).
    BYTE* read_area(size_t* room);
    // `n` bytes have been read into read_area(); frames what is held.
    void received(size_t n);
    // Cuts the held text into lines and hands over the complete ones while the gate lets it.
    void analyse();
    // Hands g_send_buff's line over; false when the copy could not be made.
    bool send_line();

    WORD32 held() const { return data_.rcv_len; }
    bool dropping() const { return dropping_; }
    // The gate stopped the last analyse() with complete lines still held.
    bool stalled() const { return stalled_; }

private:
    void clear_held();
    void keep_tail(const char* piece, size_t len);
    void keep_from(const char* piece);
    bool drop_until_newline(size_t n);

    ctrl_rcv_data_t& data_;
    char* send_buff_;
    AllocFn alloc_;
    SendFn send_;
    GateFn gate_;
    bool dropping_ = false;
    bool stalled_ = false;
};

// Whether the control job may be handed one more controller line now (the controller flow's
// gate with the controller's unsent replies).
bool zub_ctrl_control_job_has_room();

// The socket job's framer over g_ctrl_rcv_data and g_send_buff, sending to jid_control, gated
// by zub_ctrl_control_job_has_room.
CtrlLineFramer& zub_ctrl_framer();

// The framing of the held controller text, as the controller read callback runs it.
void zub_xml_msg_analyse();
// Hands the line in g_send_buff to the control job; false when the copy could not be made.
bool zub_xml_msg_send();
