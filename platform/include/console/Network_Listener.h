// Network_Listener.h - the telnet console's TCP listener: accepts operator connections and
// creates a Network_Handler session for each.
//
// Neither program creates it (their console starters are empty); a starter running on any
// thread may create one with `new`: the constructor opens the acceptor (address reuse, backlog
// 5) and registers it with the process reactor, where accepting then runs. It deletes itself in
// handle_close; one that failed to open (is_listening() false) is deleted by its creator.
#pragma once

#include <csignal>

#include <ace/Event_Handler.h>
#include <ace/INET_Addr.h>
#include <ace/SOCK_Acceptor.h>

class Network_Listener : public ACE_Event_Handler {
public:
    // Any interface, port 20002 or the given port.
    Network_Listener();
    explicit Network_Listener(unsigned short port);
    // A chosen local address (a test starter listens on the loopback with port 0).
    explicit Network_Listener(const ACE_INET_Addr& local);
    ~Network_Listener() override = default;
    Network_Listener(const Network_Listener&) = delete;
    Network_Listener& operator=(const Network_Listener&) = delete;

    bool is_listening() const { return listening_; }
    // The bound port (the one the system chose when 0 was asked for); 0 when not listening.
    unsigned short local_port() const;

    ACE_HANDLE get_handle() const override;
    // Accepts one connection; a failed accept is ignored. -1 (the listener then closes) only
    // when no session object can be allocated.
    int handle_input(ACE_HANDLE fd) override;
    int handle_close(ACE_HANDLE fd, ACE_Reactor_Mask mask) override;
    // For a starter that registers the listener for signals: SIGINT and SIGTERM end the process
    // with 0, SIGABRT with 2, SIGSEGV with 3, SIGILL with 4, each after its line on standard
    // error; other signals are ignored. Runs in signal context, so it only writes and exits.
    int handle_signal(int signum, siginfo_t* info, ucontext_t* ctx) override;

private:
    void open();

    ACE_INET_Addr local_address_;
    ACE_SOCK_Acceptor acceptor_;
    bool listening_ = false;
};
