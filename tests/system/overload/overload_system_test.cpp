// Floods of valid reports against the whole road, in phases, on the example site at trace level 2:
// arrivals of 200 tags from four anchors at twice and five times what the road handles and as
// fast as the links take them, clock-calibration receive reports naming a master that never
// transmits, and 20,000 new tag ids from one anchor, then 200 more new tags, refused at the bound. Throughout, the engine's memory stays
// within its bound, the controller is answered, the good tags' positions come back after each
// flood, drops and refused tags are counted in the trace log, and after the arrival floods the
// memory goes back. The quiet tag (its own record, one blink every 0.3 s, heard only by the
// flood's anchors) has positions again after every flood and, in a release build, keeps them
// through every flood.
//
// The bounds are the engine's; the deadlines are ones a loaded machine cannot break (the figures
// themselves come from tools/roadflood). Under AddressSanitizer its shadow memory and the
// quarantine of freed memory (256 MiB) add to the resident size: the memory bounds grow by a
// quarter and the quarantine there.
#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "road_fixture.h"
#include "roadflood/flood_source.h"
#include "roadflood/road_watch.h"
#include "sandbox/files.h"

namespace road {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr double kSanitizerQuarantineMiB = 256.0;
constexpr double kSanitizerScale = 1.25;
constexpr bool kSanitized = true;
#else
constexpr double kSanitizerQuarantineMiB = 0.0;
constexpr double kSanitizerScale = 1.0;
constexpr bool kSanitized = false;
#endif

double memory_bound(double mib) { return mib * kSanitizerScale + kSanitizerQuarantineMiB; }

constexpr double kFloodS = 8.0;
constexpr double kAnswerDeadlineS = 20.0;  // the controller is answered at all
// The good tags have positions again: a site tag that blinks once a second needs eight solved
// rounds after the links are read through, as a new tag does (every round the flood spoiled
// counts against it), so some 9 s on a quiet machine.
constexpr double kResumeDeadlineS = 20.0;
constexpr double kMemoryBackS = 8.0;       // after the flood, when the memory is looked at
// The quiet tag blinks every 0.3 s; a flood that took its positions would leave it none for
// the whole flood. Half the flood is a gap a loaded release build keeps. Under the sanitizers
// the engine reads the links at a tenth of the rate, so what they hold while a flood is sent as
// fast as they take it (some 17 MB) arrives seconds late, the flood anchors' calibration reports
// miss their pairs and no tag on those anchors has a position until the links are read through:
// there the quiet tag's positions are asserted to come back after each flood, as every tag's are.
constexpr double kQuietGapS = kFloodS / 2;
constexpr bool kQuietGapAsserted = !kSanitized;

class OverloadSystem : public RoadTest {
protected:
    void SetUp() override
    {
        RoadTest::SetUp();
        if (IsSkipped()) return;
        // The calibration flood's anchors are configured to follow its silent master.
        std::string error;
        ASSERT_TRUE(roadflood::parse_flood("calibration:1", site_, &calibration_, &error)) << error;
        roadflood::prepare_site(calibration_, &site_);
        site_.tags.push_back(roadflood::quiet_tag(site_));
        std::string xml = vorlen::sandbox::read_file(SITE_DIR "/zub/vm_zub.xml");
        const size_t at = xml.find("logLevel=\"");
        ASSERT_NE(at, std::string::npos);
        xml[at + 10] = '2';
        engine_file_overrides_["vm_zub.xml"] = xml;
    }

    // The programs, the simulator with a flood driver on its thread, the anchors configured and
    // started, and every good tag's first position.
    bool start_road()
    {
        if (!start_programs()) return false;
        anchorsim::SimulatorOptions options;
        options.truth_path = kTruth;  // no log of every report: a flood would fill the disk
        if (!open_simulator(options)) return false;
        driver_ = std::make_unique<roadflood::FloodDriver>(*sim_);
        run_simulator([this] { driver_->run(sim_stop_); });
        if (!configure_and_start()) return false;
        std::vector<uint64_t> good;
        for (const auto& t : site_.tags) good.push_back(t.id);
        watch_ = std::make_unique<roadflood::RoadWatch>(loc_, ctl_, engine_->pid(), good);
        if (watch_->watch_until_resumed(roadbench::now_s(), 40.0) < 0) {
            ADD_FAILURE() << "the good tags had no positions before any flood";
            return false;
        }
        return true;
    }

    struct Outcome {
        double rss_before = 0, rss_peak = 0, rss_after = 0;
        double slowest_answer = 0;
        double resumed = -1;
        double quiet_gap = 0;      // the quiet tag's longest gap in positions during the flood
        double quiet_resumed = -1;  // its first position after the flood, seconds after its end
    };

    // One flood of `seconds`, then the wait for the good tags and, `after` seconds past the
    // flood's end, the memory.
    Outcome flood(const std::string& text, double after)
    {
        roadflood::FloodSpec spec;
        std::string error;
        EXPECT_TRUE(roadflood::parse_flood(text, site_, &spec, &error)) << error;
        watch_->watch(1.0);
        Outcome o;
        const double t0 = roadbench::now_s();
        o.rss_before = watch_->rss_at(t0);
        driver_->start(spec);
        watch_->watch(kFloodS);
        driver_->stop();
        const double t1 = roadbench::now_s();
        o.resumed = watch_->watch_until_resumed(t1, kResumeDeadlineS);
        const double left = t1 + after - roadbench::now_s();
        if (left > 0) watch_->watch(left);
        const double t2 = roadbench::now_s();
        o.rss_peak = watch_->rss_peak(t0, t2);
        o.rss_after = watch_->rss_at(t2);
        o.slowest_answer = watch_->slowest_answer(t0, t2);
        o.quiet_gap = watch_->longest_gap_of(roadflood::kQuietTag, t0, t1);
        o.quiet_resumed = watch_->resumed_after_of(roadflood::kQuietTag, t1);
        const double drained = watch_->drained_after(t1, 64 << 10);
        std::printf("%s: RSS %.1f -> peak %.1f -> %.1f MiB, slowest answer %.2f s, positions back %.2f s after, "
                    "quiet tag's longest gap %.2f s, back %.2f s after, the links read through %.2f s after\n",
                    text.c_str(), o.rss_before, o.rss_peak, o.rss_after, o.slowest_answer, o.resumed, o.quiet_gap,
                    o.quiet_resumed, drained < 0 ? -1.0 : drained - t1);
        return o;
    }

    roadflood::FloodSpec calibration_;
    std::unique_ptr<roadflood::FloodDriver> driver_;
    std::unique_ptr<roadflood::RoadWatch> watch_;
};

TEST_F(OverloadSystem, FloodsOfValidReports)
{
    ASSERT_TRUE(start_road());
    struct Phase {
        const char* name;
        const char* flood;
        double growth_mib;  // over the memory before the flood
        bool memory_back;   // within 50 MiB of it again kMemoryBackS after the flood
    } phases[] = {
        {"arrivals of 200 tags from four anchors, twice what the road handles", "arrivals:450000", 300, true},
        {"the same, five times what the road handles", "arrivals:1125000", 300, true},
        {"the same, as fast as the links take them", "arrivals:max", 300, true},
        {"calibration reports naming a master that never transmits", "calibration:817000", 50, false},
        {"20,000 new tag ids from one anchor", "new_tags:40000", 700, false},
        {"200 tags more, refused at the bound on tag records, as fast as the links take them",
         "arrivals:max:4:200:40000", 50, false},
    };
    for (const Phase& p : phases) {
        SCOPED_TRACE(p.name);
        const size_t answers_before = watch_->answers();
        const Outcome o = flood(p.flood, p.memory_back ? kMemoryBackS : 0.0);
        EXPECT_LE(o.rss_peak - o.rss_before, memory_bound(p.growth_mib));
        EXPECT_LT(o.slowest_answer, kAnswerDeadlineS);
        EXPECT_GT(watch_->answers(), answers_before);
        EXPECT_GE(o.resumed, 0.0) << "no position of a good tag within " << kResumeDeadlineS << " s of the flood";
        EXPECT_GE(o.quiet_resumed, 0.0) << "no position of the quiet tag within " << kResumeDeadlineS
                                        << " s of the flood";
        if (kQuietGapAsserted) {
            EXPECT_LE(o.quiet_gap, kQuietGapS) << "the quiet tag lost its positions to the flood";
        }
        if (p.memory_back) {
            EXPECT_LE(o.rss_after - o.rss_before, memory_bound(50));
        }
    }
    // What was dropped is counted in the trace log: reports for want of room, and the new tags
    // beyond the bound on tag records.
    const std::string trace = vorlen::sandbox::read_file(kTrace);
    EXPECT_GT(roadbench::parse_road_drops(trace).tag, 0u);
    EXPECT_NE(trace.find(" dropped so far)"), std::string::npos);
}

}  // namespace
}  // namespace road
