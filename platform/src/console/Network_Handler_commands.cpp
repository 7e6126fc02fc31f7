// A console session's commands: "help"/"?", "svc" with the service configurator, "ls", "exit"
// and the program's hook for everything else.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <ace/Get_Opt.h>
#include <ace/Log_Msg.h>
#include <ace/Service_Config.h>
#include <ace/Service_Repository.h>
#include <ace/Service_Types.h>

#include "console/Command_Line.h"
#include "console/Network_Handler.h"
#include "console/telnet_history.h"

int Network_Handler::run_command() {
    Command_Line line(cmd);
    if (line.argc == 0) {  // blanks only: nothing to run
        clear_line();
        send(">");
        return 0;
    }
    const std::string word = line.argv[0];
    if (word == "help" || word == "?") {
        send_help();
    } else if (word == "svc") {
        if (line.argc == 1) {
            send_svc_help();
        } else {
            process_request(cmd + line.offset_of(1));
        }
    } else if (word == "ls") {
        handle_cmd_ls(line.argc, line.argv);
    } else if (word == "exit") {
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("%D Telnet client exited %d\n"), get_handle()));
        return -1;
    } else {
        run_hook(line.argv[0]);
    }
    telnet_history_add(word.c_str());
    clear_line();
    send(">");
    return 0;
}

void Network_Handler::send_help() {
    send("\r\nCommands    currently supported:\r\n");
    send("help            list commands currently supported\r\n");
    send("ls [-e/s DevID] display information of devices\r\n");
    send("svc xxx         service configure command\r\n");
    send("exit            exit\r\n");
    send("\r\n");
}

void Network_Handler::send_svc_help() {
    send("\r\nservice configure command:\r\n");
    send("help          list states of all managed service\r\n");
    send("reconfigure   reload the service configuration\r\n");
    send("suspend xxx   suspend service named xxx\r\n");
    send("resume xxx    resume service named xxx\r\n");
    send("\r\n");
}

void Network_Handler::run_hook(char* word) {
    std::memset(out_lines_, 0, sizeof out_lines_);
    unsigned char count = 0;
    TelnetProcCmd(word, out_lines_, &count);
    // The table has 100 rows, whatever count the hook claims.
    int lines = count < TELNET_OUT_LINES ? count : TELNET_OUT_LINES;
    for (int i = 0; i < lines; ++i) {
        send(out_lines_[i], strnlen(out_lines_[i], TELNET_OUT_LINE_LEN));
        send("\r\n");
    }
}

void Network_Handler::process_request(const char* text) {
    std::string request(text);
    request.resize(std::min(request.size(), request.find_first_of("\r\n")));
    if (request == "help") {
        list_services();
    } else if (request == "reconfigure") {
        ACE_Service_Config::reconfig_occurred(1);
        send("Reconfiguration done.\r\n\r\n");
    } else {
        ACE_Service_Config::process_directive(request.c_str());
    }
}

void Network_Handler::list_services() {
    send("Service running state:\r\n");
    ACE_Service_Repository_Iterator it(*ACE_Service_Repository::instance(), false);
    int number = 0;
    for (const ACE_Service_Type* service = nullptr; it.next(service) != 0; it.advance()) {
        char row[64 + TELNET_CMD_LEN];
        std::snprintf(row, sizeof row, "#%2.2d %-20s %-10s", ++number, service->name(),
                      service->active() ? "(active)" : "(paused)");
        send(row);
        send("\r\n");
    }
    send("\r\n");
}

void Network_Handler::handle_cmd_ls(int argc, char** argv) {
    if (argc > 1) {
        ACE_Get_Opt options(argc, argv, ACE_TEXT("e:s:?"));
        for (int c; (c = options()) != EOF;) {
            if (c == 'e' || c == 's') {
                const char* id = options.opt_arg();
                unsigned long device = (id != nullptr) ? std::strtoul(id, nullptr, 10) : 0;
                (void)device;  // this console keeps no device rows
            } else {
                send("Usage: ls [-e devid] [-s devid]\r\n");
            }
        }
        send("\r\n");
        return;
    }
    char header[128];
    std::snprintf(header, sizeof header, "%5s %3s %6s %4s %8s %-15s%5s %6s\r\n", "DevID", "Num", "Parent",
                  "Type", "Protocol", "IP_ADDR", "Port", "Online");
    send(header);
    send("\r\n");
}
