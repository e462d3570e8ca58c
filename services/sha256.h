// SHA-256 (FIPS 180-4), the menu's own: Windows 95 to XP SP2 have none in
// CryptoAPI. Plain arithmetic on bytes, so it builds natively and is tested
// there against the standard's examples.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct Sha256 {
    uint32_t state[8];
    uint64_t length; // bytes taken so far
    unsigned char block[64];
    size_t used; // bytes waiting in `block`
};

void Sha256Start(Sha256* hash);
void Sha256Add(Sha256* hash, const void* bytes, size_t count);
// Writes the 32-byte digest; the state must be started again for reuse.
void Sha256Finish(Sha256* hash, unsigned char digest[32]);
