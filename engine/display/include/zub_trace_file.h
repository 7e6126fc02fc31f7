// zub_trace_file.h - one reading of a trace file ("tag_trace.cfg", "anc_trace.cfg"): only a
// regular file is read, and at most its first ZUB_TRACE_FILE_MAX_BYTES, so that whatever lies at
// the path (a FIFO without a writer, a link to /dev/zero, a huge file) neither blocks the
// display job nor takes its memory.
//
// The file is opened without blocking and checked with fstat before any byte is read. Any thread
// (no shared state); the display job reads its two files every 5 s.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "VorlenTypes.h"

// Far more than 200 ids need (the rest of a list is ignored anyway).
constexpr size_t ZUB_TRACE_FILE_MAX_BYTES = size_t{1} << 20;

enum class trace_file_result : BYTE {
    read,         // a regular file: `ids` holds what it lists
    missing,      // nothing could be opened at the path
    not_regular,  // something else lies there (`type` says what); nothing was read
};

struct trace_file_read {
    trace_file_result result = trace_file_result::missing;
    mode_t type = 0;  // the S_IFMT bits of what was found
    std::vector<WORD64> ids;
};

// Reads the ids of the file at `path` (zub_parse_trace_ids over its first
// ZUB_TRACE_FILE_MAX_BYTES; an id cut off at that bound is not taken).
trace_file_read zub_read_trace_file(const std::string& path);

// What a file type is called in a log line: "fifo", "character device", "directory", ...
const char* zub_file_type_name(mode_t type);
