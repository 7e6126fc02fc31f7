#include "zub_config.h"

#include <tinyxml2.h>

#include <cstring>

#include "zub_context.h"
#include "zub_control_ports.h"
#include "zub_number_text.h"
#include "zub_print.h"
#include "zub_public.h"
#include "zub_shared_field.h"

using tinyxml2::XML_SUCCESS;
using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

namespace {

void set_report_cfg(report_cfg_t* cfg, WORD16 port, WORD16 max_num, WORD16 sleep_time)
{
    cfg->port = port;
    cfg->max_num = max_num;
    cfg->sleep_time = sleep_time;
}

// "tagLoc", "tagExt", "ancStat": the three fields together, a missing one 0.
void read_report_cfg(const XMLElement* element, report_cfg_t* cfg)
{
    int port = 0;
    int max_num = 0;
    int sleep_time = 0;
    element->QueryIntAttribute("Port", &port);
    element->QueryIntAttribute("maxNum", &max_num);
    element->QueryIntAttribute("sleepTime", &sleep_time);
    set_report_cfg(cfg, static_cast<WORD16>(port), static_cast<WORD16>(max_num), static_cast<WORD16>(sleep_time));
}

void read_int(const XMLElement* element, const char* name, int* field)
{
    int value = 0;
    if (element->QueryIntAttribute(name, &value) == XML_SUCCESS) {
        *field = value;
    }
}

// The attributes of the root's first child element.
void read_main_attributes(const XMLElement* main)
{
    context_t* c = zub_context();
    read_int(main, "controlPort", &c->zubControlPort);
    read_int(main, "dataPort", &c->zubDataPort);
    int log_level = 0;
    main->QueryIntAttribute("logLevel", &log_level);
    read_int(main, "wirelessSync", &c->zubWirelessSync);
    read_int(main, "FPIRF", &c->zubFPIRF);
    read_int(main, "ZERO", &c->zeroAlgorithmEnable);
    read_int(main, "mode", &c->mode);
    WORD64 prefix = 0;
    if (zub_parse_hex64(main->Attribute("tad_id_prefix"), &prefix)) {
        c->tad_id_prefix = prefix;
    }
    main->QueryDoubleAttribute("ground_clearance", &c->ground_clearance);
    read_int(main, "algorithm", &c->algorithm);
    read_int(main, "filter", &c->filter);
    read_int(main, "min_mulitiple", &c->min_mulitiple);
    int diagnostics = 0;
    main->QueryIntAttribute("anchor_diagnostics", &diagnostics);
    zub_store(c->log_ctrl.diagnostics_log, static_cast<BYTE>(diagnostics > 0 ? 1 : 0));
    read_int(main, "single_blink_expire", &c->single_blink_expire);
    read_int(main, "single_blink_count", &c->single_blink_count);
    main->QueryFloatAttribute("max_human_speed", &c->max_human_speed);
    main->QueryFloatAttribute("max_position_variance", &c->max_position_variance);
    log_level_set(log_level);
    read_int(main, "solveTimeWait", &c->zubSolveWaitTime);
    read_int(main, "solver3D", &c->zubSolver3D);
}

void read_sibling(const XMLElement* element)
{
    context_t* c = zub_context();
    const char* name = element->Value();
    if (std::strcmp(name, "tagLoc") == 0) {
        read_report_cfg(element, &c->tag_loc);
    } else if (std::strcmp(name, "tagExt") == 0) {
        read_report_cfg(element, &c->tag_ext);
    } else if (std::strcmp(name, "ancStat") == 0) {
        read_report_cfg(element, &c->anc_stat);
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

// A document that holds no element, or a root without children, leaves the defaults.
int apply_document(const XMLDocument& doc)
{
    const XMLElement* root = doc.RootElement();
    const XMLElement* main = (root != nullptr) ? root->FirstChildElement() : nullptr;
    if (main == nullptr) {
        return 0;
    }
    read_main_attributes(main);
    for (const XMLElement* e = main->NextSiblingElement(); e != nullptr; e = e->NextSiblingElement()) {
        read_sibling(e);
    }
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
    c->zubControlPort = 3334;
    c->zubDataPort = 3335;
    zub_store(c->zubRTLSStarted, 0);
    c->zubWirelessSync = 1;
    zub_store(c->zubNumAncSystem, 0);
    c->zubSolveWaitTime = 50000;
    c->zubSolver3D = 0;
    c->zubFPIRF = 0;
    c->zeroAlgorithmEnable = 1;
    c->single_blink_expire = 22;
    c->single_blink_count = 4;
    set_report_cfg(&c->tag_loc, 12345, 50, 50);
    set_report_cfg(&c->tag_ext, 12346, 50, 50);
    set_report_cfg(&c->anc_stat, 12347, 50, 50);
    zub_store(c->anchor_cfg_finish, false);
    c->max_position_variance = 0.0f;
    c->max_human_speed = 10.0f;
    c->displayer_type = ZUB_DISPLAYER_TYPE_ORIGINAL;
    zub_store(c->log_ctrl.tag_print_flag, BYTE{0});
    c->dac_interface = dac_interface_t{12301, 12302, 12303};
    c->data_server_port = 3336;
    c->tad_id_prefix = 0;
    c->ground_clearance = 0.0;
    c->algorithm = 0;
    c->filter = 0;
    c->toa_ignore_time = 350;
    log_level_set(3);
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
    if (element->QueryIntAttribute("blinkPort", &value) == XML_SUCCESS) dac.blink_port = static_cast<WORD16>(value);
    if (element->QueryIntAttribute("posPort", &value) == XML_SUCCESS) dac.pos_port = static_cast<WORD16>(value);
    if (element->QueryIntAttribute("ccpPort", &value) == XML_SUCCESS) dac.ccp_port = static_cast<WORD16>(value);
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
