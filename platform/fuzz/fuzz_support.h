// fuzz_support.h - what the platform's fuzz targets share: a private temporary folder for the
// files a target must write, and the one way a target reports a broken expectation.
//
// Called from the fuzzing thread only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// A folder made once per process under $TMPDIR (or /tmp) and removed at exit.
const std::string& temp_dir();

// Writes the bytes to <temp_dir>/<name> and returns the path.
std::string write_temp_file(const char* name, const uint8_t* data, size_t size);

// Ends the run with a message: the fuzzer keeps the input that led here.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "fuzz expectation broken: %s\n", what);
    std::abort();
}

inline void expect(bool ok, const char* what) {
    if (!ok) fail(what);
}

}  // namespace fuzz
