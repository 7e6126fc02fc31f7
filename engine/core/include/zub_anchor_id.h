// zub_anchor_id.h - the map from 64-bit anchor hardware ids to local ids 0..9999.
//
// A hardware id is mapped once to the lowest free local id; mappings are never released.
// The map is the context's anchor_id_manager; every access holds its mutex, so all of
// these may be called from any thread at once.
#pragma once

#include <mutex>

#include "VorlenTypes.h"
#include "qk_queue.h"
#include "rb_tree.h"

constexpr WORD16 ZUB_INVALID_ANCHOR_ID = 0xFFFF;
constexpr unsigned ZUB_ANCHOR_ID_LIMIT = 10000;

// One mapping, keyed by `id`.
struct anchor_id_t {
    explicit anchor_id_t(unsigned long hardware_id) : node{}, id(hardware_id), local_id(0) {}

    node_t node;  // unused here
    WORD64 id;
    WORD16 local_id;
};

struct anchor_id_manager_t {
    bool used[ZUB_ANCHOR_ID_LIMIT];  // local id taken
    RBTree<unsigned long, anchor_id_t> mappings;
    std::mutex lock;
};

// Power-on initialisation of the map; returns 1. The local ids of mappings already made
// stay taken, so a second call cannot give an id twice.
int zub_common_init();
// The local id of the hardware id, mapping it first when it is new; 0xFFFF when all
// 10,000 local ids are taken (known ids still get theirs) or memory runs out.
WORD16 zub_new_anchor_id(WORD64 hardware_id);
// The local id of a mapped hardware id, 0xFFFF when unknown.
WORD16 zub_search_anchor_id(WORD64 hardware_id);
