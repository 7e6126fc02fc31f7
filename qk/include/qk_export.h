// qk_export.h - export and linkage macros shared by every libqk header.
//
// libqk is built with hidden visibility: only what a header marks QK_EXPORT is part of
// the library's interface, always with C linkage so that the symbol names stay plain.
#pragma once

#if defined(__GNUC__)
#define QK_EXPORT __attribute__((visibility("default")))
#else
#define QK_EXPORT
#endif

#ifdef __cplusplus
#define QK_BEGIN_DECLS extern "C" {
#define QK_END_DECLS }
#else
#define QK_BEGIN_DECLS
#define QK_END_DECLS
#endif
