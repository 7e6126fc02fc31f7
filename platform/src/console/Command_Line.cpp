#include "console/Command_Line.h"

#include <cstring>

Command_Line::Command_Line(const char* line) : buff{}, argc(0), argv{} {
    size_t len = strnlen(line, TELNET_CMD_LEN - 1);
    std::memcpy(buff, line, len);
    buff[len] = '\0';
    bool in_word = false;
    for (size_t i = 0; i < len; ++i) {
        if (buff[i] == ' ') {
            buff[i] = '\0';
            in_word = false;
        } else if (!in_word) {
            in_word = true;
            if (argc == TELNET_MAX_ARGS) break;
            argv[argc++] = &buff[i];
        }
    }
    argv[argc] = nullptr;
}
