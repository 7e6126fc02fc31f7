#include "anchor_bank.h"

#include <poll.h>

namespace ctrltest {

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kAnchorPort = 3000;

template <class Pred>
bool wait_until(Pred pred, std::chrono::milliseconds timeout)
{
    const auto until = Clock::now() + timeout;
    while (!pred()) {
        if (Clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

AnchorBank::~AnchorBank()
{
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool AnchorBank::open(const std::vector<FakeAnchor>& anchors, std::string* error)
{
    for (const FakeAnchor& a : anchors) {
        auto server = std::make_unique<anchorsim::AnchorServer>(a.hw_id, "fake-" + a.ip, a.ip, kAnchorPort);
        if (!server->listen(error)) {
            return false;
        }
        servers_.push_back(std::move(server));
    }
    thread_ = std::thread([this] { serve(); });
    return true;
}

void AnchorBank::serve()
{
    const auto start = Clock::now();
    std::vector<pollfd> fds;
    while (!stop_) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            fds.clear();
            for (const auto& s : servers_) {
                s->poll_set(&fds);
            }
        }
        ::poll(fds.data(), fds.size(), 10);
        std::lock_guard<std::mutex> guard(lock_);
        const double now = std::chrono::duration<double>(Clock::now() - start).count();
        for (size_t i = 0; i < servers_.size(); ++i) {
            servers_[i]->dispatch(&fds[2 * i], 2, now);
            servers_[i]->flush();
        }
    }
}

std::vector<anchorsim::Bytes> AnchorBank::commands(size_t i)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<anchorsim::Bytes> out;
    for (const anchorsim::ReceivedCommand& c : servers_.at(i)->commands()) {
        out.push_back(c.command.bytes);
    }
    return out;
}

bool AnchorBank::connected(size_t i)
{
    std::lock_guard<std::mutex> guard(lock_);
    return servers_.at(i)->connected();
}

bool AnchorBank::wait_all_connected(std::chrono::milliseconds timeout)
{
    return wait_until(
        [this] {
            for (size_t i = 0; i < servers_.size(); ++i) {
                if (!connected(i)) {
                    return false;
                }
            }
            return true;
        },
        timeout);
}

bool AnchorBank::wait_commands(size_t i, size_t count, std::chrono::milliseconds timeout)
{
    return wait_until([this, i, count] { return commands(i).size() >= count; }, timeout);
}

bool AnchorBank::send(size_t i, const anchorsim::Bytes& payload)
{
    std::lock_guard<std::mutex> guard(lock_);
    const bool queued = servers_.at(i)->send_report(payload);
    servers_.at(i)->flush();
    return queued;
}

}  // namespace ctrltest
