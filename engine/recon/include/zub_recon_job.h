// zub_recon_job.h - ZUB_RECON, the reconnection job: its entry and the adapter that binds its
// logic (zub_recon.h) to the platform, the anchor links and "/qvx/zub".
//
// The entry runs on the reconnection job's own task thread. Opening a link blocks it for up to
// 10 s per anchor.
#pragma once

#include "VorlenTypes.h"
#include "zub_recon.h"

constexpr const char* ZUB_RECON_ROOT = "/qvx/zub";

void zub_recon_entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag);

// Moves the job's file under another root; only before the job's first message (tests).
void zub_recon_job_set_root(const char* root);

// Whether a socket's TCP state (TCP_INFO) is ESTABLISHED; false when it cannot be read.
bool zub_tcp_established(int sock);

// The engine's own links, timers and sends; every call acts for the calling job.
class job_recon_links final : public recon_links {
public:
    void power_on_ack() override;
    void start_ok() override;
    void start_complete() override;
    void tell_display(WORD16 local_id) override;
    WORD32 start_loop_timer(BYTE type, WORD32 seconds) override;
    void kill_timer(WORD32 id) override;
    WORD32 anchor_socket(const Anchor& a) override;
    bool socket_established(int sock) override;
    void anchor_close(Anchor& a) override;
    bool anchor_open(Anchor& a) override;
    int ctrl_socket() override;
    void ctrl_remove(int sock) override;
};
