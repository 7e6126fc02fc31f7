#include "proxy_harness.h"

#include <gtest/gtest.h>

#include <ace/OS_NS_Thread.h>
#include <ace/Select_Reactor.h>

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

ReactorThread::ReactorThread() : reactor_(new ACE_Reactor(new ACE_Select_Reactor, true)) {
    std::mutex m;
    std::condition_variable cv;
    bool owned = false;
    thread_ = std::thread([&, r = reactor_.get()] {
        r->owner(ACE_OS::thr_self());
        {
            // Notified under the lock: the constructor, and with it cv, may be gone once it is released.
            std::lock_guard<std::mutex> g(m);
            owned = true;
            cv.notify_one();
        }
        r->run_reactor_event_loop();
    });
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] { return owned; });
}

ReactorThread::~ReactorThread() {
    reactor_->end_reactor_event_loop();
    thread_.join();
    reactor_.reset();
}

int FakeJobPort::hand_over(ACE_Message_Block* block) {
    std::lock_guard<std::mutex> g(lock_);
    if (refuse_) {
        return -1;
    }
    if (block->msg_type() != MB_USER_JOB_MESSAGE) {
        ADD_FAILURE_AT(__FILE__, __LINE__);
    }
    blocks_.emplace_back(reinterpret_cast<const BYTE*>(block->rd_ptr()),
                         reinterpret_cast<const BYTE*>(block->rd_ptr()) + block->length());
    block->release();
    arrived_.notify_all();
    return 0;
}

std::vector<Bytes> FakeJobPort::wait_for(std::size_t n, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> g(lock_);
    arrived_.wait_for(g, limit, [&] { return blocks_.size() >= n; });
    return blocks_;
}

std::size_t FakeJobPort::count() {
    std::lock_guard<std::mutex> g(lock_);
    return blocks_.size();
}

void FakeJobPort::refuse(bool on) {
    std::lock_guard<std::mutex> g(lock_);
    refuse_ = on;
}

Peer::Peer(std::uint16_t port, int rcvbuf) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) {
        return;
    }
    if (rcvbuf > 0) {
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    }
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

Peer::~Peer() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void Peer::send(const Bytes& bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + pos, bytes.size() - pos, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        pos += static_cast<std::size_t>(n);
    }
}

Bytes Peer::recv_some(std::size_t n, std::chrono::milliseconds limit) {
    Bytes out;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) {
        return out;
    }
    out.resize(n);
    const ssize_t got = ::recv(fd_, out.data(), n, 0);
    out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return out;
}

Bytes Peer::recv_exact(std::size_t n, std::chrono::milliseconds limit) {
    Bytes out;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (out.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        BYTE buf[65536];
        const ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
        if (got <= 0) {
            break;
        }
        out.insert(out.end(), buf, buf + got);
    }
    return out;
}

bool Peer::closed_within(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        BYTE buf[4096];
        if (::recv(fd_, buf, sizeof buf, 0) <= 0) {
            return true;
        }
    }
}

void Peer::reset() {
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd_);
    fd_ = -1;
}

namespace {

void put16(Bytes& b, std::size_t at, WORD16 v, bool be) {
    if (be) {
        v = __builtin_bswap16(v);
    }
    std::memcpy(b.data() + at, &v, 2);
}

void put32(Bytes& b, std::size_t at, WORD32 v, bool be) {
    if (be) {
        v = __builtin_bswap32(v);
    }
    std::memcpy(b.data() + at, &v, 4);
}

void put_jid(Bytes& b, std::size_t at, const JID& j, bool be) {
    put32(b, at, j.dwJno, be);
    put32(b, at + 4, j.dwDevId, be);
    put16(b, at + 8, j.wModule, be);
    put16(b, at + 10, j.wUnit, be);
    b[at + 12] = j.ucSUnit;
    b[at + 13] = j.ucSubSystem;
    b[at + 14] = j.ucRouteType;
    b[at + 15] = j.ucExtendFlag;
}

} // namespace

Bytes peer_frame(WORD32 id, const JID& sender, const JID& receiver, const Bytes& body, bool big_endian) {
    Bytes b(48 + body.size(), 0);
    b[0] = 1;   // ucVer
    b[1] = 4;   // ucMsgVer
    b[2] = 2;   // ucMsgType
    put16(b, 6, static_cast<WORD16>(body.size()), big_endian);
    put32(b, 8, id, big_endian);
    put32(b, 12, 0x0000FFFF, big_endian);
    put_jid(b, 16, sender, big_endian);
    put_jid(b, 32, receiver, big_endian);
    std::copy(body.begin(), body.end(), b.begin() + 48);
    return b;
}

JID peer_jid(WORD16 module) {
    JID j{};
    j.dwJno = 0x7F000001;
    j.dwDevId = 0x02000001;
    j.wModule = module;
    j.wUnit = 0xFFFF;
    j.ucRouteType = 5;
    return j;
}

JID local_jid(WORD16 job_type, WORD16 module) {
    JID j{};
    j.dwJno = (static_cast<WORD32>(job_type) << 16) | 1;
    j.dwDevId = 1;
    j.wModule = module;
    j.wUnit = 0xFFFF;
    return j;
}

Bytes registration(WORD16 module, bool big_endian) {
    // A registration head is zero apart from its id, the mark and the sender's module.
    Bytes b(48, 0);
    put32(b, 8, kOmcMsgRegister, big_endian);
    put32(b, 12, 0x0000FFFF, big_endian);
    put16(b, 24, module, big_endian);
    return b;
}

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes head_bytes(const T_OMCMsgHead& head) {
    Bytes b(48);
    std::memcpy(b.data(), &head, 48);
    return b;
}

Bytes next_message(Peer& peer, std::chrono::milliseconds limit) {
    for (;;) {
        Bytes head = peer.recv_exact(48, limit);
        if (head.size() != 48) {
            return {};
        }
        const T_OMCMsgHead h = omc_head_decode(head.data());
        if (h.dwMsgId == kOmcMsgHeartbeat) {
            continue;
        }
        const Bytes body = peer.recv_exact(h.wMsgSize, limit);
        head.insert(head.end(), body.begin(), body.end());
        return head;
    }
}

namespace {

class ReactorRunner final : public ACE_Event_Handler {
public:
    explicit ReactorRunner(const std::function<void()>& fn) : fn_(fn) {}
    int handle_exception(ACE_HANDLE) override {
        fn_();
        std::lock_guard<std::mutex> g(lock_);
        done_ = true;
        cv_.notify_all();
        return 0;
    }
    bool wait(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> g(lock_);
        return cv_.wait_for(g, limit, [this] { return done_; });
    }

private:
    std::function<void()> fn_;
    std::mutex lock_;
    std::condition_variable cv_;
    bool done_ = false;
};

} // namespace

bool run_on_reactor(ACE_Reactor* reactor, const std::function<void()>& fn) {
    auto runner = std::make_unique<ReactorRunner>(fn);
    if (reactor->notify(runner.get(), ACE_Event_Handler::EXCEPT_MASK) == -1) {
        return false;
    }
    if (!runner->wait(std::chrono::seconds(5))) {
        runner.release(); // still referenced by a pending notification: leak rather than free
        return false;
    }
    return true;
}
