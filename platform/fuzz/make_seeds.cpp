// make_seeds.cpp - writes the seed corpora of the platform's fuzz targets:
//   platform_fuzz_seeds <platform/fuzz/corpus>
// Datagrams are built with the platform's own header layout; the text inputs are the forms an
// operator or a console client would type. Rerun it when a layout changes; the files are committed.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "VorlenComm.h"
#include "fuzz_seeds.h"

namespace {

namespace fs = std::filesystem;

using fuzz_seeds::write_seed;

JID jid(WORD16 type, WORD16 module, WORD16 unit, BYTE route) {
    JID j{};
    j.dwJno = (static_cast<WORD32>(type) << 16) + 1;
    j.dwDevId = 1;
    j.wModule = module;
    j.wUnit = unit;
    j.ucRouteType = route;
    return j;
}

std::string datagram(const JID& dest, WORD32 id, const std::string& data, long len_delta = 0) {
    T_CNMessageHead head{};
    head.DestJID = dest;
    head.SrcJID = jid(0x0102, 11, 0xFFFF, 0);
    head.dwMsgID = id;
    head.dwMsgLen = static_cast<WORD32>(static_cast<long>(data.size()) + len_delta);
    head.ucMsgType = 1;
    std::string out(reinterpret_cast<const char*>(&head), sizeof head);
    return out + data;
}

void intra_datagrams(const fs::path& dir) {
    int n = 0;
    write_seed(dir, ++n, datagram(jid(0x0102, 1, 0xFFFF, 0), 7000, "abcd"));
    write_seed(dir, ++n, datagram(jid(0x0000, 1, 0xFFFF, 0), CN_MSG_POWER_ON_ACK, ""));
    write_seed(dir, ++n, datagram(jid(0x0777, 1, 0xFFFF, 0), 7001, std::string(100, 'x')));   // unknown type
    write_seed(dir, ++n, datagram(jid(0x0102, 11, 0xFFFF, 5), 7002, std::string(300, '\1')));  // route type 5
    write_seed(dir, ++n, datagram(jid(0x0102, 11, 0xFFFF, 0), 7003, "foreign"));               // other module
    write_seed(dir, ++n, datagram(jid(0x0102, 1, 0, 0), 7004, "unit 0"));
    write_seed(dir, ++n, datagram(jid(0x0102, 1, 0xFFFF, 0), 7005, "long", 1));     // announces a byte more
    write_seed(dir, ++n, datagram(jid(0x0102, 1, 0xFFFF, 0), 7006, "short", -1));   // a byte less
    write_seed(dir, ++n, datagram(jid(0x0102, 1, 0xFFFF, 0), 7007, "").substr(0, 20));
    write_seed(dir, ++n, datagram(jid(0x0102, 1, 0xFFFF, 0), 7008, std::string(CN_INTRA_RECV_BUF_LEN - 44, 'm')));
}

void omp_cfgs(const fs::path& dir) {
    const std::vector<std::string> texts = {
        "[NAV]\nbureau = 3\n[EndNAV]\n[QES]\nbureau=4\nupmnum = 2\n[EndQES]\n[HOB]\nbureau=5\n[EndHOB]\n",
        "# comment\n[ QES ]\n  upmnum\t=\t1000\n[EndQES] trailing\n",
        "[QES]\nupmnum = 1001\n[EndQES]\n",
        "[QES]\nupmnum = -1\nbureau = abc\n[EndQES]\n",
        "[QES]\r\nupmnum = 7\r\n[EndQES]\r\n",
        "[NAV]\n[EndNAVx]\nbureau = 9\n[EndNAV]\n",
        "[QES]\nupmnum =\n[EndQES]\n",
        "[QES]\n" + std::string(300, 'k') + " = 5\nupmnum = 99999999999\n[EndQES]\n",
        "no sections at all\n",
    };
    int n = 0;
    for (const auto& t : texts) write_seed(dir, ++n, t);
}

void trace_controls(const fs::path& dir) {
    const std::vector<std::string> texts = {"1", "3", " 5\n", "\t2\r\n", "6", "0", "", "abc", "4294967294",
                                            "4294967295", "99999999999999999999999", "2x", "-3"};
    int n = 0;
    for (const auto& t : texts) write_seed(dir, ++n, t);
}

void console_keys(const fs::path& dir) {
    const std::vector<std::string> texts = {
        "wuf\rhelp\r",
        "wrong\rwuf\r?\r",
        "wuf\rsvc\rsvc help\rsvc reconfigure\rsvc suspend nothing\r",
        "wuf\rls\rls -e 12 -s 3\rls -x\r",
        "wuf\rone\rtwo\rthree\r\x1b[A\x1b[A\r\x1b[B\r",
        "wuf\rabc\b\b\bxyz\r   \r\r",
        "wuf\r" + std::string(9000, 'a') + "\r",
        "wuf\ra b c d e f g h i j k l m n\r",
        "wuf\r\x1b\x1b[A\xff\xfb\x18\r",
        "wuf\rexit\rhelp\r",
    };
    int n = 0;
    for (const auto& t : texts) write_seed(dir, ++n, t);
}

}  // namespace

int main(int argc, char** argv) {
    fs::path root;
    if (!fuzz_seeds::corpus_root(argc, argv, root)) {
        return 2;
    }
    intra_datagrams(root / "intra_datagram");
    omp_cfgs(root / "omp_cfg");
    trace_controls(root / "trace_control");
    console_keys(root / "console");
    return 0;
}
