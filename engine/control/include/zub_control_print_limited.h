// zub_control_print_limited.h - the control job's name for the engine's rate-limited print
// (ZUB_PRINT_LIMITED, zub_print_limited.h) of the lines an anchor or the controller can cause at
// any rate (a reply nobody awaits, results past the reply's bound). Any thread.
#pragma once

#include "zub_print_limited.h"

#define ZUB_CONTROL_PRINT_LIMITED(level, fmt, ...) ZUB_PRINT_LIMITED(level, fmt __VA_OPT__(, ) __VA_ARGS__)
