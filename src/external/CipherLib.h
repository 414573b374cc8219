// The block cipher of the network link: Twofish with a 256-bit key in CBC mode, on libgcrypt.
// The entry keeps the call shape the link code uses: a 16-byte vector buffer, a 32-byte key text,
// a signed length (positive encrypts, negative decrypts), a 1024-byte work buffer processed in
// place, and a mode constant. After each call the vector buffer holds the chaining value for the
// next piece, so consecutive pieces form one continuous CBC stream.
#pragma once

#include <cstddef>
#include <cstdint>

namespace CipherLib {

constexpr int VectorSize = 16;
constexpr int KeySize = 32;
constexpr int WorkSize = 1024;
constexpr int BlockSize = 16;
// The only mode the link uses: CBC over the first |length| bytes of the work buffer.
constexpr std::int32_t ModeCbc = -1;

// Initialises libgcrypt once per process (version check, no secure memory, initialisation
// finished). Does nothing when the process has already finished initialising it. Returns false
// when the library is too old to be used.
bool initialize();

// Encrypts (length > 0) or decrypts (length < 0) the first |length| bytes of `work` in place,
// chaining from `vector` and leaving the last cipher block there. |length| must be a multiple of 16
// and at most 1024; a length of 0 does nothing. Returns 0 on success, otherwise a non-zero code
// (a libgcrypt error code, or -1 for arguments that do not fit).
std::int32_t BlockEncrypt(std::uint8_t *vector, const char *key32, std::int32_t length, std::uint8_t *work,
                          std::int32_t mode);

// Fills `buffer` with `size` bytes from libgcrypt's strong random generator. Returns false (and
// leaves the buffer alone) when the library could not be initialised.
bool RandomBytes(std::uint8_t *buffer, std::size_t size);

} // namespace CipherLib
