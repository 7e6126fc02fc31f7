// The console's listener: opens the acceptor on the process reactor and hands each accepted
// connection to a new session.
#include "console/Network_Listener.h"

#include <unistd.h>

#include <cstring>
#include <new>

#include <ace/Log_Msg.h>
#include <ace/Reactor.h>
#include <ace/SOCK_Stream.h>

#include "console/Network_Handler.h"
#include "console/telnet_state.h"

namespace {

constexpr int kBacklog = 5;

const char* signal_line(int signum) {
    switch (signum) {
    case SIGINT: return "Network_Listener::handle_signal SIGINT!\n";
    case SIGTERM: return "Network_Listener::handle_signal SIGTERM!\n";
    case SIGABRT: return "Network_Listener::handle_signal SIGABRT!\n";
    case SIGSEGV: return "Network_Listener::handle_signal SIGSEGV!\n";
    case SIGILL: return "Network_Listener::handle_signal SIGILL!\n";
    default: return nullptr;
    }
}

int signal_exit_code(int signum) {
    switch (signum) {
    case SIGABRT: return 2;
    case SIGSEGV: return 3;
    case SIGILL: return 4;
    default: return 0;
    }
}

}  // namespace

Network_Listener::Network_Listener() : local_address_(TELNET_DEFAULT_PORT) { open(); }

Network_Listener::Network_Listener(unsigned short port) : local_address_(port) { open(); }

Network_Listener::Network_Listener(const ACE_INET_Addr& local) : local_address_(local) { open(); }

void Network_Listener::open() {
    reactor(telnet_reactor());
    if (acceptor_.open(local_address_, 1, PF_INET, kBacklog) == -1) {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%D Telnet listener cannot open port %d: %m\n"),
                   local_address_.get_port_number()));
        return;
    }
    // A connection that is gone again before it is accepted must not block the reactor.
    acceptor_.enable(ACE_NONBLOCK);
    if (reactor()->register_handler(this, ACE_Event_Handler::ACCEPT_MASK) == -1) {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%D Telnet listener cannot register: %m\n")));
        acceptor_.close();
        return;
    }
    listening_ = true;
}

unsigned short Network_Listener::local_port() const {
    if (!listening_) return 0;
    ACE_INET_Addr bound;
    if (acceptor_.get_local_addr(bound) == -1) return 0;
    return bound.get_port_number();
}

ACE_HANDLE Network_Listener::get_handle() const { return acceptor_.get_handle(); }

int Network_Listener::handle_input(ACE_HANDLE fd) {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("%D Telnet::handle_input handle = %d\n"), fd));
    ACE_SOCK_Stream stream;
    ACE_INET_Addr peer;
    if (acceptor_.accept(stream, &peer) == -1) return 0;
    stream.disable(ACE_NONBLOCK);
    Network_Handler* session = new (std::nothrow) Network_Handler(stream);
    if (session == nullptr) {
        stream.close();
        return -1;
    }
    if (!session->is_registered()) {
        session->handle_close(stream.get_handle(), ACE_Event_Handler::ALL_EVENTS_MASK);
        return 0;
    }
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("%D Telnet connection from: [%s:%d] %d\n"), peer.get_host_addr(),
               peer.get_port_number(), stream.get_handle()));
    return 0;
}

int Network_Listener::handle_close(ACE_HANDLE fd, ACE_Reactor_Mask) {
    // The line's leading number is the handle as well: the format has two and names one.
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("%d Telnet::listener_close handle = %d\n"), fd, fd));
    acceptor_.close();
    delete this;
    return 0;
}

int Network_Listener::handle_signal(int signum, siginfo_t*, ucontext_t*) {
    const char* line = signal_line(signum);
    if (line == nullptr) return 0;
    ssize_t ignored = write(STDERR_FILENO, line, std::strlen(line));
    (void)ignored;
    _exit(signal_exit_code(signum));
}
