#include "RTLSControlHandler.h"

#include <cstdio>

#include "zub_anchor_list.h"
#include "zub_control_ports.h"
#include "zub_msg_id.h"
#include "zub_print.h"
#include "zub_timer.h"

RTLSControlHandler::RTLSControlHandler()
    : expectedRxResponseNum(0),
      expectedResponseCode(0),
      expectedResponseCode2(0),
      twrWithDiagnostics(0),
      tmWatiRspTimer(ZUB_INVALID_TIMER_ID),
      twr_initiator(0),
      twr_responder(0)
{
}

RTLSControlHandler* RTLSControlHandler::Instance()
{
    // Never destroyed: the process ends with _exit while job threads still run.
    static RTLSControlHandler* handler = new RTLSControlHandler();
    return handler;
}

void RTLSControlHandler::load_anchor_cfg()
{
    zub_load_anchor_files(".");
}

std::string RTLSControlHandler::getAddr(WORD64 hardware_id)
{
    char text[32];
    std::snprintf(text, sizeof text, "addr=\"%lx\"", hardware_id);
    return text;
}

void RTLSControlHandler::AppendNoResponse()
{
    xmlResponse += ZUB_NO_RESPONSE_TEXT;
}

void RTLSControlHandler::WaitAnchorRspTimeout()
{
    ZUB_PRINT(ZUB_PRINT_EVENT, "Response timed out : outstanding expectedRxResponseNum %d", expectedRxResponseNum);
    AppendNoResponse();
    expectedRxResponseNum = 0;
    tmWatiRspTimer = ZUB_INVALID_TIMER_ID;
}

void RTLSControlHandler::SendXMLResponse()
{
    for (char& ch : xmlResponse) {
        if (ch == '\n') {
            ch = ' ';
        }
    }
    xmlResponse += '\n';
    zub_control_ports().send_to_controller(&xmlResponse);
    xmlResponse.clear();
}
