// zub_print_layer.h - the engine print layer: the job-name prefix, the source position, the
// print level and the hand-over of each line to the trace log.
//
// Engine code prints with ZUB_PRINT(level, fmt, ...) (zub_print.h). While the print flag is
// non-zero this layer is the installed sink: it writes "[job] " and "[file line line]. " into a
// print buffer of the calling thread, adds the text with bounds into the room left and hands
// the line to qePrintStr, which writes it through the trace log at level 1 (error, 23),
// 2 (event, 39) or 3 (message, anything else). The trace log's threshold, min(flag, 3), then
// filters it; the sink's gate asks that threshold first, so a print it would drop is never
// formatted. With the flag at 0 the sink is removed and a print costs one test.
//
// Threads: every function may be called from any thread. Each thread has its own set of
// 32 print buffers, so lines of different jobs never share a buffer. The flag is written by
// the control job (qeSetPrnFlag) and read by all (atomically).
#pragma once

#include "VorlenTypes.h"
#include "zub_print.h"

constexpr unsigned QE_PRINT_BUF_NUM = 32;
constexpr unsigned QE_PRINT_BUF_LEN = 2048;
// The buffer of callers that the directory does not know, and of callers outside any job.
constexpr unsigned QE_PRINT_BUF_SHARED = 25;

// 0: engine prints off; any other value: every engine print is formatted and handed to the
// trace log. Read and written through zub_load / zub_store.
extern BYTE g_bMQESPrnFlag;

// Print buffer `index` of the calling thread, cleared (index 31 and above: buffer 31); null
// when the thread's buffers cannot be had.
char* qePrintBuffGet(WORD32 index);
// The buffer of the directory entry with this job number, else buffer 25, cleared.
char* qeJobPrintBuffGet(WORD32 job_number);

// Takes the calling job's buffer, writes "[%s] " with the job's directory name ("UNKNOWN" for
// a job not in the directory, "Sh" outside any job) and returns the prefix length; *out gets
// the buffer. 0 for a null out (or when no buffer can be had: *out is then null).
int qePrintJobName(char** out);

// Writes one line through the trace log. 0 for a null text or with the flag at 0; 1 otherwise
// (also in the maintenance program, which prints nothing).
int qePrintStr(BYTE level, const char* text);

// Prints the flag banner to standard output, stores the flag, installs or removes the sink and
// sets the trace log's threshold to min(flag, 3).
void qeSetPrnFlag(BYTE flag);

// qePrintStr, unless tag prints are limited to traced tags (log_ctrl.tag_print_flag 1) and
// the tag is not traced.
void zub_select_tag_print(WORD64 tag_id, BYTE level, const char* text);
// Whether a print about this tag passes that filter.
bool zub_tag_print_allowed(WORD64 tag_id);

// ZUB_PRINT for a line about one tag, with the same filter.
#define ZUB_TAG_PRINT(tag_id, level, ...)              \
    do {                                               \
        if (zub_print_wanted(level) &&                 \
            zub_tag_print_allowed(tag_id)) {           \
            ZUB_PRINT((level), __VA_ARGS__);           \
        }                                              \
    } while (0)
