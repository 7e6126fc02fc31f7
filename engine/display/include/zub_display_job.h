// zub_display_job.h - ZUB_DISPLAY, the display job: its entry and the adapters that bind its
// logic (zub_display.h) to the platform, the socket job's client lists and "/qvx/zub".
//
// The entry runs on the display job's own task thread; the client lists are shared with the
// socket job's reactor thread under reactor_info.clients_lock.
#pragma once

#include "VorlenTypes.h"
#include "zub_client_output.h"
#include "zub_reactor_info.h"

// Root of the display job's files in the engine.
constexpr const char* ZUB_DISPLAY_ROOT = "/qvx/zub";

void zub_display_entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag);

// Moves the job's files under another root; only before the job's first message (tests).
void zub_display_job_set_root(const char* root);

// The report clients of the socket job's lists: sends are non-blocking and never raise
// SIGPIPE; removal goes through zub_socket_reactor_delete.
class reactor_display_clients final : public display_clients {
public:
    explicit reactor_display_clients(reactor_info_t& info) : info_(info) {}

    void for_each(display_stream s, const std::function<void(unsigned slot, int sock)>& visit) override;
    ssize_t send(int sock, const BYTE* data, size_t len) override;
    WORD64 identity(int sock) override;
    void remove(display_stream s, int sock) override;

    sock_info_t* list(display_stream s) const;

private:
    reactor_info_t& info_;
};
