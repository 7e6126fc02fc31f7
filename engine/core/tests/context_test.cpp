// The engine context: one record, built once, zero defaults, constructed members.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <unistd.h>
#include <thread>
#include <vector>

#include "zub_public.h"

TEST(engine_core_Context, EveryCallerGetsTheSameRecordEvenWhenRacing)
{
    std::vector<context_t*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([i, &seen] { seen[i] = zub_context(); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (context_t* c : seen) {
        EXPECT_EQ(c, seen[0]);
    }
    EXPECT_EQ(zub_context(), seen[0]);
}

namespace {

// Runs `check` with its failures collected, writes them to stderr (which a death test's parent
// shows) and exits 0 only when there were none.
[[noreturn]] void run_and_exit(void (*check)())
{
    ::testing::TestPartResultArray results;
    {
        ::testing::ScopedFakeTestPartResultReporter collect(&results);
        check();
    }
    int failed = 0;
    for (int i = 0; i < results.size(); ++i) {
        const ::testing::TestPartResult& r = results.GetTestPartResult(i);
        if (r.failed()) {
            ++failed;
            std::fprintf(stderr, "%s:%d: %s\n", r.file_name() ? r.file_name() : "?", r.line_number(),
                         r.message());
        }
    }
    _exit(failed == 0 ? 0 : 1);
}

// Runs `check` in a fresh copy of this process (the test binary started again for this test
// alone) and passes when it finds nothing wrong: the one context holds whatever the tests run
// before left in it, so its state as built is seen only where nothing ran before.
void expect_in_fresh_process(void (*check)())
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(run_and_exit(check), ::testing::ExitedWithCode(0), "");
}

void check_configuration_as_built()
{
    const context_t* c = zub_context();
    EXPECT_EQ(c->anchorListenPort, 0);
    EXPECT_EQ(c->zubControlPort, 0);
    EXPECT_EQ(c->zubRTLSStarted, 0);
    EXPECT_EQ(c->zubWirelessSync, 0);
    EXPECT_EQ(c->min_mulitiple, 0);
    EXPECT_FALSE(c->anchor_cfg_finish);
    EXPECT_EQ(c->dac_interface.blink_port, 0);
    EXPECT_EQ(c->time_variance, 0.0);
    EXPECT_EQ(c->max_human_speed, 0.0f);
    EXPECT_EQ(c->log_ctrl.log_level, 0);
    EXPECT_EQ(c->log_ctrl.tag_print_flag, 0);
    EXPECT_EQ(c->displayer_type, ZUB_DISPLAYER_TYPE_ORIGINAL);
    EXPECT_EQ(c->tad_id_prefix, 0u);
    EXPECT_EQ(c->tag_loc.port, 0);
    EXPECT_EQ(c->anc_stat.sleep_time, 0);
    EXPECT_EQ(c->anchor_count, 0);
    EXPECT_EQ(c->data_server_port, 0);
    EXPECT_EQ(c->jid_display.dwJno, 0u);
    EXPECT_EQ(c->jid_selector[17].dwJno, 0u);
    EXPECT_EQ(c->jid_manager[2].wModule, 0);
    EXPECT_EQ(c->reactor_info.ctrl_sock, 0);
    EXPECT_EQ(c->reactor_info.ctrl_client.sock, 0);
    EXPECT_EQ(c->reactor_info.data_server_client[31].flag, 0);
    EXPECT_EQ(c->reactor_info.sock_handle, nullptr);
    EXPECT_EQ(c->tag_trace_cfg.cnt, 0);
    EXPECT_EQ(c->anc_trace_cfg.cnt, 0);
    EXPECT_EQ(c->areas.head, nullptr);
    EXPECT_EQ(c->areas.count, 0);
}

void check_anchors_as_built()
{
    context_t* c = zub_context();
    for (unsigned i : {0u, 1u, 4999u, 9999u}) {
        const Anchor& a = c->anchors[i];
        EXPECT_EQ(a.hardware_id, 0u) << i;
        EXPECT_EQ(a.id, 0) << i;
        EXPECT_EQ(a.tag_cnt, 0) << i;
        EXPECT_EQ(a.nMaster, 0) << i;
        EXPECT_TRUE(a.masters.empty());
        EXPECT_TRUE(a.pendingSync.empty());
        EXPECT_TRUE(a.rfDistanceToMaster.empty());
        EXPECT_EQ(a.position.n_elem, 0u);
        EXPECT_EQ(a.tcp_sock.sock, 0u);
        EXPECT_EQ(a.tcp_sock.ev, nullptr);
        // The slots are constructed: filter start values, sequence 255, valid.
        EXPECT_EQ(a.csMaster[15].seqNum, 255);
        EXPECT_TRUE(a.csMaster[0].valid_sync);
        EXPECT_EQ(a.csMaster[3].cs_kalman.x1, 1.0);
        EXPECT_EQ(a.csMaster[3].master, nullptr);
    }
    EXPECT_EQ(c->anchor_id_manager.mappings.count, 0u);
    EXPECT_EQ(c->anchor_id_manager.mappings.Root, (RBNode<unsigned long, anchor_id_t>::Nil()));
    EXPECT_FALSE(c->anchor_id_manager.used[0]);
}

}  // namespace

TEST(engine_core_Context, ConfigurationStartsAtZero)
{
    expect_in_fresh_process(check_configuration_as_built);
}

TEST(engine_core_Context, AnchorsAreBuiltInPlaceButNotInitialised)
{
    expect_in_fresh_process(check_anchors_as_built);
}

TEST(engine_core_Context, RfConfigDefaults)
{
    EXPECT_EQ(rfConfig.chan, 2);
    EXPECT_EQ(rfConfig.prf, RXQ_PRF_64M);
    EXPECT_EQ(rfConfig.rate, RXQ_BR_6M8);
    EXPECT_EQ(rfConfig.code, 9);
    EXPECT_EQ(rfConfig.plen, 0x14);
    EXPECT_EQ(rfConfig.pac, RXQ_PAC8);
    EXPECT_EQ(rfConfig.nsfd, 0);
    EXPECT_EQ(rfConfig.ant_delay, 16454);
    EXPECT_EQ(rfConfig.use_tof, 0);
    EXPECT_EQ(rfConfig.four_anc_mode, 0);
    EXPECT_EQ(rfConfig.use_ant_delay, 1);
    EXPECT_EQ(rfConfig.tof_delayed, 1000);
    EXPECT_EQ(rfConfig.tof_anc_id, 0);
    EXPECT_EQ(rfConfig.anc_power, 0u);
}

namespace {

// Runs at exit after every static destructor that was registered later, as the job
// threads would still run: the context and what it holds must be intact.
void check_context_at_exit()
{
    context_t* c = zub_context();
    const bool intact = zub_search_anchor_id(0xC0FFEE) == 0 && c->anchors[0].rf_distance_to(0x77) == 2.5 &&
                        c->anchors[0].masters.size() == 1 && c->anchor_id_manager.mappings.validate() == nullptr;
    _exit(intact ? 42 : 1);
}

[[noreturn]] void exit_while_a_job_thread_uses_the_context()
{
    std::atexit(check_context_at_exit);  // before the context exists: runs after its would-be destructor
    if (zub_new_anchor_id(0xC0FFEE) != 0) {
        _exit(3);
    }
    zub_context()->anchors[0].init(0xC0FFEE, 0);
    zub_context()->anchors[0].add_master(anchor_idx_t{1, {0, 0, 0}, 0x77}, 2.5);
    static std::atomic<bool> running{false};
    std::thread job([] {
        for (;;) {
            running.store(true);
            if (zub_search_anchor_id(0xC0FFEE) != 0 || zub_context()->anchors[0].rf_distance_to(0x77) != 2.5) {
                _exit(2);
            }
        }
    });
    job.detach();
    while (!running.load()) {
    }
    std::exit(0);
}

}  // namespace

TEST(engine_core_Context, OutlivesProcessExitWhileJobThreadsStillRun)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exit_while_a_job_thread_uses_the_context(), ::testing::ExitedWithCode(42), "");
}
