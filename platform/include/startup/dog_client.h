// dog_client.h - the watchdog heartbeat: 172-byte datagrams to the outside watchdog process on
// 127.0.0.1:10005, one at start and then one every 10 s from the process reactor.
//
// DogClient is a singleton created on first use; Init/SendMsg/Close are for the main thread,
// handle_timeout runs on the reactor (main) thread.
#pragma once

#include <ace/Event_Handler.h>
#include <ace/INET_Addr.h>
#include <ace/SOCK_Dgram.h>

#include <cstddef>
#include <cstdint>

enum MessageCode {
    e_command = 100,
    e_status = 200,
    e_warning = 300,
    e_error = 400,
    e_fatalError = 500,
};

// The datagram, in host byte order.
struct CWatchMessage {
    char m_processName[30];  // "zub", NUL-padded
    int32_t m_msgID;         // MessageCode
    int32_t m_id;            // running number, from 1, one per datagram
    char m_msg[129];         // NUL-terminated, at most 128 characters
};
static_assert(sizeof(CWatchMessage) == 172, "the watchdog expects 172 bytes");
static_assert(offsetof(CWatchMessage, m_msgID) == 32 && offsetof(CWatchMessage, m_id) == 36 &&
                  offsetof(CWatchMessage, m_msg) == 40,
              "watchdog record layout");

inline constexpr unsigned short CN_WATCHDOG_PORT = 10005;
inline constexpr int CN_WATCHDOG_PERIOD_S = 10;

class DogClient : public ACE_Event_Handler {
public:
    static DogClient* Instance();

    // Opens the UDP socket on any local port. 0, or -1.
    int Init();
    // Sends one datagram with the code and text (cut to 128 characters). 0, or -1.
    int SendMsg(int code, const char* text);
    int handle_timeout(const ACE_Time_Value& now, const void* act) override;
    // Closes the socket and destroys the singleton (cancel its reactor timer first).
    void Close();

    // Fills a record as the client sends it (exposed for tests of the layout).
    static void Fill(CWatchMessage* msg, int code, int32_t id, const char* text);

private:
    DogClient();
    ~DogClient() override;
    ACE_SOCK_Dgram sock_;
    ACE_INET_Addr target_;
    int32_t next_id_ = 1;
};

// Scope object of main: closes the client when main's scope ends.
class DogClientGuard {
public:
    DogClientGuard() = default;
    ~DogClientGuard();
    DogClientGuard(const DogClientGuard&) = delete;
    DogClientGuard& operator=(const DogClientGuard&) = delete;
    // Closes now (the exit path ends the process without unwinding).
    void Release();

private:
    bool released_ = false;
};
