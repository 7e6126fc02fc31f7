// commands.h - the commands an anchor receives: raw bytes without framing, each starting
// with its code, whose length the code decides. CommandSplitter cuts a byte stream into
// whole commands across reads. One splitter per link; the thread that reads the link.
#pragma once

#include <cstdint>
#include <vector>

#include "anchorsim/frames.h"

namespace anchorsim {

// Length in bytes of the command that starts with this code, 0 for an unknown code.
size_t command_length(uint8_t code);

struct Command {
    Bytes bytes;
    bool known = true;  // false: an unknown code, the bytes are the rest of what was held
};

class CommandSplitter {
public:
    // Adds the bytes of one read and returns the commands completed by it, in order. An
    // unknown code cannot be measured: it and everything held after it become one unknown
    // command, and the next read starts afresh.
    std::vector<Command> feed(const uint8_t* data, size_t len);
    size_t pending() const { return held_.size(); }
    void reset() { held_.clear(); }

private:
    Bytes held_;
};

}  // namespace anchorsim
