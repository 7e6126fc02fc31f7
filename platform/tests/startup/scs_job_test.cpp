// The power-on sequencer driven message by message on a fake platform: no threads, no clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "startup/cn_scs_job.h"

namespace {

void Entry(WORD16, WORD32, void*, void*, BYTE) {}

constexpr WORD16 kOwnModule = 11;
constexpr WORD32 kOwnDevId = (1u << 24) + 1;

struct Sent {
    WORD32 msg;
    JID to;
};

struct Timer {
    WORD32 no;
    SWORD32 ms;
    WORD32 para;
    bool loop;
};

// Records what the sequencer asks of the platform. Timer ids are never reused, and cancelling
// an id that is not live fails, as on the real platform.
class FakePlatform : public CN_ScsPlatform {
public:
    explicit FakePlatform(std::vector<T_JobCreatReg> table, bool omp = false) : table_(std::move(table)), omp_(omp) {}

    const T_JobCreatReg* Table() override { return table_.data(); }
    bool IsOmp() override { return omp_; }
    JID SelfJid() override {
        JID j{};
        j.dwJno = 1;
        j.dwDevId = omp_ ? 1 : kOwnDevId;
        j.wModule = omp_ ? 1 : kOwnModule;
        j.wUnit = 0xFFFF;
        return j;
    }
    JID SenderJid() override { return sender; }
    WORD16 MsgLen() override { return msg_len; }
    WORD32 TimerPara() override { return timer_para; }
    WORD32 Send(WORD32 msg, const JID& to) override {
        sent.push_back({msg, to});
        return 0;
    }
    XOS_TIMER_ID SetTimer(WORD32 no, SWORD32 ms, WORD32 para, bool loop) override {
        if (refuse_timers) return XOS_INVALID_TIMER_ID;
        timers.push_back({no, ms, para, loop});
        live.insert(next_id);
        return next_id++;
    }
    WORD32 KillTimer(XOS_TIMER_ID id) override {
        kills.push_back(id);
        return live.erase(id) == 1 ? 0 : 1;
    }
    void SetNextState(WORD16 s) override { state = s; }
    void Log(const std::string& line) override { log += line; }

    // Delivers one message in the current state, as the control task would.
    void Deliver(WORD32 msg, WORD16 len = 0, WORD32 para = 0) {
        msg_len = len;
        timer_para = para;
        CN_ScsHandle(*this, &data, state, msg);
    }
    // Delivers the sequencer's own 6000s until it stops sending them to itself.
    void RunSelfSteps() {
        while (!sent.empty() && sent.back().msg == EV_CN_POWER_ON && sent.back().to.dwJno == 1) Deliver(EV_CN_POWER_ON);
    }
    XOS_TIMER_ID LastTimerId() const { return next_id - 1; }
    std::vector<WORD32> PoweredOn() const {
        std::vector<WORD32> out;
        for (const Sent& s : sent)
            if (s.msg == EV_CN_POWER_ON && s.to.dwJno != 1) out.push_back(s.to.dwJno);
        return out;
    }

    T_CN_SCS_PriData data{};
    WORD16 state = 0;
    JID sender{};
    WORD16 msg_len = 0;
    WORD32 timer_para = 0;
    bool refuse_timers = false;
    std::vector<Sent> sent;
    std::vector<Timer> timers;
    std::vector<XOS_TIMER_ID> kills;
    std::set<XOS_TIMER_ID> live;
    std::string log;

private:
    std::vector<T_JobCreatReg> table_;
    bool omp_;
    XOS_TIMER_ID next_id = 100;
};

T_JobCreatReg Row(WORD16 type, const char* name, WORD32 flags = 0, PTFUNCJOBENTRY entry = Entry) {
    T_JobCreatReg r{type, 11, 1, 1, {}, entry, 0, 64, flags};
    std::snprintf(r.acName, sizeof r.acName, "%s", name);
    return r;
}

// The engine's table: notexist and the control job flagged, 25 more rows, END.
std::vector<T_JobCreatReg> EngineTable() {
    std::vector<T_JobCreatReg> t{Row(0, "CN_SCS_JOB"), Row(1, "notexist", CN_JOB_FLAG_WAIT_POWERON_ACK),
                                 Row(0x4000, "ZUB_CONTROL", CN_JOB_FLAG_WAIT_POWERON_ACK)};
    for (WORD16 type = 0x4001; type <= 0x4019; ++type) t.push_back(Row(type, "ZUB_JOB"));
    t.push_back(Row(0x5FFF, "END", 0, nullptr));
    return t;
}

// Powers the engine on up to the registration acknowledgement.
void Register(FakePlatform& p) {
    p.Deliver(0);
    p.Deliver(EV_CN_SCS_REGISTER_ACK);
}

// Registered, notexist acknowledged: the walk waits at the control job's row.
void WaitAtControlRow(FakePlatform& p) {
    Register(p);
    p.RunSelfSteps();
    p.Deliver(EV_CN_POWER_ON_ACK);
    p.RunSelfSteps();
}

TEST(PlatformStartupScs, RegistersWithTheMaintenanceProcessAndRepeatsEvery3s) {
    FakePlatform p(EngineTable());
    p.Deliver(0);
    EXPECT_EQ(p.state, CN_SCS_REGISTERING);
    ASSERT_EQ(p.sent.size(), 1u);
    EXPECT_EQ(p.sent[0].msg, EV_CN_SCS_REGISTER);
    // The first registration goes from a cleared address: device id 0.
    EXPECT_EQ(p.sent[0].to.dwJno, 1u);
    EXPECT_EQ(p.sent[0].to.dwDevId, 0u);
    EXPECT_EQ(p.sent[0].to.wModule, 1);
    EXPECT_EQ(p.sent[0].to.wUnit, 0xFFFF);
    ASSERT_EQ(p.timers.size(), 1u);
    EXPECT_EQ(p.timers[0].no, 2002u);
    EXPECT_EQ(p.timers[0].ms, 3000);
    EXPECT_EQ(p.timers[0].para, 0xFFFFu);
    EXPECT_TRUE(p.timers[0].loop);

    p.Deliver(EV_CN_SCS_TIMER_ID2, 4, 0xFFFF);
    p.Deliver(EV_CN_SCS_TIMER_ID2, 4, 0xFFFF);
    EXPECT_EQ(p.state, CN_SCS_REGISTERING);
    ASSERT_EQ(p.sent.size(), 3u);
    // Repeats go from the own address moved to module 1: the own device id stays.
    EXPECT_EQ(p.sent[2].msg, EV_CN_SCS_REGISTER);
    EXPECT_EQ(p.sent[2].to.dwDevId, kOwnDevId);
    EXPECT_EQ(p.sent[2].to.wModule, 1);
    EXPECT_EQ(p.sent[2].to.wUnit, 0xFFFF);
    size_t none = 0;
    for (size_t at = p.log.find("No OMP found line="); at != std::string::npos; at = p.log.find("No OMP found", at + 1))
        ++none;
    EXPECT_EQ(none, 2u);
    EXPECT_TRUE(p.PoweredOn().empty());
}

TEST(PlatformStartupScs, FailedTimerStartStaysInStateZero) {
    FakePlatform p(EngineTable());
    p.refuse_timers = true;
    p.Deliver(0);
    EXPECT_EQ(p.state, CN_SCS_CREATED);
    p.refuse_timers = false;
    p.Deliver(0);
    EXPECT_EQ(p.state, CN_SCS_REGISTERING);
}

// The walk through both flagged rows: the acknowledgement timer of the first is cancelled and
// forgotten, so the second flagged row is not blocked by a cancel of a stale id.
TEST(PlatformStartupScs, WalksThroughBothFlaggedRowsToTheEnd) {
    FakePlatform p(EngineTable());
    Register(p);
    EXPECT_NE(p.log.find("Receive msg EV_CN_SCS_REGISTER_ACK LINE="), std::string::npos);
    EXPECT_EQ(p.state, CN_SCS_WALKING);
    p.RunSelfSteps();
    EXPECT_EQ(p.state, CN_SCS_WAIT_ACK);
    EXPECT_EQ(p.PoweredOn(), std::vector<WORD32>{0x10001});
    ASSERT_EQ(p.timers.size(), 2u);
    EXPECT_EQ(p.timers[1].no, 2001u);
    EXPECT_EQ(p.timers[1].ms, 36000);
    EXPECT_EQ(p.timers[1].para, 1u);
    EXPECT_FALSE(p.timers[1].loop);
    const XOS_TIMER_ID first = p.LastTimerId();

    p.Deliver(EV_CN_POWER_ON_ACK);  // notexist answers
    p.RunSelfSteps();
    EXPECT_EQ(p.state, CN_SCS_WAIT_ACK);
    EXPECT_EQ(p.kills, std::vector<XOS_TIMER_ID>{first});
    EXPECT_EQ(p.timers.back().para, 2u);
    EXPECT_EQ(p.PoweredOn().back(), 0x40000001u);

    p.Deliver(EV_CN_POWER_ON_ACK);  // the control job answers
    p.RunSelfSteps();
    EXPECT_EQ(p.state, CN_SCS_POWERED_ON);
    std::vector<WORD32> expected;
    expected.push_back(0x10001);
    for (WORD32 type = 0x4000; type <= 0x4019; ++type) expected.push_back((type << 16) | 1);
    EXPECT_EQ(p.PoweredOn(), expected);
    EXPECT_TRUE(p.live.count(100));  // the registration timer is never cancelled
    EXPECT_EQ(p.live.size(), 1u);
    EXPECT_NE(p.log.find("send power on to JOB[notexist].\n"), std::string::npos);
    EXPECT_NE(p.log.find("send power on to JOB[ZUB_CONTROL].\n"), std::string::npos);
    EXPECT_NE(p.log.find("Power on success line="), std::string::npos);
}

TEST(PlatformStartupScs, AckInTheWalkingStateIsLoggedAndIgnored) {
    FakePlatform p(EngineTable());
    Register(p);
    const size_t before = p.sent.size();
    p.Deliver(EV_CN_POWER_ON_ACK);
    EXPECT_EQ(p.state, CN_SCS_WALKING);
    EXPECT_EQ(p.sent.size(), before);
    EXPECT_NE(p.log.find("SCS got power on success message from JOB at state=1, MsgId=6003 line="), std::string::npos);
    // Registrations and the registration timer are ignored while walking and waiting.
    p.Deliver(EV_CN_SCS_REGISTER);
    p.Deliver(EV_CN_SCS_TIMER_ID2, 4, 0xFFFF);
    EXPECT_EQ(p.sent.size(), before);
    p.RunSelfSteps();
    ASSERT_EQ(p.state, CN_SCS_WAIT_ACK);
    p.Deliver(EV_CN_SCS_REGISTER);
    p.Deliver(EV_CN_SCS_TIMER_ID2, 4, 0xFFFF);
    EXPECT_EQ(p.state, CN_SCS_WAIT_ACK);
    EXPECT_EQ(p.PoweredOn().size(), 1u);
}

TEST(PlatformStartupScs, SilentFlaggedJobEndsTheWalkAfterItsTimeout) {
    FakePlatform p(EngineTable());
    WaitAtControlRow(p);
    ASSERT_EQ(p.state, CN_SCS_WAIT_ACK);
    p.Deliver(EV_CN_SCS_TIMER_ID1, 4, 2);
    EXPECT_EQ(p.state, CN_SCS_POWERED_ON);
    // The job number of the control job: 0x4000 << 16 | 1.
    EXPECT_NE(p.log.find("Power on failure for JOB Index=1073741825\n"), std::string::npos);
    EXPECT_EQ(p.data.dwTimerID1, XOS_INVALID_TIMER_ID);
    // No row behind it is powered on, even by later messages.
    p.Deliver(EV_CN_POWER_ON);
    EXPECT_EQ(p.PoweredOn().back(), 0x40000001u);
    EXPECT_EQ(p.state, CN_SCS_POWERED_ON);
}

TEST(PlatformStartupScs, StaleAckTimeoutOfAnEarlierRowIsIgnored) {
    FakePlatform p(EngineTable());
    WaitAtControlRow(p);
    ASSERT_EQ(p.state, CN_SCS_WAIT_ACK);
    // notexist's timer had already expired when it was cancelled: its expiry still arrives.
    p.Deliver(EV_CN_SCS_TIMER_ID1, 4, 1);
    EXPECT_EQ(p.state, CN_SCS_WAIT_ACK);
    EXPECT_EQ(p.log.find("Power on failure"), std::string::npos);
    p.Deliver(EV_CN_POWER_ON_ACK);
    p.RunSelfSteps();
    EXPECT_EQ(p.state, CN_SCS_POWERED_ON);
}

TEST(PlatformStartupScs, FinalStateAnswersRegistrationsAndKeepsTheHeartbeat) {
    FakePlatform p(EngineTable());
    WaitAtControlRow(p);
    p.Deliver(EV_CN_POWER_ON_ACK);
    p.RunSelfSteps();
    ASSERT_EQ(p.state, CN_SCS_POWERED_ON);

    p.sent.clear();
    p.sender = JID{1, 5, 33, 0xFFFF, 0, 0, 0, 0};
    p.Deliver(EV_CN_SCS_REGISTER);
    ASSERT_EQ(p.sent.size(), 1u);
    EXPECT_EQ(p.sent[0].msg, EV_CN_SCS_REGISTER_ACK);
    EXPECT_EQ(p.sent[0].to.wModule, 33);
    EXPECT_EQ(p.sent[0].to.dwDevId, 5u);

    p.Deliver(EV_CN_SCS_TIMER_ID2, 4, 0xFFFF);
    ASSERT_EQ(p.sent.size(), 2u);
    EXPECT_EQ(p.sent[1].msg, EV_CN_SCS_REGISTER);
    EXPECT_EQ(p.sent[1].to.wModule, 1);

    p.Deliver(EV_CN_SCS_REGISTER_ACK);
    p.Deliver(EV_CN_SCS_REGISTER_ACK);
    EXPECT_EQ(dwOMPAck, 2u);
    p.Deliver(777);
    EXPECT_EQ(p.state, CN_SCS_POWERED_ON);
}

TEST(PlatformStartupScs, MaintenanceProcessWalksAtOnceWithoutRegistering) {
    FakePlatform p({Row(0, "CN_SCS_JOB"), Row(1, "notexist", CN_JOB_FLAG_WAIT_POWERON_ACK), Row(0xC004, "BackComm"),
                    Row(0x5FFF, "END", 0, nullptr)},
                   true);
    p.Deliver(0);
    EXPECT_EQ(p.state, CN_SCS_WALKING);
    ASSERT_EQ(p.sent.size(), 1u);
    EXPECT_EQ(p.sent[0].msg, EV_CN_POWER_ON);  // to its own CN_SCS_JOB
    EXPECT_TRUE(p.timers.empty());
    p.RunSelfSteps();
    p.Deliver(EV_CN_POWER_ON_ACK);
    p.RunSelfSteps();
    EXPECT_EQ(p.state, CN_SCS_POWERED_ON);
    EXPECT_EQ(p.PoweredOn(), (std::vector<WORD32>{0x10001, 0xC0040001}));
    for (const Sent& s : p.sent) EXPECT_NE(s.msg, EV_CN_SCS_REGISTER);
    EXPECT_NE(p.log.find("Power on success line="), std::string::npos);
}

TEST(PlatformStartupScs, EmptyTableInTheMaintenanceProcessDoesNothing) {
    FakePlatform p({Row(0x5FFF, "END", 0, nullptr)}, true);
    p.Deliver(0);
    EXPECT_EQ(p.state, CN_SCS_CREATED);
    EXPECT_TRUE(p.sent.empty());
}

TEST(PlatformStartupScs, UnflaggedLastRowEndsTheWalkAtTheTableEnd) {
    FakePlatform p({Row(0, "CN_SCS_JOB"), Row(0x4001, "A"), Row(0x5FFF, "END", 0, nullptr)});
    Register(p);
    p.RunSelfSteps();
    EXPECT_EQ(p.state, CN_SCS_POWERED_ON);
    EXPECT_EQ(p.PoweredOn(), std::vector<WORD32>{0x40010001});
}

}  // namespace
