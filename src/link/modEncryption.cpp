#include "link/modEncryption.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "external/CipherLib.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace modEncryption {

namespace {

const QString kModule = QStringLiteral("modEncryption");

} // namespace

bool isEnvelopeLength(qsizetype length)
{
    return length >= HeaderSize && (length - HeaderSize) % CipherLib::BlockSize == 0;
}

QByteArray cipherKey(const QString &key)
{
    // One byte per character; a character outside the 8-bit range cannot be part of a valid key
    // and becomes '?', as the 8-bit conversion would make it.
    const QString text = key.leftJustified(CipherLib::KeySize, QLatin1Char(' '), true);
    QByteArray bytes(CipherLib::KeySize, ' ');
    for (int i = 0; i < CipherLib::KeySize; ++i) {
        const char16_t c = text.at(i).unicode();
        bytes[i] = c <= 0xFF ? static_cast<char>(c) : '?';
    }
    return bytes;
}

QByteArray EncryptData(const QByteArray &data, const QString &key)
{
    return errors::guardedValue(kModule, QStringLiteral("EncryptData()"), QByteArray(), [&] {
        const qsizetype n = data.size();
        if (n > MaxPlainSize)
            raiseError(ErrorCode::Overflow, QStringLiteral("plain text too long for the envelope"));
        const QByteArray key32 = cipherKey(key);

        std::array<std::uint8_t, CipherLib::VectorSize> vector{};
        if (!CipherLib::RandomBytes(vector.data(), vector.size()))
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("the cipher library is not available"));

        const qsizetype padded = (n + CipherLib::BlockSize - 1) / CipherLib::BlockSize * CipherLib::BlockSize;
        QByteArray envelope;
        envelope.reserve(HeaderSize + padded);
        envelope.append(reinterpret_cast<const char *>(vector.data()), CipherLib::VectorSize);
        envelope.append(static_cast<char>((n >> 8) & 0xFF));
        envelope.append(static_cast<char>(n & 0xFF));

        std::array<std::uint8_t, CipherLib::WorkSize> work{};
        qsizetype offset = 0;
        qsizetype appended = 0;
        do {
            const qsizetype pieceLen = std::min<qsizetype>(n - offset, PieceSize);
            work.fill(0);
            if (pieceLen > 0)
                std::memcpy(work.data(), data.constData() + offset, static_cast<size_t>(pieceLen));
            offset += pieceLen;
            const qsizetype piecePadded =
                (pieceLen + CipherLib::BlockSize - 1) / CipherLib::BlockSize * CipherLib::BlockSize;
            const std::int32_t rc = CipherLib::BlockEncrypt(vector.data(), key32.constData(),
                                                            static_cast<std::int32_t>(piecePadded), work.data(),
                                                            CipherLib::ModeCbc);
            if (rc != 0)
                raiseError(ErrorCode::InvalidArgument, QStringLiteral("encryption failed"));
            envelope.append(reinterpret_cast<const char *>(work.data()), piecePadded);
            appended += piecePadded;
        } while (n > appended);
        return envelope;
    });
}

QByteArray DecryptData(const QByteArray &data, const QString &key)
{
    // A malformed envelope is dropped without a report: it is what a stray or clear datagram
    // looks like to the receiver.
    const qsizetype total = data.size();
    if (!isEnvelopeLength(total))
        return QByteArray();
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(data.constData());
    const qsizetype n = bytes[16] * 256 + bytes[17];
    const qsizetype cipherLen = total - HeaderSize;
    // Every plain byte must be carried by the cipher text; an envelope that claims more would
    // leave the loop below without pieces to read.
    if (n > cipherLen)
        return QByteArray();

    return errors::guardedValue(kModule, QStringLiteral("DecryptData()"), QByteArray(), [&] {
        const QByteArray key32 = cipherKey(key);
        std::array<std::uint8_t, CipherLib::VectorSize> vector{};
        std::memcpy(vector.data(), bytes, CipherLib::VectorSize);

        QByteArray plain(n, '\0');
        std::array<std::uint8_t, CipherLib::WorkSize> work{};
        qsizetype written = 0;
        qsizetype offset = 0;
        while (written < n) {
            const qsizetype pieceLen = std::min<qsizetype>(cipherLen - offset, PieceSize);
            work.fill(0);
            std::memcpy(work.data(), bytes + HeaderSize + offset, static_cast<size_t>(pieceLen));
            offset += pieceLen;
            const std::int32_t rc = CipherLib::BlockEncrypt(vector.data(), key32.constData(),
                                                            -static_cast<std::int32_t>(pieceLen), work.data(),
                                                            CipherLib::ModeCbc);
            if (rc != 0)
                raiseError(ErrorCode::InvalidArgument, QStringLiteral("decryption failed"));
            const qsizetype take = std::min(pieceLen, n - written);
            std::memcpy(plain.data() + written, work.data(), static_cast<size_t>(take));
            written += take;
        }
        return plain;
    });
}

} // namespace modEncryption
