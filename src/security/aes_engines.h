// The AES-128 block transforms behind security::Rijndael. Both engines work on the same
// expanded keys: 11 round keys of 16 bytes for encryption and 11 for the equivalent inverse
// cipher (FIPS 197, 5.3.5), which is the form the processor's AES instructions expect.
#pragma once

#include <cstddef>
#include <cstdint>

namespace security::aes {

constexpr int kRounds = 10;
constexpr int kExpandedSize = 16 * (kRounds + 1);

void expandKey(const uint8_t* key, uint8_t* enc_keys, uint8_t* dec_keys);

// Table-driven transforms for processors without AES instructions. Table look-ups depend on
// the data, so this engine is not safe against an attacker who can time it from the same
// machine; the hardware engine is used wherever it exists.
void encryptPortable(const uint8_t* enc_keys, uint8_t* block);
void decryptPortable(const uint8_t* dec_keys, uint8_t* block);

// Counter mode: the encryptions of `count` successive counters c, c+1, ... into out (16 bytes
// each), where c is the 16 bytes at `counter` read as a 128-bit little-endian number that
// wraps at the top; `counter` is left at c + count.
void encryptCountersPortable(const uint8_t* enc_keys, uint8_t* counter, uint8_t* out, size_t count);

// True when this processor has the AES instructions (checked once with cpuid).
bool hardwareAvailable();
// Only to be called when hardwareAvailable() is true.
void encryptHardware(const uint8_t* enc_keys, uint8_t* block);
void decryptHardware(const uint8_t* dec_keys, uint8_t* block);
// Eight counters at a time are encrypted side by side so that the instructions' latency
// overlaps.
void encryptCountersHardware(const uint8_t* enc_keys, uint8_t* counter, uint8_t* out, size_t count);

}  // namespace security::aes
