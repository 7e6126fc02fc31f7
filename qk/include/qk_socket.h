// qk_socket.h - thin socket wrappers.
//
// Stateless; callable from any thread. Each returns the system call's result unchanged
// (-1 with errno set on failure) unless its comment says otherwise.
#pragma once

#include <stddef.h>
#include <sys/socket.h>
#include <sys/types.h>

#include "qk_export.h"

QK_BEGIN_DECLS

QK_EXPORT int qk_socket(int domain, int type, int protocol);
QK_EXPORT int qk_close(int sock);
QK_EXPORT int qk_bind(int sock, const struct sockaddr* addr, socklen_t len);
QK_EXPORT int qk_connect(int sock, const struct sockaddr* addr, socklen_t len);
QK_EXPORT int qk_listen(int sock, int backlog);
// accept4: flags may hold SOCK_NONBLOCK and SOCK_CLOEXEC.
QK_EXPORT int qk_accept(int sock, struct sockaddr* addr, socklen_t* len, int flags);
QK_EXPORT ssize_t qk_send(int sock, const void* data, size_t len, int flags);
QK_EXPORT ssize_t qk_recv(int sock, void* data, size_t len, int flags);
QK_EXPORT ssize_t qk_sendto(int sock, const void* data, size_t len, int flags, const struct sockaddr* addr,
                            socklen_t addr_len);
QK_EXPORT ssize_t qk_recvfrom(int sock, void* data, size_t len, int flags, struct sockaddr* addr,
                              socklen_t* addr_len);
QK_EXPORT int qk_setsockopt(int sock, int level, int option, const void* value, socklen_t len);
QK_EXPORT int qk_getsockopt(int sock, int level, int option, void* value, socklen_t* len);
QK_EXPORT int qk_getsockname(int sock, struct sockaddr* addr, socklen_t* len);
QK_EXPORT int qk_getpeername(int sock, struct sockaddr* addr, socklen_t* len);
QK_EXPORT const char* qk_inet_ntop(int family, const void* src, char* dst, socklen_t size);
QK_EXPORT int qk_inet_pton(int family, const char* src, void* dst);

// SO_REUSEADDR = 1.
QK_EXPORT int qk_socket_reuseable(int sock);
// Adds O_NONBLOCK: 0, or -1 when the file flags cannot be read or written.
QK_EXPORT int qk_socket_nonblocking(int sock);
// TCP_NODELAY = 1.
QK_EXPORT int qk_socket_nodelay(int sock);
// SO_LINGER off, time 0.
QK_EXPORT int qk_socket_linger(int sock);
// IP_HDRINCL = 1 (raw sockets only).
QK_EXPORT int qk_socket_hdrincl(int sock);
QK_EXPORT int qk_socket_rcvbuf(int sock, int bytes);
QK_EXPORT int qk_socket_sndbuf(int sock, int bytes);
// Bytes waiting to be read (FIONREAD); 16384 when the count cannot be read, so that the
// caller goes on to receive and sees the receive's error.
QK_EXPORT int qk_socket_readable(int sock);

QK_END_DECLS
