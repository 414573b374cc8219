// The encrypted envelope of a UDP datagram: a 16-byte vector, the plain length n (high byte first),
// then the cipher text in pieces of at most 1024 bytes, the last one zero-padded to 16 bytes.
#pragma once

#include <QByteArray>
#include <QString>

namespace panelsim {

class LinkEnvelope
{
public:
    static constexpr int HeaderSize = 18;
    static constexpr int PieceSize = 1024;

    // The link key as the cipher takes it: the text left-aligned, blank-padded or cut to 32 bytes.
    static QByteArray keyBytes(const QString &linkKey);

    // Wraps plain bytes with the given 16-byte vector. Returns empty on a bad vector or cipher fault.
    static QByteArray encrypt(const QByteArray &plain, const QString &linkKey, const QByteArray &vector);

    // Returns the n plain bytes, or an empty array (ok false) when the length is not 18 + 16k or the
    // header promises more bytes than the cipher text holds.
    static QByteArray decrypt(const QByteArray &envelope, const QString &linkKey, bool *ok = nullptr);

    // Whether a datagram of this length can be an envelope (18 + 16k bytes).
    static bool hasEnvelopeLength(int length) { return length >= HeaderSize && (length - HeaderSize) % 16 == 0; }
};

} // namespace panelsim
