// The enhanced direct receive path: what arrives on the serial line, read envelope by envelope as
// the transport reads it, each datagram decoded under the session settings the first bytes give,
// then the checks of an answer. Layout: flags (bit 0 sequence numbers, 1 connected), the sequence
// byte sent, the passcode (length byte + text), the bytes on the line.
#include "FuzzSupport.h"

#include "core/ErrorCodes.h"
#include "transports/DatagramTransport.h"
#include "transports/EnhancedEnvelope.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    fuzzsupport::Reader input(data, size);
    const std::uint8_t flags = input.u8();
    const bool sequenceNumbers = flags & 1;
    const bool connected = flags & 2;
    const std::int16_t seqNumOut = input.u8();
    const QString passcode = QString::fromLatin1(input.chunk());
    QByteArray line = input.rest();

    while (!line.isEmpty()) {
        // The reader never looks further than one header and the longest body.
        const QByteArray window = line.left(EnhancedEnvelope::HeaderSize + EnhancedEnvelope::MaxLength);
        const EnhancedEnvelope::Decoded envelope = EnhancedEnvelope::decode(window);
        FUZZ_CHECK(envelope.consumed <= window.size());
        if (!envelope.complete) {
            FUZZ_CHECK(envelope.result == 0 && envelope.consumed == 0 && envelope.datagram.isEmpty());
            break;
        }
        FUZZ_CHECK(envelope.consumed >= EnhancedEnvelope::HeaderSize);
        if (envelope.result != 0) {
            // A bad header is refused before any byte of a body is read.
            FUZZ_CHECK(envelope.result == ErrorCode::PanelNak || envelope.result == ErrorCode::EnhancedLengthTooLong);
            FUZZ_CHECK(envelope.consumed == EnhancedEnvelope::HeaderSize && envelope.datagram.isEmpty());
            line.remove(0, envelope.consumed);
            continue;
        }
        FUZZ_CHECK(static_cast<std::uint8_t>(line.at(0)) == EnhancedEnvelope::Marker);
        FUZZ_CHECK(envelope.datagram.size() >= 1 && envelope.datagram.size() <= EnhancedEnvelope::MaxLength);
        FUZZ_CHECK(envelope.datagram == line.mid(EnhancedEnvelope::HeaderSize, envelope.datagram.size()));
        // What the transport sends decodes to what it carried.
        const EnhancedEnvelope::Decoded again = EnhancedEnvelope::decode(EnhancedEnvelope::wrap(envelope.datagram));
        FUZZ_CHECK(again.complete && again.result == 0 && again.datagram == envelope.datagram);
        line.remove(0, envelope.consumed);

        const DatagramTransport::Payload payload =
            DatagramTransport::DecodePayload(envelope.datagram, connected, seqNumOut, sequenceNumbers, passcode);
        if (payload.dropped) {
            FUZZ_CHECK(envelope.datagram.size() < 2 || (connected && payload.sequence != seqNumOut));
            continue;
        }
        FUZZ_CHECK(payload.bytes.size() == envelope.datagram.size() - 1);
        QByteArray plain = payload.bytes;
        if (sequenceNumbers)
            DatagramTransport::Encrypt(plain, DatagramTransport::SequenceKey(passcode, payload.sequence));
        FUZZ_CHECK(plain == envelope.datagram.mid(1));
        const std::int32_t check = DatagramTransport::CheckAnswer(payload.bytes);
        FUZZ_CHECK(check == 0 || check == ErrorCode::BadChecksum || check == ErrorCode::PanelNak
                   || check == ErrorCode::CallbackRequested);
    }
    return 0;
}
