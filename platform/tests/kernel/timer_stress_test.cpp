// Concurrent timer starts and kills on several jobs while their timers fire on the reactor
// thread, and a foreign thread keeps trying to cancel them. Every one-shot timer must end
// exactly once (delivered or cancelled), and nothing may be left behind.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "kernel_test_support.h"

using namespace std::chrono_literals;
using kt::Recorder;

namespace {

constexpr WORD32 kOneShotNo = 3001;
constexpr WORD32 kLoopNo = 3002;
constexpr int kSteps = 300;
constexpr int kOpsPerStep = 12;

struct Driver {
    explicit Driver(unsigned seed) : rng(seed) {}
    std::mt19937 rng;
    std::vector<XOS_TIMER_ID> oneShots;  // every one-shot started
    std::set<XOS_TIMER_ID> liveOneShot;  // not yet known to be gone
    std::set<XOS_TIMER_ID> liveLoop;
    std::set<XOS_TIMER_ID> killedOneShot; // cancelled with result 0
    std::set<XOS_TIMER_ID> loops;
    std::atomic<int> failures{0};
    std::atomic<int> stepsDone{0};

    XOS_TIMER_ID pick(std::set<XOS_TIMER_ID>& s)
    {
        auto it = s.begin();
        std::advance(it, std::uniform_int_distribution<size_t>(0, s.size() - 1)(rng));
        return *it;
    }

    void step()
    {
        for (int i = 0; i < kOpsPerStep; ++i) {
            int op = std::uniform_int_distribution<int>(0, 5)(rng);
            if (op <= 1) {
                XOS_TIMER_ID id = XOS_SetRelativeTimer(kOneShotNo, std::uniform_int_distribution<int>(0, 3)(rng),
                                                       static_cast<WORD32>(oneShots.size()));
                if (id == XOS_INVALID_TIMER_ID) {
                    ++failures;
                    continue;
                }
                oneShots.push_back(id);
                liveOneShot.insert(id);
            } else if (op == 2 && liveLoop.size() < 8) {
                XOS_TIMER_ID id = XOS_SetLoopTimer(kLoopNo, std::uniform_int_distribution<int>(1, 5)(rng), 0);
                if (id == XOS_INVALID_TIMER_ID) {
                    ++failures;
                    continue;
                }
                liveLoop.insert(id);
                loops.insert(id);
            } else if (op == 3 && !liveOneShot.empty()) {
                XOS_TIMER_ID id = pick(liveOneShot);
                liveOneShot.erase(id);
                if (XOS_KillTimerByTimerId(id) == 0) {
                    killedOneShot.insert(id);
                }
            } else if (op == 4 && !liveLoop.empty()) {
                XOS_TIMER_ID id = pick(liveLoop);
                liveLoop.erase(id);
                if (XOS_KillTimerByTimerId(id) != 0) {
                    ++failures; // a periodic timer is only ever gone through its kill
                }
            } else if (op == 5) {
                // By number and parameter: parameters are unique per one-shot.
                if (!liveOneShot.empty()) {
                    XOS_TIMER_ID id = pick(liveOneShot);
                    size_t para = std::find(oneShots.begin(), oneShots.end(), id) - oneShots.begin();
                    liveOneShot.erase(id);
                    if (XOS_KillTimer(kOneShotNo, static_cast<WORD32>(para)) == 0) {
                        killedOneShot.insert(id);
                    }
                }
            }
        }
        ++stepsDone;
    }

    void finish()
    {
        for (XOS_TIMER_ID id : liveOneShot) {
            if (XOS_KillTimerByTimerId(id) == 0) {
                killedOneShot.insert(id);
            }
        }
        liveOneShot.clear();
        for (XOS_TIMER_ID id : liveLoop) {
            if (XOS_KillTimerByTimerId(id) != 0) {
                ++failures;
            }
        }
        liveLoop.clear();
    }
};

TEST(PlatformKernelTimerStress, ConcurrentStartsAndKillsWhileTimersFire)
{
    ASSERT_TRUE(kt::start_platform());
    const WORD16 types[] = {kt::kTypeA, kt::kTypeB, kt::kTypeD};
    std::map<WORD16, std::unique_ptr<Driver>> drivers;
    std::map<WORD16, std::function<void()>> stepFns;
    for (WORD16 t : types) {
        drivers[t] = std::make_unique<Driver>(t * 7919u);
        Driver* d = drivers[t].get();
        stepFns[t] = [d] { d->step(); };
    }

    // A foreign thread keeps trying to cancel timers it does not own: always refused.
    std::atomic<bool> stop{false};
    std::atomic<int> foreignSuccess{0};
    std::thread intruder([&] {
        CN_Job_Base* jobs[] = {kt::job_of(kt::kTypeA), kt::job_of(kt::kTypeB), kt::job_of(kt::kTypeD)};
        XOS_TIMER_ID guess = 1;
        while (!stop) {
            for (CN_Job_Base* job : jobs) {
                foreignSuccess += job->KillTimerById(guess++ % 5000) == 0 ? 1 : 0;
                (void)job->TimerCount();
            }
            std::this_thread::sleep_for(200us);
        }
    });

    for (int s = 0; s < kSteps; ++s) {
        for (WORD16 t : types) {
            ASSERT_TRUE(kt::post_to_job(t, &stepFns[t]));
        }
    }
    for (WORD16 t : types) {
        Driver* d = drivers[t].get();
        ASSERT_TRUE(kt::run_on_job(t, [d] { d->finish(); }, 60s)) << "job " << t;
        EXPECT_EQ(d->stepsDone.load(), kSteps);
    }
    stop = true;
    intruder.join();
    // Anything already queued has been handled once each job ran one more message.
    std::this_thread::sleep_for(50ms);
    for (WORD16 t : types) {
        ASSERT_TRUE(kt::run_on_job(t, [] {}));
    }

    EXPECT_EQ(foreignSuccess.load(), 0);
    size_t totalOneShots = 0, totalDelivered = 0;
    for (WORD16 t : types) {
        Driver& d = *drivers[t];
        EXPECT_EQ(d.failures.load(), 0) << "job " << t;
        EXPECT_EQ(kt::job_of(t)->TimerCount(), 0u) << "job " << t;
        std::map<XOS_TIMER_ID, int> delivered;
        for (const kt::Call& c : Recorder::instance().calls(t, kOneShotNo)) {
            ++delivered[c.timerId];
        }
        for (const kt::Call& c : Recorder::instance().calls(t, kLoopNo)) {
            EXPECT_TRUE(d.loops.count(c.timerId)) << "expiry of a periodic timer never started";
        }
        for (XOS_TIMER_ID id : d.oneShots) {
            int n = delivered.count(id) ? delivered[id] : 0;
            bool killed = d.killedOneShot.count(id) != 0;
            EXPECT_EQ(n + (killed ? 1 : 0), 1) << "one-shot " << id << " delivered " << n << " killed " << killed;
            totalDelivered += static_cast<size_t>(n);
        }
        totalOneShots += d.oneShots.size();
        EXPECT_EQ(delivered.size() + d.killedOneShot.size(), d.oneShots.size());
    }
    EXPECT_GT(totalOneShots, 1000u);
    EXPECT_GT(totalDelivered, 0u);
    kt::stop_platform();
}

} // namespace
