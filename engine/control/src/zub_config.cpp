#include "zub_config.h"

#include <tinyxml2.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "zub_context.h"
#include "zub_control_ports.h"
#include "zub_number_text.h"
#include "zub_print.h"
#include "zub_public.h"
#include "zub_shared_field.h"
#include "zub_tag.h"

using tinyxml2::XML_SUCCESS;
using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;
using tinyxml2::XMLError;

namespace {

// Defaults that also stand in for a value out of range.
constexpr int kControlPort = 3334;
constexpr int kDataPort = 3335;
constexpr int kLogLevel = 3;
constexpr int kSingleBlinkCount = 4;
constexpr float kMaxHumanSpeed = 10.0f;
constexpr report_cfg_t kTagLoc{12345, 50, 50};
constexpr report_cfg_t kTagExt{12346, 50, 50};
constexpr report_cfg_t kAncStat{12347, 50, 50};
constexpr dac_interface_t kDacInterface{12301, 12302, 12303};

// What the fields may hold: a port, a 16-bit count, the log levels log_level_set knows (4: the
// vector level 2), the arrivals of one round (a multilateration needing more would never run),
// the single-mode hits one tag keeps.
constexpr int kPortMin = 1;
constexpr int kPortMax = 65535;
constexpr int kWord16Max = 65535;
constexpr int kLogLevelMax = 4;
constexpr int kMinMultipleMax = static_cast<int>(ZUB_MAX_BLINKS_PER_ROUND);
constexpr int kSingleBlinkCountMax = static_cast<int>(ZUB_SINGLE_MODE_RING);

// An int attribute into *field. Missing or not a number: false, the field as it was. A number
// outside [lo, hi] (read wide, so that none wraps into range) is logged and `fallback` stored.
bool read_int_in(const XMLElement* element, const char* name, int lo, int hi, int fallback, int* field)
{
    int64_t value = 0;
    if (element->QueryInt64Attribute(name, &value) != XML_SUCCESS) {
        return false;
    }
    if (value < lo || value > hi) {
        ZUB_PRINT(ZUB_PRINT_ERROR,
                  "vm_zub.xml: %s %s=\"%.32s\" is outside %d..%d, %d (the default) is used instead.",
                  element->Value(), name, element->Attribute(name), lo, hi, fallback);
        *field = fallback;
        return true;
    }
    *field = static_cast<int>(value);
    return true;
}

XMLError query_real(const XMLElement* element, const char* name, float* value)
{
    return element->QueryFloatAttribute(name, value);
}

XMLError query_real(const XMLElement* element, const char* name, double* value)
{
    return element->QueryDoubleAttribute(name, value);
}

// A float or double attribute into *field; a value that is not finite is logged and `fallback`
// stored.
template <class Real>
void read_finite(const XMLElement* element, const char* name, Real fallback, Real* field)
{
    Real value = 0;
    if (query_real(element, name, &value) != XML_SUCCESS) {
        return;
    }
    if (!std::isfinite(value)) {
        ZUB_PRINT(ZUB_PRINT_ERROR,
                  "vm_zub.xml: %s %s=\"%.32s\" is not a finite number, %g (the default) is used instead.",
                  element->Value(), name, element->Attribute(name), static_cast<double>(fallback));
        value = fallback;
    }
    *field = value;
}

// "tagLoc", "tagExt", "ancStat": the three fields together, a missing one 0 (a sleep time keeps its
// low 16 bits).
void read_report_cfg(const XMLElement* element, report_cfg_t* cfg, const report_cfg_t& def)
{
    int port = 0;
    int max_num = 0;
    int sleep_time = 0;
    read_int_in(element, "Port", kPortMin, kPortMax, def.port, &port);
    read_int_in(element, "maxNum", 0, kWord16Max, def.max_num, &max_num);
    element->QueryIntAttribute("sleepTime", &sleep_time);
    cfg->port = static_cast<WORD16>(port);
    cfg->max_num = static_cast<WORD16>(max_num);
    cfg->sleep_time = static_cast<WORD16>(sleep_time);
}

void read_int(const XMLElement* element, const char* name, int* field)
{
    int value = 0;
    if (element->QueryIntAttribute(name, &value) == XML_SUCCESS) {
        *field = value;
    }
}

// The attributes of the root's first child element. Returns the log level to apply.
int read_main_attributes(const XMLElement* main)
{
    context_t* c = zub_context();
    read_int_in(main, "controlPort", kPortMin, kPortMax, kControlPort, &c->zubControlPort);
    read_int_in(main, "dataPort", kPortMin, kPortMax, kDataPort, &c->zubDataPort);
    int log_level = 0;
    read_int_in(main, "logLevel", 0, kLogLevelMax, kLogLevel, &log_level);
    read_int(main, "wirelessSync", &c->zubWirelessSync);
    read_int(main, "FPIRF", &c->zubFPIRF);
    read_int(main, "ZERO", &c->zeroAlgorithmEnable);
    read_int(main, "mode", &c->mode);
    WORD64 prefix = 0;
    if (zub_parse_hex64(main->Attribute("tad_id_prefix"), &prefix)) {
        c->tad_id_prefix = prefix;
    }
    read_finite(main, "ground_clearance", 0.0, &c->ground_clearance);
    read_int(main, "algorithm", &c->algorithm);
    read_int(main, "filter", &c->filter);
    read_int_in(main, "min_mulitiple", 0, kMinMultipleMax, 0, &c->min_mulitiple);
    int diagnostics = 0;
    main->QueryIntAttribute("anchor_diagnostics", &diagnostics);
    zub_store(c->log_ctrl.diagnostics_log, static_cast<BYTE>(diagnostics > 0 ? 1 : 0));
    read_int(main, "single_blink_expire", &c->single_blink_expire);
    read_int_in(main, "single_blink_count", 0, kSingleBlinkCountMax, kSingleBlinkCount, &c->single_blink_count);
    read_finite(main, "max_human_speed", kMaxHumanSpeed, &c->max_human_speed);
    read_finite(main, "max_position_variance", 0.0f, &c->max_position_variance);
    read_int(main, "solveTimeWait", &c->zubSolveWaitTime);
    read_int(main, "solver3D", &c->zubSolver3D);
    return log_level;
}

void read_sibling(const XMLElement* element)
{
    context_t* c = zub_context();
    const char* name = element->Value();
    if (std::strcmp(name, "tagLoc") == 0) {
        read_report_cfg(element, &c->tag_loc, kTagLoc);
    } else if (std::strcmp(name, "tagExt") == 0) {
        read_report_cfg(element, &c->tag_ext, kTagExt);
    } else if (std::strcmp(name, "ancStat") == 0) {
        read_report_cfg(element, &c->anc_stat, kAncStat);
    } else if (std::strcmp(name, "dacInterface") == 0) {
        zub_cfg_dac_interface_get(element);
    } else if (std::strcmp(name, "clockSync") == 0) {
        zub_cfg_clocksync_get(element);
    } else if (std::strcmp(name, "logCtrl") == 0) {
        zub_cfg_logctrl_get(element);
    } else if (std::strcmp(name, "displayer") == 0) {
        zub_cfg_displayer_get(element);
    }
}

// A document that holds no element, or a root without children, leaves the defaults. The file's
// log level is applied last, so every line about the file is written at the default level.
int apply_document(const XMLDocument& doc)
{
    const XMLElement* root = doc.RootElement();
    const XMLElement* main = (root != nullptr) ? root->FirstChildElement() : nullptr;
    if (main == nullptr) {
        return 0;
    }
    const int log_level = read_main_attributes(main);
    for (const XMLElement* e = main->NextSiblingElement(); e != nullptr; e = e->NextSiblingElement()) {
        read_sibling(e);
    }
    log_level_set(log_level);
    return 0;
}

void log_unreadable()
{
    ZUB_PRINT(ZUB_PRINT_EVENT, "\nFailed to read configuration file vm_zub.xml - using defaults!\n\n");
}

}  // namespace

void log_level_set(int level)
{
    context_t* c = zub_context();
    zub_store(c->log_ctrl.log_level, static_cast<BYTE>(level));
    zub_store(c->log_ctrl.vector_log_level, static_cast<BYTE>(level == 4 ? 2 : (level == 3 ? 1 : 0)));
    if (zub_control_ports().set_print_flag) {
        zub_control_ports().set_print_flag(static_cast<BYTE>(level));
    }
}

void zub_set_default_config()
{
    context_t* c = zub_context();
    c->anchorListenPort = 3000;
    c->zubControlPort = kControlPort;
    c->zubDataPort = kDataPort;
    zub_store(c->zubRTLSStarted, 0);
    c->zubWirelessSync = 1;
    zub_store(c->zubNumAncSystem, 0);
    c->zubSolveWaitTime = 50000;
    c->zubSolver3D = 0;
    c->zubFPIRF = 0;
    c->zeroAlgorithmEnable = 1;
    c->single_blink_expire = 22;
    c->single_blink_count = kSingleBlinkCount;
    c->tag_loc = kTagLoc;
    c->tag_ext = kTagExt;
    c->anc_stat = kAncStat;
    zub_store(c->anchor_cfg_finish, false);
    c->max_position_variance = 0.0f;
    c->max_human_speed = kMaxHumanSpeed;
    c->displayer_type = ZUB_DISPLAYER_TYPE_ORIGINAL;
    zub_store(c->log_ctrl.tag_print_flag, BYTE{0});
    c->dac_interface = kDacInterface;
    c->data_server_port = 3336;
    c->tad_id_prefix = 0;
    c->ground_clearance = 0.0;
    c->algorithm = 0;
    c->filter = 0;
    c->toa_ignore_time = 350;
    log_level_set(kLogLevel);
}

void ReadConfiguration()
{
    zub_read_configuration_file("vm_zub.xml");
}

int zub_read_configuration_file(const char* path)
{
    zub_set_default_config();
    XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (doc.LoadFile(path) != XML_SUCCESS) {
        log_unreadable();
        return -1;
    }
    return apply_document(doc);
}

int zub_read_configuration_text(const char* text, size_t len)
{
    zub_set_default_config();
    XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (doc.Parse(text, len) != XML_SUCCESS) {
        log_unreadable();
        return -1;
    }
    return apply_document(doc);
}

void zub_cfg_dac_interface_get(const XMLElement* element)
{
    dac_interface_t& dac = zub_context()->dac_interface;
    int value = 0;
    if (read_int_in(element, "blinkPort", kPortMin, kPortMax, kDacInterface.blink_port, &value)) {
        dac.blink_port = static_cast<WORD16>(value);
    }
    if (read_int_in(element, "posPort", kPortMin, kPortMax, kDacInterface.pos_port, &value)) {
        dac.pos_port = static_cast<WORD16>(value);
    }
    if (read_int_in(element, "ccpPort", kPortMin, kPortMax, kDacInterface.ccp_port, &value)) {
        dac.ccp_port = static_cast<WORD16>(value);
    }
}

void zub_cfg_displayer_get(const XMLElement* element)
{
    const char* type = element->Attribute("type");
    const bool norvat = type != nullptr && std::strcmp(type, "norvat") == 0;
    zub_context()->displayer_type = norvat ? ZUB_DISPLAYER_TYPE_NORVAT : ZUB_DISPLAYER_TYPE_ORIGINAL;
}

void zub_cfg_clocksync_get(const XMLElement* element)
{
    int ms = 0;
    element->QueryIntAttribute("toaIgnoreTime", &ms);
    zub_context()->toa_ignore_time = static_cast<WORD16>(ms);
}

void zub_cfg_logctrl_get(const XMLElement* element)
{
    int flag = 0;
    element->QueryIntAttribute("tagPrintFlag", &flag);
    zub_store(zub_context()->log_ctrl.tag_print_flag, static_cast<BYTE>(flag));
}
