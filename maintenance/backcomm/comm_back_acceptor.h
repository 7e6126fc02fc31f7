// comm_back_acceptor.h - the listener of the back-communication proxy: accepts peers and creates
// one OmsProxyService per connection, bound to the job port and the module map it was given.
//
// Threads: opened and closed from the back-communication job's thread (or a test's); accepts on
// the reactor thread.
#pragma once

#include <ace/Acceptor.h>
#include <ace/INET_Addr.h>
#include <ace/SOCK_Acceptor.h>

#include "oms_proxy_service.h"

class CommBackAcceptor : public ACE_Acceptor<OmsProxyService, ACE_SOCK_ACCEPTOR> {
public:
    // Where new links hand their messages and register their module. Set before listen().
    void attach(OmsLinkManager* links, BackCommJobPort* job);

    // Closes any earlier listener, then listens on addr with the given reactor: non-blocking
    // links, select-based accept, address reuse. 0, or -1.
    int listen(const ACE_INET_Addr& addr, ACE_Reactor* reactor);

    int make_svc_handler(OmsProxyService*& sh) override;

private:
    BackCommJobPort* ptBackCommJob = nullptr;
    OmsLinkManager* links_ = nullptr;
};
