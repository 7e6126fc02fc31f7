// RTLSControlHandler.h - the control job's one object: the binary commands the engine sends to
// anchors, the bookkeeping of the replies a controller request waits for (code, second code,
// count, the anchors they may come from, response timer), the XML reply text for the
// controller, the controller's requests and every anchor message the socket job routes to the
// control job.
//
// Created on the first Instance() call (at power-on) and kept until the process ends. Used only
// on the control job's thread; it takes no lock of its own. Sends, timers and the process exit
// go through zub_control_ports(); anchor configuration is published under each anchor's
// cfg_lock (config_publish, add_master), so the selectors and the clock-sync job read it safely.
#pragma once

#include <tinyxml2.h>

#include <list>
#include <string>
#include <vector>

#include "VorlenTypes.h"
#include "zub_radio_tests.h"

class Anchor;

class RTLSControlHandler {
public:
    static RTLSControlHandler* Instance();

    // --- configuration files at power-on
    // "dns_zub.cfg", then "anchor_attribute.cfg", of the working directory.
    void load_anchor_cfg();

    // --- commands to anchors (dropped silently for a null anchor or one without a link)
    void SendRequest(Anchor* anchor, const BYTE* bytes, WORD16 length);
    // The 26-byte 'D' configuration command to one anchor.
    void UpdateAnchorConfig(Anchor* anchor);
    // 'D' to every mapped anchor below anchor_count.
    void UpdateAnchorConfig();
    // The anchor's start frame ('W' start, or 'Z' for a ranging anchor) while RTLS runs.
    void StartAnchorRTLS(Anchor* anchor);

    // --- the reply wait
    void SetupResponse(BYTE code, int count);
    // Arms the response timer (121) for `seconds` > 0, cancelling a running one first.
    void WaitForResponse(int seconds);
    // Expiry of the response timer: the no-response text, the wait ends.
    void WaitAnchorRspTimeout();
    // Sends xmlResponse as one line to the controller and clears it.
    void SendXMLResponse();

    // --- anchor messages: a sock_data_t (u16 anc_id, u16 data_len, payload) of `length` bytes.
    // -1 for a local id above 9999 or a message shorter than its head.
    int HandleResponse(const BYTE* message, WORD16 length);
    int HandleResponse(WORD64 hardware_id, WORD16 local_id, const BYTE* payload, WORD16 length, Anchor* anchor);

    // --- controller requests: takes over the heap text (malloc) and frees it in every case.
    void HandleRequests(char* text);

    // After a range pair's final reply or its deadline: starts the test's next pair, if any.
    void HandleRangeTest_continue();

    // addr="<hardware id in lower-case hexadecimal>"
    static std::string getAddr(WORD64 hardware_id);

    // --- fields
    int expectedRxResponseNum;     // replies still awaited; 0 idle; -1 unlimited
    BYTE expectedResponseCode;
    BYTE expectedResponseCode2;    // second code accepted; 0 none
    BYTE twrWithDiagnostics;
    WORD32 tmWatiRspTimer;         // 0xFFFFFFFF: none
    std::list<tinyxml2::XMLDocument*> buff_req_que;  // kept for layout; requests are never queued
    tinyxml2::XMLDocument curXmlDoc;                 // kept for layout; unused
    std::vector<Anchor*> twr_anchors;
    WORD32 twr_initiator;
    WORD32 twr_responder;
    std::string xmlResponse;
    RangeTestRun range_run;
    // The receivers of the communication test under way: the results (0x82) each still owes,
    // by local anchor id (one per transmitter it listens to).
    std::vector<WORD32> comm_results_due;
    // The anchors whose range results (0x83, 0x84) the range pair or twr test under way awaits.
    const Anchor* ranging_anchors[2] = {nullptr, nullptr};
    // Result lines left out of xmlResponse since the last reply (ZUB_REPLY_RESULT_BOUND).
    WORD64 dropped_result_lines = 0;
    // Configuration requests ('B') are answered once a second per anchor: per local id, the
    // time (zub_control_ports().now_ms) from which its next one is answered; earlier ones are
    // counted and dropped.
    std::vector<WORD64> cfg_answer_from_ms;
    WORD64 cfg_requests_dropped = 0;

private:
    RTLSControlHandler();

    void HandleConfigRequest(Anchor* anchor, const BYTE* payload, WORD16 length);
    // Whether the anchor's configuration request is answered now (its turn of the second).
    bool TakeConfigRequestTurn(const Anchor* anchor);
    // Whether the communication test under way awaits a result (0x82) from this anchor now.
    bool AwaitsCommResult(const Anchor* anchor) const;
    // Whether the range pair or twr test under way awaits this range result from this anchor.
    bool AwaitsRangeResult(BYTE code, const Anchor* anchor) const;
    void HandleCommResult(Anchor* anchor, const BYTE* payload, WORD16 length);
    // Appends a result line while xmlResponse stays within ZUB_REPLY_RESULT_BOUND, else counts it.
    void AppendResultLine(const char* line);
    void HandleRangeResult(const BYTE* payload, WORD16 length);
    void AppendNoResponse();
    void KillResponseTimer();
    // 'W' start, or 'Z' for an anchor that uses two-way ranging, whatever zubRTLSStarted is.
    void SendStartFrame(Anchor* anchor);

    void Dispatch(const char* type, const tinyxml2::XMLElement* root);
    void HandleAnchorList();
    void HandleAnchorCfg(const tinyxml2::XMLElement* root);
    void HandleTagTraining(const tinyxml2::XMLElement* root);
    void HandleRfSetup(const tinyxml2::XMLElement* root);
    void HandleAnchorInitAll();
    void HandleRTLSStart(int started);
    // The radio tests (zub_radio_tests.cpp).
    void HandlePowerTest(const tinyxml2::XMLElement* root);
    void HandleCommTest(const tinyxml2::XMLElement* root);
    void HandleRangeTest(const tinyxml2::XMLElement* root);
    void HandleTwrTest(const tinyxml2::XMLElement* root);
    void RunRangePairs();
    void StartRangePair(WORD32 initiator, WORD32 responder);
    // Stops both anchors of the pair started last and sends its reply, whatever it holds (its
    // distance, or the no-response text); false when the pair's indexes are outside twr_anchors.
    bool CloseRangePair();
    void SendStatusLine(const char* line);
    // The response timer expired: a range test stops its pair and goes on with the next one.
    void RadioTestExpired();
    void HandleMotionFilter(const tinyxml2::XMLElement* root);
    void HandleLogAccumulator(const tinyxml2::XMLElement* root);
    void HandleLogStart(const tinyxml2::XMLElement* root);
    void HandleLogStop();
    void HandleZubCfg();
    void HandleRTLSReset(const tinyxml2::XMLElement* root);
};

// The text appended when an awaited anchor reply did not come.
inline constexpr const char* ZUB_NO_RESPONSE_TEXT = " error=\"No response from anchor\" />";

// Bytes of xmlResponse past which anchor result lines are counted, not kept: anchors can send
// results faster than any controller asks for a reply.
inline constexpr size_t ZUB_REPLY_RESULT_BOUND = 65536;

// An anchor asks for its configuration once a link; one that asks again sooner than this is
// answered no more often (each answer is a start frame on its link and a line in the log).
inline constexpr WORD64 ZUB_CFG_REQUEST_PERIOD_MS = 1000;
