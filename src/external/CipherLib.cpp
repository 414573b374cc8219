#include "external/CipherLib.h"

#include <gcrypt.h>

#include <cstring>
#include <mutex>

namespace CipherLib {

namespace {

bool g_usable = false;

void initOnce()
{
    // Someone else in the process (a test, a peer library) may have set the library up already;
    // it must not be initialised twice.
    if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
        g_usable = true;
        return;
    }
    if (!gcry_check_version(GCRYPT_VERSION))
        return;
    // Keys live in ordinary memory; secure memory would need privileges and a locked pool.
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    g_usable = true;
}

} // namespace

bool initialize()
{
    static std::once_flag once;
    std::call_once(once, initOnce);
    return g_usable;
}

std::int32_t BlockEncrypt(std::uint8_t *vector, const char *key32, std::int32_t length, std::uint8_t *work,
                          std::int32_t mode)
{
    if (mode != ModeCbc || !vector || !key32 || !work)
        return -1;
    const bool encrypt = length > 0;
    const std::int64_t size = encrypt ? length : -static_cast<std::int64_t>(length);
    if (size == 0)
        return 0;
    if (size > WorkSize || size % BlockSize != 0)
        return -1;
    if (!initialize())
        return -1;

    gcry_cipher_hd_t handle = nullptr;
    gcry_error_t err = gcry_cipher_open(&handle, GCRY_CIPHER_TWOFISH, GCRY_CIPHER_MODE_CBC, 0);
    if (err)
        return static_cast<std::int32_t>(err);
    err = gcry_cipher_setkey(handle, key32, KeySize);
    if (!err)
        err = gcry_cipher_setiv(handle, vector, VectorSize);

    // The next piece chains from the last cipher block of this one: the output when encrypting,
    // the input when decrypting (taken before it is overwritten).
    std::uint8_t nextVector[VectorSize] = {};
    if (!err && !encrypt)
        std::memcpy(nextVector, work + size - VectorSize, VectorSize);
    if (!err)
        err = encrypt ? gcry_cipher_encrypt(handle, work, static_cast<size_t>(size), nullptr, 0)
                      : gcry_cipher_decrypt(handle, work, static_cast<size_t>(size), nullptr, 0);
    if (!err && encrypt)
        std::memcpy(nextVector, work + size - VectorSize, VectorSize);
    if (!err)
        std::memcpy(vector, nextVector, VectorSize);
    gcry_cipher_close(handle);
    return static_cast<std::int32_t>(err);
}

bool RandomBytes(std::uint8_t *buffer, std::size_t size)
{
    if (!initialize())
        return false;
    gcry_randomize(buffer, size, GCRY_STRONG_RANDOM);
    return true;
}

} // namespace CipherLib
