#include "road_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "sandbox/files.h"

namespace road {

using namespace std::chrono_literals;
using vorlen::sandbox::Daemon;

void RoadTest::SetUp()
{
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    // ROAD_SEED replays a failed run.
    if (const char* s = std::getenv("ROAD_SEED")) seed_ = std::strtoull(s, nullptr, 10);
    std::string error;
    ASSERT_TRUE(anchorsim::load_site_file(HALL_SITE, &site_, &error)) << error;
}

void RoadTest::TearDown()
{
    stop_simulator();
    if (ctl_ >= 0) ::close(ctl_);
    if (loc_ >= 0) ::close(loc_);
    if (HasFailure()) {
        std::printf("---- road run: seed %llu (ROAD_SEED=%llu replays it), site %s\n",
                    static_cast<unsigned long long>(seed_), static_cast<unsigned long long>(seed_), HALL_SITE);
        const std::string trace = vorlen::sandbox::read_file(kTrace);
        std::printf("---- last of the trace ----\n%s\n",
                    trace.size() > 6000 ? trace.substr(trace.size() - 6000).c_str() : trace.c_str());
    }
    if (engine_) engine_->signal(SIGTERM);
    if (omp_) omp_->signal(SIGTERM);
    if (engine_) engine_->wait_exit(10s);
    if (omp_) omp_->wait_exit(10s);
}

void RoadTest::keep_anchors(const std::set<uint64_t>& ids)
{
    std::vector<anchorsim::AnchorSpec> kept;
    for (const anchorsim::AnchorSpec& a : site_.anchors) {
        if (ids.count(a.hw_id) != 0) kept.push_back(a);
    }
    site_.anchors = kept;
}

bool RoadTest::start_programs()
{
    using namespace vorlen::sandbox;
    EXPECT_TRUE(write_file("/qvx/omp/omp.cfg", read_file(SITE_DIR "/omp/omp.cfg")));
    for (const char* name : {"vm_zub.xml", "dns_zub.cfg", "anchor_attribute.cfg", "area_config.xml"}) {
        const auto over = engine_file_overrides_.find(name);
        const std::string text =
            over != engine_file_overrides_.end() ? over->second : read_file(std::string(SITE_DIR "/zub/") + name);
        EXPECT_TRUE(write_file(std::string("/qvx/zub/") + name, text));
    }
    ::mkdir("/qvx/road", 0755);
    omp_.emplace(Daemon::start(install_program(QES_OMP_BIN, "/qvx/omp")));
    if (!wait_for_text("/qvx/omp/log/QES_OMP.log", "Power on success", 15s)) {
        ADD_FAILURE() << "qes_omp did not power on";
        return false;
    }
    engine_.emplace(Daemon::start(install_program(VORLEN_BIN, "/qvx/zub")));
    if (!wait_for_text(kTrace, "Jobs init OK!", 30s)) {
        ADD_FAILURE() << "the engine jobs did not start";
        return false;
    }
    return true;
}

bool RoadTest::start_simulator(const std::vector<anchorsim::Fault>& faults)
{
    anchorsim::SimulatorOptions options;
    options.truth_path = kTruth;
    options.commands_path = kCommands;
    options.sent_path = kSent;
    options.faults = faults;
    if (!open_simulator(options)) return false;
    run_simulator();
    return true;
}

bool RoadTest::open_simulator(const anchorsim::SimulatorOptions& options)
{
    sim_ = std::make_unique<anchorsim::Simulator>(site_, seed_, options);
    std::string error;
    if (!sim_->open(&error)) {
        ADD_FAILURE() << "simulator: " << error;
        return false;
    }
    return true;
}

void RoadTest::run_simulator(std::function<void()> body)
{
    if (!body) body = [this] { sim_->run(0.0, sim_stop_); };
    sim_started_at_ = roadbench::now_s();
    sim_stop_ = false;
    sim_thread_ = std::thread(std::move(body));
}

void RoadTest::stop_simulator()
{
    if (sim_thread_.joinable()) {
        sim_stop_ = true;
        sim_thread_.join();
    }
    sim_.reset();  // closes the truth and command files
}

double RoadTest::run_time() const
{
    return roadbench::now_s() - sim_started_at_;
}

bool RoadTest::configure_and_start()
{
    loc_ = roadbench::tcp_connect("127.0.0.1", 12345, 30000);
    ctl_ = roadbench::tcp_connect("127.0.0.1", 3334, 30000);
    if (loc_ < 0 || ctl_ < 0) {
        ADD_FAILURE() << "the engine's ports 3334 and 12345 did not open";
        return false;
    }
    const std::string reply = roadbench::configure_anchors(ctl_, site_, 40000);
    if (roadbench::count_of(reply, "status=\"Socket opened already\"") != site_.anchors.size()) {
        ADD_FAILURE() << "not every anchor link opened: " << reply;
        return false;
    }
    const std::string started = request("<req type=\"rtls start\"/>", "<ind type=\"rtls start\" />");
    if (started.find("<ind type=\"rtls start\" />") == std::string::npos) {
        ADD_FAILURE() << "rtls start unanswered: " << started;
        return false;
    }
    return true;
}

std::string RoadTest::request(const std::string& line, const std::string& needle, int timeout_ms)
{
    if (!roadbench::send_all(ctl_, line + "\n")) return {};
    return roadbench::read_reply_until(ctl_, needle, timeout_ms);
}

void RoadTest::collect(double seconds, std::vector<roadbench::PositionRecord>* out)
{
    const double end = roadbench::now_s() + seconds;
    uint8_t buf[65536];
    while (roadbench::now_s() < end) {
        const long n = roadbench::read_some(loc_, buf, sizeof buf, 100);
        if (n < 0) {
            ADD_FAILURE() << "the tag-location link closed";
            return;
        }
        reader_.feed(buf, static_cast<size_t>(n), roadbench::now_s(), out);
    }
}

std::vector<Logged> logged_of(const char* path, uint64_t anchor)
{
    char id[20];
    std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(anchor));
    std::vector<Logged> out;
    for (const std::string& line : vorlen::sandbox::lines_of(path)) {
        std::istringstream s(line);
        Logged l;
        std::string a, hex;
        if (!(s >> l.at_s >> a >> hex) || a != id || hex.size() % 2 != 0) continue;
        for (size_t i = 0; i < hex.size(); i += 2) {
            l.bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        }
        out.push_back(std::move(l));
    }
    return out;
}

std::vector<roadbench::PositionRecord> records_of(const std::vector<roadbench::PositionRecord>& all, uint64_t tag)
{
    std::vector<roadbench::PositionRecord> v;
    for (const auto& r : all) {
        if (r.tag == tag) v.push_back(r);
    }
    return v;
}

}  // namespace road
