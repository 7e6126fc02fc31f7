// Power-of-two sizing, heap and page allocation, byte copies.
#include "qk_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "qk_string.h"

extern "C" {

uint32_t qk_round2n(uint32_t x) {
    constexpr uint32_t top = 1U << 31;
    if (x == 0 || x > top) {
        return 0;
    }
    if (x == 1) {
        return 2;
    }
    return 1U << (qk_log2(x - 1) + 1);
}

uint32_t qk_log2(uint32_t x) {
    if (x == 0) {
        return 0;
    }
    return 31U - static_cast<uint32_t>(__builtin_clz(x));
}

uint32_t qk_round4(uint32_t x) { return (x + 3U) & ~3U; }

void* qk_malloc(int size) {
    if (size < 0) {
        return nullptr;
    }
    return std::malloc(qk_round2n(static_cast<uint32_t>(size)));
}

void* qk_calloc(int n, int size) {
    if (n < 0 || size < 0) {
        return nullptr;
    }
    const long long product = static_cast<long long>(n) * size;
    if (product > INT_MAX) {
        return nullptr;
    }
    const uint32_t rounded = qk_round2n(static_cast<uint32_t>(product));
    // Unreachable for products up to INT_MAX; kept so the zeroing below can never run
    // past the block should the limits above ever change.
    if (rounded < product) {
        return nullptr;
    }
    void* block = std::malloc(rounded);
    if (block != nullptr) {
        std::memset(block, 0, static_cast<size_t>(product));
    }
    return block;
}

char* qk_strdup(const char* str) {
    if (str == nullptr) {
        return nullptr;
    }
    const size_t need = std::strlen(str) + 1;
    if (need > static_cast<size_t>(INT_MAX)) {
        return nullptr;
    }
    const uint32_t rounded = qk_round2n(static_cast<uint32_t>(need));
    auto* copy = static_cast<char*>(std::malloc(rounded));
    if (copy != nullptr) {
        qk_strcpy(copy, str, static_cast<int>(need));
    }
    return copy;
}

void qk_free(void* ptr) { std::free(ptr); }

int qk_getpagesize(void) { return static_cast<int>(sysconf(_SC_PAGESIZE)); }

void* qk_page_malloc(int size) {
    if (size <= 0) {
        return nullptr;
    }
    void* block = mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

// Anonymous mappings arrive zero-filled, so there is nothing more to clear.
void* qk_page_calloc(int size) { return qk_page_malloc(size); }

int qk_page_free(void* ptr, int size) { return munmap(ptr, static_cast<size_t>(size)); }

void* qk_page_realloc(void* ptr, int old_size, int new_size) {
    return mremap(ptr, static_cast<size_t>(old_size), static_cast<size_t>(new_size), MREMAP_MAYMOVE);
}

void* qk_bzero(void* dst, size_t n) { return std::memset(dst, 0, n); }

void* qk_memcpy(void* dst, const void* src, size_t n) { return std::memcpy(dst, src, n); }

void* qk_memset(void* dst, int c, size_t n) {
    if (dst == nullptr) {
        return dst;
    }
    auto* p = static_cast<unsigned char*>(dst);
    for (size_t i = 0; i < n; ++i) {
        p[i] = static_cast<unsigned char>(c);
    }
    return dst;
}

void* qk_memncpy(void* dst, const void* src, size_t copy_size, size_t dst_size) {
    if (dst == nullptr || src == nullptr || copy_size == 0 || dst_size < copy_size) {
        return nullptr;
    }
    auto* d = static_cast<unsigned char*>(dst);
    const auto* s = static_cast<const unsigned char*>(src);
    const auto d_at = reinterpret_cast<uintptr_t>(d);
    const auto s_at = reinterpret_cast<uintptr_t>(s);
    if (d_at > s_at && d_at - s_at < copy_size) {
        // dst starts inside the source: copy from the end so no source byte is overwritten
        // before it is read.
        for (size_t i = copy_size; i > 0; --i) {
            d[i - 1] = s[i - 1];
        }
    } else {
        for (size_t i = 0; i < copy_size; ++i) {
            d[i] = s[i];
        }
    }
    return dst;
}

} // extern "C"
