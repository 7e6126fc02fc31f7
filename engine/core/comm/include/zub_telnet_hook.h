// zub_telnet_hook.h - the engine's command hook of the platform's telnet console.
//
// The console calls it for every command that it does not know itself; the engine adds no
// commands of its own, so it writes no line. Console (main reactor) thread.
#pragma once

// `table` holds up to 100 output lines of 512 bytes; `count` their number.
void TelnetProcCmd(char* command, char table[][512], unsigned char* count);
