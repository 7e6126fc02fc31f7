// Socket wrappers on loopback with ephemeral ports.
#include "qk_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    EXPECT_EQ(qk_inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr), 1);
    return addr;
}

const sockaddr* as_sa(const sockaddr_in& a) { return reinterpret_cast<const sockaddr*>(&a); }
sockaddr* as_sa(sockaddr_in& a) { return reinterpret_cast<sockaddr*>(&a); }

int int_option(int sock, int level, int option) {
    int value = -1;
    socklen_t len = sizeof value;
    EXPECT_EQ(qk_getsockopt(sock, level, option, &value, &len), 0);
    return value;
}

// A listening socket on 127.0.0.1 at a port the system picks.
struct Listener {
    int sock = -1;
    sockaddr_in addr{};
    Listener() {
        sock = qk_socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_GE(sock, 0);
        EXPECT_EQ(qk_socket_reuseable(sock), 0);
        addr = loopback(0);
        EXPECT_EQ(qk_bind(sock, as_sa(addr), sizeof addr), 0);
        EXPECT_EQ(qk_listen(sock, 4), 0);
        socklen_t len = sizeof addr;
        EXPECT_EQ(qk_getsockname(sock, as_sa(addr), &len), 0);
        EXPECT_NE(addr.sin_port, 0);
    }
    ~Listener() { qk_close(sock); }
};

TEST(qk_socket, TcpConnectAcceptSendRecv) {
    Listener server;
    EXPECT_EQ(int_option(server.sock, SOL_SOCKET, SO_REUSEADDR), 1);
    const int client = qk_socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(client, 0);
    ASSERT_EQ(qk_connect(client, as_sa(server.addr), sizeof server.addr), 0);

    sockaddr_in peer{};
    socklen_t peer_len = sizeof peer;
    const int accepted = qk_accept(server.sock, as_sa(peer), &peer_len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    ASSERT_GE(accepted, 0);
    EXPECT_NE(fcntl(accepted, F_GETFL) & O_NONBLOCK, 0); // accept4 flags applied
    EXPECT_NE(fcntl(accepted, F_GETFD) & FD_CLOEXEC, 0);

    sockaddr_in client_name{};
    socklen_t name_len = sizeof client_name;
    ASSERT_EQ(qk_getsockname(client, as_sa(client_name), &name_len), 0);
    EXPECT_EQ(peer.sin_port, client_name.sin_port);
    sockaddr_in server_seen{};
    socklen_t seen_len = sizeof server_seen;
    ASSERT_EQ(qk_getpeername(client, as_sa(server_seen), &seen_len), 0);
    EXPECT_EQ(server_seen.sin_port, server.addr.sin_port);
    char text[INET_ADDRSTRLEN];
    EXPECT_STREQ(qk_inet_ntop(AF_INET, &server_seen.sin_addr, text, sizeof text), "127.0.0.1");

    EXPECT_EQ(qk_socket_readable(accepted), 0);
    char buf[16] = {};
    EXPECT_EQ(qk_recv(accepted, buf, sizeof buf, 0), -1); // non-blocking, nothing yet
    EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
    ASSERT_EQ(qk_send(client, "hello", 5, 0), 5);
    for (int i = 0; i < 1000 && qk_socket_readable(accepted) < 5; ++i) {
        usleep(1000);
    }
    EXPECT_EQ(qk_socket_readable(accepted), 5);
    EXPECT_EQ(qk_recv(accepted, buf, sizeof buf, 0), 5);
    EXPECT_STREQ(buf, "hello");

    EXPECT_EQ(qk_close(accepted), 0);
    EXPECT_EQ(qk_close(client), 0);
    EXPECT_EQ(qk_close(client), -1); // the system's result, unchanged
}

TEST(qk_socket, UdpSendtoRecvfrom) {
    const int a = qk_socket(AF_INET, SOCK_DGRAM, 0);
    const int b = qk_socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    sockaddr_in addr = loopback(0);
    ASSERT_EQ(qk_bind(b, as_sa(addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    ASSERT_EQ(qk_getsockname(b, as_sa(addr), &len), 0);
    ASSERT_EQ(qk_sendto(a, "datagram", 8, 0, as_sa(addr), sizeof addr), 8);

    char buf[32] = {};
    sockaddr_in from{};
    socklen_t from_len = sizeof from;
    ASSERT_EQ(qk_recvfrom(b, buf, sizeof buf, 0, as_sa(from), &from_len), 8);
    EXPECT_STREQ(buf, "datagram");
    sockaddr_in a_name{};
    socklen_t a_len = sizeof a_name;
    ASSERT_EQ(qk_getsockname(a, as_sa(a_name), &a_len), 0);
    EXPECT_EQ(from.sin_port, a_name.sin_port);
    qk_close(a);
    qk_close(b);
}

TEST(qk_socket, OptionHelpersSetWhatTheyName) {
    const int tcp = qk_socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(tcp, 0);
    EXPECT_EQ(qk_socket_nodelay(tcp), 0);
    EXPECT_EQ(int_option(tcp, IPPROTO_TCP, TCP_NODELAY), 1);

    EXPECT_EQ(qk_socket_linger(tcp), 0);
    linger lg{1, 99};
    socklen_t lg_len = sizeof lg;
    ASSERT_EQ(qk_getsockopt(tcp, SOL_SOCKET, SO_LINGER, &lg, &lg_len), 0);
    EXPECT_EQ(lg.l_onoff, 0);
    EXPECT_EQ(lg.l_linger, 0);

    // The kernel doubles the figure for its bookkeeping; a larger request must show.
    const int rcv_before = int_option(tcp, SOL_SOCKET, SO_RCVBUF);
    EXPECT_EQ(qk_socket_rcvbuf(tcp, 4 * rcv_before), 0);
    EXPECT_GT(int_option(tcp, SOL_SOCKET, SO_RCVBUF), rcv_before);
    EXPECT_EQ(qk_socket_sndbuf(tcp, 4096), 0);
    EXPECT_EQ(int_option(tcp, SOL_SOCKET, SO_SNDBUF), 8192);

    EXPECT_EQ(fcntl(tcp, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(qk_socket_nonblocking(tcp), 0);
    EXPECT_NE(fcntl(tcp, F_GETFL) & O_NONBLOCK, 0);

    int one = 1;
    EXPECT_EQ(qk_setsockopt(tcp, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one), 0);
    EXPECT_EQ(int_option(tcp, SOL_SOCKET, SO_KEEPALIVE), 1);
    // IP_HDRINCL belongs to raw sockets; the system refuses it here and that shows.
    EXPECT_EQ(qk_socket_hdrincl(tcp), -1);
    qk_close(tcp);
}

TEST(qk_socket, HdrinclOnARawSocket) {
    const int raw = qk_socket(AF_INET, SOCK_RAW, IPPROTO_UDP);
    if (raw < 0) {
        GTEST_SKIP() << "raw sockets need CAP_NET_RAW";
    }
    EXPECT_EQ(qk_socket_hdrincl(raw), 0);
    EXPECT_EQ(int_option(raw, IPPROTO_IP, IP_HDRINCL), 1);
    qk_close(raw);
}

TEST(qk_socket, FailuresPassThrough) {
    const int closed = qk_socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(closed, 0);
    qk_close(closed);
    EXPECT_EQ(qk_socket_nonblocking(closed), -1);
    EXPECT_EQ(qk_socket_readable(closed), 16384); // unknown count: the caller receives and sees the error
    EXPECT_EQ(qk_socket_nodelay(closed), -1);
    EXPECT_EQ(qk_listen(closed, 1), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(qk_socket(-1, SOCK_STREAM, 0), -1);

    unsigned char addr[4];
    EXPECT_EQ(qk_inet_pton(AF_INET, "300.1.2.3", addr), 0);
    char small[4];
    const unsigned char v4[4] = {127, 0, 0, 1};
    EXPECT_EQ(qk_inet_ntop(AF_INET, v4, small, sizeof small), nullptr);
}

TEST(qk_socket, ConnectToAClosedLoopbackPortIsRefused) {
    int port = 0;
    {
        Listener gone; // take a free port, then give it back
        port = ntohs(gone.addr.sin_port);
    }
    const int client = qk_socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in addr = loopback(static_cast<uint16_t>(port));
    EXPECT_EQ(qk_connect(client, as_sa(addr), sizeof addr), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
    qk_close(client);
}

} // namespace
