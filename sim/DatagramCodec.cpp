#include "DatagramCodec.h"

namespace panelsim {

quint32 DatagramCodec::leadingHexValue(const QString &text)
{
    quint32 value = 0;
    for (const QChar ch : text) {
        const int digit = QStringLiteral("0123456789abcdef").indexOf(ch.toLower());
        if (digit < 0)
            break;
        value = value * 16 + quint32(digit);
    }
    return value;
}

QByteArray DatagramCodec::passcodeBytes(const QString &passcode)
{
    QByteArray bytes(5, '\0');
    for (int i = 0; i < 5 && 2 * i < passcode.size(); ++i)
        bytes[i] = static_cast<char>(leadingHexValue(passcode.mid(2 * i, 2)) & 0xFF);
    return bytes;
}

quint8 DatagramCodec::sequenceKey(const QString &passcode, quint8 sequence)
{
    return static_cast<quint8>((leadingHexValue(passcode.right(2)) + sequence) & 0xFF);
}

QByteArray DatagramCodec::xorWith(QByteArray bytes, quint8 key)
{
    for (char &c : bytes)
        c = static_cast<char>(static_cast<quint8>(c) ^ key);
    return bytes;
}

QByteArray DatagramCodec::encode(quint8 sequence, const QByteArray &payload, const QString &passcode, bool sequenceNumbers)
{
    QByteArray datagram(1, static_cast<char>(sequence));
    datagram.append(sequenceNumbers ? xorWith(payload, sequenceKey(passcode, sequence)) : payload);
    return datagram;
}

bool DatagramCodec::decode(const QByteArray &datagram, const QString &passcode, bool sequenceNumbers,
                           quint8 *sequence, QByteArray *payload)
{
    if (datagram.isEmpty())
        return false;
    const quint8 seq = static_cast<quint8>(datagram[0]);
    QByteArray body = datagram.mid(1);
    if (sequenceNumbers)
        body = xorWith(body, sequenceKey(passcode, seq));
    if (sequence)
        *sequence = seq;
    if (payload)
        *payload = body;
    return true;
}

} // namespace panelsim
