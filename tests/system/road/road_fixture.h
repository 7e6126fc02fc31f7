// road_fixture.h - one whole road in the test's sandbox: qes_omp and vorlen on the example site
// (site/), the anchor simulator on the same hall in a thread of the test process, and the
// controller and tag-location links on loopback. For the test's main thread, except the
// simulator, which runs on its own thread between start_simulator() and stop_simulator().
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "anchorsim/simulator.h"
#include "roadbench/road_client.h"
#include "sandbox/daemon.h"
#include "sandbox/harness.h"

namespace road {

constexpr const char* kTrace = "/qvx/zub/log/zub/division1.log";
constexpr const char* kTruth = "/qvx/road/truth.txt";
constexpr const char* kCommands = "/qvx/road/commands.txt";
constexpr const char* kSent = "/qvx/road/sent.txt";  // every report the simulator queued

// One line of the simulator's command or sent-report log: when, and the bytes.
struct Logged {
    double at_s = 0.0;
    std::vector<uint8_t> bytes;
};

// The lines of one anchor in a log of lines "time anchor hex" (kCommands, kSent), in order.
std::vector<Logged> logged_of(const char* path, uint64_t anchor);

class RoadTest : public vorlen::sandbox::SandboxTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Keeps only these anchors of the site.
    void keep_anchors(const std::set<uint64_t>& ids);
    // Copies the example site into /qvx, starts qes_omp and vorlen and waits for every engine
    // job to have started. False (with a test failure) otherwise.
    bool start_programs();
    // Runs the simulator on the hall site with the seed and faults given (run time 0 is now),
    // logging the truth, the commands and every report sent.
    bool start_simulator(const std::vector<anchorsim::Fault>& faults = {});
    // The two halves of start_simulator: makes and opens the simulator with `options` (false,
    // with a test failure, otherwise), then runs `body` on its thread, by default the
    // simulator's own loop until sim_stop_ (stop_simulator() sets it and joins).
    bool open_simulator(const anchorsim::SimulatorOptions& options);
    void run_simulator(std::function<void()> body = {});
    // Stops the simulator and closes its files (the truth and command log are then complete).
    void stop_simulator();
    // Connects the controller and one tag-location client, configures every anchor ("anchor
    // cfg" until every link is open) and starts ("rtls start").
    bool configure_and_start();
    // Reads the tag-location link for `seconds`, appending records.
    void collect(double seconds, std::vector<roadbench::PositionRecord>* out);
    // Sends one controller line and reads replies until `needle` or the time runs out.
    std::string request(const std::string& line, const std::string& needle, int timeout_ms = 5000);
    // Seconds of simulator run time since start_simulator().
    double run_time() const;

    // Engine files (by name under /qvx/zub) written instead of the example site's copy.
    std::map<std::string, std::string> engine_file_overrides_;
    anchorsim::SiteModel site_;
    uint64_t seed_ = 1;
    std::optional<vorlen::sandbox::Daemon> omp_;
    std::optional<vorlen::sandbox::Daemon> engine_;
    std::unique_ptr<anchorsim::Simulator> sim_;
    std::thread sim_thread_;
    std::atomic<bool> sim_stop_{false};
    double sim_started_at_ = 0.0;
    int ctl_ = -1;
    int loc_ = -1;
    roadbench::ReportFrameReader reader_;
};

// Records per tag.
std::vector<roadbench::PositionRecord> records_of(const std::vector<roadbench::PositionRecord>& all, uint64_t tag);

}  // namespace road
