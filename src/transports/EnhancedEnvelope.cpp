#include "transports/EnhancedEnvelope.h"

#include "core/ErrorCodes.h"

namespace EnhancedEnvelope {

QByteArray wrap(const QByteArray &datagram)
{
    if (datagram.isEmpty() || datagram.size() > MaxLength)
        return {};
    QByteArray out;
    out.reserve(HeaderSize + datagram.size());
    out.append(static_cast<char>(Marker));
    out.append(4, static_cast<char>(0xFF));
    out.append('\0');
    out.append(static_cast<char>(datagram.size()));
    out.append(datagram);
    return out;
}

std::int32_t checkHeader(const QByteArray &header, int &length)
{
    length = 0;
    if (header.size() < HeaderSize || static_cast<std::uint8_t>(header.at(0)) != Marker)
        return ErrorCode::PanelNak;
    const int announced = static_cast<std::uint8_t>(header.at(5)) * 256 + static_cast<std::uint8_t>(header.at(6));
    if (announced < 1)
        return ErrorCode::PanelNak;
    if (announced > MaxLength)
        return ErrorCode::EnhancedLengthTooLong;
    length = announced;
    return 0;
}

Decoded decode(const QByteArray &bytes)
{
    Decoded d;
    if (bytes.size() < HeaderSize)
        return d;
    int length = 0;
    d.result = checkHeader(bytes.left(HeaderSize), length);
    if (d.result != 0) {
        d.complete = true;
        d.consumed = HeaderSize;
        return d;
    }
    if (bytes.size() < HeaderSize + length)
        return d;
    d.complete = true;
    d.consumed = HeaderSize + length;
    d.datagram = bytes.mid(HeaderSize, length);
    return d;
}

} // namespace EnhancedEnvelope
