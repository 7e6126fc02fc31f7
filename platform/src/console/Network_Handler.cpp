// A console session: its greeting, the byte-at-a-time line editor and the end of a line.
#include "console/Network_Handler.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include <ace/Log_Msg.h>
#include <ace/Reactor.h>
#include <ace/Time_Value.h>

#include "console/Command_Line.h"
#include "console/telnet_history.h"

namespace {

constexpr char kBackspace = 8;
constexpr char kCarriageReturn = 13;
constexpr char kEscape = 27;

// IAC DO TERMINAL-TYPE, IAC DO TERMINAL-SPEED, IAC DO X-DISPLAY-LOCATION, IAC DO NEW-ENVIRON.
constexpr unsigned char kNegotiation[] = {255, 253, 24, 255, 253, 32, 255, 253, 35, 255, 253, 39};

}  // namespace

Network_Handler::Network_Handler(const ACE_SOCK_Stream& stream) : stream_(stream) {
    reactor(telnet_reactor());
    if (reactor()->register_handler(this, ACE_Event_Handler::READ_MASK) == -1) return;
    registered_ = true;
    // Echo is sent one byte at a time; do not let it wait for the client's acknowledgements.
    int one = 1;
    stream_.set_option(IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    clear_line();
    send(reinterpret_cast<const char*>(kNegotiation), sizeof kNegotiation);
    send(strINMS);
    send(strVer);
    send(strPassPromt);
    bIsPassword = true;
    broken_ = !flush_output();
}

ACE_HANDLE Network_Handler::get_handle() const { return stream_.get_handle(); }

int Network_Handler::handle_input(ACE_HANDLE) {
    if (broken_) return -1;
    char c = 0;
    ssize_t n = stream_.recv(&c, 1);
    if (n == 0) {
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("%D Telnet client connection closed %d\n"), get_handle()));
        return -1;
    }
    if (n < 0) return 0;
    int result = on_byte(c);
    if (!flush_output()) return -1;
    return result;
}

int Network_Handler::handle_close(ACE_HANDLE, ACE_Reactor_Mask) {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("%D Telnet::handle_close handle = %d\n"), get_handle()));
    stream_.close();
    delete this;
    return 0;
}

void Network_Handler::send(const char* text) { send(text, std::strlen(text)); }

void Network_Handler::send(const char* data, size_t len) { pending_.append(data, len); }

std::string Network_Handler::take_output() {
    std::string out;
    out.swap(pending_);
    return out;
}

bool Network_Handler::flush_output() {
    if (pending_.empty()) return true;
    const ACE_Time_Value timeout(TELNET_SEND_TIMEOUT_S);
    size_t sent = 0;
    ssize_t result = stream_.send_n(pending_.data(), pending_.size(), MSG_NOSIGNAL, &timeout, &sent);
    bool complete = result >= 0 && sent == pending_.size();
    pending_.clear();
    if (!complete && errno != EPIPE) {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%D Telnet send failed on %d: %m\n"), get_handle()));
    }
    return complete;
}

int Network_Handler::on_byte(char c) {
    switch (c) {
    case kBackspace: on_backspace(); return 0;
    case kCarriageReturn: send("\r\n"); return end_of_line();
    case kEscape: on_escape(); return 0;
    default: break;
    }
    if (g_bKeyState == 1) {
        on_browse(c);
    } else {
        on_char(c);
    }
    return 0;
}

void Network_Handler::on_backspace() {
    if (cmd_len_ == 0) return;
    send("\b \b");
    cmd[--cmd_len_] = '\0';
}

void Network_Handler::on_escape() {
    g_bKeyState = 1;
    send("\r ");
    pending_.append(static_cast<size_t>(cmd_len_), ' ');
    send("\r>");
}

void Network_Handler::on_browse(char c) {
    if (c != 'A' && c != 'B') return;  // e.g. the "[" of an arrow key
    const char* entry = (c == 'A') ? telnet_history_back() : telnet_history_forward();
    g_bKeyState = 0;  // the key sequence is over, also when the history is empty
    if (entry == nullptr) return;
    send(entry);
    cmd_len_ = static_cast<int>(strnlen(entry, TELNET_CMD_LEN - 1));
    std::memcpy(cmd, entry, static_cast<size_t>(cmd_len_));
    cmd[cmd_len_] = '\0';
}

void Network_Handler::on_char(char c) {
    if (!telnet_is_valid_char(c) || cmd_len_ >= TELNET_CMD_LEN - 1) return;
    cmd[cmd_len_++] = c;
    cmd[cmd_len_] = '\0';
    if (bIsPassword) {
        send("*");
    } else {
        send(&c, 1);
    }
}

int Network_Handler::end_of_line() {
    if (bIsPassword) {
        end_of_password();
        return 0;
    }
    if (cmd_len_ == 0) {
        clear_line();
        send(">");
        return 0;
    }
    return run_command();
}

void Network_Handler::end_of_password() {
    if (std::strcmp(cmd, strPass) == 0) {
        send("\r\n");
        bIsPassword = false;
    }
    clear_line();
    send(bIsPassword ? strPassPromt : ">");
}

void Network_Handler::clear_line() {
    std::memset(cmd, 0, sizeof cmd);
    cmd_len_ = 0;
}
