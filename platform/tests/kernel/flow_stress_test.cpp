// Job messages under load through the platform's own sends: three jobs sending with waits and
// three foreign threads sending with the explicit-sender forms, all into one job whose queue has
// a small mark and whose task runs dry, sleeps and is woken. Every waiting send arrives once and
// in order; an explicit-sender send arrives once and in order or is dropped with the result 1.
// The drops of a waiting send each leave a line; those of the explicit-sender forms go through
// the log's per-site limit: the first lines as they stand, later ones counted in the next line
// written, so the lines and their held counts never add up to more than the drops.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <thread>
#include <vector>

#include "CNPlatLogLimit.h"
#include "kernel_test_support.h"

using namespace std::chrono_literals;

namespace {

constexpr WORD32 kMsg = 0x5151;
constexpr uint32_t kPerSender = 3000;
constexpr WORD16 kLen = 60; // 104-byte blocks

struct Body {
    uint32_t sender;
    uint32_t seq;
    BYTE fill[kLen - 8];
};

size_t count_of(const std::string& text, const std::string& line)
{
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
}

// The lines of a site and the "(<n> lines like this held back)" counts they carry.
struct LimitedLines {
    size_t lines = 0;
    size_t held = 0;
};

LimitedLines limited_lines(const std::string& text, const std::string& line)
{
    LimitedLines out;
    const std::string prefix = " lines like this held back) ";
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
        ++out.lines;
        if (at < prefix.size() || text.compare(at - prefix.size(), prefix.size(), prefix) != 0) continue;
        size_t digits = at - prefix.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(text[digits - 1]))) --digits;
        out.held += std::stoul(text.substr(digits, at - prefix.size() - digits));
    }
    return out;
}

class PlatformKernelFlowStress : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(kt::start_platform()); }
    void TearDown() override { kt::stop_platform(); }
};

TEST_F(PlatformKernelFlowStress, WaitingSendsAllArriveDropsAreLoggedOnce)
{
    CNTaskQueue* q = CNCtrlTask::gaCNCtrlTask[4]->task_queue(); // job C's task
    q->high_water_mark(40 * 104);
    q->low_water_mark(40 * 104);
    std::atomic<uint32_t> handled{0};
    kt::Recorder::instance().set_reaction(kt::kTypeC, [&](const kt::Call& c) {
        if (c.msgId == kMsg && handled.fetch_add(1) % 50 == 49) {
            std::this_thread::sleep_for(200us); // a slow job: the mark is reached
        }
    });
    const JID dest = kt::local_jid(kt::kTypeC);
    auto send_loop = [dest](uint32_t sender, int form) {
        uint32_t refused = 0;
        JID self = kt::local_jid(static_cast<WORD16>(0x0700 + sender)); // explicit senders only
        JID to = dest;
        Body b{};
        b.sender = sender;
        for (uint32_t seq = 0; seq < kPerSender; ++seq) {
            b.seq = seq;
            BYTE* p = reinterpret_cast<BYTE*>(&b);
            WORD32 rc = form == 0   ? XOS_SendAsynMsg(kMsg, p, kLen, 0, 0, &to)
                        : form == 1 ? XOS_SendAsynMsgNJ(kMsg, p, kLen, 0, 0, &self, &to)
                                    : OSS_SendFromTask(kMsg, p, kLen, &self, &to);
            refused += rc != 0 ? 1 : 0;
            if (seq % 400 == 399) std::this_thread::sleep_for(2ms); // the receiver runs dry
        }
        return refused;
    };
    // Senders 0..2: jobs A, B and D (waiting sends); 3, 4: XOS_SendAsynMsgNJ; 5: OSS_SendFromTask.
    const WORD16 jobs[] = {kt::kTypeA, kt::kTypeB, kt::kTypeD};
    std::atomic<uint32_t> refused[6] = {};
    std::vector<std::shared_ptr<probe::Work>> work;
    for (uint32_t s = 0; s < 3; ++s) {
        work.push_back(probe::queue_work(jobs[s], [&, s] { refused[s] = send_loop(s, 0); }));
        ASSERT_NE(work.back(), nullptr);
    }
    std::vector<std::thread> threads;
    for (uint32_t s = 3; s < 6; ++s) {
        threads.emplace_back([&, s] { refused[s] = send_loop(s, s < 5 ? 1 : 2); });
    }
    for (auto& t : threads) t.join();
    for (auto& w : work) ASSERT_TRUE(probe::wait_work(*w, 60s));
    ASSERT_TRUE(kt::run_on_job(kt::kTypeC, [] {})); // everything queued before it is handled

    std::vector<std::vector<uint32_t>> seqs(6);
    for (const kt::Call& c : kt::Recorder::instance().calls(kt::kTypeC, kMsg)) {
        ASSERT_EQ(c.len, kLen);
        Body b{};
        std::memcpy(&b, c.body.data(), sizeof b);
        ASSERT_LT(b.sender, 6u);
        seqs[b.sender].push_back(b.seq);
    }
    std::vector<uint32_t> all(kPerSender);
    for (uint32_t i = 0; i < kPerSender; ++i) all[i] = i;
    size_t dropped[6] = {};
    for (uint32_t s = 0; s < 6; ++s) {
        SCOPED_TRACE(s);
        for (size_t i = 1; i < seqs[s].size(); ++i) ASSERT_LT(seqs[s][i - 1], seqs[s][i]);
        dropped[s] = kPerSender - seqs[s].size();
        if (s < 3) {
            EXPECT_EQ(seqs[s], all);
        }
    }
    // Each drop: one log line, and the sender told (1).
    const std::string log = kt::log_text();
    EXPECT_GT(dropped[3] + dropped[4], 0u);
    const size_t nj_drops = dropped[3] + dropped[4];
    const LimitedLines nj = limited_lines(log, "XOS_SendAsynMsgNJ: msg que fulled, dropped!");
    EXPECT_GE(nj.lines, std::min<size_t>(nj_drops, CN_LogLimit::kBurst));
    EXPECT_LE(nj.lines + nj.held, nj_drops);
    EXPECT_EQ(refused[3].load() + refused[4].load(), dropped[3] + dropped[4]);
    EXPECT_EQ(refused[5].load(), dropped[5]);
    EXPECT_EQ(count_of(log, "err!msg que fulled! ptDstJid"), dropped[5]);
    for (uint32_t s = 0; s < 3; ++s) EXPECT_EQ(refused[s].load(), 0u);
    EXPECT_GT(q->sleep_count(), 0u);
}

TEST_F(PlatformKernelFlowStress, InJobWorkWaitsWhileTheJobsQueueIsFullAndRunsAfterWhatCameFirst)
{
    // C is held and its queue filled to the mark; work for C queued now must neither be dropped
    // nor overtake the backlog, however the release and the queueing interleave.
    kt::JobHold hold;
    ASSERT_TRUE(hold.hold(kt::kTypeC));
    CNTaskQueue* q = CNCtrlTask::gaCNCtrlTask[4]->task_queue();
    q->high_water_mark(8 * 104);
    q->low_water_mark(8 * 104);
    const JID from = kt::local_jid(kt::kTypeA);
    const JID to = kt::local_jid(kt::kTypeC);
    Body b{};
    uint32_t queued = 0;
    for (; queued < 100; ++queued) {
        b.seq = queued;
        JID self = from;
        JID dest = to;
        if (OSS_SendFromTask(kMsg, reinterpret_cast<BYTE*>(&b), kLen, &self, &dest) != 0) break;
    }
    ASSERT_EQ(queued, 8u); // 104-byte blocks go in while fewer than 8 * 104 bytes wait
    std::atomic<bool> queueing{false};
    std::thread releaser([&] {
        while (!queueing.load()) std::this_thread::yield();
        hold.release();
    });
    size_t seenBefore = 0;
    queueing = true;
    const bool ran = kt::run_on_job(kt::kTypeC, [&] { seenBefore = kt::Recorder::instance().calls(kt::kTypeC, kMsg).size(); });
    releaser.join();
    ASSERT_TRUE(ran);
    EXPECT_EQ(seenBefore, queued);
    std::vector<uint32_t> seqs;
    for (const kt::Call& c : kt::Recorder::instance().calls(kt::kTypeC, kMsg)) {
        Body got{};
        std::memcpy(&got, c.body.data(), sizeof got);
        seqs.push_back(got.seq);
    }
    EXPECT_EQ(seqs, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(PlatformKernelFlowStress, AnExitBlockEndsTheTaskAndWhatFollowsItStaysQueued)
{
    // X1, the exit block and X2 wait behind a held call, so the task takes all three at once.
    kt::JobHold hold;
    ASSERT_TRUE(hold.hold(kt::kTypeC));
    CNCtrlTask* task = CNCtrlTask::gaCNCtrlTask[4];
    JID from = kt::local_jid(kt::kTypeA);
    JID to = kt::local_jid(kt::kTypeC);
    ASSERT_EQ(XOS_SendAsynMsgNJ(0x601, nullptr, 0, 0, 0, &from, &to), 0u);
    ASSERT_EQ(task->kill(), 0);
    ASSERT_EQ(XOS_SendAsynMsgNJ(0x602, nullptr, 0, 0, 0, &from, &to), 0u);
    ASSERT_EQ(task->task_queue()->message_count(), 3u);
    hold.release();
    ASSERT_TRUE(kt::Recorder::instance().wait_for(kt::kTypeC, 0x601, 1, 10s));
    for (int i = 0; i < 1000 && task->thr_count() != 0; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(task->thr_count(), 0u);
    EXPECT_NE(kt::log_text().find(" Ctrl Task get terminating msg!!!!!"), std::string::npos);
    EXPECT_TRUE(kt::Recorder::instance().calls(kt::kTypeC, 0x602).empty());
    EXPECT_EQ(task->task_queue()->message_count(), 1u);
    EXPECT_EQ(task->task_queue()->taken_bytes(), 0u);
}

} // namespace
