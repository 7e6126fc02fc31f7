#include "zub_control_ports.h"

#include <unistd.h>

#include "CNPlatform.h"
#include "zub_anchor_link.h"
#include "zub_client_link.h"
#include "zub_msg.h"
#include "zub_print_layer.h"
#include "zub_selector.h"
#include "zub_timer.h"

ControlPorts zub_control_real_ports()
{
    ControlPorts p;
    p.send_to_anchor = [](const BYTE* buf, WORD16 len, Anchor* anchor) {
        return zub_socket_msg_send_to_anc(buf, len, anchor);
    };
    p.send_to_controller = [](const std::string* text) { return zub_socket_stirng_send_to_ctrl(text); };
    p.send_event = [](WORD32 msg_id, const JID* dst) { return zub_asyn_msg_send(msg_id, nullptr, 0, dst); };
    p.set_timer = [](BYTE type, WORD32 value, WORD32 seconds) { return zub_SetRelativeTimer(type, value, seconds); };
    p.del_timer = [](WORD32 id) { return zub_DelTimer(id); };
    p.set_print_flag = [](BYTE flag) { qeSetPrnFlag(flag); };
    p.sleep_seconds = [](unsigned seconds) { sleep(seconds); };
    p.exit_process = [](int status) { CN_RequestExit(status); };
    p.compute_distance_matrix = [](bool with_print) { Selector::ComputeGlobalDistanceMatrix(with_print ? 1 : 0); };
    p.now_ms = [] { return CN_MonotonicMs(); };
    return p;
}

ControlPorts& zub_control_ports()
{
    static ControlPorts ports = zub_control_real_ports();
    return ports;
}
