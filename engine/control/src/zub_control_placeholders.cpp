// PLACEHOLDER handling of the controller's requests and of the anchors' replies, until the
// controller protocol lands: a controller line is freed unread, an anchor reply is dropped.
#include <cstdlib>

#include "RTLSControlHandler.h"
#include "zub_print.h"

void RTLSControlHandler::HandleRequests(char* text)
{
    ZUB_PRINT(ZUB_PRINT_MSG, "PLACEHOLDER: controller request not handled yet.");
    std::free(text);
}

int RTLSControlHandler::HandleResponse(const BYTE* /*message*/, WORD16 /*length*/)
{
    ZUB_PRINT(ZUB_PRINT_MSG, "PLACEHOLDER: anchor reply dropped.");
    return 0;
}
