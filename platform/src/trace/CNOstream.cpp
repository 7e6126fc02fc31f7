// CNOstream.cpp - the shared line buffer and its flush into the trace file.
#include "trace/CNOstream.h"

#include <cstdio>
#include <cstring>

#include "trace/CNTrace.h"

char CNOstream::m_cBuf[CNOstream::kBufferSize + 1];
int CNOstream::m_nCur = 0;
WORD32 CNOstream::m_nTotByts = 0;
int CNOstream::m_nLimit = CNOstream::kMinLimit;

bool CNOstream::OpenAppend(const char* name) {
    Close();
    outputPtrace.clear();
    outputPtrace.open(name, std::ios::out | std::ios::app | std::ios::binary);
    return Good();
}

bool CNOstream::OpenTruncate(const char* name) {
    Close();
    outputPtrace.clear();
    outputPtrace.open(name, std::ios::out | std::ios::trunc | std::ios::binary);
    return Good();
}

void CNOstream::Close() {
    if (outputPtrace.is_open()) {
        outputPtrace.close();
    }
    outputPtrace.clear();
}

long long CNOstream::FileSize() {
    if (!Good()) {
        return -1;
    }
    outputPtrace.seekp(0, std::ios::end);
    const std::streamoff end = outputPtrace.tellp();
    if (!outputPtrace.good() || end < 0) {
        outputPtrace.clear();
        return -1;
    }
    return static_cast<long long>(end);
}

void CNOstream::SetBuf(int n) {
    if (n < kMinLimit) {
        n = kMinLimit;
    } else if (n > kBufferSize) {
        n = kBufferSize;
    }
    m_nLimit = n;
}

void CNOstream::Flush() {
    CCNTraceMutexGuard guard;
    if (m_nCur <= 0) {
        return;
    }
    m_cBuf[m_nCur] = '\0';
    if (outputPtrace.is_open()) {
        outputPtrace.write(m_cBuf, m_nCur);
        outputPtrace.flush();
        m_nTotByts += static_cast<WORD32>(m_nCur);
    }
    m_nCur = 0;
}

void CNOstream::Reserve(size_t max_len) {
    // Signed: a piece longer than the limit may have left m_nCur above it.
    const long long room = static_cast<long long>(m_nLimit) - m_nCur;
    if (room < static_cast<long long>(max_len) + 1) {
        Flush();
    }
}

CNOstream& CNOstream::Append(const char* text, size_t len) {
    if (!outputPtrace.is_open() || len == 0) {
        return *this;
    }
    Reserve(len);
    if (len > static_cast<size_t>(kBufferSize - m_nCur)) {
        // Longer than the whole buffer: write it straight after the flush Reserve just made.
        CCNTraceMutexGuard guard;
        outputPtrace.write(text, static_cast<std::streamsize>(len));
        outputPtrace.flush();
        m_nTotByts += static_cast<WORD32>(len);
        return *this;
    }
    std::memcpy(m_cBuf + m_nCur, text, len);
    m_nCur += static_cast<int>(len);
    m_cBuf[m_nCur] = '\0';
    return *this;
}

CNOstream& CNOstream::operator<<(const char* text) {
    if (text == nullptr) {
        return *this;
    }
    return Append(text, std::strlen(text));
}

CNOstream& CNOstream::operator<<(char c) { return Append(&c, 1); }

template <typename T>
CNOstream& CNOstream::FormatNumber(const char* format, T value, size_t max_len) {
    if (!outputPtrace.is_open()) {
        return *this;
    }
    Reserve(max_len);
    const int n = std::snprintf(m_cBuf + m_nCur, static_cast<size_t>(kBufferSize - m_nCur) + 1, format, value);
    if (n > 0) {
        m_nCur += n;
    }
    return *this;
}

CNOstream& CNOstream::operator<<(unsigned char byte) { return FormatNumber("%u", static_cast<unsigned>(byte), 3); }
CNOstream& CNOstream::operator<<(short v) { return FormatNumber("%d", static_cast<int>(v), 6); }
CNOstream& CNOstream::operator<<(unsigned short v) { return FormatNumber("%u", static_cast<unsigned>(v), 5); }
CNOstream& CNOstream::operator<<(int v) { return FormatNumber("%d", v, 11); }
CNOstream& CNOstream::operator<<(unsigned int v) { return FormatNumber("%u", v, 10); }
CNOstream& CNOstream::operator<<(long v) { return FormatNumber("%ld", v, 20); }
CNOstream& CNOstream::operator<<(unsigned long v) { return FormatNumber("%lu", v, 20); }
CNOstream& CNOstream::operator<<(long long v) { return FormatNumber("%lld", v, 20); }
CNOstream& CNOstream::operator<<(unsigned long long v) { return FormatNumber("%llu", v, 20); }
// %g keeps a double within 13 characters plus sign and exponent.
CNOstream& CNOstream::operator<<(double v) { return FormatNumber("%g", v, 32); }
CNOstream& CNOstream::operator<<(const void* p) { return FormatNumber("%p", p, 20); }
