// zub_area.h - the configured areas: each anchor's area with its sub-areas and their
// corner points, kept in utility-library queues.
//
// Loaded once at power-on by the configuration loader, before the jobs start, and never
// changed or freed afterwards: read by the selectors without a guard.
#pragma once

#include "VorlenTypes.h"
#include "qk_queue.h"

enum e_sub_area_type : int {
    ZUB_SUB_AREA_TYPE_MULTI = 0,
    ZUB_SUB_AREA_TYPE_SIINGLE = 1,
    ZUB_SUB_AREA_TYPE_CORRIDOR = 2,
    ZUB_SUB_AREA_TYPE_UNKNOWN = 3,
};

struct point_t {
    node_t node;
    float x;
    float y;
    float z;
};

struct sub_area_t {
    node_t node;
    e_sub_area_type type;
    queue_t points;  // of point_t
};

struct area_t {
    node_t node;
    WORD64 id;         // the anchor's hardware id
    queue_t sub_area;  // of sub_area_t
};
