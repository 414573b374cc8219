// The datagram of the network and enhanced direct links: one sequence byte, then the payload (a
// panel frame, or a probe text such as "LANVesk"), XOR-ed with the sequence key when sequence
// numbers are on. The key is the hexadecimal value of the passcode's last two characters plus the
// sequence byte, low 8 bits; the XOR is its own inverse.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace panelsim {

class DatagramCodec
{
public:
    // Leading hexadecimal digits of text as a number (reading stops at the first other character;
    // no digits give 0). Shared with the passcode bytes, which are read the same way.
    static quint32 leadingHexValue(const QString &text);

    // The five passcode bytes of "Passcode Verification": each pair of characters read as hex.
    static QByteArray passcodeBytes(const QString &passcode);

    static quint8 sequenceKey(const QString &passcode, quint8 sequence);

    static QByteArray xorWith(QByteArray bytes, quint8 key);

    // sequence byte + payload (XOR-ed when sequenceNumbers is on).
    static QByteArray encode(quint8 sequence, const QByteArray &payload, const QString &passcode, bool sequenceNumbers);

    // Splits a datagram; false for an empty one.
    static bool decode(const QByteArray &datagram, const QString &passcode, bool sequenceNumbers,
                       quint8 *sequence, QByteArray *payload);
};

} // namespace panelsim
