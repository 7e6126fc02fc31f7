// Command_Line.h - a console line split into words: a copy of the line in which every blank
// becomes a terminator, and pointers to the first 11 words (runs of blanks count as one).
//
// A plain value used on the reactor thread while one command runs; not copyable (the word
// pointers point into its own buffer).
#pragma once

#include "console/telnet_state.h"

class Command_Line {
public:
    // `line` is cut to TELNET_CMD_LEN - 1 characters.
    explicit Command_Line(const char* line);
    Command_Line(const Command_Line&) = delete;
    Command_Line& operator=(const Command_Line&) = delete;

    // Offset of word i in the original line.
    int offset_of(int i) const { return static_cast<int>(argv[i] - buff); }

    char buff[TELNET_CMD_LEN];
    int argc;
    char* argv[TELNET_MAX_ARGS + 1];  // argv[argc] is null
};
