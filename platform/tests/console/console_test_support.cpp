#include "console_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>

#include <ace/INET_Addr.h>
#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Backend.h>
#include <ace/Log_Record.h>

#include "CNCtrlTask.h"
#include "CNPlatform.h"
#include "console/Network_Listener.h"
#include "console/telnet_history.h"
#include "console/telnet_state.h"

namespace console_test {

namespace {

std::mutex g_record_mutex;
std::condition_variable g_log_cond;
std::vector<std::string> g_hook_calls;
std::string g_ace_log;

// Keeps every formatted ACE log line, whichever thread wrote it.
class CaptureBackend : public ACE_Log_Msg_Backend {
public:
    int open(const ACE_TCHAR*) override { return 0; }
    int reset() override { return 0; }
    int close() override { return 0; }
    ssize_t log(ACE_Log_Record& record) override {
        std::lock_guard<std::mutex> lock(g_record_mutex);
        g_ace_log += record.msg_data();
        g_log_cond.notify_all();
        return 0;
    }
};

CaptureBackend g_backend;

void capture_ace_log() {
    static std::once_flag once;
    std::call_once(once, [] {
        ACE_Log_Msg::msg_backend(&g_backend);
        // The flags are process-wide: every thread's lines now reach the backend only.
        ACE_LOG_MSG->set_flags(ACE_Log_Msg::CUSTOM);
        ACE_LOG_MSG->clr_flags(ACE_Log_Msg::STDERR);
    });
}

std::promise<unsigned short>* g_port_promise = nullptr;

// The test's console starter: what a program's StartTelnetSer would do, on the loopback.
void test_console_starter(void*) {
    auto* listener = new Network_Listener(ACE_INET_Addr(static_cast<u_short>(0), INADDR_LOOPBACK));
    unsigned short port = listener->local_port();
    if (!listener->is_listening()) delete listener;
    g_port_promise->set_value(port);
}

const T_JobCreatReg kNoJobs[] = {{}};

bool wait_readable(int fd, std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return false;
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(left.count())) > 0;
}

}  // namespace

std::string greeting() {
    const unsigned char negotiation[] = {255, 253, 24, 255, 253, 32, 255, 253, 35, 255, 253, 39};
    return std::string(reinterpret_cast<const char*>(negotiation), sizeof negotiation) +
           "Network Management System\r\n" + "Ver: 2.0\r\n\r\n" + "Password:";
}

Client::~Client() { close(); }

bool Client::connect_to(unsigned short port, int rcvbuf) {
    close();
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) return false;
    if (rcvbuf > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

bool Client::send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string Client::read(size_t n, std::chrono::milliseconds timeout) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    char buf[65536];
    while (got.size() < n && wait_readable(fd_, deadline)) {
        ssize_t r = ::recv(fd_, buf, std::min(sizeof buf, n - got.size()), 0);
        if (r <= 0) break;
        got.append(buf, static_cast<size_t>(r));
    }
    return got;
}

std::string Client::read_to_eof(std::chrono::milliseconds timeout) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    char buf[65536];
    while (wait_readable(fd_, deadline)) {
        ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
        if (r <= 0) return got;
        got.append(buf, static_cast<size_t>(r));
    }
    return got + "<time-out: no end of stream>";
}

bool Client::login(unsigned short port) {
    if (!connect_to(port)) return false;
    if (read(greeting().size()) != greeting()) return false;
    if (!send("wuf\r")) return false;
    return read(8) == "***\r\n\r\n>";
}

void Client::set_abortive_close() {
    linger l{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

void Client::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::vector<std::string> hook_calls() {
    std::lock_guard<std::mutex> lock(g_record_mutex);
    return g_hook_calls;
}

void clear_hook_calls() {
    std::lock_guard<std::mutex> lock(g_record_mutex);
    g_hook_calls.clear();
}

std::string ace_log() {
    std::lock_guard<std::mutex> lock(g_record_mutex);
    return g_ace_log;
}

void clear_ace_log() {
    std::lock_guard<std::mutex> lock(g_record_mutex);
    g_ace_log.clear();
}

bool wait_for_log(const std::string& text, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(g_record_mutex);
    return g_log_cond.wait_for(lock, timeout, [&] { return g_ace_log.find(text) != std::string::npos; });
}

void ConsoleTest::SetUp() {
    capture_ace_log();
    clear_ace_log();
    clear_hook_calls();
    telnet_history_clear();
    CN_PlatformProfile profile = CN_EngineProfile(kNoJobs);
    ASSERT_EQ(CN_PlatformInit(&profile), 0);
    ASSERT_EQ(CN_StartReactorThread(), 0);

    std::promise<unsigned short> port_promise;
    g_port_promise = &port_promise;
    CNCommTask starter_task;
    ASSERT_EQ(starter_task.open(reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(&test_console_starter))), 0);
    port_ = port_promise.get_future().get();
    starter_task.wait();
    g_port_promise = nullptr;
    ASSERT_NE(port_, 0);
}

void ConsoleTest::TearDown() {
    // Closing the reactor closes the listener and every session still open.
    CN_PlatformShutdown();
}

}  // namespace console_test

// The program's command hook as these tests supply it.
void TelnetProcCmd(char* command, char table[][TELNET_OUT_LINE_LEN], unsigned char* count) {
    {
        std::lock_guard<std::mutex> lock(console_test::g_record_mutex);
        console_test::g_hook_calls.emplace_back(command);
    }
    if (std::strcmp(command, "lines") == 0) {
        std::strcpy(table[0], "first");
        std::strcpy(table[1], "second");
        *count = 2;
    } else if (std::strcmp(command, "flood") == 0) {
        for (int i = 0; i < TELNET_OUT_LINES; ++i) std::snprintf(table[i], TELNET_OUT_LINE_LEN, "row%03d", i);
        *count = 250;
    }
}
