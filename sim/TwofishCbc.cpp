#include "TwofishCbc.h"

#include <gcrypt.h>

#include <mutex>

namespace panelsim {

void TwofishCbc::initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P))
            return;
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}

TwofishCbc::TwofishCbc(const QByteArray &key, const QByteArray &vector)
{
    initLibrary();
    if (key.size() != 32 || vector.size() != 16)
        return;
    gcry_cipher_hd_t handle = nullptr;
    if (gcry_cipher_open(&handle, GCRY_CIPHER_TWOFISH, GCRY_CIPHER_MODE_CBC, 0) != 0)
        return;
    if (gcry_cipher_setkey(handle, key.constData(), 32) != 0
        || gcry_cipher_setiv(handle, vector.constData(), 16) != 0) {
        gcry_cipher_close(handle);
        return;
    }
    m_handle = handle;
}

TwofishCbc::~TwofishCbc()
{
    if (m_handle)
        gcry_cipher_close(m_handle);
}

QByteArray TwofishCbc::encrypt(const QByteArray &piece)
{
    if (!m_handle || piece.size() % 16 != 0)
        return {};
    QByteArray out(piece.size(), '\0');
    if (gcry_cipher_encrypt(m_handle, out.data(), static_cast<size_t>(out.size()), piece.constData(),
                            static_cast<size_t>(piece.size())) != 0)
        return {};
    return out;
}

QByteArray TwofishCbc::decrypt(const QByteArray &piece)
{
    if (!m_handle || piece.size() % 16 != 0)
        return {};
    QByteArray out(piece.size(), '\0');
    if (gcry_cipher_decrypt(m_handle, out.data(), static_cast<size_t>(out.size()), piece.constData(),
                            static_cast<size_t>(piece.size())) != 0)
        return {};
    return out;
}

QByteArray TwofishCbc::encryptBlockEcb(const QByteArray &key, const QByteArray &block)
{
    initLibrary();
    if (key.size() != 32 || block.size() != 16)
        return {};
    gcry_cipher_hd_t handle = nullptr;
    if (gcry_cipher_open(&handle, GCRY_CIPHER_TWOFISH, GCRY_CIPHER_MODE_ECB, 0) != 0)
        return {};
    QByteArray out(16, '\0');
    const bool ok = gcry_cipher_setkey(handle, key.constData(), 32) == 0
        && gcry_cipher_encrypt(handle, out.data(), 16, block.constData(), 16) == 0;
    gcry_cipher_close(handle);
    return ok ? out : QByteArray();
}

} // namespace panelsim
