// files.h - small file helpers for system tests: write a configuration tree, read a log,
// wait until a log holds a line. For the test's threads; no shared state.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace vorlen::sandbox {

// Writes `text` to `path`, creating the missing directories.
bool write_file(const std::string& path, const std::string& text);
// The whole file, or "" when it cannot be read.
std::string read_file(const std::string& path);
// Every regular file directly in `dir`, one after another in name order ("" when none), as a
// rotating log's files are read.
std::string read_dir_files(const std::string& dir);
// Number of non-overlapping occurrences of `needle` in `hay`.
size_t count_of(const std::string& hay, const std::string& needle);
// Waits until the file holds `needle` at least `times` times; false after `timeout`.
bool wait_for_text(const std::string& path, const std::string& needle, std::chrono::milliseconds timeout,
                   size_t times = 1);
// The file's lines (without their newlines).
std::vector<std::string> lines_of(const std::string& path);
// Whether the parts appear in the text in this order; `missing` names the first one that does not.
bool in_order(const std::string& text, const std::vector<std::string>& parts, std::string* missing);

}  // namespace vorlen::sandbox
