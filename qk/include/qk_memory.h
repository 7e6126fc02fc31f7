// qk_memory.h - power-of-two sizing, heap and page allocation, byte copies.
//
// Stateless; callable from any thread. Heap blocks come from malloc (free them with
// qk_free or free); page blocks are anonymous mappings (free them with qk_page_free).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "qk_export.h"

QK_BEGIN_DECLS

// Smallest power of two not below x for 2 <= x <= 2^31; 2 for 1; 0 for 0 and above 2^31.
QK_EXPORT uint32_t qk_round2n(uint32_t x);
// Index of the highest set bit; 0 for 0.
QK_EXPORT uint32_t qk_log2(uint32_t x);
// (x + 3) rounded down to a multiple of 4.
QK_EXPORT uint32_t qk_round4(uint32_t x);

// A block of qk_round2n(size) bytes; null for a negative size or on failure.
QK_EXPORT void* qk_malloc(int size);
// A block of qk_round2n(n * size) bytes whose first n * size bytes are zero; null for a
// negative argument, a product above INT_MAX, or on failure.
QK_EXPORT void* qk_calloc(int n, int size);
// A copy of str in a block of qk_round2n(length + 1) bytes; null for null or on failure.
QK_EXPORT char* qk_strdup(const char* str);
QK_EXPORT void qk_free(void* ptr);

QK_EXPORT int qk_getpagesize(void);
// Private anonymous read-write mappings (zero-filled); null on failure.
QK_EXPORT void* qk_page_malloc(int size);
QK_EXPORT void* qk_page_calloc(int size);
QK_EXPORT int qk_page_free(void* ptr, int size);
// mremap, allowed to move; MAP_FAILED on failure, as the system gives it.
QK_EXPORT void* qk_page_realloc(void* ptr, int old_size, int new_size);

QK_EXPORT void* qk_bzero(void* dst, size_t n);
QK_EXPORT void* qk_memcpy(void* dst, const void* src, size_t n);
// Byte loop; nothing for a null dst. Returns dst.
QK_EXPORT void* qk_memset(void* dst, int c, size_t n);
// Copies copy_size bytes, correct for overlapping ranges; null (nothing copied) for null
// pointers, a copy size of 0 or a destination smaller than the copy. Returns dst.
QK_EXPORT void* qk_memncpy(void* dst, const void* src, size_t copy_size, size_t dst_size);

QK_END_DECLS
