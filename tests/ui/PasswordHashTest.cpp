// Password hashing: the PBKDF2 primitive against published vectors, the
// stored text form, and legacy plain values.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/support/TestSupport.h"
#include "ui/PasswordHash.h"

namespace {

std::string Hex(const unsigned char* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

struct Pbkdf2Case {
    std::string password;
    std::string salt;
    uint32_t iterations;
    std::string key;  // hex
};

}  // namespace

TEST(PasswordHash_Pbkdf2Sha256, MatchesPublishedVectors) {
    // RFC 7914 section 11, and the SHA-256 counterparts of the RFC 6070 cases.
    const Pbkdf2Case cases[] = {
        {"passwd", "salt", 1,
         "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
         "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"},
        {"Password", "NaCl", 80000,
         "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
         "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"},
        {"password", "salt", 1, "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"},
        {"password", "salt", 4096,
         "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "348c89dbcbd32b2f32d814b8116e84cf2b17347ebc1800181c4e2a1fb8dd53e1c635518c7dac47e9"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096,
         "89b69d0516f829893c696226650a8687"},
    };
    for (const Pbkdf2Case& c : cases) {
        unsigned char key[64] = {};
        const size_t length = c.key.size() / 2;
        ASSERT_TRUE(Pbkdf2Sha256(c.password.data(), c.password.size(), c.salt.data(), c.salt.size(),
                                 c.iterations, key, length))
            << c.password;
        EXPECT_EQ(Hex(key, length), c.key) << c.password << " / " << c.iterations;
    }
}

TEST(PasswordHash_HashPassword, WritesTheSelfDescribingForm) {
    unsigned char salt[16];
    for (int i = 0; i < 16; ++i) salt[i] = static_cast<unsigned char>(i);
    // "秘密" in code page 936, the bytes the edit box gives us.
    EXPECT_EQ(HashPasswordWith("\xC3\xD8\xC3\xDC", salt, sizeof salt, 1),
              "pbkdf2-sha256$1$000102030405060708090a0b0c0d0e0f$"
              "4b5f50a46323166ecc899af20a519cf3a34c46a9ebc7706a422cd098ea19c4a1");

    const CString first = HashPassword("secret");
    const CString second = HashPassword("secret");
    const std::string text = first.c_str();
    ASSERT_EQ(text.rfind("pbkdf2-sha256$100000$", 0), 0u) << text;
    const size_t saltStart = text.find('$', 14) + 1;
    const size_t hashStart = text.find('$', saltStart) + 1;
    EXPECT_EQ(hashStart - saltStart - 1, 2 * kPasswordSaltBytes);
    EXPECT_EQ(text.size() - hashStart, 2 * kPasswordHashBytes);
    EXPECT_NE(first, second) << "each hash has its own random salt";
    EXPECT_TRUE(IsPasswordHash(first));
    EXPECT_TRUE(VerifyPassword("secret", first));
    EXPECT_TRUE(VerifyPassword("secret", second));
    EXPECT_FALSE(VerifyPassword("Secret", first));
    EXPECT_FALSE(VerifyPassword("secret ", first));
    EXPECT_FALSE(VerifyPassword("", first));
}

TEST(PasswordHash_VerifyPassword, ComparesLegacyValuesByExactBytes) {
    struct Case {
        const char* entered;
        const char* stored;
        bool matches;
    } cases[] = {
        {"abc", "abc", true},
        {"abc", "abcd", false},
        {"abcd", "abc", false},
        {"", "abc", false},
        {"ABC", "abc", false},
        {"\xC3\xD8\xC3\xDC", "\xC3\xD8\xC3\xDC", true},
        {"\xC3\xD8\xC3", "\xC3\xD8\xC3\xDC", false},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(IsPasswordHash(c.stored)) << c.stored;
        EXPECT_EQ(VerifyPassword(c.entered, c.stored), c.matches) << c.entered << " / " << c.stored;
    }
}

TEST(PasswordHash_IsPasswordHash, TakesMalformedValuesAsPlainText) {
    const std::string hash(64, 'a');
    const std::string malformed[] = {
        "pbkdf2-sha256",
        "pbkdf2-sha256$",
        "pbkdf2-sha256$$00$" + hash,
        "pbkdf2-sha256$0$00$" + hash,
        "pbkdf2-sha256$x1$00$" + hash,
        "pbkdf2-sha256$99999999999$00$" + hash,  // would freeze the prompt
        "pbkdf2-sha256$1000001$00$" + hash,      // over a second a try
        "pbkdf2-sha256$100$$" + hash,
        "pbkdf2-sha256$100$0$" + hash,
        "pbkdf2-sha256$100$zz$" + hash,
        "pbkdf2-sha256$100$00$" + hash.substr(2),
        "pbkdf2-sha256$100$00$" + hash + "00",
        "pbkdf2-sha1$100$00$" + hash,
        "PBKDF2-SHA256$100$00$" + hash,
    };
    for (const std::string& value : malformed) {
        EXPECT_FALSE(IsPasswordHash(value.c_str())) << value;
        // Such a value still works as the password it literally is.
        EXPECT_TRUE(VerifyPassword(value.c_str(), value.c_str())) << value;
    }
    EXPECT_TRUE(IsPasswordHash(("pbkdf2-sha256$100$00$" + hash).c_str()));
    EXPECT_TRUE(IsPasswordHash(("pbkdf2-sha256$1000000$00$" + hash).c_str()));
    EXPECT_TRUE(IsPasswordHash(("pbkdf2-sha256$100$00AB$" + std::string(64, 'F')).c_str()));
}

// The exact time is printed and recorded; the bound is one that only a fault
// breaks (iterations ten times too many), not a loaded machine.
TEST(PasswordHash_VerifyPassword, ChecksWellUnderASecond) {
    const CString stored = HashPassword("a reasonably long pass phrase");
    ASSERT_FALSE(stored.IsEmpty());
    const double start = testing_support::PreciseMs();
    EXPECT_TRUE(VerifyPassword("a reasonably long pass phrase", stored));
    const double ms = testing_support::PreciseMs() - start;
    RecordProperty("verify_ms", static_cast<int>(ms));
    printf("one check of %u iterations: %.1f ms\n", kPasswordIterations, ms);
    EXPECT_LT(ms, 1000.0);
}

TEST(PasswordHash_ConstantTimeEqual, FindsADifferenceAnywhere) {
    unsigned char a[32] = {}, b[32] = {};
    EXPECT_TRUE(ConstantTimeEqual(a, b, sizeof a));
    for (size_t i : {size_t{0}, size_t{17}, size_t{31}}) {
        b[i] = 0x80;
        EXPECT_FALSE(ConstantTimeEqual(a, b, sizeof a)) << i;
        b[i] = 0;
    }
}
