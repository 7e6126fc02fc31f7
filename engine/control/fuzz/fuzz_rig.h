// fuzz_rig.h - the set-up the control fuzz targets and the control benchmark share: the engine
// context kept in the leak checker's scan, control ports that reach nothing, and the anchors a
// target talks to. Header only; included from LLVMFuzzerInitialize or a benchmark's set-up (one
// thread).
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>

#include "zub_anchor.h"
#include "zub_context.h"
#include "zub_control_ports.h"
#include "zub_public.h"

extern "C" void __lsan_register_root_region(const void* p, size_t size) __attribute__((weak));

namespace control_fuzz {

// The engine context lives in mapped storage that the leak checker does not scan; what it
// holds (anchor-id map, anchor containers, areas) would otherwise count as leaked.
inline void keep_context_in_leak_scan()
{
    if (__lsan_register_root_region != nullptr) {
        __lsan_register_root_region(zub_context(), sizeof(context_t));
    }
}

// Ports that reach nothing and say every call went well: frames, replies and events are
// taken, each timer is granted as id 7, the print switch, sleeps and exits do nothing, and the
// clock moves a quarter of a second each time it is read. A target that checks what it is given
// replaces those entries.
inline ControlPorts quiet_ports()
{
    ControlPorts p;
    p.send_to_anchor = [](const BYTE*, WORD16, Anchor*) { return true; };
    p.send_to_controller = [](const std::string*) { return true; };
    p.send_event = [](WORD32, const JID*) { return true; };
    p.set_timer = [](BYTE, WORD32, WORD32) { return WORD32{7}; };
    p.del_timer = [](WORD32) { return true; };
    p.set_print_flag = [](BYTE) {};
    p.sleep_seconds = [](unsigned) {};
    p.exit_process = [](int) {};
    p.compute_distance_matrix = [](bool) {};
    p.now_ms = [] {
        static WORD64 ms = 0;
        return ms += 250;  // a quarter of a second a call: some requests come too soon
    };
    return p;
}

// Each hardware id becomes an anchor of the context with an open link, but for those listed
// in `without_link`; anchor_count covers them.
template <size_t N>
void add_anchors(const WORD64 (&hardware_ids)[N], std::initializer_list<WORD64> without_link = {})
{
    context_t* c = zub_context();
    for (WORD64 hw : hardware_ids) {
        const WORD16 local = zub_new_anchor_id(hw);
        c->anchors[local].init(hw, local);
        bool linked = true;
        for (WORD64 off : without_link) {
            linked = linked && off != hw;
        }
        if (linked) {
            c->anchors[local].link_record(900u + local, nullptr);
        }
    }
    c->anchor_count = static_cast<WORD16>(N);
}

}  // namespace control_fuzz
