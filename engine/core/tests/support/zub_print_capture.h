// zub_print_capture.h - engine prints captured while an object lives, for the engine's tests:
// the capture's sink replaces the print layer's and keeps each formatted line.
//
// The sink is locked, so lines printed by job threads are captured too; one capture at a time
// (the sink is process-wide). Construct and destroy it on the test's thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class zub_print_capture {
public:
    zub_print_capture();
    ~zub_print_capture();
    zub_print_capture(const zub_print_capture&) = delete;
    zub_print_capture& operator=(const zub_print_capture&) = delete;

    std::vector<std::string> lines() const;
    // How many captured lines are exactly `text`.
    std::size_t count_of(const std::string& text) const;
    void clear();
};
