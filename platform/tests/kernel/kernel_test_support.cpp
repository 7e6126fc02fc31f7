// kernel_test_support.cpp - probe jobs, recorder, in-job execution, namespace and log capture.
#include "kernel_test_support.h"

#include <arpa/inet.h>
#include <cstring>
#include <fstream>
#include <memory>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kt {

namespace {

bool g_netns = false;
FILE* g_log = nullptr;
std::string g_log_path;

struct Work {
    std::function<void()> fn;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
};

void probe_entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag)
{
    if (dwMsgId == kRunFnMsg && XOS_GetMsgType() == CN_MSG_TYPE_JOB) {
        std::shared_ptr<Work>* holder = nullptr;
        std::memcpy(&holder, pMsgBody, sizeof holder);
        std::shared_ptr<Work> work = *holder;
        delete holder;
        work->fn();
        std::lock_guard<std::mutex> lock(work->m);
        work->done = true;
        work->cv.notify_all();
        return;
    }
    Call c;
    c.jobType = static_cast<WORD16>(XOS_GetSelfJNO() >> 16);
    c.state = wState;
    c.msgId = dwMsgId;
    XOS_GetMsgDataLen(&c.len);
    c.type = XOS_GetMsgType();
    XOS_Sender(&c.sender);
    XOS_Receiver(&c.receiver);
    XOS_GetSelfJID(&c.self);
    c.thread = pthread_self();
    const BYTE* body = static_cast<const BYTE*>(pMsgBody);
    c.body.assign(body, body + c.len);
    c.timerPara = XOS_GetParaOfCurTimer();
    c.timerId = XOS_GetTidOfCurTimer();
    c.at = std::chrono::steady_clock::now();
    Recorder::instance().record(c);
    if (Reaction r = Recorder::instance().reaction(c.jobType)) {
        r(c);
    }
}

// Rows as the platform reads them: type, priority, schedule index, instance, name, entry,
// stack size, private data size, flags.
const T_JobCreatReg kProbeTable[] = {
    {kTypeScs, 10, 1, 1, "T_SCS", probe_entry, 0, 1024, 0},
    {kTypeNotExist, 10, 1, 1, "notexist", notexist_Job_Entry, 0, 4096, CN_JOB_FLAG_WAIT_POWERON_ACK},
    {kTypeA, 11, 2, 1, "T_A", probe_entry, 0, 64, 0},
    {kTypeB, 11, 3, 1, "T_B", probe_entry, 0, 64, 0},
    {kTypeB2, 11, 3, 1, "T_B2", probe_entry, 0, 64, 0},
    {kTypeC, 11, 4, 1, "T_C", probe_entry, 0, 64, 0},
    {kTypeD, 11, 5, 1, "T_D", probe_entry, 0, 64, 0},
    {kTypeBackComm, 11, 6, 1, "BackComm", probe_entry, 0, 64, 0},
    {0x5FFF, 1, 1, 1, "END", nullptr, 0, 0, 0},
};

const T_JobCreatReg kProbeTableOmp[] = {
    {kTypeScs, 10, 1, 1, "T_SCS", probe_entry, 0, 1024, 0},
    {kTypeNotExist, 10, 1, 1, "notexist", notexist_Job_Entry, 0, 4096, CN_JOB_FLAG_WAIT_POWERON_ACK},
    {kTypeBackComm, 11, 2, 1, "BackComm", probe_entry, 0, 4096, 0},
    {kTypeA, 10, 1, 1, "T_A", probe_entry, 0, 64, 0},
    {0x5FFF, 1, 1, 1, "END", nullptr, 0, 0, 0},
};

std::shared_ptr<Work> queue_work(WORD16 jobType, std::function<void()> fn)
{
    auto work = std::make_shared<Work>();
    work->fn = std::move(fn);
    auto* holder = new std::shared_ptr<Work>(work);
    JID sender = local_jid(kTypeScs);
    JID dest = local_jid(jobType);
    if (XOS_SendAsynMsgNJ(kRunFnMsg, reinterpret_cast<BYTE*>(&holder), sizeof holder, 0, 0, &sender, &dest) != 0) {
        delete holder;
        return nullptr;
    }
    return work;
}

bool wait_work(Work& work, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(work.m);
    return work.cv.wait_for(lock, timeout, [&] { return work.done; });
}

} // namespace

const T_JobCreatReg* probe_table() { return kProbeTable; }
const T_JobCreatReg* probe_table_omp() { return kProbeTableOmp; }

Recorder& Recorder::instance()
{
    static Recorder r;
    return r;
}

void Recorder::record(const Call& c)
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(c);
    cond_.notify_all();
}

void Recorder::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
    reactions_.clear();
}

void Recorder::set_reaction(WORD16 jobType, Reaction r)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : reactions_) {
        if (entry.first == jobType) {
            entry.second = std::move(r);
            return;
        }
    }
    reactions_.emplace_back(jobType, std::move(r));
}

Reaction Recorder::reaction(WORD16 jobType)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : reactions_) {
        if (entry.first == jobType) {
            return entry.second;
        }
    }
    return {};
}

std::vector<Call> Recorder::calls(WORD16 jobType)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Call> out;
    for (const Call& c : calls_) {
        if (c.jobType == jobType) {
            out.push_back(c);
        }
    }
    return out;
}

std::vector<Call> Recorder::calls(WORD16 jobType, WORD32 msgId)
{
    std::vector<Call> out;
    for (const Call& c : calls(jobType)) {
        if (c.msgId == msgId) {
            out.push_back(c);
        }
    }
    return out;
}

bool Recorder::wait_for(WORD16 jobType, WORD32 msgId, size_t n, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return cond_.wait_for(lock, timeout, [&] {
        size_t count = 0;
        for (const Call& c : calls_) {
            count += (c.jobType == jobType && c.msgId == msgId) ? 1 : 0;
        }
        return count >= n;
    });
}

bool Recorder::wait_for_any(WORD16 jobType, size_t n, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return cond_.wait_for(lock, timeout, [&] {
        size_t count = 0;
        for (const Call& c : calls_) {
            count += (c.jobType == jobType) ? 1 : 0;
        }
        return count >= n;
    });
}

bool run_on_job(WORD16 jobType, const std::function<void()>& fn, std::chrono::milliseconds timeout)
{
    std::shared_ptr<Work> work = queue_work(jobType, fn);
    return work != nullptr && wait_work(*work, timeout);
}

bool post_to_job(WORD16 jobType, std::function<void()>* pfn)
{
    return queue_work(jobType, [pfn] { (*pfn)(); }) != nullptr;
}

JID local_jid(WORD16 jobType) { return CN_LocalJID(jobType); }

CN_Job_Base* job_of(WORD16 jobType) { return CN_Job_Base::GetJobByType(jobType); }

bool enter_private_netns()
{
    if (unshare(CLONE_NEWNET) != 0) {
        return false;
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return false;
    }
    struct ifreq ifr = {};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    close(fd);
    g_netns = ok;
    return ok;
}

bool in_private_netns() { return g_netns; }

bool start_platform(const std::function<void(CN_PlatformProfile&)>& adjust)
{
    Recorder::instance().clear();
    CN_PlatformProfile prof = CN_EngineProfile(probe_table());
    prof.wTaskCount = kTaskCount;
    if (!g_netns) {
        // Outside a namespace of our own, keep off the real ports: 30000 + (pid % 276) * 10.
        prof.wModule = static_cast<WORD16>(1000 + getpid() % 276);
    }
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
    if (CN_PlatformInit(&prof) != 0) {
        return false;
    }
    CN_SetPlatLogFile(g_log);
    CN_StampPowerOnTime();
    if (CN_StartControlTasks() != CN_START_OK || CN_StartReactorThread() != 0) {
        return false;
    }
    // Wait until every task thread has recorded itself and its jobs' owner.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        bool all = true;
        for (WORD16 i = 1; i <= prof.wTaskCount; ++i) {
            all = all && CNCtrlTask::thisThrNo[i].load() != pthread_t{};
        }
        for (CN_Job_Base* job : CNCtrlTask::g_JobObj) {
            all = all && (job == nullptr || job->IsOwnerThrNoSet());
        }
        if (all) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
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
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ssize_t n = sendto(fd, data, len, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    close(fd);
    return n == static_cast<ssize_t>(len);
}

} // namespace kt
