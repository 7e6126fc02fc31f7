// qk_md5.h - MD5 (RFC 1321), HMAC-MD5 (RFC 2104), a password hash and the HTTP digest
// computations of RFC 2617.
//
// Stateless apart from the caller's context; callable from any thread. Hex text is
// lower case, two characters per byte. Null text arguments count as empty text.
#pragma once

#include <stdint.h>

#include "qk_export.h"

QK_BEGIN_DECLS

typedef struct {
    uint32_t state[4];
    uint32_t count[2]; // message length in bits, low word first
    unsigned char buffer[64];
} T_MD5_CONTEXT;

typedef struct {
    char user_id[32];
    char user_pwd[64];
    char realm[72];
    char nonce[64];
    char qop[32];
    char uri[64];
    char cnonce[32];
    char nc[16];
    char method[32];
} T_DIGEST_PARA;

// Nothing for a null context.
QK_EXPORT void qk_md5_init(T_MD5_CONTEXT* context);
// Nothing for a null context or data.
QK_EXPORT void qk_md5_update(T_MD5_CONTEXT* context, const unsigned char* data, unsigned int length);
// Pads, writes the 16-byte digest when digest is not null, then zeroes the context.
QK_EXPORT void qk_md5_final(unsigned char* digest, T_MD5_CONTEXT* context);
QK_EXPORT void md5_calc(unsigned char* digest, const unsigned char* data, unsigned int length);
QK_EXPORT void hmac_md5(const unsigned char* text, int text_len, const unsigned char* key, int key_len,
                        unsigned char* digest);
// 32 hex characters and a NUL; nothing unless length is 16 and size above 32.
QK_EXPORT void qk_md5_hash_to_string(const unsigned char* digest, int length, char* hex, int size);
// Salted password hash: 32 hex characters, no terminator.
QK_EXPORT void Md5_Encrpt(const char* password, char* out);
// H(A1) as 32 hex characters and a NUL (out holds 33 bytes); "md5-sess" (any case) hashes
// the 16 raw bytes of MD5(user:realm:password) with ":nonce:cnonce".
QK_EXPORT void DigestCalcHA1(const char* algorithm, const char* user, const char* realm, const char* password,
                             const char* nonce, const char* cnonce, char* session_key);
// The request digest as 32 hex characters and a NUL (response holds 33 bytes).
QK_EXPORT void DigestCalcResponse(const char* ha1, const char* nonce, const char* nonce_count, const char* cnonce,
                                  const char* qop, int Aka, const char* method, const char* uri,
                                  const char* h_entity, char* response);
// The MD5 request digest for para; 1 (nothing written) when size is 32 or less, else 0.
// qop "auth-int" takes the hash of an empty entity body.
QK_EXPORT int qk_md5_digest_response(const T_DIGEST_PARA* para, char* response, int size);

QK_END_DECLS
