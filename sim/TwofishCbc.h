// Twofish with a 256-bit key in CBC mode (libgcrypt). One object is one chained stream: the vector
// given at construction is carried from piece to piece, so encrypting a message in several pieces
// gives the same bytes as encrypting it in one.
#pragma once

#include <QByteArray>

struct gcry_cipher_handle;

namespace panelsim {

class TwofishCbc
{
public:
    // key: 32 bytes; vector: 16 bytes. isValid() is false when either has another size or the
    // cipher is not available.
    TwofishCbc(const QByteArray &key, const QByteArray &vector);
    ~TwofishCbc();
    TwofishCbc(const TwofishCbc &) = delete;
    TwofishCbc &operator=(const TwofishCbc &) = delete;

    bool isValid() const { return m_handle != nullptr; }

    // Each piece must be a multiple of 16 bytes; returns an empty array otherwise.
    QByteArray encrypt(const QByteArray &piece);
    QByteArray decrypt(const QByteArray &piece);

    // Single-block Twofish-256 without chaining (for checking the cipher against published vectors).
    static QByteArray encryptBlockEcb(const QByteArray &key, const QByteArray &block);

    // Initialises libgcrypt once per process (version check, no secure memory, initialisation
    // finished), unless someone else in the process already did.
    static void initLibrary();

private:
    gcry_cipher_handle *m_handle = nullptr;
};

} // namespace panelsim
