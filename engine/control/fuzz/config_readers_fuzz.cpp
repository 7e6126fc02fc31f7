// Fuzz target over the four configuration readers. The first byte picks the reader
// (0 "vm_zub.xml", 1 "dns_zub.cfg", 2 "anchor_attribute.cfg", 3 "area_config.xml"); the rest
// is the file's text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "zub_anchor_list.h"
#include "zub_area_config.h"
#include "fuzz_rig.h"
#include "zub_config.h"

namespace {

void free_queue(queue_t* q)
{
    node_t* n = q->head;
    while (n != nullptr) {
        node_t* next = n->next;
        std::free(n);
        n = next;
    }
    q->head = q->tail = nullptr;
    q->count = 0;
}

// The engine keeps its areas for the life of the process; between inputs they are let go so
// that only what one input leaks is reported.
void release_areas()
{
    context_t* c = zub_context();
    for (node_t* a = c->areas.head; a != nullptr; a = a->next) {
        area_t* area = reinterpret_cast<area_t*>(a);
        for (node_t* s = area->sub_area.head; s != nullptr; s = s->next) {
            free_queue(&reinterpret_cast<sub_area_t*>(s)->points);
        }
        free_queue(&area->sub_area);
    }
    free_queue(&c->areas);
    for (Anchor& anchor : c->anchors) {
        anchor.area = nullptr;
    }
}

void read_list(const uint8_t* data, size_t size, int (*reader)(FILE*))
{
    if (size == 0) {
        return;
    }
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (f != nullptr) {
        reader(f);
        std::fclose(f);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    control_fuzz::keep_context_in_leak_scan();
    zub_control_ports() = control_fuzz::quiet_ports();
    qk_queue_init(&zub_context()->areas);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const char* text = reinterpret_cast<const char*>(data + 1);
    const size_t len = size - 1;
    switch (data[0] % 4) {
    case 0:
        zub_read_configuration_text(text, len);
        break;
    case 1:
        read_list(data + 1, len, zub_read_anchor_list);
        break;
    case 2:
        read_list(data + 1, len, zub_read_anchor_attributes);
        break;
    default:
        release_areas();
        zub_read_area_config_text(text, len);
        release_areas();
        break;
    }
    return 0;
}
