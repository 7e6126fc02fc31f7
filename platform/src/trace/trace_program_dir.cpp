// trace_program_dir.cpp - the trace log's one link to the start-up code's program directory.
#include "trace/trace_program_dir.h"

const char* trace_program_directory() { return ""; }
