#include "zub_print_layer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "XOS_Api.h"
#include "trace/CNTrace.h"
#include "zub_context.h"
#include "zub_job_dir.h"
#include "zub_shared_field.h"
#include "zub_trace_list.h"

BYTE g_bMQESPrnFlag = 0;

namespace {

constexpr BYTE kTraceLevelError = 1;
constexpr BYTE kTraceLevelEvent = 2;
constexpr BYTE kTraceLevelMsg = 3;
constexpr BYTE kMaxTraceLevel = 3;

struct PrintBuffers {
    char buf[QE_PRINT_BUF_NUM][QE_PRINT_BUF_LEN];
};

// Each thread prints into buffers of its own, allocated on its first print.
thread_local std::unique_ptr<PrintBuffers> g_szqePrintStrBuf;

PrintBuffers* thread_buffers()
{
    if (!g_szqePrintStrBuf) {
        g_szqePrintStrBuf.reset(new (std::nothrow) PrintBuffers);
    }
    return g_szqePrintStrBuf.get();
}

// The directory index of this job number, or -1.
int directory_index(WORD32 job_number)
{
    const unsigned n = qe_job_dir_count();
    for (unsigned i = 0; i < n; ++i) {
        if (g_tMPAllJobInitInfo.tJobInfo[i].tJID.dwJno == job_number) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

struct JobName {
    char name[QE_JOB_NAME_LEN];
    WORD32 index;  // the print buffer
};

// The calling job's directory name and buffer index: "Sh" and the shared buffer outside any
// job, "UNKNOWN" and the shared buffer for a job the directory does not know.
JobName caller_name()
{
    JobName who{"Sh", QE_PRINT_BUF_SHARED};
    JID self{};
    if (XOS_GetSelfJID(&self) == XOS_SUCCESS) {
        const int found = directory_index(self.dwJno);
        if (found >= 0) {
            who.index = std::min<WORD32>(static_cast<WORD32>(found), QE_PRINT_BUF_NUM - 1);
            std::memcpy(who.name, g_tMPAllJobInitInfo.tJobInfo[found].szJobName, QE_JOB_NAME_LEN - 1);
            who.name[QE_JOB_NAME_LEN - 1] = '\0';
        } else {
            std::strcpy(who.name, "UNKNOWN");
        }
    }
    return who;
}

const char* base_name(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : nullptr;
}

BYTE trace_level(BYTE level)
{
    switch (level) {
    case ZUB_PRINT_ERROR:
        return kTraceLevelError;
    case ZUB_PRINT_EVENT:
        return kTraceLevelEvent;
    default:
        return kTraceLevelMsg;
    }
}

// The gate of the sink below: a line the trace log would drop is not put together at all. The
// threshold is read on every print, so a later CN_SetLogLevel is followed at once.
bool qe_print_gate(BYTE level)
{
    return zub_load(g_bMQESPrnFlag) != 0 && !XOS_IsOmp() && trace_level(level) <= CNTrace::GetLevel();
}

// Copies up to `len` bytes of `text` at `used` and returns the new length, cut at the end of
// the buffer like the formatted pieces.
size_t append_text(char* buf, size_t used, const char* text, size_t len)
{
    const size_t room = QE_PRINT_BUF_LEN - 1 - std::min<size_t>(used, QE_PRINT_BUF_LEN - 1);
    const size_t n = std::min(len, room);
    std::memcpy(buf + used, text, n);
    used += n;
    buf[used] = '\0';
    return used;
}

// Writes "[name] " at the head of the buffer and returns its length.
size_t put_job_prefix(char* buf, const JobName& who)
{
    size_t used = append_text(buf, 0, "[", 1);
    used = append_text(buf, used, who.name, std::strlen(who.name));
    return append_text(buf, used, "] ", 2);
}

// The sink of zub_print while the flag is on: prefix, source position, text, trace log. The
// job's buffer is not cleared first: every byte of the line is written before it is read.
void qe_print_sink(BYTE level, const char* file, int line, const char* text)
{
    if (zub_load(g_bMQESPrnFlag) == 0) {
        return;
    }
    PrintBuffers* set = thread_buffers();
    if (set == nullptr) {
        return;
    }
    const JobName who = caller_name();
    char* buf = set->buf[who.index];
    size_t used = put_job_prefix(buf, who);
    const char* base = file != nullptr ? base_name(file) : nullptr;
    if (base != nullptr) {
        char number[20];
        used = append_text(buf, used, "[", 1);
        used = append_text(buf, used, base, std::strlen(base));
        used = append_text(buf, used, " ", 1);
        used = append_text(buf, used, number, CN_TraceDecimal(number, line));
        used = append_text(buf, used, " line]. ", 8);
    }
    append_text(buf, used, text != nullptr ? text : "", text != nullptr ? std::strlen(text) : 0);
    qePrintStr(level, buf);
}

}  // namespace

char* qePrintBuffGet(WORD32 index)
{
    PrintBuffers* set = thread_buffers();
    if (set == nullptr) {
        return nullptr;
    }
    char* buf = set->buf[std::min<WORD32>(index, QE_PRINT_BUF_NUM - 1)];
    std::memset(buf, 0, QE_PRINT_BUF_LEN);
    return buf;
}

char* qeJobPrintBuffGet(WORD32 job_number)
{
    const int index = directory_index(job_number);
    return qePrintBuffGet(index >= 0 ? static_cast<WORD32>(index) : QE_PRINT_BUF_SHARED);
}

int qePrintJobName(char** out)
{
    if (out == nullptr) {
        return 0;
    }
    const JobName who = caller_name();
    char* buf = qePrintBuffGet(who.index);
    *out = buf;
    if (buf == nullptr) {
        return 0;
    }
    return static_cast<int>(put_job_prefix(buf, who));
}

int qePrintStr(BYTE level, const char* text)
{
    if (text == nullptr || zub_load(g_bMQESPrnFlag) == 0) {
        return 0;
    }
    if (XOS_IsOmp()) {
        return 1;
    }
    CN_PrintToLog(trace_level(level), text);
    return 1;
}

void qeSetPrnFlag(BYTE flag)
{
    std::puts("=============================================================\r");
    std::puts("Func Prototype    : void qeSetPrnFlag(BYTE bFlag)\r");
    std::puts("qeSetPrnFlag( 0 ):   Forbid All App Jobs' Prints Except ERROR \r");
    std::puts("qeSetPrnFlag( 1 ):   All App Jobs' Prints set to ERROR  \r");
    std::puts("qeSetPrnFlag( 2 ):   All App Jobs' Prints set to EVENT  \r");
    std::puts("qeSetPrnFlag( 3 ):   All App Jobs' Prints set to MSG  \r");
    std::puts("qeSetPrnFlag( x ):   All App Jobs' Prints set to MSG(X>=3)  \r");
    std::puts("=============================================================\r\n\r");
    zub_store(g_bMQESPrnFlag, flag, std::memory_order_release);
    if (flag != 0) {
        zub_print_set_gated_sink(qe_print_sink, qe_print_gate);
    } else {
        zub_print_set_sink(nullptr);
    }
    std::puts(flag != 0 ? "Print Flag has been opened \r" : "Print Flag has been closed \r");
    CN_SetLogLevel(std::min(flag, kMaxTraceLevel));
}

bool zub_tag_print_allowed(WORD64 tag_id)
{
    const BYTE limited = zub_load(zub_context()->log_ctrl.tag_print_flag);
    return limited != 1 || tag_trace_cfg_check(tag_id);
}

void zub_select_tag_print(WORD64 tag_id, BYTE level, const char* text)
{
    if (!zub_tag_print_allowed(tag_id)) {
        return;
    }
    qePrintStr(level, text);
}
