// The whole road against a misbehaving peer, phase after phase in one sandbox: qes_omp and
// vorlen on the example site at trace level 2, the hall's anchors and tags from the simulator,
// two more anchors (a0b10000000000aa at 127.0.0.20, a0b10000000000ab at 127.0.0.21) whose links
// the test writes itself. After each phase both programs run, a new controller's "zub cfg" is
// answered with the reply it had before, and the positions of a walking tag have not paused for
// long.
//
// Deadlines are far beyond what an idle machine needs (hostilebench gives the figures); the
// memory bound grows by AddressSanitizer's quarantine under it.
#include <gtest/gtest.h>

#include <signal.h>

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
constexpr const char* kOtherIp = "127.0.0.21";  // an anchor that comes up while the other floods
const std::vector<uint8_t> kStartFrame = {0x57, 0x01};
constexpr const char* kZubCfg = "<req type=\"zub cfg\"/>\n";
constexpr const char* kZubCfgReply = "<ind type=\"zub cfg\">";
constexpr uint16_t kReportPorts[] = {3335, 12345, 12346, 12347, 12301, 12302, 12303, 3336};

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
                    other_.exchange(anchorsim::encode_frame({0x42}), kStartFrame, kAnswerWithinS));
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

    hostile::RawAnchor anchor_;
    hostile::RawAnchor other_;
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
    ASSERT_TRUE(other_.listen(kOtherIp, 3000, &error)) << error;
    ASSERT_TRUE(start_programs());
    ASSERT_TRUE(start_simulator());
    ASSERT_TRUE(configure_and_start());
    ASSERT_TRUE(anchor_.wait_link(30.0)) << "the engine did not link to anchor " << std::hex << kHostileAnchor;
    ASSERT_TRUE(other_.wait_link(30.0)) << "the engine did not link to " << kOtherIp;
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
    };
    for (const auto& phase : phases) {
        SCOPED_TRACE(phase.name);
        std::printf("phase: %s\n", phase.name);
        phase.run();
        if (HasFatalFailure() || !engine_->running()) break;
    }
}

}  // namespace
