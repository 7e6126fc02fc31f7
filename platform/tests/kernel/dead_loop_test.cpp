// The dead-loop check: a job found inside one entry call whose thread has used more than 30000
// processor-clock ticks since the check first saw that call running is reported; a job that
// waits (no processor time), a job between calls, and a new call after a long one are not.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "kernel_test_support.h"
#include "startup/monitor_handler.h"

using namespace std::chrono_literals;

namespace {

class PlatformKernelDeadLoop : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(kt::start_platform()); }
    void TearDown() override { kt::stop_platform(); }
};

// What the job does inside one entry call until the test lets it go.
enum class Inside { kSpin, kWait };

struct Call {
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::function<void()> fn;
    explicit Call(Inside how)
    {
        fn = [this, how] {
            entered = true;
            while (!release.load()) {
                if (how == Inside::kWait) {
                    std::this_thread::sleep_for(1ms);
                }
            }
        };
    }
    bool start(WORD16 type)
    {
        if (!kt::post_to_job(type, &fn)) {
            return false;
        }
        for (int i = 0; i < 1000 && !entered.load(); ++i) std::this_thread::sleep_for(5ms);
        return entered.load();
    }
};

// Waits until the job's thread has used `ticks` more processor time than at `from`.
bool burn(CN_Job_Base* job, clock_t from, clock_t ticks)
{
    for (int i = 0; i < 2000; ++i) {
        if (job->OwnerProcessorTicks() - from > ticks) return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

void finish(Call& c, WORD16 type)
{
    c.release = true;
    ASSERT_TRUE(kt::run_on_job(type, [] {})); // the call has returned
}

TEST_F(PlatformKernelDeadLoop, ReportsOnlyACallThatKeepsTheProcessorBusy)
{
    struct Row {
        const char* name;
        Inside how;
        bool reported;
    } rows[] = {{"spinning", Inside::kSpin, true}, {"waiting", Inside::kWait, false}};
    CN_Job_Base* job = kt::job_of(kt::kTypeC);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Call c(r.how);
        ASSERT_TRUE(c.start(kt::kTypeC));
        EXPECT_FALSE(CN_JobInDeadLoop(job)); // the first look only fixes the starting reading
        const clock_t start = job->GetTicksStart();
        ASSERT_NE(start, static_cast<clock_t>(-1));
        if (r.how == Inside::kSpin) {
            ASSERT_TRUE(burn(job, start, 40000));
        } else {
            std::this_thread::sleep_for(200ms); // far longer than 30000 ticks of a busy thread
        }
        EXPECT_EQ(CN_JobInDeadLoop(job), r.reported);
        finish(c, kt::kTypeC);
        // Between calls (the job leaves the call that told us the first one returned).
        bool idle = false;
        for (int i = 0; i < 200 && !idle; ++i) {
            idle = !CN_JobInDeadLoop(job) && job->GetTicksStart() == static_cast<clock_t>(-1);
            if (!idle) std::this_thread::sleep_for(5ms);
        }
        EXPECT_TRUE(idle);
    }
}

TEST_F(PlatformKernelDeadLoop, ANewCallStartsItsOwnMeasure)
{
    CN_Job_Base* job = kt::job_of(kt::kTypeC);
    Call first(Inside::kSpin);
    ASSERT_TRUE(first.start(kt::kTypeC));
    EXPECT_FALSE(CN_JobInDeadLoop(job));
    const clock_t start = job->GetTicksStart();
    ASSERT_TRUE(burn(job, start, 20000));
    finish(first, kt::kTypeC);
    // No look in between: the next call is seen for the first time, whatever the thread used.
    Call second(Inside::kSpin);
    ASSERT_TRUE(second.start(kt::kTypeC));
    ASSERT_TRUE(burn(job, start, 40000));
    EXPECT_FALSE(CN_JobInDeadLoop(job));
    const clock_t secondStart = job->GetTicksStart();
    EXPECT_GT(secondStart - start, 20000);
    ASSERT_TRUE(burn(job, secondStart, 40000));
    EXPECT_TRUE(CN_JobInDeadLoop(job));
    finish(second, kt::kTypeC);
}

TEST_F(PlatformKernelDeadLoop, ProcessorTicksAreTheOwningThreadsOwn)
{
    // The probe jobs' threads sit idle: their processor time stays far below what this thread
    // uses spinning for 100 ms of its own processor time.
    CN_Job_Base* job = kt::job_of(kt::kTypeD);
    const clock_t before = job->OwnerProcessorTicks();
    ASSERT_NE(before, static_cast<clock_t>(-1));
    timespec t0{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
    for (;;) {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        if ((t.tv_sec - t0.tv_sec) * 1000000000L + (t.tv_nsec - t0.tv_nsec) > 100000000L) break;
    }
    EXPECT_LT(job->OwnerProcessorTicks() - before, 50000);
}

} // namespace
