#include "LinkEnvelope.h"

#include "TwofishCbc.h"

namespace panelsim {

QByteArray LinkEnvelope::keyBytes(const QString &linkKey)
{
    QByteArray key = linkKey.toLatin1().left(32);
    if (key.size() < 32)
        key.append(QByteArray(32 - key.size(), ' '));
    return key;
}

QByteArray LinkEnvelope::encrypt(const QByteArray &plain, const QString &linkKey, const QByteArray &vector)
{
    if (vector.size() != 16 || plain.size() > 0xFFFF)
        return {};
    TwofishCbc cipher(keyBytes(linkKey), vector);
    if (!cipher.isValid())
        return {};
    QByteArray envelope = vector;
    envelope.append(static_cast<char>((plain.size() >> 8) & 0xFF));
    envelope.append(static_cast<char>(plain.size() & 0xFF));
    qsizetype offset = 0;
    // An empty message still carries nothing but its header.
    while (offset < plain.size()) {
        const qsizetype pieceLen = qMin<qsizetype>(plain.size() - offset, PieceSize);
        QByteArray piece = plain.mid(offset, pieceLen);
        offset += pieceLen;
        const qsizetype padded = (pieceLen + 15) / 16 * 16;
        piece.append(QByteArray(padded - pieceLen, '\0'));
        const QByteArray cipherText = cipher.encrypt(piece);
        if (cipherText.isEmpty())
            return {};
        envelope.append(cipherText);
    }
    return envelope;
}

QByteArray LinkEnvelope::decrypt(const QByteArray &envelope, const QString &linkKey, bool *ok)
{
    if (ok)
        *ok = false;
    if (!hasEnvelopeLength(int(envelope.size())))
        return {};
    const int n = (static_cast<quint8>(envelope[16]) << 8) | static_cast<quint8>(envelope[17]);
    const QByteArray cipherText = envelope.mid(HeaderSize);
    if (n > cipherText.size())
        return {};
    TwofishCbc cipher(keyBytes(linkKey), envelope.left(16));
    if (!cipher.isValid())
        return {};
    QByteArray plain;
    qsizetype offset = 0;
    while (plain.size() < n && offset < cipherText.size()) {
        const qsizetype pieceLen = qMin<qsizetype>(cipherText.size() - offset, PieceSize);
        const QByteArray piece = cipher.decrypt(cipherText.mid(offset, pieceLen));
        if (piece.isEmpty())
            return {};
        offset += pieceLen;
        plain.append(piece);
    }
    plain.truncate(n);
    if (ok)
        *ok = true;
    return plain;
}

} // namespace panelsim
