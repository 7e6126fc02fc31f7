// telnet_state.h - the console's process-wide state: the greeting texts and the password, the
// characters a typed line accepts, the line editor's command history shared by every session,
// and the command hook that the program supplies.
//
// Reactor thread only: every session runs on the process reactor, so the history is shared
// without a lock and browsing in one session shows the commands typed in another.
#pragma once

#include "VorlenTypes.h"

class ACE_Reactor;

// A typed line: at most TELNET_CMD_LEN - 1 characters; further characters are ignored.
constexpr int TELNET_CMD_LEN = 8192;
// Words taken from a line; further words are left out.
constexpr int TELNET_MAX_ARGS = 11;
// History: 8 slots, each holding a command word of at most 511 characters (longer words are cut).
constexpr int TELNET_HISTORY_SLOTS = 8;
constexpr int TELNET_HISTORY_LEN = 512;
// The command hook's output table.
constexpr int TELNET_OUT_LINES = 100;
constexpr int TELNET_OUT_LINE_LEN = 512;
constexpr unsigned short TELNET_DEFAULT_PORT = 20002;

// Greeting, prompt and password; the pointers may be set to other texts before a session opens.
extern const char* strINMS;       // "Network Management System\r\n"
extern const char* strVer;        // "Ver: 2.0\r\n\r\n"
extern const char* strPassPromt;  // "Password:"
extern const char* strPass;       // "wuf"

// The 95 printable ASCII characters (32..126): the only bytes a line takes in.
extern const char sValidChars[];
bool telnet_is_valid_char(char c);

// Line-editor state: the history ring, the number of filled slots (0..8), the next slot to
// write as a 1-based count (slot = count % 8), the slot shown by browsing, and 1 after an escape.
extern char g_abOldTelnetCmd[TELNET_HISTORY_SLOTS][TELNET_HISTORY_LEN];
extern BYTE g_bMaxCmdNum;
extern BYTE g_bSaveCmdPos;
extern BYTE g_bCmdPos;
extern BYTE g_bKeyState;

// The reactor the console's listener and sessions register on: the process reactor once the
// platform is up, else ACE's default reactor.
ACE_Reactor* telnet_reactor();

// Supplied by the program: runs a command the console does not know. It may write up to 100
// lines of 512 bytes into `table` and their number into `count`. The platform's own definition
// is weak and adds no command, so a program (or test) without commands of its own links; a
// program with commands defines it in an object it links directly.
void TelnetProcCmd(char* command, char table[][TELNET_OUT_LINE_LEN], unsigned char* count);
