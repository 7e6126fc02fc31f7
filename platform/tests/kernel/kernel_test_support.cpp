// kernel_test_support.cpp - the kernel's probe tables, platform start and stop, log capture and UDP.
#include "kernel_test_support.h"

#include <arpa/inet.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace kt {

namespace {

FILE* g_log = nullptr;
std::string g_log_path;

// Rows as the platform reads them: type, priority, schedule index, instance, name, entry,
// stack size, private data size, flags.
const T_JobCreatReg kProbeTable[] = {
    {kTypeScs, 10, 1, 1, "T_SCS", probe::entry, 0, 1024, 0},
    {kTypeNotExist, 10, 1, 1, "notexist", notexist_Job_Entry, 0, 4096, CN_JOB_FLAG_WAIT_POWERON_ACK},
    {kTypeA, 11, 2, 1, "T_A", probe::entry, 0, 64, 0},
    {kTypeB, 11, 3, 1, "T_B", probe::entry, 0, 64, 0},
    {kTypeB2, 11, 3, 1, "T_B2", probe::entry, 0, 64, 0},
    {kTypeC, 11, 4, 1, "T_C", probe::entry, 0, 64, 0},
    {kTypeD, 11, 5, 1, "T_D", probe::entry, 0, 64, 0},
    {kTypeBackComm, 11, 6, 1, "BackComm", probe::entry, 0, 64, 0},
    {0x5FFF, 1, 1, 1, "END", nullptr, 0, 0, 0},
};

const T_JobCreatReg kProbeTableOmp[] = {
    {kTypeScs, 10, 1, 1, "T_SCS", probe::entry, 0, 1024, 0},
    {kTypeNotExist, 10, 1, 1, "notexist", notexist_Job_Entry, 0, 4096, CN_JOB_FLAG_WAIT_POWERON_ACK},
    {kTypeBackComm, 11, 2, 1, "BackComm", probe::entry, 0, 4096, 0},
    {kTypeA, 10, 1, 1, "T_A", probe::entry, 0, 64, 0},
    {0x5FFF, 1, 1, 1, "END", nullptr, 0, 0, 0},
};

} // namespace

const T_JobCreatReg* probe_table() { return kProbeTable; }
const T_JobCreatReg* probe_table_omp() { return kProbeTableOmp; }

CN_Job_Base* job_of(WORD16 jobType) { return CN_Job_Base::GetJobByType(jobType); }

bool JobHold::hold(WORD16 jobType)
{
    call_ = [this] {
        std::unique_lock<std::mutex> lock(m_);
        held_ = true;
        cv_.notify_all();
        cv_.wait(lock, [this] { return released_; });
        left_ = true;
        cv_.notify_all();
    };
    if (!post_to_job(jobType, &call_)) {
        return false;
    }
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, probe::kCatchUpBound, [this] { return held_; });
}

void JobHold::release()
{
    std::unique_lock<std::mutex> lock(m_);
    released_ = true;
    cv_.notify_all();
    if (held_) {
        cv_.wait_for(lock, probe::kCatchUpBound, [this] { return left_; });
    }
}

bool start_platform(const std::function<void(CN_PlatformProfile&)>& adjust)
{
    Recorder::instance().clear();
    CN_PlatformProfile prof = CN_EngineProfile(probe_table());
    prof.wTaskCount = kTaskCount;
    probe::keep_off_real_ports(prof);
    if (adjust) {
        adjust(prof);
    }
    char path[] = "/tmp/platform_kernel_log_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        return false;
    }
    close(fd);
    g_log_path = path;
    g_log = fopen(path, "a");
    return probe::start_platform(prof, g_log);
}

void stop_platform()
{
    CN_PlatformShutdown();
    CN_SetPlatLogFile(nullptr);
    if (g_log != nullptr) {
        fclose(g_log);
        g_log = nullptr;
    }
    if (!g_log_path.empty()) {
        unlink(g_log_path.c_str());
        g_log_path.clear();
    }
    Recorder::instance().clear();
}

std::string log_text()
{
    if (g_log != nullptr) {
        fflush(g_log);
    }
    std::ifstream in(g_log_path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int bind_udp(WORD16 port)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::vector<BYTE> recv_datagram(int fd, std::chrono::milliseconds timeout)
{
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) != 1) {
        return {};
    }
    std::vector<BYTE> buf(65536);
    ssize_t n = recv(fd, buf.data(), buf.size(), 0);
    if (n < 0) {
        return {};
    }
    buf.resize(static_cast<size_t>(n));
    return buf;
}

bool send_datagram(const void* data, size_t len, WORD16 port)
{
    return send_datagram_from(data, len, port, "127.0.0.1", CN_GetPlatformProfile()->wPartnerPort);
}

ACE_INET_Addr partner_addr() { return ACE_INET_Addr(CN_GetPlatformProfile()->wPartnerPort, "127.0.0.1"); }

bool send_datagram_from(const void* data, size_t len, WORD16 port, const char* fromIp, WORD16 fromPort)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in from = {};
    from.sin_family = AF_INET;
    from.sin_port = htons(fromPort);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (inet_pton(AF_INET, fromIp, &from.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        close(fd);
        return false;
    }
    ssize_t n = sendto(fd, data, len, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    close(fd);
    return n == static_cast<ssize_t>(len);
}

T_SysSoftClock clock_of(int y, int mo, int d, int h, int mi, int s, int ms)
{
    T_SysSoftClock c = {};
    c.wSysYear = static_cast<WORD16>(y);
    c.ucSysMon = static_cast<BYTE>(mo);
    c.ucSysDay = static_cast<BYTE>(d);
    c.ucSysHour = static_cast<BYTE>(h);
    c.ucSysMin = static_cast<BYTE>(mi);
    c.ucSysSec = static_cast<BYTE>(s);
    c.wMilliSec = static_cast<WORD16>(ms);
    return c;
}

} // namespace kt
