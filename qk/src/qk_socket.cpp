// Thin socket wrappers.
#include "qk_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kReadableUnknown = 16384;

int set_int_option(int sock, int level, int option, int value) {
    return setsockopt(sock, level, option, &value, sizeof value);
}

} // namespace

extern "C" {

int qk_socket(int domain, int type, int protocol) { return socket(domain, type, protocol); }

int qk_close(int sock) { return close(sock); }

int qk_bind(int sock, const struct sockaddr* addr, socklen_t len) { return bind(sock, addr, len); }

int qk_connect(int sock, const struct sockaddr* addr, socklen_t len) { return connect(sock, addr, len); }

int qk_listen(int sock, int backlog) { return listen(sock, backlog); }

int qk_accept(int sock, struct sockaddr* addr, socklen_t* len, int flags) { return accept4(sock, addr, len, flags); }

ssize_t qk_send(int sock, const void* data, size_t len, int flags) { return send(sock, data, len, flags); }

ssize_t qk_recv(int sock, void* data, size_t len, int flags) { return recv(sock, data, len, flags); }

ssize_t qk_sendto(int sock, const void* data, size_t len, int flags, const struct sockaddr* addr,
                  socklen_t addr_len) {
    return sendto(sock, data, len, flags, addr, addr_len);
}

ssize_t qk_recvfrom(int sock, void* data, size_t len, int flags, struct sockaddr* addr, socklen_t* addr_len) {
    return recvfrom(sock, data, len, flags, addr, addr_len);
}

int qk_setsockopt(int sock, int level, int option, const void* value, socklen_t len) {
    return setsockopt(sock, level, option, value, len);
}

int qk_getsockopt(int sock, int level, int option, void* value, socklen_t* len) {
    return getsockopt(sock, level, option, value, len);
}

int qk_getsockname(int sock, struct sockaddr* addr, socklen_t* len) { return getsockname(sock, addr, len); }

int qk_getpeername(int sock, struct sockaddr* addr, socklen_t* len) { return getpeername(sock, addr, len); }

const char* qk_inet_ntop(int family, const void* src, char* dst, socklen_t size) {
    return inet_ntop(family, src, dst, size);
}

int qk_inet_pton(int family, const char* src, void* dst) { return inet_pton(family, src, dst); }

int qk_socket_reuseable(int sock) { return set_int_option(sock, SOL_SOCKET, SO_REUSEADDR, 1); }

int qk_socket_nonblocking(int sock) {
    const int flags = fcntl(sock, F_GETFL, 0);
    if (flags == -1) {
        return -1;
    }
    return fcntl(sock, F_SETFL, flags | O_NONBLOCK) == -1 ? -1 : 0;
}

int qk_socket_nodelay(int sock) { return set_int_option(sock, IPPROTO_TCP, TCP_NODELAY, 1); }

int qk_socket_linger(int sock) {
    const struct linger off {
        0, 0
    };
    return setsockopt(sock, SOL_SOCKET, SO_LINGER, &off, sizeof off);
}

int qk_socket_hdrincl(int sock) { return set_int_option(sock, IPPROTO_IP, IP_HDRINCL, 1); }

int qk_socket_rcvbuf(int sock, int bytes) { return set_int_option(sock, SOL_SOCKET, SO_RCVBUF, bytes); }

int qk_socket_sndbuf(int sock, int bytes) { return set_int_option(sock, SOL_SOCKET, SO_SNDBUF, bytes); }

int qk_socket_readable(int sock) {
    int waiting = 0;
    return ioctl(sock, FIONREAD, &waiting) == -1 ? kReadableUnknown : waiting;
}

} // extern "C"
