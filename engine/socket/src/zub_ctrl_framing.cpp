#include "zub_ctrl_framing.h"

#include <cstdlib>
#include <cstring>

#include "zub_client_link.h"
#include "zub_context.h"
#include "zub_ctrl_flow.h"
#include "zub_msg.h"
#include "zub_msg_id.h"
#include "zub_print.h"
#include "zub_print_limited.h"

ctrl_rcv_data_t g_ctrl_rcv_data;
char g_send_buff[ZUB_CTRL_RCV_BUFF_LEN + 1];

namespace {

// strtok over the held text with "\n" as delimiter, without writing into it: the text ends at
// its first NUL (the byte behind the held bytes is always one).
class LineWalker {
public:
    explicit LineWalker(const char* text) : text_(text) {}
    bool next(const char** piece, size_t* len)
    {
        while (text_[pos_] == '\n') {
            ++pos_;
        }
        if (text_[pos_] == '\0') {
            return false;
        }
        const size_t start = pos_;
        while (text_[pos_] != '\n' && text_[pos_] != '\0') {
            ++pos_;
        }
        *piece = text_ + start;
        *len = pos_ - start;
        return true;
    }

private:
    const char* text_;
    size_t pos_ = 0;
};

char* heap_alloc(size_t n) { return static_cast<char*>(std::malloc(n)); }

bool send_to_control(char* line)
{
    if (!zub_asyn_msg_send(ZUB_EV_SOCKET_CONTROL_MSG, reinterpret_cast<const BYTE*>(&line), sizeof line,
                           &zub_context()->jid_control)) {
        return false;
    }
    zub_ctrl_flow().handed_over();
    return true;
}

}  // namespace

CtrlLineFramer::CtrlLineFramer(ctrl_rcv_data_t& data, char* send_buff, AllocFn alloc, SendFn send, GateFn gate)
    : data_(data), send_buff_(send_buff), alloc_(std::move(alloc)), send_(std::move(send)), gate_(std::move(gate))
{
}

void CtrlLineFramer::clear_held()
{
    std::memset(data_.rcv_buff, 0, data_.rcv_len);
    data_.rcv_len = 0;
}

void CtrlLineFramer::reset()
{
    clear_held();
    dropping_ = false;
    stalled_ = false;
}

void CtrlLineFramer::keep_from(const char* piece)
{
    const size_t at = static_cast<size_t>(reinterpret_cast<const BYTE*>(piece) - data_.rcv_buff);
    const size_t len = data_.rcv_len - at;
    std::memmove(data_.rcv_buff, piece, len);
    std::memset(data_.rcv_buff + len, 0, at);
    data_.rcv_len = static_cast<WORD32>(len);
}

BYTE* CtrlLineFramer::read_area(size_t* room)
{
    // Bytes behind rcv_len are zero by construction, so an empty buffer is already clear.
    const size_t free_bytes = ZUB_CTRL_RCV_BUFF_LEN - data_.rcv_len;
    *room = free_bytes < ZUB_CTRL_READ_MAX ? free_bytes : ZUB_CTRL_READ_MAX;
    return data_.rcv_buff + data_.rcv_len;
}

bool CtrlLineFramer::drop_until_newline(size_t n)
{
    BYTE* fresh = data_.rcv_buff + data_.rcv_len;
    const void* nl = std::memchr(fresh, '\n', n);
    if (nl == nullptr) {
        std::memset(fresh, 0, n);
        return false;
    }
    const size_t skip = static_cast<size_t>(static_cast<const BYTE*>(nl) - fresh) + 1;
    std::memmove(fresh, fresh + skip, n - skip);
    std::memset(fresh + (n - skip), 0, skip);
    dropping_ = false;
    data_.rcv_len += static_cast<WORD32>(n - skip);
    return true;
}

void CtrlLineFramer::received(size_t n)
{
    if (n == 0) {
        return;
    }
    if (dropping_) {
        if (!drop_until_newline(n)) {
            return;
        }
    } else {
        data_.rcv_len += static_cast<WORD32>(n);
    }
    analyse();
}

void CtrlLineFramer::keep_tail(const char* piece, size_t len)
{
    if (len > ZUB_CTRL_PENDING_MAX) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "controller line longer than %u bytes, dropped up to its next newline",
                          static_cast<unsigned>(ZUB_CTRL_PENDING_MAX));
        clear_held();
        dropping_ = true;
        return;
    }
    const size_t old_len = data_.rcv_len;
    std::memmove(data_.rcv_buff, piece, len);
    std::memset(data_.rcv_buff + len, 0, old_len - len);
    data_.rcv_len = static_cast<WORD32>(len);
}

void CtrlLineFramer::analyse()
{
    stalled_ = false;
    if (data_.rcv_len == 0) {
        return;
    }
    const bool ends_with_newline = data_.rcv_buff[data_.rcv_len - 1] == '\n';
    LineWalker walker(reinterpret_cast<const char*>(data_.rcv_buff));
    const char* piece = nullptr;
    size_t len = 0;
    if (!walker.next(&piece, &len)) {
        // Only newlines, or a NUL first: nothing to send and nothing worth keeping.
        clear_held();
        return;
    }
    for (;;) {
        const char* next = nullptr;
        size_t next_len = 0;
        const bool has_next = walker.next(&next, &next_len);
        if ((has_next || ends_with_newline) && gate_ && !gate_()) {
            // The control job has enough for now: this line and the rest wait here.
            keep_from(piece);
            stalled_ = true;
            return;
        }
        std::memcpy(send_buff_, piece, len);
        send_buff_[len] = '\0';
        if (has_next) {
            if (!send_line()) {
                return;
            }
            piece = next;
            len = next_len;
            continue;
        }
        if (ends_with_newline) {
            send_line();
            clear_held();
            send_buff_[0] = '\0';
        } else {
            keep_tail(piece, len);
        }
        return;
    }
}

bool CtrlLineFramer::send_line()
{
    const size_t len = std::strlen(send_buff_);
    char* copy = alloc_(len + 1);
    if (copy == nullptr) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "malloc failed.");
        clear_held();
        return false;
    }
    std::memset(copy, 0, len + 1);
    std::memcpy(copy, send_buff_, len);
    if (!send_(copy)) {
        // Nobody else will ever see this copy.
        std::free(copy);
    }
    return true;
}

CtrlLineFramer& zub_ctrl_framer()
{
    static CtrlLineFramer framer(g_ctrl_rcv_data, g_send_buff, heap_alloc, send_to_control,
                                 zub_ctrl_control_job_has_room);
    return framer;
}

bool zub_ctrl_control_job_has_room() { return zub_ctrl_flow().may_hand_over(zub_ctrl_reply_unsent()); }

void zub_xml_msg_analyse() { zub_ctrl_framer().analyse(); }

bool zub_xml_msg_send() { return zub_ctrl_framer().send_line(); }
