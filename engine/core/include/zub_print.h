// zub_print.h - the one entry through which engine code prints a line.
//
// Levels: 23 error, 39 event, 55 message. zub_print formats the text with bounds into a
// buffer of the calling thread and hands it, with its level, to the installed sink; with
// no sink installed nothing is formatted (a print then costs one atomic load). The engine
// print layer installs the sink that prefixes the job name and writes the trace log; a
// test installs one that captures the lines. Any thread.
#pragma once

#include "VorlenTypes.h"

constexpr BYTE ZUB_PRINT_ERROR = 23;
constexpr BYTE ZUB_PRINT_EVENT = 39;
constexpr BYTE ZUB_PRINT_MSG = 55;

// Receives one formatted line (without the source position) and where it was printed.
typedef void (*zub_print_sink_t)(BYTE level, const char* file, int line, const char* text);

// Installs the sink (null: none) and returns the one it replaces.
zub_print_sink_t zub_print_set_sink(zub_print_sink_t sink);

void zub_print(BYTE level, const char* file, int line, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));

#define ZUB_PRINT(level, ...) zub_print((level), __FILE__, __LINE__, __VA_ARGS__)
