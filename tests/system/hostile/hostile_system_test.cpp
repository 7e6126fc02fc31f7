// The whole road against a misbehaving peer, phase after phase in one sandbox: qes_omp and
// vorlen on the example site at trace level 2, the hall's anchors and tags from the simulator,
// two more anchors (a0b10000000000aa at 127.0.0.20, a0b10000000000ab at 127.0.0.21) whose links
// the test writes itself; they answer no command. After each phase both programs run, a new
// controller's "zub cfg" is answered with the reply it had before, and the positions of a walking
// tag have not paused for long.
//
// Deadlines are far beyond what an idle machine needs (hostilebench gives the figures); the
// memory bound grows by AddressSanitizer's quarantine under it.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "anchorsim/frames.h"
#include "hostile/hostile.h"
#include "road_fixture.h"
#include "sandbox/files.h"
#include "sandbox/udp_probe.h"

namespace {

using namespace std::chrono_literals;

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer holds up to 256 MB of freed blocks in quarantine before reusing them; a flood
// of requests, each parsed and answered, fills it (+125 MB a phase here).
constexpr long kRssGrowthKib = (100 + 256) * 1024;
#else
constexpr long kRssGrowthKib = 100 * 1024;
#endif
constexpr double kAnswerWithinS = 20.0;
constexpr double kLongestPauseS = 10.0;
constexpr uint64_t kLogGrowthBytes = 1u << 20;  // a line per read of noise made 2.4 MB here

constexpr uint64_t kHostileAnchor = 0xa0b10000000000aa;
constexpr const char* kHostileIp = "127.0.0.20";
// a0b10000000000ab: the other end of a range test, and an anchor that comes up while the first floods.
constexpr const char* kSecondIp = "127.0.0.21";
constexpr double kStallClosedWithinS = 35.0;
constexpr double kAnswerAtOnceS = 5.0;
constexpr uint64_t kRangeFloodLogBytes = 16 * 1024;  // a line per result made 700 KB
constexpr long kRangeFloodRssKib = 16 * 1024;
const std::vector<uint8_t> kStartFrame = {0x57, 0x01};
constexpr const char* kZubCfg = "<req type=\"zub cfg\"/>\n";
constexpr const char* kZubCfgReply = "<ind type=\"zub cfg\">";
constexpr uint16_t kReportPorts[] = {3335, 12345, 12346, 12347, 12301, 12302, 12303, 3336};
constexpr const char* kAncStatistics = "/qvx/zub/log/anc_statistics.txt";
constexpr const char* kTagTrace = "/qvx/zub/cfg/tag_trace.cfg";

// The controller line as a datagram to the engine's control job, its body an address that
// means nothing in the receiver.
const std::vector<uint8_t> kForgedControllerLine = {
    0x01, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00, 0x01, 0x0b, 0x00, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,
    0x04, 0x40, 0x01, 0x00, 0x00, 0x01, 0x0b, 0x00, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
    0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41};

class HostileRoad : public road::RoadTest {
protected:
    // The engine's files: trace level 2, and the extra anchor listed.
    void prepare_site()
    {
        std::string vm = vorlen::sandbox::read_file(SITE_DIR "/zub/vm_zub.xml");
        const size_t at = vm.find("logLevel=\"");
        ASSERT_NE(at, std::string::npos);
        vm[at + 10] = '2';
        engine_file_overrides_["vm_zub.xml"] = vm;
        engine_file_overrides_["dns_zub.cfg"] = vorlen::sandbox::read_file(SITE_DIR "/zub/dns_zub.cfg") +
                                                "a0b10000000000aa 127.0.0.20\na0b10000000000ab 127.0.0.21\n";
    }

    // The "zub cfg" reply line a new controller gets now; empty when none came in time.
    std::string zub_cfg(double* took_s)
    {
        std::string reply;
        *took_s = hostile::ask(3334, kZubCfg, kZubCfgReply, kAnswerWithinS, &reply);
        return reply;
    }

    // Both programs run, the reply is the one from before the phases, and the tag's positions
    // flowed through [from_s, now + a little].
    void expect_sound(double from_s)
    {
        EXPECT_TRUE(engine_->running());
        EXPECT_TRUE(omp_->running());
        double took = 0.0;
        const std::string reply = zub_cfg(&took);
        EXPECT_TRUE(reply == baseline_reply_) << "the reply (" << reply.size() << " bytes) begins "
                                              << reply.substr(0, 300);
        collect(2.0, &records_);
        const double gap = hostile::longest_gap_s(records_, tag_, from_s, roadbench::now_s());
        EXPECT_LT(gap, kLongestPauseS);
        std::printf("  answered in %.2f s, longest position gap %.2f s\n", took, gap);
    }

    // Floods the control port for 10 s (reading replies at `read_rate` bytes a second) while
    // positions are collected; memory and the answer after the flooder closed are checked.
    void flood_phase(size_t read_rate)
    {
        const double from = roadbench::now_s();
        const long rss0 = roadbench::rss_kib(engine_->pid());
        hostile::FloodResult flood;
        std::thread flooder([&] { flood = hostile::flood_controller(3334, hostile::kFloodLine, 10.0, read_rate); });
        collect(10.0, &records_);
        flooder.join();
        EXPECT_TRUE(flood.connected);
        const long grown = roadbench::rss_kib(engine_->pid()) - rss0;
        EXPECT_LT(grown, kRssGrowthKib);
        std::printf("  %llu request bytes taken, %llu reply bytes read, resident memory %+ld KiB\n",
                    static_cast<unsigned long long>(flood.bytes_written),
                    static_cast<unsigned long long>(flood.reply_bytes), grown);
        expect_sound(from);
    }

    void noise_phase()
    {
        const double from = roadbench::now_s();
        const uint64_t log0 = hostile::log_bytes("/qvx/zub/log/zub", "/qvx/zub/log/uwb_zub.log");
        std::atomic<uint64_t> sent{0};
        std::vector<std::thread> pushers;
        for (uint16_t port : kReportPorts) {
            pushers.emplace_back([&, port] { sent += hostile::push_noise(port, 50u << 20, port, 120.0); });
        }
        sent += anchor_.write_noise(200u << 20, 1, 120.0);
        for (std::thread& t : pushers) t.join();
        EXPECT_EQ(sent.load(), (200u << 20) + 8 * (50ull << 20));
        collect(1.0, &records_);  // the engine reads what is still on its way
        const uint64_t grown = hostile::log_bytes("/qvx/zub/log/zub", "/qvx/zub/log/uwb_zub.log") - log0;
        EXPECT_LE(grown, kLogGrowthBytes);
        std::printf("  600 MiB of noise, the engine's logs grew by %llu bytes\n", static_cast<unsigned long long>(grown));
        expect_sound(from);
    }

    void unsolicited_results_phase()
    {
        const double from = roadbench::now_s();
        std::vector<uint8_t> frames;
        for (uint32_t i = 0; i < 200000; ++i) {
            const anchorsim::Bytes f =
                anchorsim::encode_frame({0x82, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0x07, 0x00});
            frames.insert(frames.end(), f.begin(), f.end());
        }
        EXPECT_TRUE(anchor_.write(frames, 60.0));
        expect_sound(from);
    }

    void forged_datagram_phase()
    {
        const double from = roadbench::now_s();
        vorlen::sandbox::UdpProbe probe(0);
        ASSERT_TRUE(probe.ok());
        for (uint16_t port : {uint16_t{20110}, uint16_t{20010}}) {
            EXPECT_TRUE(probe.send_to(port, kForgedControllerLine));
        }
        std::this_thread::sleep_for(500ms);  // both programs have taken the datagram
        expect_sound(from);
    }

    // A controller link the engine serves (a new one is refused while it still holds the last).
    int controller()
    {
        for (int attempt = 0; attempt < 40; ++attempt) {
            const int fd = roadbench::tcp_connect("127.0.0.1", 3334, 10000);
            if (fd >= 0 && roadbench::send_all(fd, kZubCfg) &&
                roadbench::read_reply_until(fd, "</ind>\n", 2000).find(kZubCfgReply) != std::string::npos) {
                return fd;
            }
            if (fd >= 0) ::close(fd);
            ::usleep(200 * 1000);
        }
        return -1;
    }

    // Writes 10,000 final range results (1.2345 m) on the first raw anchor's link; what the
    // engine sent meanwhile to the raw anchors (bytes), to the controller `ctl` (text) and to its
    // logs (bytes).
    struct RangeFlood {
        uint64_t to_anchors = 0;
        std::string to_controller;
        uint64_t logged = 0;
    };
    RangeFlood flood_range_results(int ctl)
    {
        const anchorsim::Bytes final_result =
            anchorsim::encode_frame({0x84, 0, 0, 0, 0, 0, 0x39, 0x30, 0x00, 0x00, 0x07, 0x00});
        std::vector<uint8_t> frames;
        for (int i = 0; i < 10000; ++i) {
            frames.insert(frames.end(), final_result.begin(), final_result.end());
        }
        const uint64_t commands = anchor_.commands_after(0.2) + second_.commands_after(0.0);
        const uint64_t log0 = hostile::log_bytes("/qvx/zub/log/zub", "/qvx/zub/log/uwb_zub.log");
        RangeFlood r;
        EXPECT_TRUE(anchor_.write(frames, 60.0));
        collect(2.0, &records_);
        r.to_controller = roadbench::read_reply_until(ctl, "\n", 100);
        r.to_anchors = anchor_.commands_after(0.5) + second_.commands_after(0.0) - commands;
        r.logged = hostile::log_bytes("/qvx/zub/log/zub", "/qvx/zub/log/uwb_zub.log") - log0;
        return r;
    }

    void range_results_phase()
    {
        const double from = roadbench::now_s();
        const long rss0 = roadbench::rss_kib(engine_->pid());
        const int ctl = controller();
        ASSERT_GE(ctl, 0);
        const RangeFlood before = flood_range_results(ctl);
        const long rss1 = roadbench::rss_kib(engine_->pid());
        // Nothing of them rides on the next reply either.
        ASSERT_TRUE(roadbench::send_all(ctl, kZubCfg));
        EXPECT_EQ(roadbench::read_reply_until(ctl, "</ind>\n", 5000), baseline_reply_ + "\n");
        // A range test between the two raw anchors, which never answer: its pair ends at its 5-s
        // deadline, stopped (57 00) after its start frame ('[', 27 bytes).
        const uint64_t commands = anchor_.commands_after(0.0) + second_.commands_after(0.0);
        ASSERT_TRUE(roadbench::send_all(ctl, "<req type=\"range test\"><anchor addr=\"a0b10000000000aa\"/>"
                                             "<anchor addr=\"a0b10000000000ab\"/></req>\n"));
        collect(6.0, &records_);
        const std::string pair = roadbench::read_reply_until(ctl, "</initiator></ind>\n", 30000);
        EXPECT_EQ(pair, "<ind type=\"system status\" msg=\"ranging\" initiator=\"0\" responder=\"0\"> < / ind >\n"
                        "<ind type=\"range test\"><initiator addr=\"a0b10000000000aa\"><responder "
                        "addr=\"a0b10000000000ab\"  error=\"No response from anchor\" /></initiator></ind>\n");
        EXPECT_EQ(anchor_.commands_after(0.5) + second_.commands_after(0.0) - commands, 2u * (27 + 2));
        const RangeFlood after = flood_range_results(ctl);
        ::close(ctl);
        const long grown = roadbench::rss_kib(engine_->pid()) - rss0;
        for (const RangeFlood* f : {&before, &after}) {
            EXPECT_EQ(f->to_anchors, 0u);
            EXPECT_EQ(f->to_controller, "");
            EXPECT_LE(f->logged, kRangeFloodLogBytes);
        }
        EXPECT_LT(grown, kRangeFloodRssKib);
        std::printf("  10,000 results before the range test: %llu log bytes, resident memory %+ld KiB; after it: "
                    "%llu log bytes; %+ld KiB in all\n",
                    static_cast<unsigned long long>(before.logged), rss1 - rss0,
                    static_cast<unsigned long long>(after.logged), grown);
        expect_sound(from);
    }

    // A controller that stops reading and closing holds the one controller slot until the engine
    // closes it, 30 s after it last took reply bytes.
    void stalled_controller_phase()
    {
        const double from = roadbench::now_s();
        int stalled = -1;
        hostile::FloodResult flood;
        std::thread flooder(
            [&] { flood = hostile::flood_controller(3334, hostile::kFloodLine, 5.0, 0, &stalled); });
        collect(5.0, &records_);
        flooder.join();
        ASSERT_TRUE(flood.connected);
        std::atomic<bool> watching{true};
        double closed_at = -1.0;
        std::thread watcher([&] {
            closed_at = hostile::wait_peer_closed(stalled, kStallClosedWithinS + 10.0);
            watching = false;
        });
        while (watching) {
            collect(0.5, &records_);
        }
        watcher.join();
        ::close(stalled);
        ASSERT_GT(closed_at, 0.0) << "the stalled controller was not closed";
        EXPECT_LE(closed_at - flood.last_write_s, kStallClosedWithinS);
        double took = 0.0;
        EXPECT_EQ(zub_cfg(&took), baseline_reply_);
        EXPECT_GE(took, 0.0);
        EXPECT_LT(took, kAnswerAtOnceS);
        EXPECT_TRUE(roadbench::wait_for_text(road::kTrace, " took no reply bytes for 30 s while ", 5.0));
        EXPECT_EQ(roadbench::count_of(roadbench::slurp(road::kTrace), " took no reply bytes for 30 s while "), 1u);
        std::printf("  %llu request bytes taken, closed %.1f s after the last, then \"zub cfg\" answered in %.2f s\n",
                    static_cast<unsigned long long>(flood.bytes_written), closed_at - flood.last_write_s, took);
        expect_sound(from);
    }

    // The hostile anchor repeats one frame for `seconds` as fast as its link takes it, reading
    // what the engine sends or not; meanwhile new controllers ask "zub cfg" and the other extra
    // anchor asks for its configuration every 2 s. Each is answered, the engine's memory and logs
    // stay bounded, and an anchor repeating its configuration request gets one start frame (57 01)
    // a second at most.
    void anchor_flood_phase(const std::vector<uint8_t>& frame, bool reading, double seconds)
    {
        const double from = roadbench::now_s();
        const long rss0 = roadbench::rss_kib(engine_->pid());
        const uint64_t log0 = hostile::log_bytes("/qvx/zub/log/zub", "/qvx/zub/log/uwb_zub.log");
        hostile::AnchorFloodResult flood;
        hostile::AskResult asked;
        std::vector<double> other_starts;  // how long each start of the other anchor took
        std::thread flooder([&] { flood = anchor_.flood(frame, seconds, reading); });
        std::thread asker(
            [&] { asked = hostile::ask_until(3334, kZubCfg, kZubCfgReply, from + seconds, kAnswerWithinS); });
        std::thread starter([&] {
            while (roadbench::now_s() < from + seconds) {
                other_starts.push_back(
                    second_.exchange(anchorsim::encode_frame({0x42}), kStartFrame, kAnswerWithinS));
                std::this_thread::sleep_for(2s);
            }
        });
        collect(seconds, &records_);
        flooder.join();
        const long grown = roadbench::rss_kib(engine_->pid()) - rss0;
        asker.join();
        starter.join();
        EXPECT_GT(flood.frames_written, 0u);
        EXPECT_LT(grown, kRssGrowthKib);
        EXPECT_GT(asked.asked, 0u);
        EXPECT_EQ(asked.unanswered, 0u);
        EXPECT_FALSE(other_starts.empty());
        for (double took : other_starts) {
            EXPECT_GE(took, 0.0) << "the other anchor's configuration request went unanswered";
        }
        if (frame == anchorsim::encode_frame({0x42}) && reading) {
            EXPECT_LE(flood.start_frames_at.size(), static_cast<size_t>(seconds) + 2);
        }
        const uint64_t logs = hostile::log_bytes("/qvx/zub/log/zub", "/qvx/zub/log/uwb_zub.log") - log0;
        EXPECT_LE(logs, kLogGrowthBytes);
        std::printf(
            "  %llu frames taken, %zu start frames back, resident memory %+ld KiB, logs +%llu bytes, "
            "\"zub cfg\" asked %u times, longest answer %.2f s\n",
            static_cast<unsigned long long>(flood.frames_written), flood.start_frames_at.size(), grown,
            static_cast<unsigned long long>(logs), asked.asked, asked.worst_s);
        expect_sound(from);
    }

    // 20,000 of each job message forged as a datagram from another local socket: none acts.
    void forged_kinds_phase()
    {
        const double from = roadbench::now_s();
        const long rss0 = roadbench::rss_kib(engine_->pid());
        const uint64_t log0 = hostile::log_bytes("/qvx/zub/log/zub", "/qvx/zub/log/uwb_zub.log");
        const std::string stats0 = vorlen::sandbox::read_file(kAncStatistics);
        std::vector<uint64_t> sent;
        std::thread sender([&] {
            for (hostile::Forged kind : hostile::kForgedKinds) sent.push_back(hostile::send_forged(20110, kind, 20000));
        });
        collect(12.0, &records_);  // an 8-s check passes; a forged position would be here
        sender.join();
        EXPECT_EQ(sent, std::vector<uint64_t>(std::size(hostile::kForgedKinds), 20000));
        EXPECT_TRUE(road::records_of(records_, hostile::kForgedTag).empty());
        EXPECT_EQ(vorlen::sandbox::read_file(kAncStatistics), stats0);
        const long grown = roadbench::rss_kib(engine_->pid()) - rss0;
        EXPECT_LT(grown, kRssGrowthKib);
        const uint64_t logged = hostile::log_bytes("/qvx/zub/log/zub", "/qvx/zub/log/uwb_zub.log") - log0;
        EXPECT_LE(logged, kLogGrowthBytes);
        EXPECT_NE(vorlen::sandbox::read_file("/qvx/zub/log/uwb_zub.log")
                      .find("is not from the partner program (127.0.0.1:20010), dropped ("),
                  std::string::npos);
        std::printf("  120,000 forged datagrams, resident memory %+ld KiB, the engine's logs grew by %llu bytes\n",
                    grown, static_cast<unsigned long long>(logged));
        expect_sound(from);
    }

    // A FIFO nobody writes to, a link to /dev/zero and 20 MiB without a blank as the tag trace
    // list, each through a re-reading or more.
    void trace_files_phase()
    {
        const double from = roadbench::now_s();
        const long rss0 = roadbench::rss_kib(engine_->pid());
        long grown = 0;
        for (hostile::TraceFile kind : {hostile::TraceFile::fifo, hostile::TraceFile::dev_zero,
                                        hostile::TraceFile::no_blanks}) {
            ASSERT_TRUE(hostile::place_trace_file(kTagTrace, kind, 20));
            collect(6.0, &records_);
            grown = std::max(grown, roadbench::rss_kib(engine_->pid()) - rss0);
        }
        ::unlink(kTagTrace);
        EXPECT_LT(grown, kRssGrowthKib);
        const std::string trace = vorlen::sandbox::read_file(road::kTrace);
        for (const char* what : {"fifo", "character device"}) {
            EXPECT_NE(trace.find(std::string("tag_trace.cfg is a ") + what +
                                 ", not a regular file: its trace list is emptied"),
                      std::string::npos)
                << what;
        }
        std::printf("  resident memory at most %+ld KiB\n", grown);
        expect_sound(from);
    }

    hostile::RawAnchor anchor_;
    hostile::RawAnchor second_;
    uint64_t tag_ = 0;
    std::string baseline_reply_;
    std::vector<roadbench::PositionRecord> records_;
};

TEST_F(HostileRoad, BothProgramsStayUpAnsweringAndBoundedPhaseAfterPhase)
{
    if (IsSkipped()) return;
    prepare_site();
    std::string error;
    ASSERT_TRUE(anchor_.listen(kHostileIp, 3000, &error)) << error;
    ASSERT_TRUE(second_.listen(kSecondIp, 3000, &error)) << error;
    ASSERT_TRUE(start_programs());
    ASSERT_TRUE(start_simulator());
    ASSERT_TRUE(configure_and_start());
    ASSERT_TRUE(anchor_.wait_link(30.0)) << "the engine did not link to anchor " << std::hex << kHostileAnchor;
    ASSERT_TRUE(second_.wait_link(30.0)) << "the engine did not link to anchor " << kSecondIp;
    tag_ = 0x1003;  // blinks twice a second
    // A tag's first record comes from its ninth round once its anchors are synchronised.
    for (int s = 0; s < 40 && road::records_of(records_, tag_).empty(); ++s) {
        collect(1.0, &records_);
    }
    ASSERT_FALSE(road::records_of(records_, tag_).empty()) << "no position of tag " << std::hex << tag_;
    ::close(ctl_);  // each phase brings its own controllers
    ctl_ = -1;
    double took = 0.0;
    baseline_reply_ = zub_cfg(&took);
    ASSERT_EQ(baseline_reply_.rfind(kZubCfgReply, 0), 0u) << baseline_reply_;

    const struct {
        const char* name;
        std::function<void()> run;
    } phases[] = {
        {"a controller writes requests for 10 s and never reads", [&] { flood_phase(0); }},
        {"a controller writes requests for 10 s and reads 16 KiB/s", [&] { flood_phase(16384); }},
        {"200 MiB of noise on an anchor link, 50 MiB on each report port", [&] { noise_phase(); }},
        {"200,000 communication-test results nobody asked for", [&] { unsolicited_results_phase(); }},
        {"a controller line forged as a datagram to both programs", [&] { forged_datagram_phase(); }},
        {"10,000 final range results before any range test, 10,000 after one", [&] { range_results_phase(); }},
        {"a controller writes requests for 5 s, then neither reads nor closes", [&] { stalled_controller_phase(); }},
        {"an anchor repeats its configuration request for 8 s, never reading",
         [&] { anchor_flood_phase(anchorsim::encode_frame({0x42}), false, 8.0); }},
        {"an anchor repeats its configuration request for 8 s, reading",
         [&] { anchor_flood_phase(anchorsim::encode_frame({0x42}), true, 8.0); }},
        {"an anchor repeats a power test's end for 5 s",
         [&] { anchor_flood_phase(anchorsim::encode_frame({0x85}), true, 5.0); }},
        {"an anchor repeats a ranging report's sequence number for 10 s",
         [&] {
             anchor_flood_phase(anchorsim::encode_frame({0x83, 0, 0, 0, 0, 0, 0x39, 0x30, 0, 0, 2, 0, 0, 0}),
                                true, 10.0);
         }},
        {"20,000 each of six job messages forged as datagrams", [&] { forged_kinds_phase(); }},
        {"a FIFO, a link to /dev/zero and 20 MiB without a blank as the tag trace list",
         [&] { trace_files_phase(); }},
    };
    for (const auto& phase : phases) {
        SCOPED_TRACE(phase.name);
        std::printf("phase: %s\n", phase.name);
        phase.run();
        if (HasFatalFailure() || !engine_->running()) break;
    }
}

}  // namespace
