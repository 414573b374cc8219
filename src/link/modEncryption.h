// The encrypted envelope of the network link. An envelope is
//   bytes 0..15   the initialisation vector (fresh random bytes per envelope)
//   bytes 16, 17  n, the number of plain bytes, high byte first
//   bytes 18..    the cipher text: pieces of at most 1024 bytes, each a multiple of 16, the last
//                 one zero-padded; the vector chains from one piece to the next.
// The key is the link key, padded with blanks (or cut) to 32 single-byte characters.
#pragma once

#include <QByteArray>
#include <QString>

namespace modEncryption {

constexpr int HeaderSize = 18;
constexpr int PieceSize = 1024;
constexpr int MaxPlainSize = 0xFFFF; // n travels as 16 bits

// The envelope of `data`; empty when encryption failed (reported) or `data` is longer than n can
// describe.
QByteArray EncryptData(const QByteArray &data, const QString &key);

// The n plain bytes carried by the envelope `data`; empty for a malformed envelope (shorter than
// the header, cipher text not a multiple of 16, or fewer cipher bytes than n needs) and when
// decryption failed (reported).
QByteArray DecryptData(const QByteArray &data, const QString &key);

// True when `length` is that of an envelope: 18 + 16 * k, k >= 0.
bool isEnvelopeLength(qsizetype length);

// The 32 key bytes the cipher is given for `key`.
QByteArray cipherKey(const QString &key);

} // namespace modEncryption
