// qk_digest_fuzz.cpp - arbitrary T_DIGEST_PARA fields (terminated or filling their arrays) and
// HMAC keys and texts of any length: the request digest and HMAC-MD5 are recomputed here from
// their definitions over the plain MD5 and must agree.
//
// Input: the 408 bytes of a T_DIGEST_PARA, then a key length byte, the key and the HMAC text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "qk_md5.h"

namespace {

void expect(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz expectation broken: %s\n", what);
        std::abort();
    }
}

std::string md5_raw(std::string_view text) {
    unsigned char d[16];
    md5_calc(d, reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()));
    return std::string(reinterpret_cast<const char*>(d), 16);
}

std::string hex(std::string_view raw) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : raw) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// A field is its text up to the first NUL, or the whole array when it has none.
template <size_t N> std::string_view text_of(const char (&field)[N]) { return {field, strnlen(field, N)}; }

bool same_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string join(std::initializer_list<std::string_view> parts) {
    std::string out;
    bool first = true;
    for (auto p : parts) {
        if (!first) out += ':';
        out += p;
        first = false;
    }
    return out;
}

std::string expected_response(const T_DIGEST_PARA& p) {
    const std::string ha1 = hex(md5_raw(join({text_of(p.user_id), text_of(p.realm), text_of(p.user_pwd)})));
    const std::string_view qop = text_of(p.qop);
    const bool auth_int = same_nocase(qop, "auth-int");
    std::string a2 = join({text_of(p.method), text_of(p.uri)});
    if (auth_int) a2 += ":" + hex(md5_raw(""));
    const std::string ha2 = hex(md5_raw(a2));
    if (auth_int || same_nocase(qop, "auth")) {
        return hex(md5_raw(join({ha1, text_of(p.nonce), text_of(p.nc), text_of(p.cnonce), qop, ha2})));
    }
    return hex(md5_raw(join({ha1, text_of(p.nonce), ha2})));
}

std::string expected_hmac(std::string_view key, std::string_view text) {
    std::string k = key.size() > 64 ? md5_raw(key) : std::string(key);
    k.resize(64, '\0');
    std::string inner(64, '\0'), outer(64, '\0');
    for (int i = 0; i < 64; ++i) {
        inner[i] = static_cast<char>(k[i] ^ 0x36);
        outer[i] = static_cast<char>(k[i] ^ 0x5C);
    }
    return md5_raw(outer + md5_raw(inner + std::string(text)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < sizeof(T_DIGEST_PARA)) return 0;
    T_DIGEST_PARA para;
    std::memcpy(&para, data, sizeof para);
    data += sizeof para;
    size -= sizeof para;

    char response[33];
    std::memset(response, 'Z', sizeof response);
    expect(qk_md5_digest_response(&para, response, 32) == 1, "a 32-byte answer buffer is refused");
    expect(response[0] == 'Z', "nothing written into a refused buffer");
    expect(qk_md5_digest_response(&para, response, sizeof response) == 0, "digest computed");
    expect(response[32] == '\0' && expected_response(para) == response, "request digest");

    const size_t key_len = size == 0 ? 0 : data[0] <= size - 1 ? data[0] : size - 1;
    const std::string_view key(reinterpret_cast<const char*>(data) + (size == 0 ? 0 : 1), key_len);
    const std::string_view text(key.data() + key_len, size - (size == 0 ? 0 : 1) - key_len);
    unsigned char mac[16];
    hmac_md5(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()),
             reinterpret_cast<const unsigned char*>(key.data()), static_cast<int>(key.size()), mac);
    expect(std::string(reinterpret_cast<const char*>(mac), 16) == expected_hmac(key, text), "HMAC-MD5");
    return 0;
}
