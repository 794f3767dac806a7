// Stored passwords: "p1" holds a salted PBKDF2-HMAC-SHA-256 hash made with
// the system's cryptography, in the text form
//     pbkdf2-sha256$<iterations>$<salt, hex>$<hash, hex>
// A value in any other form was written by an earlier program as the
// password itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/String.h"

// Enough to make guessing slow, few enough that a check stays far below
// the quarter second a user notices.
constexpr uint32_t kPasswordIterations = 100000;
constexpr size_t kPasswordSaltBytes = 16;
constexpr size_t kPasswordHashBytes = 32;

// PBKDF2 with HMAC-SHA-256 (RFC 8018); false when the system refuses.
bool Pbkdf2Sha256(const void* password, size_t passwordLength, const void* salt, size_t saltLength,
                  uint32_t iterations, unsigned char* key, size_t keyLength);

// The text form for password with a fresh random salt; "" when the system
// cannot provide random bytes or the hash.
CString HashPassword(const CString& password);
// The same with a given salt and count (for tests and for re-hashing).
CString HashPasswordWith(const CString& password, const unsigned char* salt, size_t saltLength,
                         uint32_t iterations);

// True when stored is in the hashed text form (not a legacy plain password).
bool IsPasswordHash(const CString& stored);

// True when entered matches stored: against the hash when stored is in the
// hashed form, byte for byte otherwise. Either way in time independent of
// where the first difference lies.
bool VerifyPassword(const CString& entered, const CString& stored);

bool ConstantTimeEqual(const unsigned char* a, const unsigned char* b, size_t length);
