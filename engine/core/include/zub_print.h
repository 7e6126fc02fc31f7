// zub_print.h - the one entry through which engine code prints a line.
//
// Levels: 23 error, 39 event, 55 message. zub_print formats the text with bounds into a
// buffer of the calling thread and hands it, with its level, to the installed sink; with
// no sink installed nothing is formatted (a print then costs one atomic load). A sink may
// come with a gate that says which levels it would keep: a print the gate refuses is not
// formatted either. The engine print layer installs the sink that prefixes the job name and
// writes the trace log, gated by the trace log's threshold; a test installs one that
// captures the lines. Any thread.
#pragma once

#include "VorlenTypes.h"

constexpr BYTE ZUB_PRINT_ERROR = 23;
constexpr BYTE ZUB_PRINT_EVENT = 39;
constexpr BYTE ZUB_PRINT_MSG = 55;

// Receives one formatted line (without the source position) and where it was printed.
typedef void (*zub_print_sink_t)(BYTE level, const char* file, int line, const char* text);

// Whether a line of this level would be kept; read on every print, so it follows changes of
// whatever it consults.
typedef bool (*zub_print_gate_t)(BYTE level);

// Installs the sink (null: none) with no gate, and returns the one it replaces.
zub_print_sink_t zub_print_set_sink(zub_print_sink_t sink);
// Installs the sink together with its gate (null gate: every level passes).
zub_print_sink_t zub_print_set_gated_sink(zub_print_sink_t sink, zub_print_gate_t gate);

// Whether a print of this level would reach a sink (a sink is installed and its gate passes).
// Callers that put a text together before printing ask this first.
bool zub_print_wanted(BYTE level);

void zub_print(BYTE level, const char* file, int line, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));

#define ZUB_PRINT(level, ...) zub_print((level), __FILE__, __LINE__, __VA_ARGS__)
