// MD5 (RFC 1321), HMAC-MD5 (RFC 2104), the password hash and the RFC 2617 digest.
#include "qk_md5.h"

#include <cstring>
#include <string_view>

#include "qk_string.h"

namespace {

constexpr int kDigestLen = 16;
constexpr int kHexLen = 32;
constexpr int kBlockLen = 64;
constexpr int kSaltLen = 28;
// MD5 of an empty entity body, the H(entity) of a request that carries none.
constexpr char kEmptyEntityHash[] = "d41d8cd98f00b204e9800998ecf8427e";

uint32_t rotate_left(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

uint32_t load_le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void store_le32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// Per-step shift amounts and sine-derived constants of RFC 1321, section 3.4.
constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

void transform(uint32_t state[4], const unsigned char block[kBlockLen]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = load_le32(block + 4 * i);
    }
    uint32_t a = state[0];
    uint32_t b = state[1];
    uint32_t c = state[2];
    uint32_t d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f = 0;
        int g = 0;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (b & d) | (c & ~d);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const uint32_t rotated = b + rotate_left(a + f + kSine[i] + x[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = rotated;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    std::memset(x, 0, sizeof x);
}

class Md5 {
public:
    Md5() { qk_md5_init(&ctx_); }
    Md5& add(std::string_view text) {
        qk_md5_update(&ctx_, reinterpret_cast<const unsigned char*>(text.data()),
                      static_cast<unsigned int>(text.size()));
        return *this;
    }
    Md5& add(const unsigned char* data, unsigned int len) {
        qk_md5_update(&ctx_, data, len);
        return *this;
    }
    void finish(unsigned char digest[kDigestLen]) { qk_md5_final(digest, &ctx_); }

private:
    T_MD5_CONTEXT ctx_{};
};

void to_hex(const unsigned char digest[kDigestLen], char* hex) {
    constexpr char kHex[] = "0123456789abcdef";
    for (int i = 0; i < kDigestLen; ++i) {
        hex[2 * i] = kHex[digest[i] >> 4];
        hex[2 * i + 1] = kHex[digest[i] & 0x0F];
    }
}

std::string_view text_of(const char* s) { return s == nullptr ? std::string_view{} : std::string_view{s}; }

// A hex hash argument is read up to its 32 characters, however long the text behind it.
std::string_view hex_of(const char* s) {
    return s == nullptr ? std::string_view{} : std::string_view{s, strnlen(s, kHexLen)};
}

template <size_t N> std::string_view field_of(const char (&field)[N]) { return {field, strnlen(field, N)}; }

bool equals_nocase(std::string_view a, const char* b) {
    const size_t n = std::strlen(b);
    return a.size() == n && qk_strnicmp(a.data(), b, static_cast<int>(n)) == 0;
}

void calc_ha1(std::string_view algorithm, std::string_view user, std::string_view realm, std::string_view password,
              std::string_view nonce, std::string_view cnonce, char* session_key) {
    unsigned char ha1[kDigestLen];
    Md5().add(user).add(":").add(realm).add(":").add(password).finish(ha1);
    if (equals_nocase(algorithm, "md5-sess")) {
        Md5().add(ha1, kDigestLen).add(":").add(nonce).add(":").add(cnonce).finish(ha1);
    }
    to_hex(ha1, session_key);
    session_key[kHexLen] = '\0';
}

void calc_response(std::string_view ha1, std::string_view nonce, std::string_view nonce_count,
                   std::string_view cnonce, std::string_view qop, int aka, std::string_view method,
                   std::string_view uri, std::string_view h_entity, char* response) {
    const bool auth_int = equals_nocase(qop, "auth-int");
    const bool with_qop = auth_int || equals_nocase(qop, "auth");

    unsigned char digest[kDigestLen];
    Md5 a2;
    a2.add(method).add(":").add(uri);
    if (auth_int) {
        a2.add(":").add(h_entity);
    }
    a2.finish(digest);
    char ha2[kHexLen];
    to_hex(digest, ha2);

    Md5 resp;
    resp.add(ha1).add(":").add(nonce).add(":");
    if (with_qop && aka == 0) {
        resp.add(nonce_count).add(":").add(cnonce).add(":").add(qop).add(":");
    }
    resp.add(std::string_view{ha2, kHexLen}).finish(digest);
    to_hex(digest, response);
    response[kHexLen] = '\0';
}

// The fixed text appended to a password's hash before it is hashed again. Built at run
// time so that it does not sit in the library's data as one readable string.
void build_salt(char salt[kSaltLen]) {
    for (int i = 0; i < kSaltLen; ++i) {
        salt[i] = static_cast<char>('!' + (i * 37 + 11) % 94);
    }
}

} // namespace

extern "C" {

void qk_md5_init(T_MD5_CONTEXT* context) {
    if (context == nullptr) {
        return;
    }
    context->count[0] = 0;
    context->count[1] = 0;
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
}

void qk_md5_update(T_MD5_CONTEXT* context, const unsigned char* data, unsigned int length) {
    if (context == nullptr || data == nullptr) {
        return;
    }
    unsigned int index = (context->count[0] >> 3) & 0x3F;
    // The bit count is kept in two words, low first; carry into the high word.
    const uint32_t bits_low = static_cast<uint32_t>(length) << 3;
    context->count[0] += bits_low;
    if (context->count[0] < bits_low) {
        ++context->count[1];
    }
    context->count[1] += static_cast<uint32_t>(length) >> 29;

    const unsigned int part = kBlockLen - index;
    unsigned int i = 0;
    if (length >= part) {
        std::memcpy(&context->buffer[index], data, part);
        transform(context->state, context->buffer);
        for (i = part; i + kBlockLen - 1 < length; i += kBlockLen) {
            transform(context->state, data + i);
        }
        index = 0;
    }
    std::memcpy(&context->buffer[index], data + i, length - i);
}

void qk_md5_final(unsigned char* digest, T_MD5_CONTEXT* context) {
    if (context == nullptr) {
        return;
    }
    unsigned char bits[8];
    store_le32(bits, context->count[0]);
    store_le32(bits + 4, context->count[1]);

    static const unsigned char kPadding[kBlockLen] = {0x80};
    const unsigned int index = (context->count[0] >> 3) & 0x3F;
    const unsigned int pad_len = index < 56 ? 56 - index : 120 - index;
    qk_md5_update(context, kPadding, pad_len);
    qk_md5_update(context, bits, 8);

    if (digest != nullptr) {
        for (int i = 0; i < 4; ++i) {
            store_le32(digest + 4 * i, context->state[i]);
        }
    }
    std::memset(context, 0, sizeof *context);
}

void md5_calc(unsigned char* digest, const unsigned char* data, unsigned int length) {
    T_MD5_CONTEXT context;
    qk_md5_init(&context);
    qk_md5_update(&context, data, length);
    qk_md5_final(digest, &context);
}

void hmac_md5(const unsigned char* text, int text_len, const unsigned char* key, int key_len, unsigned char* digest) {
    if (digest == nullptr) {
        return;
    }
    const unsigned int text_n = text == nullptr || text_len < 0 ? 0 : static_cast<unsigned int>(text_len);
    unsigned int key_n = key == nullptr || key_len < 0 ? 0 : static_cast<unsigned int>(key_len);

    unsigned char key_digest[kDigestLen];
    if (key_n > kBlockLen) {
        md5_calc(key_digest, key, key_n);
        key = key_digest;
        key_n = kDigestLen;
    }
    unsigned char k_ipad[kBlockLen] = {};
    unsigned char k_opad[kBlockLen] = {};
    if (key_n > 0) {
        std::memcpy(k_ipad, key, key_n);
        std::memcpy(k_opad, key, key_n);
    }
    for (int i = 0; i < kBlockLen; ++i) {
        k_ipad[i] ^= 0x36;
        k_opad[i] ^= 0x5C;
    }
    unsigned char inner[kDigestLen];
    Md5().add(k_ipad, kBlockLen).add(text, text_n).finish(inner);
    Md5().add(k_opad, kBlockLen).add(inner, kDigestLen).finish(digest);
}

void qk_md5_hash_to_string(const unsigned char* digest, int length, char* hex, int size) {
    if (digest == nullptr || hex == nullptr || length != kDigestLen || size <= kHexLen) {
        return;
    }
    to_hex(digest, hex);
    hex[kHexLen] = '\0';
}

void Md5_Encrpt(const char* password, char* out) {
    if (out == nullptr) {
        return;
    }
    char text[kHexLen + kSaltLen];
    unsigned char digest[kDigestLen];
    Md5().add(text_of(password)).finish(digest);
    to_hex(digest, text);
    build_salt(text + kHexLen);
    Md5().add(reinterpret_cast<const unsigned char*>(text), sizeof text).finish(digest);
    to_hex(digest, out);
}

void DigestCalcHA1(const char* algorithm, const char* user, const char* realm, const char* password,
                   const char* nonce, const char* cnonce, char* session_key) {
    if (session_key == nullptr) {
        return;
    }
    calc_ha1(text_of(algorithm), text_of(user), text_of(realm), text_of(password), text_of(nonce), text_of(cnonce),
             session_key);
}

void DigestCalcResponse(const char* ha1, const char* nonce, const char* nonce_count, const char* cnonce,
                        const char* qop, int Aka, const char* method, const char* uri, const char* h_entity,
                        char* response) {
    if (response == nullptr) {
        return;
    }
    calc_response(hex_of(ha1), text_of(nonce), text_of(nonce_count), text_of(cnonce), text_of(qop), Aka,
                  text_of(method), text_of(uri), hex_of(h_entity), response);
}

int qk_md5_digest_response(const T_DIGEST_PARA* para, char* response, int size) {
    if (para == nullptr || response == nullptr || size <= kHexLen) {
        return 1;
    }
    char ha1[kHexLen + 1];
    calc_ha1("MD5", field_of(para->user_id), field_of(para->realm), field_of(para->user_pwd), field_of(para->nonce),
             field_of(para->cnonce), ha1);
    calc_response(std::string_view{ha1, kHexLen}, field_of(para->nonce), field_of(para->nc),
                  field_of(para->cnonce), field_of(para->qop), 0, field_of(para->method), field_of(para->uri),
                  kEmptyEntityHash, response);
    return 0;
}

} // extern "C"
