// The controller's requests: one XML element per line, answered with <ind type="..."> lines.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "RTLSControlHandler.h"
#include "rtls_interface.h"
#include "zub_anchor.h"
#include "zub_config.h"
#include "zub_context.h"
#include "zub_control_frames.h"
#include "zub_control_ports.h"
#include "zub_number_text.h"
#include "zub_print.h"
#include "zub_print_limited.h"
#include "zub_public.h"
#include "zub_shared_field.h"

using tinyxml2::XML_SUCCESS;
using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

namespace {

constexpr unsigned kResetHoldSeconds = 10;
constexpr const char* kVersion = "4.0.200617";

struct FreeText {
    void operator()(char* p) const { std::free(p); }
};

// A number attribute read with bounds; a malformed value counts as missing.
bool attr_int(const XMLElement* e, const char* name, int* out)
{
    return zub_parse_int(e->Attribute(name), out);
}

int attr_int_or(const XMLElement* e, const char* name, int fallback)
{
    int v = fallback;
    attr_int(e, name, &v);
    return v;
}

bool attr_hex64(const XMLElement* e, const char* name, WORD64* out)
{
    return zub_parse_hex64(e->Attribute(name), out);
}

bool attr_double(const XMLElement* e, const char* name, double* out)
{
    double v = 0.0;
    if (e->QueryDoubleAttribute(name, &v) != XML_SUCCESS) {
        return false;
    }
    *out = v;
    return true;
}

template <class Frame>
const BYTE* bytes_of(const Frame& f)
{
    return reinterpret_cast<const BYTE*>(&f);
}

context_t* ctx() { return zub_context(); }

unsigned listed_anchors()
{
    const unsigned n = ctx()->anchor_count;
    return n < ZUB_MAX_ANCHOR_NUM ? n : ZUB_MAX_ANCHOR_NUM;
}

std::string anchor_line(WORD64 hw, const char* rest)
{
    return "<anchor " + RTLSControlHandler::getAddr(hw) + rest;
}

double distance(const double (&a)[3], const double (&b)[3])
{
    const double dx = a[0] - b[0];
    const double dy = a[1] - b[1];
    const double dz = a[2] - b[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

}  // namespace

void RTLSControlHandler::HandleRequests(char* text)
{
    std::unique_ptr<char, FreeText> owned(text);
    if (text == nullptr) {
        return;
    }
    XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (doc.Parse(text) != XML_SUCCESS) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "XML(%s) Error, %d. ", text, static_cast<int>(std::strlen(text)));
        return;
    }
    const XMLElement* root = doc.RootElement();
    const char* type = (root != nullptr) ? root->Attribute("type") : nullptr;
    if (type == nullptr) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, " XML Error, can not find type element.(%s).", text);
        return;
    }
    if (expectedRxResponseNum != 0) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_EVENT,
                          "expectedRxResponseNum  = %d, expectedResponseCode = %u, push this (%s) xml Req to queue.",
                          expectedRxResponseNum, expectedResponseCode, text);
        return;
    }
    Dispatch(type, root);
}

void RTLSControlHandler::Dispatch(const char* type, const XMLElement* root)
{
    auto is = [type](const char* name) { return std::strcmp(type, name) == 0; };
    if (is("anchor list")) {
        HandleAnchorList();
    } else if (is("anchor cfg")) {
        HandleAnchorCfg(root);
        UpdateAnchorConfig();
        if (zub_control_ports().compute_distance_matrix) {
            zub_control_ports().compute_distance_matrix(false);
        }
        zub_store(ctx()->anchor_cfg_finish, true);
    } else if (is("tag training")) {
        HandleTagTraining(root);
    } else if (is("rf cfg")) {
        HandleRfSetup(root);
        UpdateAnchorConfig();
        xmlResponse += "<ind type=\"rf cfg\"></ind>";
        SendXMLResponse();
    } else if (is("power test")) {
        HandlePowerTest(root);
    } else if (is("comm test")) {
        HandleCommTest(root);
    } else if (is("range test")) {
        HandleRangeTest(root);
    } else if (is("twr test")) {
        HandleTwrTest(root);
    } else if (is("anchor init all")) {
        HandleAnchorInitAll();
    } else if (is("rtls start")) {
        HandleRTLSStart(1);
    } else if (is("rtls stop")) {
        HandleRTLSStart(0);
    } else if (is("motion filter")) {
        HandleMotionFilter(root);
    } else if (is("log accumulator")) {
        HandleLogAccumulator(root);
    } else if (is("log start")) {
        HandleLogStart(root);
    } else if (is("log stop")) {
        HandleLogStop();
    } else if (is("log text")) {
        root->Attribute("text");  // read and kept nowhere: the controller's note to itself
    } else if (is("shutdown")) {
        zub_control_ports().exit_process(0);
    } else if (is("zub cfg")) {
        HandleZubCfg();
    } else if (is("rtls anc_reset")) {
        HandleRTLSReset(root);
    } else {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "unkown type:%s.", type);
    }
}

void RTLSControlHandler::HandleAnchorList()
{
    xmlResponse += "<ind type=\"anchor list\">";
    const unsigned n = listed_anchors();
    for (unsigned i = 0; i < n; ++i) {
        xmlResponse += anchor_line(ctx()->anchors[i].hardware_id, " connection=\"Eth\"/>");
    }
    xmlResponse += "</ind>";
    SendXMLResponse();
}

void RTLSControlHandler::HandleAnchorCfg(const XMLElement* root)
{
    context_t* c = ctx();
    xmlResponse = "<ind type=\"anchor cfg\">";
    zub_store(c->zubNumAncSystem, 0);
    for (const XMLElement* e = root->FirstChildElement("anchor"); e != nullptr; e = e->NextSiblingElement("anchor")) {
        WORD64 hw = 0;
        if (!attr_hex64(e, "addr", &hw)) {
            ZUB_PRINT(ZUB_PRINT_ERROR, "anchor cfg: an anchor without a readable addr skipped.");
            continue;
        }
        WORD64 follow = hw;
        attr_hex64(e, "master_addr", &follow);
        Anchor* a = Anchor::zub_get_anchor_by_hardware_id(hw);
        if (a == nullptr) {
            xmlResponse += anchor_line(hw, " db=\"unknown\" status=\"Anchor NOT Discovered\"/>");
            continue;
        }
        xmlResponse += anchor_line(hw, " db=\"exists\"");
        {
            std::lock_guard<GuardMutex> lock(a->cfg_lock);
            AnchorConfig cfg = a->config_snapshot();
            cfg.id_to_follow = follow;
            attr_int(e, "id", &cfg.idx);
            attr_int(e, "master", &cfg.master);
            attr_double(e, "x", &cfg.position[0]);
            attr_double(e, "y", &cfg.position[1]);
            attr_double(e, "z", &cfg.position[2]);
            cfg.use_tof = static_cast<BYTE>(attr_int_or(e, "use_tof", rfConfig.use_tof));
            cfg.four_anc_mode = static_cast<BYTE>(attr_int_or(e, "four_mode", rfConfig.four_anc_mode));
            cfg.tof_delayed = static_cast<WORD16>(attr_int_or(e, "tof_delayed", rfConfig.tof_delayed));
            cfg.anc_power = static_cast<WORD32>(attr_int_or(e, "anc_power", static_cast<int>(rfConfig.anc_power)));
            cfg.tof_anc_id = static_cast<WORD16>(attr_int_or(e, "tof_id", rfConfig.tof_anc_id));
            cfg.use_ant_delay = rfConfig.use_ant_delay;
            if (c->displayer_type == ZUB_DISPLAYER_TYPE_NORVAT) {
                const int mode = attr_int_or(e, "mode", 0);
                cfg.mode = static_cast<BYTE>((mode == 1 || mode == 2) ? mode : 0);
            }
            int delay = attr_int_or(e, "ant_delay", rfConfig.ant_delay);
            attr_int(e, "ant_delay_rx", &delay);
            cfg.ant_delay_rx = static_cast<WORD16>(delay);
            attr_int(e, "ant_delay_tx", &delay);
            cfg.ant_delay_tx = static_cast<WORD16>(delay);
            attr_int(e, "master_lag_delay", &cfg.lag_delay);
            a->config_publish(cfg);
        }
        for (const XMLElement* m = e->FirstChildElement(); m != nullptr; m = m->NextSiblingElement()) {
            WORD64 master_hw = 0;
            Anchor* master = attr_hex64(m, "addr", &master_hw) ? Anchor::zub_get_anchor_by_hardware_id(master_hw) : nullptr;
            if (master == nullptr) {
                ZUB_PRINT(ZUB_PRINT_ERROR, "anchor cfg: master \"%.32s\" of anchor %lx is not a known anchor, skipped.",
                          m->Attribute("addr") != nullptr ? m->Attribute("addr") : "", hw);
                continue;
            }
            double rf = 0.0;
            attr_double(m, "rfdistance", &rf);
            anchor_idx_t entry{};
            entry.id = master->id;
            entry.anc_id = master_hw;
            a->add_master(entry, rf);
        }
        if (a->link_socket() != 0) {
            xmlResponse += " status=\"Socket opened already\"";
            zub_store(c->zubNumAncSystem, zub_load(c->zubNumAncSystem) + 1);
        } else {
            xmlResponse += " status=\"Socket error\"";
        }
        xmlResponse += "/>";
    }
    xmlResponse += "</ind>";
    SendXMLResponse();
}

void RTLSControlHandler::HandleRfSetup(const XMLElement* root)
{
    const XMLElement* e = root->FirstChildElement();
    if (e == nullptr) {
        return;
    }
    int v = 0;
    int delay_default = rfConfig.ant_delay;
    if (attr_int(e, "chan", &v)) rfConfig.chan = v;
    if (attr_int(e, "prf", &v)) {
        if (v == 16) {
            rfConfig.prf = RXQ_PRF_16M;
            delay_default = 16473;
        } else if (v == 64) {
            rfConfig.prf = RXQ_PRF_64M;
            delay_default = 16454;
        }
    }
    if (attr_int(e, "rate", &v)) {
        if (v == 110) rfConfig.rate = RXQ_BR_110K;
        if (v == 850) rfConfig.rate = RXQ_BR_850K;
        if (v == 6810) rfConfig.rate = RXQ_BR_6M8;
    }
    if (attr_int(e, "code", &v)) rfConfig.code = v;
    if (attr_int(e, "plen", &v)) {
        struct Plen { int symbols; int code; };
        for (const Plen p : {Plen{64, RXQ_PLEN_64}, Plen{128, RXQ_PLEN_128}, Plen{256, RXQ_PLEN_256},
                             Plen{512, RXQ_PLEN_512}, Plen{1024, RXQ_PLEN_1024}, Plen{1536, RXQ_PLEN_1536},
                             Plen{2048, RXQ_PLEN_2048}, Plen{4096, RXQ_PLEN_4096}}) {
            if (v == p.symbols) rfConfig.plen = p.code;
        }
    }
    if (attr_int(e, "pac", &v)) {
        if (v == 8) rfConfig.pac = RXQ_PAC8;
        if (v == 16) rfConfig.pac = RXQ_PAC16;
        if (v == 32) rfConfig.pac = RXQ_PAC32;
        if (v == 64) rfConfig.pac = RXQ_PAC64;
    }
    if (attr_int(e, "nsfd", &v)) rfConfig.nsfd = v;
    rfConfig.ant_delay = static_cast<WORD16>(attr_int_or(e, "ant_delay", delay_default));
}

void RTLSControlHandler::HandleAnchorInitAll()
{
    const BYTE frame[1] = {RTLS_INIT_REQ};
    const unsigned n = listed_anchors();
    for (unsigned i = 0; i < n; ++i) {
        SendRequest(&ctx()->anchors[i], frame, sizeof frame);
    }
    xmlResponse += "<ind type=\"anchor init\"/>";
    SendXMLResponse();
}

void RTLSControlHandler::HandleRTLSStart(int started)
{
    const unsigned n = listed_anchors();
    const cmd_rtls_start_t stop{RTLS_START_REQ, RTLS_CMD_PARM_STOP};
    for (unsigned i = 0; i < n; ++i) {
        Anchor* a = &ctx()->anchors[i];
        a->ResetCCP();
        if (started) {
            SendStartFrame(a);
        } else {
            SendRequest(a, bytes_of(stop), sizeof stop);  // the protocol's stop, not a second start
        }
    }
    zub_store(ctx()->zubRTLSStarted, started);
    xmlResponse += started ? "<ind type=\"rtls start\" />\n" : "<ind type=\"rtls stop\" />\n";
    SendXMLResponse();
}

void RTLSControlHandler::HandleMotionFilter(const XMLElement* root)
{
    int v = 0;
    if (attr_int(root, "filter_type", &v)) zub_store(ctx()->enable_motion_filter, v);
    if (attr_int(root, "filter_length", &v)) zub_store(ctx()->filter_length, v);
}

void RTLSControlHandler::HandleLogAccumulator(const XMLElement* root)
{
    const int num_accum = attr_int_or(root, "num_accum", 0);
    const int ccp_blink = attr_int_or(root, "ccp_blink", 0);
    const cmd_log_accumulator_t frame{RTLS_LOG_ACCUMULATOR_REQ, static_cast<BYTE>(ccp_blink != 0 ? 0xA2 : 0xA1),
                                      static_cast<WORD16>(num_accum)};
    for (const XMLElement* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        WORD64 hw = 0;
        if (!attr_hex64(e, "addr", &hw)) {
            continue;
        }
        if (hw == 0) {
            break;
        }
        if (Anchor* a = Anchor::zub_get_anchor_by_hardware_id(hw)) {
            SendRequest(a, bytes_of(frame), sizeof frame);
        }
    }
}

void RTLSControlHandler::HandleLogStart(const XMLElement* root)
{
    log_level_set(attr_int_or(root, "loglevel", 0));
    UpdateAnchorConfig();
}

void RTLSControlHandler::HandleLogStop()
{
    log_level_set(0);
    UpdateAnchorConfig();
}

void RTLSControlHandler::HandleZubCfg()
{
    context_t* c = ctx();
    char text[256];
    std::snprintf(text, sizeof text,
                  "<ind type=\"zub cfg\"><zub ver=\"%s\" loglevel=\"%d\" motionfilter=\"%d\" state=\"%d\" sync=\"%d\"/></ind>",
                  kVersion, zub_load(c->log_ctrl.log_level), zub_load(c->enable_motion_filter),
                  zub_load(c->zubRTLSStarted), c->zubWirelessSync);
    xmlResponse += text;
    SendXMLResponse();
}

void RTLSControlHandler::HandleRTLSReset(const XMLElement* root)
{
    cmd_reset_t frame{};
    frame.command = RTLS_RESET_REQ;
    std::memcpy(frame.text, "reset_anchor_now", sizeof frame.text);
    if (ctx()->displayer_type != ZUB_DISPLAYER_TYPE_ORIGINAL) {
        for (const XMLElement* e = root->FirstChildElement("anchor"); e != nullptr; e = e->NextSiblingElement("anchor")) {
            WORD64 hw = 0;
            Anchor* a = attr_hex64(e, "addr", &hw) ? Anchor::zub_get_anchor_by_hardware_id(hw) : nullptr;
            if (a == nullptr) {
                continue;
            }
            ZUB_PRINT(ZUB_PRINT_EVENT, "send rtls reset cmd to anchor(%d:%lx)", a->id, hw);
            SendRequest(a, bytes_of(frame), sizeof frame);
        }
    } else {
        const unsigned n = listed_anchors();
        for (unsigned i = 0; i < n; ++i) {
            SendRequest(&ctx()->anchors[i], bytes_of(frame), sizeof frame);
        }
    }
    zub_control_ports().sleep_seconds(kResetHoldSeconds);
    xmlResponse += "<ind type=\"rtls reset_complete\" />\n";
    SendXMLResponse();
}

void RTLSControlHandler::HandleTagTraining(const XMLElement* root)
{
    context_t* c = ctx();
    xmlResponse = "<ind type=\"tag training\">";
    const unsigned n = listed_anchors();
    for (unsigned i = 0; i < n; ++i) {
        Anchor& a = c->anchors[i];
        a.sumClockOffset = 0.0;
        a.clockOffsetTrain = 0.0;
        a.numTrainingBlinks = 0;
        a.totalTrainingBlinks = 200;
        a.rxDiffCount = 0;
        {
            std::lock_guard<GuardMutex> lock(a.cfg_lock);
            a.trainingTags.clear();
        }
        std::lock_guard<std::mutex> lock(zub_ccp_lock());
        a.cs_set_count(0);
    }
    for (const XMLElement* e = root->FirstChildElement("anchor"); e != nullptr; e = e->NextSiblingElement("anchor")) {
        WORD64 hw = 0;
        Anchor* a = attr_hex64(e, "addr", &hw) ? Anchor::zub_get_anchor_by_hardware_id(hw) : nullptr;
        if (a == nullptr || a->config_snapshot().training != 0 || e->NoChildren()) {
            continue;
        }
        for (const XMLElement* t = e->FirstChildElement(); t != nullptr; t = t->NextSiblingElement()) {
            WORD64 ref_hw = 0;
            Anchor* r = attr_hex64(t, "addr", &ref_hw) ? Anchor::zub_get_anchor_by_hardware_id(ref_hw) : nullptr;
            if (r == nullptr) {
                ZUB_PRINT(ZUB_PRINT_ERROR, "tag training: reference anchor \"%.32s\" unknown, entry skipped.",
                          t->Attribute("addr") != nullptr ? t->Attribute("addr") : "");
                continue;
            }
            const int blinks = attr_int_or(t, "blinks", 0);
            WORD64 tag = 0;
            attr_hex64(t, "tag", &tag);
            double p[3] = {0.0, 0.0, 0.0};
            attr_double(t, "x", &p[0]);
            attr_double(t, "y", &p[1]);
            attr_double(t, "z", &p[2]);
            {
                std::lock_guard<GuardMutex> lock(r->cfg_lock);
                AnchorConfig rc = r->config_snapshot();
                rc.reference = 1;
                r->config_publish(rc);
                if (r->trainingState.find(tag) == r->trainingState.end()) {
                    r->trainingState.emplace(tag, new TagTraining());
                }
            }
            a->totalTrainingBlinks = blinks;
            std::lock_guard<GuardMutex> lock(a->cfg_lock);
            a->trainingTags.emplace(tag, ref_hw);
            AnchorConfig ac = a->config_snapshot();
            if (a != r) {
                const AnchorConfig rc = r->config_snapshot();
                ac.tofDiff = (distance(rc.position, p) - distance(ac.position, p)) / ZUB_SPEED_OF_LIGHT;
                std::lock_guard<std::mutex> ccp(zub_ccp_lock());
                a->cs_set_count(static_cast<WORD16>(a->cs_count() + 1));
            }
            ac.training = 1;
            a->config_publish(ac);
        }
    }
    xmlResponse += "</ind>";
    SendXMLResponse();
}
