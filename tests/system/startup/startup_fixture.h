// startup_fixture.h - what the start-up system tests share: the programs installed into the
// sandbox's /qvx tree (vorlen in /qvx/zub, qes_omp in /qvx/omp, as the example site lays them
// out), their logs, and the bytes of platform messages as they travel between the programs.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sandbox/daemon.h"
#include "sandbox/files.h"
#include "sandbox/harness.h"

namespace startup_test {

using namespace vorlen::sandbox;

inline constexpr const char* kZubLog = "/qvx/zub/log/uwb_zub.log";
inline constexpr const char* kOmpLog = "/qvx/omp/log/QES_OMP.log";
inline constexpr const char* kOneSection = "[QES]\nbureau=1\n[EndQES]\n";

class StartupSystemTest : public SandboxTest {
protected:
    void WriteOmpCfg(const std::string& text = kOneSection) { ASSERT_TRUE(write_file("/qvx/omp/omp.cfg", text)); }
    Daemon StartVorlen(const std::vector<std::string>& args = {}) {
        return Daemon::start(install_program(VORLEN_BIN, "/qvx/zub"), args);
    }
    Daemon StartOmp(const std::vector<std::string>& args = {}) {
        return Daemon::start(install_program(QES_OMP_BIN, "/qvx/omp"), args);
    }
    void TearDown() override {
        if (HasFailure()) {
            std::printf("---- %s ----\n%s\n---- %s ----\n%s\n", kZubLog, read_file(kZubLog).c_str(), kOmpLog,
                        read_file(kOmpLog).c_str());
        }
    }
};

inline void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

// A JID as 16 bytes in host (little-endian) order.
inline void put_jid(std::vector<uint8_t>& out, uint32_t jno, uint32_t dev_id, uint16_t module, uint16_t unit,
                    uint8_t route_type = 0) {
    put32(out, jno);
    put32(out, dev_id);
    put16(out, module);
    put16(out, unit);
    out.insert(out.end(), {0, 0, route_type, 0});
}

// A 44-byte message header without data.
inline std::vector<uint8_t> header(uint32_t dest_jno, uint32_t dest_dev, uint16_t dest_module, uint16_t dest_unit,
                                   uint32_t src_jno, uint32_t src_dev, uint16_t src_module, uint16_t src_unit,
                                   uint32_t msg_id, uint32_t len = 0, uint8_t dest_route = 0) {
    std::vector<uint8_t> out;
    put_jid(out, dest_jno, dest_dev, dest_module, dest_unit, dest_route);
    put_jid(out, src_jno, src_dev, src_module, src_unit);
    put32(out, msg_id);
    put32(out, len);
    out.insert(out.end(), {0, 0, 0, 0});
    return out;
}

inline uint32_t msg_id_of(const std::vector<uint8_t>& dgram) {
    uint32_t v = 0;
    if (dgram.size() >= 36) std::memcpy(&v, dgram.data() + 32, 4);
    return v;
}

}  // namespace startup_test
