// CNOstream.cpp - the shared line buffer and its flush into the trace file.
#include "trace/CNOstream.h"

#include <cstdio>
#include <cstring>

#include "trace/CNTrace.h"

char CNOstream::m_cBuf[CNOstream::kBufferSize + 1];
int CNOstream::m_nCur = 0;
WORD32 CNOstream::m_nTotByts = 0;
int CNOstream::m_nLimit = CNOstream::kMinLimit;

bool CNOstream::OpenAppend(const char* name) { return outputPtrace.open(name, false); }

bool CNOstream::OpenTruncate(const char* name) { return outputPtrace.open(name, true); }

void CNOstream::Close() { outputPtrace.close(); }

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
        m_nTotByts += static_cast<WORD32>(outputPtrace.write_all(m_cBuf, static_cast<size_t>(m_nCur)));
    }
    m_nCur = 0;
}

void CNOstream::WriteLine(struct iovec* pieces, int count) {
    CCNTraceMutexGuard guard;
    if (!outputPtrace.is_open()) {
        return;
    }
    Flush();
    m_nTotByts += static_cast<WORD32>(outputPtrace.write_all(pieces, count));
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
        m_nTotByts += static_cast<WORD32>(outputPtrace.write_all(text, len));
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
