// trace_program_dir.h - where the trace log finds the program directory (ending in "/", or empty
// for the working directory, which is the program directory once the process has daemonised).
//
// Read by CNLogFile::LogInit on whichever thread opens the log.
#pragma once

const char* trace_program_directory();
