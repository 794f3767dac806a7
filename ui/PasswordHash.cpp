// Password hashing through the system's cryptography (bcrypt.dll).
#include "ui/PasswordHash.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "framework/Handles.h"

namespace {

const char kScheme[] = "pbkdf2-sha256";
// A settings file could name any count. Ten times ours keeps one check near
// a second; a value above that would freeze the prompt on every try, so it
// is not taken as a hash.
const uint32_t kMaxIterations = 1000000;
const size_t kMaxSaltBytes = 64;

struct AlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static bool IsValid(BCRYPT_ALG_HANDLE handle) { return handle != nullptr; }
    static void Close(BCRYPT_ALG_HANDLE handle) { BCryptCloseAlgorithmProvider(handle, 0); }
};
using AlgorithmHandle = UniqueResource<AlgorithmTraits>;

CString ToHex(const unsigned char* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return CString(text.c_str());
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool FromHex(const char* text, size_t length, std::vector<unsigned char>& bytes) {
    if (length == 0 || length % 2 != 0) return false;
    bytes.clear();
    for (size_t i = 0; i < length; i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    return true;
}

struct ParsedHash {
    uint32_t iterations = 0;
    std::vector<unsigned char> salt;
    std::vector<unsigned char> hash;
};

bool ParseHash(const CString& stored, ParsedHash& parsed) {
    const char* text = stored.c_str();
    const size_t schemeLength = strlen(kScheme);
    if (strncmp(text, kScheme, schemeLength) != 0 || text[schemeLength] != '$') return false;
    const char* p = text + schemeLength + 1;

    uint64_t iterations = 0;
    const char* digits = p;
    while (*p >= '0' && *p <= '9' && iterations <= kMaxIterations)
        iterations = iterations * 10 + (*p++ - '0');
    if (p == digits || *p != '$' || iterations == 0 || iterations > kMaxIterations) return false;
    parsed.iterations = static_cast<uint32_t>(iterations);

    const char* salt = ++p;
    const char* dollar = strchr(salt, '$');
    if (!dollar) return false;
    const size_t saltLength = static_cast<size_t>(dollar - salt);
    if (saltLength > 2 * kMaxSaltBytes || !FromHex(salt, saltLength, parsed.salt)) return false;
    const char* hash = dollar + 1;
    return strlen(hash) == 2 * kPasswordHashBytes && FromHex(hash, strlen(hash), parsed.hash);
}

}  // namespace

bool Pbkdf2Sha256(const void* password, size_t passwordLength, const void* salt, size_t saltLength,
                  uint32_t iterations, unsigned char* key, size_t keyLength) {
    AlgorithmHandle hmac;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(hmac.put(), BCRYPT_SHA256_ALGORITHM, nullptr,
                                                    BCRYPT_ALG_HANDLE_HMAC_FLAG)) ||
        !hmac || iterations == 0)
        return false;
    // bcrypt takes non-const buffers but only reads them.
    std::vector<unsigned char> passwordCopy(
        static_cast<const unsigned char*>(password),
        static_cast<const unsigned char*>(password) + passwordLength);
    std::vector<unsigned char> saltCopy(static_cast<const unsigned char*>(salt),
                                        static_cast<const unsigned char*>(salt) + saltLength);
    const NTSTATUS status = BCryptDeriveKeyPBKDF2(
        hmac.get(), passwordCopy.empty() ? nullptr : passwordCopy.data(),
        static_cast<ULONG>(passwordLength), saltCopy.empty() ? nullptr : saltCopy.data(),
        static_cast<ULONG>(saltLength), iterations, key, static_cast<ULONG>(keyLength), 0);
    SecureZeroMemory(passwordCopy.data(), passwordCopy.size());
    return BCRYPT_SUCCESS(status);
}

CString HashPasswordWith(const CString& password, const unsigned char* salt, size_t saltLength,
                         uint32_t iterations) {
    unsigned char hash[kPasswordHashBytes];
    if (!Pbkdf2Sha256(password.c_str(), static_cast<size_t>(password.GetLength()), salt, saltLength,
                      iterations, hash, sizeof hash))
        return CString();
    CString text;
    text.Format("%s$%u$%s$%s", kScheme, static_cast<unsigned>(iterations),
                ToHex(salt, saltLength).c_str(), ToHex(hash, sizeof hash).c_str());
    return text;
}

CString HashPassword(const CString& password) {
    unsigned char salt[kPasswordSaltBytes];
    if (!BCRYPT_SUCCESS(
            BCryptGenRandom(nullptr, salt, sizeof salt, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return CString();
    return HashPasswordWith(password, salt, sizeof salt, kPasswordIterations);
}

bool IsPasswordHash(const CString& stored) {
    ParsedHash parsed;
    return ParseHash(stored, parsed);
}

bool ConstantTimeEqual(const unsigned char* a, const unsigned char* b, size_t length) {
    volatile unsigned char difference = 0;
    for (size_t i = 0; i < length; ++i) difference = difference | (a[i] ^ b[i]);
    return difference == 0;
}

bool VerifyPassword(const CString& entered, const CString& stored) {
    ParsedHash parsed;
    if (ParseHash(stored, parsed)) {
        unsigned char hash[kPasswordHashBytes];
        if (!Pbkdf2Sha256(entered.c_str(), static_cast<size_t>(entered.GetLength()),
                          parsed.salt.data(), parsed.salt.size(), parsed.iterations, hash,
                          sizeof hash))
            return false;
        return ConstantTimeEqual(hash, parsed.hash.data(), sizeof hash);
    }
    // A legacy plain password: compare every byte of the longer of the two,
    // so that neither a shared prefix nor the length shows in the time taken.
    const size_t enteredLength = static_cast<size_t>(entered.GetLength());
    const size_t storedLength = static_cast<size_t>(stored.GetLength());
    const size_t length = enteredLength > storedLength ? enteredLength : storedLength;
    volatile unsigned char difference = enteredLength == storedLength ? 0 : 1;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char a =
            i < enteredLength ? static_cast<unsigned char>(entered.c_str()[i]) : 0;
        const unsigned char b =
            i < storedLength ? static_cast<unsigned char>(stored.c_str()[i]) : 0;
        difference = difference | (a ^ b);
    }
    return difference == 0;
}
