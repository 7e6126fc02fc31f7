// The watchdog client: one UDP socket, one running number, a record per datagram.
#include "startup/dog_client.h"

#include <cstring>

#include <ace/Reactor.h>

#include "CNPlatLog.h"
#include "CNPlatform.h"

namespace {
DogClient* g_dog = nullptr;
}

DogClient* DogClient::Instance() {
    if (g_dog == nullptr) g_dog = new DogClient();
    return g_dog;
}

DogClient::DogClient() : target_(CN_WATCHDOG_PORT, "127.0.0.1") {}

DogClient::~DogClient() { sock_.close(); }

int DogClient::Init() {
    if (sock_.open(ACE_Addr::sap_any) != 0) return -1;
    ACE_INET_Addr local;
    sock_.get_local_addr(local);
    CN_PlatLog("DogClient:Init with local port %u!\n", static_cast<unsigned>(local.get_port_number()));
    return 0;
}

void DogClient::Fill(CWatchMessage* msg, int code, int32_t id, const char* text) {
    std::memset(msg, 0, sizeof *msg);
    std::strncpy(msg->m_processName, "zub", sizeof msg->m_processName - 1);
    msg->m_msgID = code;
    msg->m_id = id;
    if (text != nullptr) std::strncpy(msg->m_msg, text, sizeof msg->m_msg - 1);
}

int DogClient::SendMsg(int code, const char* text) {
    CWatchMessage msg;
    Fill(&msg, code, next_id_++, text);
    ssize_t n = sock_.send(&msg, sizeof msg, target_);
    return n == static_cast<ssize_t>(sizeof msg) ? 0 : -1;
}

int DogClient::handle_timeout(const ACE_Time_Value&, const void*) {
    SendMsg(e_status, "OK");
    return 0;
}

void DogClient::Close() {
    if (ACE_Reactor* reactor = CN_GetProcessReactor()) reactor->cancel_timer(this);
    if (g_dog == this) g_dog = nullptr;
    delete this;
}

DogClientGuard::~DogClientGuard() { Release(); }

void DogClientGuard::Release() {
    if (released_) return;
    released_ = true;
    if (CN_GetPlatLogFile() != nullptr) CN_PlatLog("begin ~DogClientGuard\n");
    if (g_dog != nullptr) g_dog->Close();
    if (CN_GetPlatLogFile() != nullptr) CN_PlatLog("end ~DogClientGuard\n");
}
