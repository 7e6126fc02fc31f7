// Network_Handler.h - one telnet console session: the telnet negotiation and greeting, the
// password prompt, the line editor (echo, backspace, history browsing) and the built-in commands
// "help"/"?", "svc", "ls" and "exit"; any other command goes to the program's TelnetProcCmd.
//
// Created by Network_Listener for an accepted connection; it deletes itself in handle_close
// (peer closed, "exit", a failed send, or the reactor closing). Every call runs on the reactor
// thread. Output is collected while one received byte is handled and sent at its end with
// MSG_NOSIGNAL and a time-out, so neither a vanished nor a stalled client can stop the process
// or hold its reactor; a session whose output cannot be sent is closed.
#pragma once

#include <string>

#include <ace/Event_Handler.h>
#include <ace/SOCK_Stream.h>

#include "console/telnet_state.h"

// Longest wait for a client to take a session's output before the session is closed.
constexpr int TELNET_SEND_TIMEOUT_S = 2;

class Network_Handler : public ACE_Event_Handler {
public:
    // Takes over the connected socket and registers for read events; when that succeeds it sends
    // the negotiation (IAC DO TERMINAL-TYPE, TERMINAL-SPEED, X-DISPLAY-LOCATION, NEW-ENVIRON),
    // the greeting and the password prompt. A session that could not register is closed by its
    // creator through handle_close.
    explicit Network_Handler(const ACE_SOCK_Stream& stream);
    Network_Handler(const Network_Handler&) = delete;
    Network_Handler& operator=(const Network_Handler&) = delete;

    bool is_registered() const { return registered_; }

    ACE_HANDLE get_handle() const override;
    // Reads and handles one byte; -1 (the reactor then closes the session) when the peer closed,
    // after "exit", or when the output could not be sent.
    int handle_input(ACE_HANDLE fd) override;
    int handle_close(ACE_HANDLE fd, ACE_Reactor_Mask mask) override;

    // What handle_input does with one received byte: line editing, the password, a finished
    // command. The answer waits in the session (take_output) until the byte's end. -1 after "exit".
    int on_byte(char c);
    // Hands over the output waiting to be sent and forgets it.
    std::string take_output();

    // Queues text for the client; it leaves when the current byte has been handled.
    void send(const char* text);
    void send(const char* data, size_t len);

    // "svc <text>": "help" lists the services, "reconfigure" marks a reconfiguration, anything
    // else is a directive for ACE's service configurator ("suspend xxx", "resume xxx", ...).
    void process_request(const char* text);
    void list_services();
    // "ls [-e devid] [-s devid]".
    void handle_cmd_ls(int argc, char** argv);

private:
    ~Network_Handler() override = default;

    void on_backspace();
    void on_escape();
    void on_browse(char c);
    void on_char(char c);
    int end_of_line();
    void end_of_password();
    int run_command();
    void run_hook(char* word);
    void send_help();
    void send_svc_help();
    void clear_line();
    bool flush_output();

    ACE_SOCK_Stream stream_;
    char cmd[TELNET_CMD_LEN] = {};
    int cmd_len_ = 0;
    bool bIsPassword = true;
    bool registered_ = false;
    bool broken_ = false;
    std::string pending_;
    char out_lines_[TELNET_OUT_LINES][TELNET_OUT_LINE_LEN];
};
