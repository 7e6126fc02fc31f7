// make_seeds.cpp - writes the seed corpus of engine_datagram_fuzz:
//   engine_datagram_fuzz_seeds <engine/vorlen/fuzz/corpus>
// One or more datagrams for every job type of the engine's table (and for a type it does not
// have), each a message that job takes, laid out with the platform's header and the engine's
// own records. Rerun it when a layout changes; the files are committed.
#include <cstring>
#include <filesystem>
#include <string>

#include "VorlenComm.h"
#include "fuzz_seeds.h"
#include "pub_pqe_jobtype.h"
#include "startup/cn_scs_job.h"
#include "zub_job_records.h"
#include "zub_msg_id.h"

namespace {

namespace fs = std::filesystem;

constexpr WORD16 kEngineModule = 11;
constexpr WORD16 kOmpModule = 1;

JID jid(WORD16 type, WORD16 module = kEngineModule, BYTE route = 0) {
    JID j{};
    j.dwJno = (static_cast<WORD32>(type) << 16) + 1;
    j.dwDevId = (module == kEngineModule ? 1u << 24 : 0u) + 1;
    j.wModule = module;
    j.wUnit = 0xFFFF;
    j.ucRouteType = route;
    return j;
}

template <typename T>
std::string bytes_of(const T& v) {
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

std::string datagram(const JID& dest, const JID& src, WORD32 id, const std::string& data) {
    T_CNMessageHead head{};
    head.DestJID = dest;
    head.SrcJID = src;
    head.dwMsgID = id;
    head.dwMsgLen = static_cast<WORD32>(data.size());
    return bytes_of(head) + data;
}

// An anchor payload as the socket job hands it on: local anchor id, length, payload.
std::string anchor_body(WORD16 anc_id, BYTE code, size_t len) {
    sock_data_t s{};
    s.anc_id = anc_id;
    s.data_len = static_cast<WORD16>(len);
    s.rcv_data[0] = code;
    for (size_t i = 1; i < len; ++i) s.rcv_data[i] = static_cast<BYTE>(i * 37);
    return std::string(reinterpret_cast<const char*>(&s), ZUB_SOCK_DATA_HEAD_LEN + len);
}

void engine_datagrams(const fs::path& dir) {
    const JID socket = jid(QE_JOBTYPE_ZUB_SOCKET);
    const JID control = jid(QE_JOBTYPE_ZUB_CONTROL);
    int n = 0;
    auto seed = [&](const JID& dest, const JID& src, WORD32 id, const std::string& data) {
        fuzz_seeds::write_seed(dir, ++n, datagram(dest, src, id, data));
    };
    // The controller line's message with 8 bytes that are no address of this process: 52 bytes.
    seed(control, socket, ZUB_EV_SOCKET_CONTROL_MSG, std::string(8, 'A'));
    seed(jid(QE_JOBTYPE_ZUB_CONTROL, kEngineModule, 5), socket, ZUB_EV_SOCKET_CONTROL_MSG, std::string(8, 'A'));
    seed(control, socket, ZUB_EV_SOCKET_XX_ANCHOR_MSG, anchor_body(0, 'B', 12));
    seed(control, jid(QE_JOBTYPE_ZUB_MANAGER_BEGIN), ZUB_EV_XX_CTRL_JOB_START_OK, "");
    seed(control, control, ZUB_EV_RELATIVE_TIMER, std::string("\x01\x00\x00\x79", 4));
    seed(jid(0x0000), jid(0x0000, kOmpModule), EV_CN_SCS_REGISTER, "");
    seed(jid(0x0001), jid(0x0000, kOmpModule), CN_MSG_POWER_ON, "");
    seed(jid(0x0777), socket, ZUB_EV_SOCKET_CONTROL_MSG, std::string(8, 'A'));  // unknown type: notexist
    for (WORD16 m = QE_JOBTYPE_ZUB_MANAGER_BEGIN; m <= QE_JOBTYPE_ZUB_MANAGER_END; ++m) {
        seed(jid(m), socket, ZUB_EV_SOCKET_XX_ANCHOR_MSG, anchor_body(m - QE_JOBTYPE_ZUB_MANAGER_BEGIN, 0x32, 40));
    }
    seed(jid(QE_JOBTYPE_ZUB_MANAGER_BEGIN), socket, ZUB_EV_SOCKET_TOF_ANCHOR_MSG, anchor_body(1, 0x83, 30));
    seed(socket, socket, ZUB_EV_SOCKET_LINK_SETUP, "");
    seed(socket, socket, ZUB_EV_SOCKET_CONTROL_MSG, std::string(8, 'A'));  // the same id, another job
    seed(jid(QE_JOBTYPE_ZUB_CLOCKSYNC), socket, ZUB_EV_SOCKET_XX_ANCHOR_MSG, anchor_body(2, 0x30, 24));
    seed(jid(QE_JOBTYPE_ZUB_CLOCKSYNC), socket, ZUB_EV_SOCKET_XX_ANCHOR_MSG, anchor_body(3, 0x31, 32));
    const JID display = jid(QE_JOBTYPE_ZUB_DISPLAY);
    const JID selector = jid(QE_JOBTYPE_ZUB_SELECTOR_BEGIN);
    seed(display, selector, ZUB_EV_SELECTOR_DISPLAY_TAG_LOC, bytes_of(msg_position_t{4, 0x1001, 0x2002, 1500, -2500, 1200}));
    seed(display, selector, ZUB_EV_SELECTOR_DISPLAY_TAG_EXT, bytes_of(msg_imu_t{0x1001, 0x2002, 80, 21, 70, 0}));
    seed(display, jid(QE_JOBTYPE_ZUB_MANAGER_1), ZUB_EV_SELECTOR_DISPLAY_RAW_BLIBK, bytes_of(msg_raw_blink_t{0x1001, 0x2002, 9}));
    seed(display, jid(QE_JOBTYPE_ZUB_CLOCKSYNC), ZUB_EV_CLOCKSYNC_DISPLAY_DAC_CCP, bytes_of(dac_ccp_rx_t{0x2002, 0x2003, 5, 700}));
    seed(display, jid(QE_JOBTYPE_ZUB_RECON), ZUB_EV_RECON_DISPLAY_MSG, std::string("\x02\x00", 2));
    const JID recon = jid(QE_JOBTYPE_ZUB_RECON);
    seed(recon, control, ZUB_EV_XX_RECON_ANCHOR_CON_STATE, std::string("\x01\x00\x00\x00", 4));
    seed(recon, socket, ZUB_EV_SOCKET_RECON_RCVLEN_WRONG, bytes_of(rcvlen_wrong_t{1, 9000}));
    seed(recon, recon, ZUB_EV_RECON_START_COMPLETE, "");
    for (WORD16 s = QE_JOBTYPE_ZUB_SELECTOR_BEGIN; s <= QE_JOBTYPE_ZUB_SELECTOR_END; ++s) {
        seed(jid(s), jid(QE_JOBTYPE_ZUB_MANAGER_BEGIN), ZUB_EV_MANAGER_XX_ANCHOR_MSG,
             anchor_body(s - QE_JOBTYPE_ZUB_SELECTOR_BEGIN, 0x32, 40));
    }
}

}  // namespace

int main(int argc, char** argv) {
    fs::path root;
    if (!fuzz_seeds::corpus_root(argc, argv, root)) return 2;
    engine_datagrams(root);
    return 0;
}
