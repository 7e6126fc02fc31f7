// CNOstream.h - the trace log's line buffer and its output file stream.
//
// One process-wide buffer (m_cBuf) collects the pieces of a line; every stream shares it, and
// Flush() writes what it holds into this stream's file with one write(2). WriteLine() hands a
// line that was put together elsewhere (CN_PrintToLog's) to the file in one writev(2), after
// whatever the buffer still holds. Insertions are meant to run between
// CNTrace::Begin and CNTrace::End, i.e. under the trace mutex; Flush() takes that mutex itself
// (recursively), so it may also be called without holding it. Insertions into a stream whose file
// is not open are dropped, so a line written while no file is open goes nowhere.
#pragma once

#include <cstddef>
#include <sys/uio.h>

#include "VorlenTypes.h"
#include "trace/CNTraceFile.h"

class CNOstream {
public:
    static constexpr int kBufferSize = 5 * 1024 * 1024; // the buffer holds this much plus a terminator
    static constexpr int kMinLimit = 512;

    CNOstream() = default;
    CNOstream(const CNOstream&) = delete;
    CNOstream& operator=(const CNOstream&) = delete;

    // File side (the callers hold the trace mutex).
    bool OpenAppend(const char* name);
    bool OpenTruncate(const char* name);
    void Close();
    bool IsOpen() const { return outputPtrace.is_open(); }
    bool Good() const { return outputPtrace.good(); }
    // Length of the open file (asked of the file system, not seeked); -1 when unknown.
    long long FileSize() const { return outputPtrace.size(); }

    // Insertions: each checks the room left before formatting (see Reserve).
    CNOstream& operator<<(const char* text);
    CNOstream& operator<<(char c);
    CNOstream& operator<<(unsigned char byte); // a byte is written as its decimal value
    CNOstream& operator<<(short v);
    CNOstream& operator<<(unsigned short v);
    CNOstream& operator<<(int v);
    CNOstream& operator<<(unsigned int v);
    CNOstream& operator<<(long v);
    CNOstream& operator<<(unsigned long v);
    CNOstream& operator<<(long long v);
    CNOstream& operator<<(unsigned long long v);
    CNOstream& operator<<(double v);
    CNOstream& operator<<(float v) { return *this << static_cast<double>(v); }
    CNOstream& operator<<(const void* p);
    // A text of known length; pieces longer than the buffer go straight to the file after a flush.
    CNOstream& Append(const char* text, size_t len);

    // Flush limit, clamped to kMinLimit .. kBufferSize.
    static void SetBuf(int n);
    static int GetBuf() { return m_nLimit; }
    // Writes the buffered bytes to this stream's file (under the trace mutex).
    void Flush();
    // Under the trace mutex: flushes the buffer, then writes the pieces of one line with one
    // writev(2) and counts them. Nothing is written when the file is not open.
    void WriteLine(struct iovec* pieces, int count);

    static WORD32 GetTotalBytes() { return m_nTotByts; }
    static void SetTotalBytes(WORD32 n) { m_nTotByts = n; }
    static void ClearTotalBytes() { m_nTotByts = 0; }
    static int BufferedBytes() { return m_nCur; }

    CNTraceFile outputPtrace;

    static char m_cBuf[kBufferSize + 1];
    static int m_nCur;        // bytes now in the buffer
    static WORD32 m_nTotByts; // bytes written to the current file
    static int m_nLimit;      // flush limit

private:
    // Flushes first when a piece of at most max_len bytes would not fit below the limit.
    void Reserve(size_t max_len);
    template <typename T>
    CNOstream& FormatNumber(const char* format, T value, size_t max_len);
};
