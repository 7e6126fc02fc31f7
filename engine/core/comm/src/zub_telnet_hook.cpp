#include "zub_telnet_hook.h"

void TelnetProcCmd(char* /*command*/, char /*table*/[][512], unsigned char* /*count*/) {}
