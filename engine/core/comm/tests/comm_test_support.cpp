// comm_test_support.cpp - the engine probe table, the platform brought up on it, the socket
// job's reactor, fake anchors, print capture and the test main.
#include "comm_test_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

#include "zub_anchor.h"
#include "zub_anchor_link.h"
#include "zub_context.h"
#include "zub_job_dir.h"
#include "zub_print.h"
#include "zub_probe_table.h"
#include "zub_shared_field.h"

namespace ct {

namespace {

// ---- socket job reactor ------------------------------------------------------------------------

std::mutex g_read_mutex;
std::condition_variable g_read_cond;
std::map<const Anchor*, ReadLog> g_reads;
std::atomic<bool> g_close_on_eof{true};

void on_anchor_read(int fd, short /*what*/, void* arg)
{
    auto* anchor = static_cast<Anchor*>(arg);
    const WORD32 seen = anchor->link_socket();
    BYTE buf[8192];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    bool close_link = false;
    {
        std::lock_guard<std::mutex> lock(g_read_mutex);
        ReadLog& log = g_reads[anchor];
        log.link_socket_seen.push_back(seen);
        log.fds.push_back(fd);
        if (n > 0) {
            log.bytes.insert(log.bytes.end(), buf, buf + n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            log.eof = true;
            close_link = g_close_on_eof.load();
        }
    }
    g_read_cond.notify_all();
    if (close_link) {
        zub_socket_anchor_close(anchor);
    } else if (n <= 0) {
        std::this_thread::sleep_for(1ms);  // the end of stream stays readable until the link goes
    }
}

void on_wake(int fd, short /*what*/, void* /*arg*/)
{
    char c[16];
    while (read(fd, c, sizeof c) > 0) {
    }
}

}  // namespace

const T_JobCreatReg* engine_probe_table()
{
    static const std::array<T_JobCreatReg, 29> table = zub_engine_probe_rows();
    return table.data();
}

bool private_netns() { return probe::in_private_netns(); }

SocketJobReactor::SocketJobReactor()
{
    {
        std::lock_guard<std::mutex> lock(g_read_mutex);
        g_reads.clear();
    }
    g_close_on_eof = true;
    handle_ = qk_reactor_new();
    if (handle_ == nullptr || pipe2(wake_, O_NONBLOCK) != 0) {
        return;
    }
    // The wake pipe keeps one event in the base, so each pass waits for activity.
    wake_ev_ = qk_reactor_attach(handle_, wake_[0], on_wake, nullptr, REACTOR_LEVEL);
    if (wake_ev_ == nullptr) {
        return;
    }
    loop_ = [this] {
        while (!stop_.load()) {
            qk_reactor_run(handle_, REACTOR_RUN_ONCE);
        }
        done_ = true;
    };
    std::function<void()>* loop = &loop_;
    if (!probe::post_to_job(QE_JOBTYPE_ZUB_SOCKET, loop)) {
        done_ = true;
        return;
    }
    reactor_info_t& info = zub_context()->reactor_info;
    zub_store(info.rcv_from_server, &on_anchor_read, std::memory_order_release);
    zub_store(info.sock_handle, handle_, std::memory_order_release);
    ok_ = true;
}

SocketJobReactor::~SocketJobReactor()
{
    reactor_info_t& info = zub_context()->reactor_info;
    zub_store(info.sock_handle, static_cast<reactor_handle_t*>(nullptr), std::memory_order_release);
    zub_store(info.rcv_from_server, static_cast<reactor_callback_func_t>(nullptr), std::memory_order_release);
    stop_ = true;
    if (wake_[1] >= 0) {
        const char c = 1;
        (void)!write(wake_[1], &c, 1);
    }
    while (ok_ && !done_.load()) {
        std::this_thread::sleep_for(1ms);
    }
    if (wake_ev_ != nullptr) {
        qk_reactor_detach(handle_, wake_ev_);
    }
    if (handle_ != nullptr) {
        qk_reactor_free(handle_);
    }
    for (int fd : wake_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void SocketJobReactor::set_close_on_eof(bool on) { g_close_on_eof = on; }

ReadLog SocketJobReactor::read_log(const Anchor* anchor)
{
    std::lock_guard<std::mutex> lock(g_read_mutex);
    auto it = g_reads.find(anchor);
    return it == g_reads.end() ? ReadLog{} : it->second;
}

bool SocketJobReactor::wait_bytes(const Anchor* anchor, size_t n, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(g_read_mutex);
    return g_read_cond.wait_for(lock, timeout, [&] { return g_reads[anchor].bytes.size() >= n; });
}

bool SocketJobReactor::wait_eof(const Anchor* anchor, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(g_read_mutex);
    return g_read_cond.wait_for(lock, timeout, [&] { return g_reads[anchor].eof; });
}

void ReactorTest::SetUp()
{
    CT_REQUIRE_PRIVATE_NETNS();
    Recorder::instance().clear();
    reactor_ = std::make_unique<SocketJobReactor>();
    ASSERT_TRUE(reactor_->ok());
}

void ReactorTest::TearDown()
{
    for (unsigned i = 0; i < linked_; ++i) {
        Anchor* a = &zub_context()->anchors[i];
        run_on_job(QE_JOBTYPE_ZUB_RECON, [a] { zub_socket_anchor_close(a); });
    }
    reactor_.reset();
}

FakeAnchor::FakeAnchor(int host, int backlog) : host_(host)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(kAnchorPort);
    addr.sin_addr = address();
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, backlog) != 0) {
        close(fd);
        return;
    }
    listen_fd_ = fd;
}

FakeAnchor::~FakeAnchor()
{
    for (int fd : accepted_) {
        close(fd);
    }
    if (listen_fd_ >= 0) {
        close(listen_fd_);
    }
}

void FakeAnchor::close_peer(int fd)
{
    auto it = std::find(accepted_.begin(), accepted_.end(), fd);
    if (it != accepted_.end()) {
        accepted_.erase(it);
        close(fd);
    }
}

in_addr FakeAnchor::address() const
{
    in_addr a{};
    a.s_addr = htonl((127u << 24) | static_cast<unsigned>(host_));
    return a;
}

int FakeAnchor::accept_one(std::chrono::milliseconds timeout)
{
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) != 1) {
        return -1;
    }
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        accepted_.push_back(fd);
    }
    return fd;
}

std::vector<BYTE> read_exactly(int fd, size_t n, std::chrono::milliseconds timeout)
{
    std::vector<BYTE> out;
    out.reserve(n);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<BYTE> buf(65536);
    while (out.size() < n) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) != 1) {
            break;
        }
        const ssize_t got = recv(fd, buf.data(), std::min(buf.size(), n - out.size()), 0);
        if (got <= 0) {
            break;
        }
        out.insert(out.end(), buf.begin(), buf.begin() + got);
    }
    return out;
}

Anchor* configure_anchor(unsigned index, int host)
{
    Anchor* a = &zub_context()->anchors[index];
    a->init(0x00AB000000000000ull + index, static_cast<WORD16>(index));
    a->ip.s_addr = htonl((127u << 24) | static_cast<unsigned>(host));
    a->port = kAnchorPort;
    return a;
}

int open_fd_count()
{
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr) {
        return -1;
    }
    while (readdir(d) != nullptr) {
        ++n;
    }
    closedir(d);
    return n - 3;  // ".", ".." and the directory's own descriptor
}

}  // namespace ct

int main(int argc, char** argv)
{
    probe::enter_private_netns();
    char dir[] = "/tmp/engine_comm_test_XXXXXX";
    const bool have_dir = mkdtemp(dir) != nullptr && chdir(dir) == 0;
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new zub_probe_platform(zub_engine_probe_rows(), {}, [] {
        zub_context()->anchorListenPort = ct::kAnchorPort;
    }));
    const int rc = RUN_ALL_TESTS();
    if (have_dir) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    return rc;
}
