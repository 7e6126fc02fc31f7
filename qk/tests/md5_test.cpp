// MD5 against RFC 1321, HMAC-MD5 against RFC 2202, the HTTP digest against RFC 2617.
#include "qk_md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string hex(const unsigned char digest[16]) {
    char text[33];
    qk_md5_hash_to_string(digest, 16, text, sizeof text);
    return text;
}

std::string md5_hex(const std::string& message) {
    unsigned char digest[16];
    md5_calc(digest, reinterpret_cast<const unsigned char*>(message.data()),
             static_cast<unsigned int>(message.size()));
    return hex(digest);
}

std::string hmac_hex(const std::vector<unsigned char>& key, const std::string& text) {
    unsigned char digest[16];
    hmac_md5(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()), key.data(),
             static_cast<int>(key.size()), digest);
    return hex(digest);
}

TEST(qk_md5, Rfc1321TestSuite) {
    EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5_hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5_hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5_hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5_hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5_hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5_hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(qk_md5, UpdatesInPiecesGiveTheOneShotDigest) {
    const std::string message = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
    // Splits before, at and across the 64-byte block boundary and the 56-byte pad limit.
    for (unsigned split : {0U, 1U, 55U, 56U, 63U, 64U, 65U, 79U, 80U}) {
        T_MD5_CONTEXT ctx;
        qk_md5_init(&ctx);
        qk_md5_update(&ctx, bytes, split);
        qk_md5_update(&ctx, bytes + split, static_cast<unsigned>(message.size()) - split);
        unsigned char digest[16];
        qk_md5_final(digest, &ctx);
        EXPECT_EQ(hex(digest), "57edf4a22be3c955ac49da2e2107b67a") << "split at " << split;
    }
}

TEST(qk_md5, FinalResetsTheContextEvenWithoutDigest) {
    T_MD5_CONTEXT ctx;
    qk_md5_init(&ctx);
    qk_md5_update(&ctx, reinterpret_cast<const unsigned char*>("abc"), 3);
    qk_md5_final(nullptr, &ctx);
    const T_MD5_CONTEXT zero{};
    EXPECT_EQ(std::memcmp(&ctx, &zero, sizeof ctx), 0);

    qk_md5_init(nullptr);
    qk_md5_update(nullptr, reinterpret_cast<const unsigned char*>("abc"), 3);
    qk_md5_final(nullptr, nullptr); // null context: nothing, no fault
}

TEST(qk_md5, HashToStringNeedsSixteenBytesAndRoomForTheTerminator) {
    const unsigned char digest[16] = {0x00, 0x01, 0x7f, 0x80, 0xab, 0xcd, 0xef, 0xff,
                                      0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x90};
    char text[40];
    std::memset(text, '#', sizeof text);
    qk_md5_hash_to_string(digest, 16, text, 32);
    EXPECT_EQ(text[0], '#');
    qk_md5_hash_to_string(digest, 15, text, 33);
    EXPECT_EQ(text[0], '#');
    qk_md5_hash_to_string(digest, 16, text, 33);
    EXPECT_STREQ(text, "00017f80abcdefff1020304050607090");
    EXPECT_EQ(text[33], '#');
}

TEST(qk_md5, Rfc2202HmacMd5Vectors) {
    EXPECT_EQ(hmac_hex(std::vector<unsigned char>(16, 0x0b), "Hi There"), "9294727a3638bb1c13f48ef8158bfc9d");
    EXPECT_EQ(hmac_hex({'J', 'e', 'f', 'e'}, "what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738");
    EXPECT_EQ(hmac_hex(std::vector<unsigned char>(16, 0xaa), std::string(50, '\xdd')),
              "56be34521d144c88dbb8c733f0e8b3f6");
    std::vector<unsigned char> counting(25);
    for (size_t i = 0; i < counting.size(); ++i) {
        counting[i] = static_cast<unsigned char>(i + 1);
    }
    EXPECT_EQ(hmac_hex(counting, std::string(50, '\xcd')), "697eaf0aca3a3aea3a75164746ffaa79");
    EXPECT_EQ(hmac_hex(std::vector<unsigned char>(16, 0x0c), "Test With Truncation"),
              "56461ef2342edc00f9bab995690efd4c");
    // Keys longer than the 64-byte block are hashed first.
    EXPECT_EQ(hmac_hex(std::vector<unsigned char>(80, 0xaa), "Test Using Larger Than Block-Size Key - Hash Key First"),
              "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
    EXPECT_EQ(hmac_hex(std::vector<unsigned char>(80, 0xaa),
                       "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
              "6f630fad67cda0ee1fb1f562db3aa53e");
}

// RFC 2617 section 3.5: user Mufasa, password "Circle Of Life", GET /dir/index.html.
constexpr char kNonce[] = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
constexpr char kCnonce[] = "0a4f113b";
constexpr char kRealm[] = "testrealm@host.com";
constexpr char kUri[] = "/dir/index.html";

TEST(qk_md5, Rfc2617DigestExample) {
    char ha1[33];
    DigestCalcHA1("MD5", "Mufasa", kRealm, "Circle Of Life", kNonce, kCnonce, ha1);
    EXPECT_STREQ(ha1, "939e7578ed9e3c518a452acee763bce9");
    char response[33];
    DigestCalcResponse(ha1, kNonce, "00000001", kCnonce, "auth", 0, "GET", kUri, "", response);
    EXPECT_STREQ(response, "6629fae49393a05397450978507c4ef1");
    // The qop name is recognised without case and hashed as it was given.
    DigestCalcResponse(ha1, kNonce, "00000001", kCnonce, "AUTH", 0, "GET", kUri, "", response);
    EXPECT_EQ(std::string(response), md5_hex(std::string(ha1) + ":" + kNonce + ":00000001:" + kCnonce + ":AUTH:" +
                                             md5_hex(std::string("GET:") + kUri)));
}

TEST(qk_md5, DigestParaGivesTheExampleResponse) {
    T_DIGEST_PARA para{};
    std::strcpy(para.user_id, "Mufasa");
    std::strcpy(para.user_pwd, "Circle Of Life");
    std::strcpy(para.realm, kRealm);
    std::strcpy(para.nonce, kNonce);
    std::strcpy(para.qop, "auth");
    std::strcpy(para.uri, kUri);
    std::strcpy(para.cnonce, kCnonce);
    std::strcpy(para.nc, "00000001");
    std::strcpy(para.method, "GET");
    char response[40];
    std::memset(response, '#', sizeof response);
    EXPECT_EQ(qk_md5_digest_response(&para, response, 32), 1);
    EXPECT_EQ(response[0], '#');
    EXPECT_EQ(qk_md5_digest_response(&para, response, 33), 0);
    EXPECT_STREQ(response, "6629fae49393a05397450978507c4ef1");
}

TEST(qk_md5, DigestParaFieldsAreReadOnlyUpToTheirSize) {
    T_DIGEST_PARA para{};
    std::memset(para.user_id, 'u', sizeof para.user_id); // no terminator: runs into user_pwd
    std::strcpy(para.user_pwd, "pw");
    std::strcpy(para.realm, kRealm);
    std::strcpy(para.nonce, kNonce);
    std::strcpy(para.uri, kUri);
    std::memset(para.method, 'M', sizeof para.method); // last field, unterminated
    char response[33];
    ASSERT_EQ(qk_md5_digest_response(&para, response, sizeof response), 0);

    const std::string user(32, 'u');
    const std::string method(32, 'M');
    const std::string ha1 = md5_hex(user + ":" + kRealm + ":pw");
    const std::string ha2 = md5_hex(method + ":" + kUri);
    EXPECT_EQ(std::string(response), md5_hex(ha1 + ":" + kNonce + ":" + ha2));
}

TEST(qk_md5, Md5SessHashesTheRawFirstDigest) {
    unsigned char first[16];
    const std::string a1 = std::string("Mufasa:") + kRealm + ":Circle Of Life";
    md5_calc(first, reinterpret_cast<const unsigned char*>(a1.data()), static_cast<unsigned>(a1.size()));
    const std::string sess = std::string(reinterpret_cast<const char*>(first), 16) + ":" + kNonce + ":" + kCnonce;

    char ha1[33];
    DigestCalcHA1("MD5-sess", "Mufasa", kRealm, "Circle Of Life", kNonce, kCnonce, ha1);
    EXPECT_EQ(std::string(ha1), md5_hex(sess));
}

TEST(qk_md5, ResponseFormsForAuthIntNoQopAndAka) {
    const std::string ha1 = "939e7578ed9e3c518a452acee763bce9";
    const std::string entity = md5_hex("body");
    char response[33];

    DigestCalcResponse(ha1.c_str(), kNonce, "00000001", kCnonce, "auth-int", 0, "POST", kUri, entity.c_str(),
                       response);
    const std::string ha2_int = md5_hex(std::string("POST:") + kUri + ":" + entity);
    EXPECT_EQ(std::string(response),
              md5_hex(ha1 + ":" + kNonce + ":00000001:" + kCnonce + ":auth-int:" + ha2_int));

    const std::string ha2 = md5_hex(std::string("GET:") + kUri);
    const std::string short_form = md5_hex(ha1 + ":" + kNonce + ":" + ha2);
    DigestCalcResponse(ha1.c_str(), kNonce, "00000001", kCnonce, "", 0, "GET", kUri, "", response);
    EXPECT_EQ(std::string(response), short_form);
    DigestCalcResponse(ha1.c_str(), kNonce, "00000001", kCnonce, "other", 0, "GET", kUri, "", response);
    EXPECT_EQ(std::string(response), short_form);
    DigestCalcResponse(ha1.c_str(), kNonce, "00000001", kCnonce, "auth", 1, "GET", kUri, "", response);
    EXPECT_EQ(std::string(response), short_form);
}

TEST(qk_md5, DigestParaAuthIntHashesAnEmptyBody) {
    T_DIGEST_PARA para{};
    std::strcpy(para.user_id, "Mufasa");
    std::strcpy(para.user_pwd, "Circle Of Life");
    std::strcpy(para.realm, kRealm);
    std::strcpy(para.nonce, kNonce);
    std::strcpy(para.qop, "auth-int");
    std::strcpy(para.uri, kUri);
    std::strcpy(para.cnonce, kCnonce);
    std::strcpy(para.nc, "00000001");
    std::strcpy(para.method, "GET");
    char response[33];
    ASSERT_EQ(qk_md5_digest_response(&para, response, sizeof response), 0);
    const std::string ha2 = md5_hex(std::string("GET:") + kUri + ":" + md5_hex(""));
    EXPECT_EQ(std::string(response), md5_hex(std::string("939e7578ed9e3c518a452acee763bce9:") + kNonce +
                                             ":00000001:" + kCnonce + ":auth-int:" + ha2));
}

TEST(qk_md5, PasswordHashIsSaltedHexWithoutTerminator) {
    char out[40];
    std::memset(out, '#', sizeof out);
    Md5_Encrpt("secret", out);
    const std::string first(out, 32);
    EXPECT_EQ(out[32], '#');
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(first, md5_hex("secret")); // salted, not the plain hash
    Md5_Encrpt("secret", out);
    EXPECT_EQ(std::string(out, 32), first);
    Md5_Encrpt("secret2", out);
    EXPECT_NE(std::string(out, 32), first);
}

} // namespace
