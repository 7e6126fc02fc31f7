// The console's texts, its accepted characters and the history shared by all sessions.
#include "console/telnet_state.h"

#include <cstring>

#include <ace/Reactor.h>

#include "CNPlatform.h"

const char* strINMS = "Network Management System\r\n";
const char* strVer = "Ver: 2.0\r\n\r\n";
const char* strPassPromt = "Password:";
const char* strPass = "wuf";

const char sValidChars[] =
    "abcdefghijklmnopqrstuvwxyz"
    " "
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    "0123456789"
    "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";

char g_abOldTelnetCmd[TELNET_HISTORY_SLOTS][TELNET_HISTORY_LEN] = {};
BYTE g_bMaxCmdNum = 0;
BYTE g_bSaveCmdPos = 0;
BYTE g_bCmdPos = 0;
BYTE g_bKeyState = 0;

bool telnet_is_valid_char(char c) {
    // strchr would also find the terminator for a 0 byte.
    return c != '\0' && std::strchr(sValidChars, c) != nullptr;
}

ACE_Reactor* telnet_reactor() {
    ACE_Reactor* reactor = CN_GetProcessReactor();
    return reactor != nullptr ? reactor : ACE_Reactor::instance();
}
