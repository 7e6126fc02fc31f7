// backcomm_job_port.h - how a link hands peer messages to the back-communication job: the job's
// own JID and a way to queue a job-message block on its control task without waiting.
//
// hand_over is called on the reactor thread; the port is set up by the job's thread before the
// acceptor listens and is not changed while links exist.
#pragma once

#include <ace/Message_Block.h>

#include "VorlenTypes.h"

class CN_Job_Base;

class BackCommJobPort {
public:
    virtual ~BackCommJobPort() = default;
    virtual JID self_jid() const = 0;
    // Queues a job-message block without waiting: 0, or -1 when refused (the caller keeps it).
    virtual int hand_over(ACE_Message_Block* block) = 0;
};

// The real port: the platform job object and its control task's queue.
class PlatformJobPort final : public BackCommJobPort {
public:
    explicit PlatformJobPort(CN_Job_Base* job) : job_(job) {}
    JID self_jid() const override;
    int hand_over(ACE_Message_Block* block) override;

private:
    CN_Job_Base* job_;
};
