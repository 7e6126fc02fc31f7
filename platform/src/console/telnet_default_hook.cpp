// telnet_default_hook.cpp - the console's command hook for programs that add no commands.
#include "console/telnet_state.h"

__attribute__((weak)) void TelnetProcCmd(char* /*command*/, char /*table*/[][TELNET_OUT_LINE_LEN],
                                         unsigned char* count)
{
    if (count != nullptr) {
        *count = 0;
    }
}
