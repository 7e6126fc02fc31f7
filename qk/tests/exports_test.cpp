// The library's interface as the dynamic linker sees it: every name exported, unmangled,
// nothing else leaking, and libcjson reachable through the library's dependencies.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

namespace {

const char* const kExported[] = {
    // event reactor, sockets, queue
    "qk_reactor_new", "qk_reactor_run", "qk_reactor_free", "qk_reactor_attach", "qk_reactor_detach",
    "qk_reactor_get_arg", "qk_socket", "qk_close", "qk_bind", "qk_connect", "qk_listen", "qk_accept", "qk_send",
    "qk_recv", "qk_sendto", "qk_recvfrom", "qk_setsockopt", "qk_getsockopt", "qk_getsockname", "qk_getpeername",
    "qk_inet_ntop", "qk_inet_pton", "qk_socket_reuseable", "qk_socket_nonblocking", "qk_socket_nodelay",
    "qk_socket_linger", "qk_socket_hdrincl", "qk_socket_rcvbuf", "qk_socket_sndbuf", "qk_socket_readable",
    "qk_queue_init", "qk_queue_push", "qk_queue_insert", "qk_queue_poll", "qk_queue_detach", "qk_queue_free",
    // memory and numbers
    "qk_round2n", "qk_log2", "qk_round4", "qk_malloc", "qk_calloc", "qk_strdup", "qk_free", "qk_getpagesize",
    "qk_page_malloc", "qk_page_calloc", "qk_page_free", "qk_page_realloc", "qk_bzero", "qk_memcpy", "qk_memset",
    "qk_memncpy", "qk_now", "qk_timeofday", "qk_itoa2", "qk_uitoa2", "qk_itoa", "qk_uitoa", "qk_atoi", "qk_atol",
    "qk_atof", "qk_regex_search",
    // strings
    "qk_strlen", "qk_strcpy", "qk_strncpy", "qk_strcat", "qk_strncat", "qk_strnappend", "qk_strstr",
    "qk_stristr", "qk_strchr", "qk_strrchr", "qk_strcmp", "qk_strncmp", "qk_stricmp", "qk_strnicmp",
    "qk_toupper", "qk_tolower", "qk_isupper", "qk_islower", "qk_str_empty", "qk_str_clear", "qk_str_equal",
    "qk_str_startswith", "qk_str_endswith", "qk_str_contains", "qk_str_pos", "qk_str_slice",
    // threads and locks
    "qk_thread_create", "qk_thread_self", "qk_thread_join", "qk_thread_setaffinity", "qk_thread_getaffinity",
    "qk_tls_new", "qk_tls_free", "qk_tls_set", "qk_tls_get", "qk_lock_new", "qk_lock_free", "qk_lock_acquire",
    "qk_lock_release", "qk_cond_new", "qk_cond_free", "qk_cond_wait", "qk_cond_signal",
    // MD5 family
    "qk_md5_init", "qk_md5_update", "qk_md5_final", "md5_calc", "hmac_md5", "qk_md5_hash_to_string",
    "Md5_Encrpt", "DigestCalcHA1", "DigestCalcResponse", "qk_md5_digest_response"};

// Name -> nm type letter of every defined dynamic symbol.
std::map<std::string, char> defined_dynamic_symbols() {
    std::map<std::string, char> symbols;
    const std::string command = std::string("nm -D --defined-only ") + QK_LIBRARY_PATH;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return symbols;
    }
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char address[64];
        char type = 0;
        char name[400];
        if (std::sscanf(line, "%63s %c %399s", address, &type, name) == 3) {
            symbols[name] = type;
        }
    }
    pclose(pipe);
    return symbols;
}

TEST(qk_exports, EveryInterfaceNameIsExportedAsPlainCode) {
    const auto symbols = defined_dynamic_symbols();
    ASSERT_FALSE(symbols.empty()) << "nm gave nothing for " << QK_LIBRARY_PATH;
    for (const char* name : kExported) {
        const auto it = symbols.find(name);
        ASSERT_NE(it, symbols.end()) << name << " is not exported";
        EXPECT_EQ(it->second, 'T') << name;
    }
}

TEST(qk_exports, NothingElseLeaksOut) {
    const std::set<std::string> wanted(std::begin(kExported), std::end(kExported));
    for (const auto& [name, type] : defined_dynamic_symbols()) {
        EXPECT_NE(name.rfind("_Z", 0), 0U) << "mangled name exported: " << name;
        // Toolchain and sanitizer symbols start with an underscore; everything else must be
        // part of the interface.
        if (name[0] != '_') {
            EXPECT_TRUE(wanted.count(name) == 1) << "unexpected export: " << name << " (" << type << ")";
        }
    }
}

TEST(qk_exports, LoadsAtRunTimeAndBringsLibcjson) {
    void* lib = dlopen(QK_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    using round_fn = unsigned (*)(unsigned);
    auto round2n = reinterpret_cast<round_fn>(dlsym(lib, "qk_round2n"));
    ASSERT_NE(round2n, nullptr);
    EXPECT_EQ(round2n(3), 4U);
    // A handle's lookup covers the library's own dependencies.
    EXPECT_NE(dlsym(lib, "cJSON_Parse"), nullptr) << "libcjson is not a dependency of libqk";
    EXPECT_NE(dlsym(lib, "cJSON_Print"), nullptr);
    dlclose(lib);
}

} // namespace
