// The panel frame: address, length L (bytes after it, checksum included), command, L - 2 data bytes,
// checksum. The address byte and the sum all bytes must reach depend on the direction and on the
// addressing of the link:
//
//   local  (plain direct line):  to the panel E4, sum 7F;  from the panel 64, sum FF
//   remote (modem, network, enhanced direct): to the panel 00, sum FF;  from the panel 00, sum 7F
#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace panelsim {

enum class Addressing { Local, Remote };

class PanelFrame
{
public:
    static constexpr quint8 NakCommand = 2;
    static constexpr quint8 CallbackCommand = 3;
    static constexpr quint8 RefusedCode = 2;

    static quint8 requestAddress(Addressing a) { return a == Addressing::Local ? 0xE4 : 0x00; }
    static quint8 requestTarget(Addressing a) { return a == Addressing::Local ? 0x7F : 0xFF; }
    static quint8 answerAddress(Addressing a) { return a == Addressing::Local ? 0x64 : 0x00; }
    static quint8 answerTarget(Addressing a) { return a == Addressing::Local ? 0xFF : 0x7F; }

    // 8-bit sum of all bytes.
    static quint8 sum(const QByteArray &bytes);

    // A complete answer frame from the panel: address, L, command, data, checksum.
    static QByteArray answer(Addressing a, quint8 command, const QByteArray &data = {});
    // A complete request frame to the panel (what the component sends; used by tests and tools).
    static QByteArray request(Addressing a, quint8 command, const QByteArray &data = {});

    static QByteArray nak(Addressing a) { return answer(a, NakCommand); }
    // Callback request: L = 3, command 3, bit 3 of the data byte set.
    static QByteArray callbackRequest(Addressing a) { return answer(a, CallbackCommand, QByteArray(1, char(0x08))); }
    // Refusal: result code 2 in byte 2 with one data byte, so it is never mistaken for a NAK (L = 2).
    static QByteArray refusal(Addressing a, quint8 detail) { return answer(a, RefusedCode, QByteArray(1, char(detail))); }

    // Whether a complete frame reaches the sum target of the given direction.
    static bool hasRequestChecksum(Addressing a, const QByteArray &frame) { return sum(frame) == requestTarget(a); }
    static bool hasAnswerChecksum(Addressing a, const QByteArray &frame) { return sum(frame) == answerTarget(a); }
};

} // namespace panelsim
