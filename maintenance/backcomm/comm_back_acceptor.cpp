#include "comm_back_acceptor.h"

void CommBackAcceptor::attach(OmsLinkManager* links, BackCommJobPort* job) {
    links_ = links;
    ptBackCommJob = job;
}

int CommBackAcceptor::listen(const ACE_INET_Addr& addr, ACE_Reactor* reactor) {
    close();
    return open(addr, reactor, ACE_NONBLOCK, 1, 1);
}

int CommBackAcceptor::make_svc_handler(OmsProxyService*& sh) {
    if (sh == nullptr) {
        ACE_NEW_RETURN(sh, OmsProxyService, -1);
    }
    sh->reactor(reactor());
    sh->attach(links_, ptBackCommJob);
    return 0;
}
