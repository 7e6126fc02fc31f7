// The command history ring. Positions stay inside the filled slots whatever the state holds,
// so no remote key sequence can reach outside the table.
#include "console/telnet_history.h"

#include <cstdio>
#include <cstring>

#include "console/telnet_state.h"

namespace {

void copy_into_slot(char* slot, const char* word) {
    size_t len = strnlen(word, TELNET_HISTORY_LEN - 1);
    std::memcpy(slot, word, len);
    slot[len] = '\0';
}

}  // namespace

void telnet_history_add(const char* word) {
    char* slot = g_abOldTelnetCmd[g_bSaveCmdPos % TELNET_HISTORY_SLOTS];
    copy_into_slot(slot, word);
    std::printf("cmd[%d]:%s \n", g_bSaveCmdPos, slot);
    std::fflush(stdout);
    if (g_bMaxCmdNum < TELNET_HISTORY_SLOTS) ++g_bMaxCmdNum;
    ++g_bSaveCmdPos;
    if (g_bSaveCmdPos > g_bMaxCmdNum) g_bSaveCmdPos = 1;
    g_bCmdPos = g_bSaveCmdPos;
    g_bKeyState = 0;
}

const char* telnet_history_back() {
    if (g_bMaxCmdNum == 0) return nullptr;
    if (g_bCmdPos == 0 || g_bCmdPos > g_bMaxCmdNum) {
        g_bCmdPos = static_cast<BYTE>(g_bMaxCmdNum - 1);
    } else {
        --g_bCmdPos;
    }
    return g_abOldTelnetCmd[g_bCmdPos];
}

const char* telnet_history_forward() {
    if (g_bMaxCmdNum == 0) return nullptr;
    if (g_bCmdPos + 1 >= g_bMaxCmdNum) {
        g_bCmdPos = 0;
    } else {
        ++g_bCmdPos;
    }
    return g_abOldTelnetCmd[g_bCmdPos];
}

void telnet_history_clear() {
    std::memset(g_abOldTelnetCmd, 0, sizeof g_abOldTelnetCmd);
    g_bMaxCmdNum = 0;
    g_bSaveCmdPos = 0;
    g_bCmdPos = 0;
    g_bKeyState = 0;
}
