#include "anchorsim/commands.h"

namespace anchorsim {

size_t command_length(uint8_t code)
{
    switch (code) {
    case 0x44: return 26;  // 'D' configuration
    case 0x57: return 2;   // 'W' start / stop
    case 0x5A: return 17;  // 'Z' single-sided ranging
    case 0x5B: return 27;  // '[' asymmetric ranging
    case 0x53: return 4;   // 'S' communication test
    case 0x54: return 1;   // 'T' test result
    case 0x56: return 1;   // 'V' initialise
    case 0x58: return 4;   // 'X' power test
    case 0x59: return 18;  // 'Y' reset
    case 0x88: return 4;   // accumulator log
    default:   return 0;
    }
}

std::vector<Command> CommandSplitter::feed(const uint8_t* data, size_t len)
{
    std::vector<Command> done;
    held_.insert(held_.end(), data, data + len);
    size_t at = 0;
    while (at < held_.size()) {
        const size_t need = command_length(held_[at]);
        if (need == 0) {
            done.push_back(Command{Bytes(held_.begin() + static_cast<long>(at), held_.end()), false});
            at = held_.size();
            break;
        }
        if (held_.size() - at < need) {
            break;
        }
        done.push_back(Command{Bytes(held_.begin() + static_cast<long>(at), held_.begin() + static_cast<long>(at + need)), true});
        at += need;
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<long>(at));
    return done;
}

}  // namespace anchorsim
