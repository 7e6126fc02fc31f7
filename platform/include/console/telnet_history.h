// telnet_history.h - the console's command history: storing a command word after it has run and
// browsing the ring with the arrow keys (ESC then "A" or "B").
//
// Works on the process-wide line-editor state of telnet_state.h. Reactor thread only.
#pragma once

// Stores `word` (cut to 511 characters) in slot g_bSaveCmdPos % 8, writes "cmd[%d]:%s \n" to
// standard output, raises the filled count up to 8, advances the write position (back to 1 after
// the last filled slot), points browsing at it and ends any escape sequence.
void telnet_history_add(const char* word);

// "A": one slot back (from slot 0 to the last filled slot). "B": one slot forward (from the last
// filled slot to slot 0). Both return the entry now shown, or nullptr while the history is empty
// (the position then stays as it is).
const char* telnet_history_back();
const char* telnet_history_forward();

// Empties the history and resets the browsing position and the escape state.
void telnet_history_clear();
