// CNLogFile.cpp - naming, the ring of numbered files, the control file and rotation.
#include "trace/CNLogFile.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "trace/trace_program_dir.h"

namespace {

constexpr WORD32 kFileSizeMb = 50000;  // one file of the ring, in the unit size × 1000 is counted in
constexpr int kNegativeSizeMb = 100;
constexpr const char kSeparator[] = "\n\n\n\n\n - - - - - - - - - - - - - - - - - - - - - - - - - -\n";

void copy_name(char (&dst)[CNLogFile::kNameSize], const char* src) {
    std::snprintf(dst, sizeof dst, "%s", src);
}

// mkdir -p with mode 0755; an existing directory is fine, a failure is left to the file opening.
void make_directories(const std::string& dir) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            const std::string prefix = dir.substr(0, pos);
            if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
                return;
            }
        }
    }
}

} // namespace

CNLogFile& CNLogFile::Instance() {
    static CNLogFile m_instance;
    return m_instance;
}

CNLogFile::CNLogFile() = default;

CNLogFile::~CNLogFile() {
    if (CNTrace::GetLevel() > 2 && CNTrace::GetStream() != nullptr) {
        CNTrace::Begin(3, __FILE__, __LINE__) << " ~CNLogFile()" << '\n';
        CNTrace::End();
    }
    CCNTraceMutexGuard guard;
    m_lgStrm.Flush();
    m_lgStrm.Close();
    if (CNTrace::GetStream() == &m_lgStrm) {
        CNTrace::SetStream(nullptr);
    }
    if (m_controlStream.is_open()) {
        m_controlStream.close();
    }
}

void CNLogFile::SetMaxLogSize(int size) {
    if (size < 0) {
        m_maxLogSize = kNegativeSizeMb;
        m_totalLogFile = 2;
        return;
    }
    m_maxLogSize = static_cast<WORD32>(size);
    const unsigned long long files = static_cast<unsigned long long>(size) * 1000ULL / kFileSizeMb;
    m_totalLogFile = files < 2 ? 2 : static_cast<WORD32>(files);
}

void CNLogFile::ApplyStartSettings(int level) {
    m_alterNumber = GetNumber();
    if (m_alterNumber > m_totalLogFile) {
        m_alterNumber = 1;
    }
    CNTrace::SetLevel(static_cast<WORD32>(level));
    CNTrace::CNTraceOptions.store((CNTrace::GetOptions() & ~static_cast<WORD32>(CNTrace::FileAndLine)) |
                                  CNTrace::DateAndTime | CNTrace::Thread);
}

void CNLogFile::WriteStartLines() {
    m_lgStrm.Append(kSeparator, sizeof kSeparator - 1);
    CNTrace::SetStream(&m_lgStrm);
    if (CNTrace::GetLevel() != 0) {
        CNTrace::Begin(1, __FILE__, __LINE__) << "Trace logging started" << '\n';
        CNTrace::End();
        Flush();
    }
}

int CNLogFile::LogInit(int level, int size) {
    CCNTraceMutexGuard guard;
    const std::string dir = std::string(trace_program_directory()) + "log/zub";
    make_directories(dir);
    copy_name(m_fileName, (dir + "/division.log").c_str());
    copy_name(m_controlFile, (dir + "/division.ctl").c_str());
    m_option = CNTrace::e_separateFile;
    CNTrace::oldTraceLevel = level;
    SetMaxLogSize(size);
    ApplyStartSettings(level);
    CNOstream::SetBuf(CNOstream::kMinLimit);
    InitOpenFile();
    WriteStartLines();
    return 0;
}

int CNLogFile::Init(int bufferSize, int level, const char* fileName, const char* controlFile, int size,
                    CNTrace::FileOption option) {
    if (fileName == nullptr || controlFile == nullptr) {
        return -1;
    }
    CCNTraceMutexGuard guard;
    copy_name(m_fileName, fileName);
    copy_name(m_controlFile, controlFile);
    m_option = option;
    CNTrace::oldTraceLevel = level;
    SetMaxLogSize(size);
    ApplyStartSettings(level);
    CNOstream::SetBuf(bufferSize);
    if (option == CNTrace::e_oneFile) {
        if (InitOpenFile() != 0) {
            return -1;
        }
    } else {
        InitOpenFile();
    }
    WriteStartLines();
    return 1;
}

long long CNLogFile::Size() {
    CCNTraceMutexGuard guard;
    return m_lgStrm.FileSize();
}

WORD32 CNLogFile::GetNumber() {
    CCNTraceMutexGuard guard;
    m_controlStream.clear();
    m_controlStream.open(m_controlFile, std::ios::in);
    if (!m_controlStream.is_open()) {
        m_controlStream.clear();
        return kNoNumber;
    }
    char text[32] = {};
    m_controlStream.read(text, sizeof text - 1);
    m_controlStream.close();
    m_controlStream.clear();
    // Only a positive decimal number names a file of the ring; an empty, garbled or zero control
    // file counts as a missing one.
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') {
        ++p;
    }
    if (!std::isdigit(static_cast<unsigned char>(*p))) {
        return kNoNumber;
    }
    const unsigned long long n = std::strtoull(p, nullptr, 10);
    if (n == 0 || n >= kNoNumber) {
        return kNoNumber;
    }
    return static_cast<WORD32>(n);
}

int CNLogFile::SaveNumber(WORD32 n) {
    CCNTraceMutexGuard guard;
    m_controlStream.clear();
    m_controlStream.open(m_controlFile, std::ios::out | std::ios::trunc);
    if (!m_controlStream.is_open()) {
        m_controlStream.clear();
        return -1;
    }
    m_controlStream << n;
    m_controlStream.close();
    m_controlStream.clear();
    return 0;
}

bool CNLogFile::BuildNumberedName(WORD32 number) {
    const char* base = CN_TraceBaseName(m_fileName);
    const char* dot = std::strrchr(base, '.');
    if (dot == nullptr) {
        return false;
    }
    const int stem = static_cast<int>(dot - m_fileName);
    std::snprintf(m_alterFileName, sizeof m_alterFileName, "%.*s%u%s", stem, m_fileName, number, dot);
    return true;
}

int CNLogFile::InitOpenFile() {
    CCNTraceMutexGuard guard;
    if (m_option == CNTrace::e_oneFile) {
        if (!m_lgStrm.OpenAppend(m_fileName)) {
            return -1;
        }
        const long long size = m_lgStrm.FileSize();
        CNOstream::SetTotalBytes(size > 0 ? static_cast<WORD32>(size) : 0);
        return 0;
    }
    if (m_alterNumber == 0 || m_alterNumber > m_totalLogFile) {
        m_alterNumber = 1;
    }
    if (!BuildNumberedName(m_alterNumber)) {
        return -1;
    }
    if (!m_lgStrm.OpenAppend(m_alterFileName)) {
        return -1;
    }
    const long long size = m_lgStrm.FileSize();
    if (size >= 0) {
        // Counting restarts from what the file really holds, so an emptied or replaced file is not
        // taken for a full one.
        CNOstream::SetTotalBytes(size > CNTrace::kRotationSize ? CNTrace::kRotationSize : static_cast<WORD32>(size));
    }
    if (size < 0 || size >= static_cast<long long>(CNTrace::kRotationSize)) {
        return RunningOpenFile();
    }
    SaveNumber(m_alterNumber);
    return 0;
}

int CNLogFile::RunningOpenFile() {
    CCNTraceMutexGuard guard;
    m_lgStrm.Close();
    ++m_alterNumber;
    if (m_alterNumber > m_totalLogFile) {
        m_alterNumber = 1;
    }
    if (!BuildNumberedName(m_alterNumber)) {
        return -1;
    }
    if (!m_lgStrm.OpenTruncate(m_alterFileName)) {
        return -1;
    }
    CNOstream::ClearTotalBytes();
    SaveNumber(m_alterNumber);
    return 0;
}

void CNLogFile::Flush() {
    CCNTraceMutexGuard guard;
    m_lgStrm.Flush();
}

void CNLogFile::Close() {
    CCNTraceMutexGuard guard;
    m_lgStrm.Flush();
    m_lgStrm.Close();
    CNTrace::SetStream(nullptr);
}

bool CNLogFile::Empty() {
    CCNTraceMutexGuard guard;
    m_lgStrm.Close();
    if (!m_lgStrm.OpenTruncate(m_fileName)) {
        return false;
    }
    CNOstream::ClearTotalBytes();
    if (CNTrace::GetLevel() != 0) {
        CNTrace::Begin(1, __FILE__, __LINE__) << "empty the logging file" << '\n';
        CNTrace::End();
        Flush();
    }
    return true;
}
