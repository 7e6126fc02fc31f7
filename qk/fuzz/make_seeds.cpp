// make_seeds.cpp - writes the seed corpora of libqk's fuzz targets:
//   qk_fuzz_seeds <qk/fuzz/corpus>
// Digest parameters are laid out in the library's own T_DIGEST_PARA; the texts are the kinds of
// strings callers pass (names, markers, expressions with groups).
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "qk_md5.h"
#include "fuzz_seeds.h"

namespace {

namespace fs = std::filesystem;

using fuzz_seeds::write_seed;

template <size_t N> void set(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), text.size() < N ? text.size() : N);  // a full field has no NUL
}

std::string para(const char* qop, const std::string& user, const std::string& key, const std::string& text) {
    T_DIGEST_PARA p;
    set(p.user_id, user);
    set(p.user_pwd, "Circle Of Life");
    set(p.realm, "testrealm@host.com");
    set(p.nonce, "dcd98b7102dd2f0e8b11d0f600bfb0c093");
    set(p.qop, qop);
    set(p.uri, "/dir/index.html");
    set(p.cnonce, "0a4f113b");
    set(p.nc, "00000001");
    set(p.method, "GET");
    std::string out(reinterpret_cast<const char*>(&p), sizeof p);
    out += static_cast<char>(key.size());
    return out + key + text;
}

std::string texts(char selector, const std::string& a, const std::string& b) {
    std::string out(1, selector);
    out += a;
    out += '\0';
    return out + b;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path root;
    if (!fuzz_seeds::corpus_root(argc, argv, root)) {
        return 2;
    }
    int n = 0;
    write_seed(root / "qk_digest", ++n, para("auth", "Mufasa", "Jefe", "what do ya want for nothing?"));
    write_seed(root / "qk_digest", ++n, para("auth-int", "Mufasa", std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key"));
    write_seed(root / "qk_digest", ++n, para("", "Mufasa", "", ""));
    write_seed(root / "qk_digest", ++n, para("AUTH", std::string(32, 'u'), std::string(64, 'k'), "block"));
    write_seed(root / "qk_digest", ++n, para("token", "a:b", "key", std::string(200, 't')));

    const std::vector<std::string> seeds = {
        texts(0x25, "Hello World", "world"),
        texts(0x07, "abab", "ab"),
        texts(0x3f, "key=value;next=1", "key=;"),
        texts(0x10, "", ""),
        texts(0x01, "ABCdef", "abcDEF"),
        texts(0x2a, "([a-z]+)@([a-z]+)\\.com", "mail: someone@example.com"),
        texts(0x0c, "(a)|(b)", "b"),
        texts(0x09, "^([0-9]+)\\.([0-9]*)$", "192.168"),
        texts(0x33, "(x*)(y?)", ""),
        texts(0x3c, std::string(100, 'p'), std::string(70, 'q')),
    };
    n = 0;
    for (const auto& s : seeds) write_seed(root / "qk_string", ++n, s);
    return 0;
}
