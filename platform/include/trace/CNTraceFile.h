// CNTraceFile.h - the open trace file: one descriptor opened for appending, written with whole
// write(2)/writev(2) calls so that a line reaches the kernel in one piece.
//
// Owned by a CNOstream; every call is made under the trace mutex. Not copyable.
#pragma once

#include <sys/uio.h>

#include <cstddef>

class CNTraceFile {
public:
    CNTraceFile() = default;
    ~CNTraceFile() { close(); }
    CNTraceFile(const CNTraceFile&) = delete;
    CNTraceFile& operator=(const CNTraceFile&) = delete;

    // Opens (creating) the file for appending; with `truncate` it is emptied first. Any file open
    // before is closed. False when it cannot be opened.
    bool open(const char* name, bool truncate);
    void close();
    bool is_open() const { return fd_ >= 0; }
    // Open and no write has failed since the opening.
    bool good() const { return fd_ >= 0 && !failed_; }
    // The file's length (fstat); -1 when unknown.
    long long size() const;
    // Writes all the pieces, in order, appended at the end of the file; retries short writes and
    // interrupted calls. Returns the bytes written; a failing write marks the file bad.
    size_t write_all(struct iovec* pieces, int count);
    size_t write_all(const char* data, size_t len);

private:
    int fd_ = -1;
    bool failed_ = false;
};
