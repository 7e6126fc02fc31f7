// make_seeds.cpp - writes the seed corpus of the back-communication link target:
//   maintenance_fuzz_seeds <maintenance/fuzz/corpus>
// Streams of heads made by the link's own encoder (and their byte-swapped twins, as a peer of
// the other byte order sends them), each behind the target's two control bytes.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "fuzz_seeds.h"
#include "omc_msg_head.h"

namespace {

namespace fs = std::filesystem;

T_OMCMsgHead head_of(WORD32 id, WORD16 size, WORD16 module, BYTE route) {
    T_OMCMsgHead h = omc_link_head(id);
    h.ucVer = 1;
    h.ucMsgVer = 2;
    h.ucMsgType = 3;
    h.wMsgSize = size;
    h.tSender.dwJno = 0x20001;
    h.tSender.dwDevId = 1;
    h.tSender.wModule = module;
    h.tSender.wUnit = 0xFFFF;
    h.tSender.ucRouteType = route;
    h.tReceiver.dwJno = static_cast<WORD32>(0xC004) << 16 | 1;
    h.tReceiver.wModule = 1;
    h.tReceiver.wUnit = 0xFFFF;
    return h;
}

// The head as this program writes it, or as a peer of the other byte order would.
std::string wire(const T_OMCMsgHead& head, bool other_order) {
    T_OMCMsgHead h = head;
    if (other_order) {
        h.wMsgSize = __builtin_bswap16(h.wMsgSize);
        h.dwMsgId = __builtin_bswap32(h.dwMsgId);
        for (JID* j : {&h.tSender, &h.tReceiver}) {
            j->dwJno = __builtin_bswap32(j->dwJno);
            j->dwDevId = __builtin_bswap32(j->dwDevId);
            j->wModule = __builtin_bswap16(j->wModule);
            j->wUnit = __builtin_bswap16(j->wUnit);
        }
    }
    BYTE out[kOmcHeadSize];
    omc_head_encode(h, out);
    if (other_order) {
        const WORD32 mark = __builtin_bswap32(kOmcEndianMark);
        std::memcpy(out + kOmcEndianOffset, &mark, sizeof mark);
    }
    return std::string(reinterpret_cast<const char*>(out), sizeof out);
}

std::string message(WORD32 id, const std::string& body, WORD16 module, BYTE route, bool other) {
    return wire(head_of(id, static_cast<WORD16>(body.size()), module, route), other) + body;
}

void write(const fs::path& dir, int n, char largest_cut, char flags, const std::string& stream) {
    fuzz_seeds::write_seed(dir, n, std::string{largest_cut, flags} + stream);
}

}  // namespace

int main(int argc, char** argv) {
    fs::path root;
    if (!fuzz_seeds::corpus_root(argc, argv, root)) {
        return 2;
    }
    const fs::path dir = root / "backcomm_link";
    int n = 0;
    for (bool other : {false, true}) {
        const std::string reg = message(kOmcMsgRegister, "", 7, 0, other);
        const std::string beat = message(kOmcMsgHeartbeat, "", 0, 0, other);
        const std::string fwd = message(4242, "forwarded body", 7, 5, other);
        const std::string no_route = message(4243, "no route", 7, 0, other);
        write(dir, ++n, 0, 0, reg + beat + fwd + no_route);                    // one byte at a time
        write(dir, ++n, 8, 0, reg + fwd + fwd + beat);                         // cuts up to 513 bytes
        write(dir, ++n, 1, 1, reg);                                            // module 7 bound already
        write(dir, ++n, 2, 2, fwd + reg + beat + fwd);                         // ticks between cuts
        write(dir, ++n, 4, 4, reg + fwd + fwd + fwd);                          // the job refuses every second
        write(dir, ++n, 100, 0, reg + message(4244, std::string(21504 - 48, 'b'), 7, 5, other));  // largest body
        write(dir, ++n, 100, 0, reg + wire(head_of(4245, 30000, 7, 5), other) + std::string(30000, 's') + fwd);
        write(dir, ++n, 3, 2, reg + message(kOmcMsgRegister, "again", 7, 5, other) + fwd.substr(0, 60));
    }
    return 0;
}
