// The serial envelope of the enhanced direct link, around every datagram (sequence byte and panel
// frame) in both directions:
//
//   offset 0     2
//   offset 1..4  FF FF FF FF
//   offset 5     length, high byte (0: only lengths 1 to 255 are carried)
//   offset 6     length, low byte
//   offset 7..   the datagram
//
// Pure functions without a port or a session: the transport reads the header and the body through
// them, and so can a fuzzer. The announced length is never trusted beyond 255 bytes: a header that
// announces more is rejected before any byte of the body is read.
#pragma once

#include <QByteArray>

#include <cstdint>

namespace EnhancedEnvelope {

constexpr int HeaderSize = 7;
constexpr int MaxLength = 255;
constexpr std::uint8_t Marker = 2;

// The envelope around `datagram`; empty when the datagram is empty or longer than 255 bytes (such a
// datagram cannot be carried).
QByteArray wrap(const QByteArray &datagram);

// Checks a 7-byte header. Returns 0 and the datagram length (1..255) in `length`, or
// 0x8004138E (first byte not 2, length 0, or fewer than 7 bytes) or 0x800413B3 (length above 255).
std::int32_t checkHeader(const QByteArray &header, int &length);

// The outcome of reading one envelope from the front of `bytes`.
struct Decoded
{
    std::int32_t result = 0; // 0, or the error of checkHeader
    bool complete = false;   // a whole envelope (or a rejected header) is there
    int consumed = 0;        // bytes it took from the front (header and body, or the bad header)
    QByteArray datagram;     // the datagram of a complete envelope
};

// Reads one envelope from the front of `bytes`: incomplete until the header and the whole body are
// there; a bad header is complete at once, with its error and the header consumed.
Decoded decode(const QByteArray &bytes);

} // namespace EnhancedEnvelope
