#include "backcomm_job_port.h"

#include "VorlenComm.h"

JID PlatformJobPort::self_jid() const { return job_->SelfJID(); }

int PlatformJobPort::hand_over(ACE_Message_Block* block) {
    CNCtrlTask* task = job_->GetParentTask();
    if (task == nullptr) {
        return -1;
    }
    return task->PutBlock(block, false);
}
