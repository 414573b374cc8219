// The network receive path: one datagram from the panel's address under the session settings the
// first bytes give, then the checks of an answer. Layout: flags (bit 0 encryption, 1 link key mode
// 1, 2 sequence numbers, 3 connected, 4 nothing sent yet, 5 answered, 6 a probe in flight, 7 that
// probe is the panel test), the sequence byte sent, the passcode (length byte + text), the
// datagram.
#include "FuzzSupport.h"

#include "core/ErrorCodes.h"
#include "transports/clsNetwork.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    fuzzsupport::Reader input(data, size);
    clsNetwork::Session session;
    const std::uint8_t flags = input.u8();
    session.encryption = flags & 1;
    session.linkKeyMode = (flags >> 1) & 1;
    session.sequenceNumbers = flags & 4;
    session.connected = flags & 8;
    session.seqNumOut = input.u8();
    if (flags & 16)
        session.seqNumOut = -2;
    else if (flags & 32)
        session.seqNumOut = -1;
    if (flags & 64) {
        session.probe = (flags & 128) ? QByteArrayLiteral("LOCAL_CONN") : QByteArrayLiteral("LANVesk");
        session.probeAnswer = (flags & 128) ? QByteArrayLiteral("OK") : QByteArrayLiteral("CONNECT");
    }
    session.passcode = QString::fromLatin1(input.chunk());
    session.linkKey = fuzzsupport::linkKey();
    const QByteArray raw = input.rest();

    const clsNetwork::Datagram d = clsNetwork::DecodeDatagram(raw, session);
    FUZZ_CHECK(!d.encryptionOff || (session.encryption && session.linkKeyMode == 0));
    FUZZ_CHECK(!d.decrypted || d.decoded);
    if (d.dropped)
        return 0;
    FUZZ_CHECK(d.plain.size() >= 2);
    FUZZ_CHECK(d.payload.size() == d.plain.size() - 1);
    FUZZ_CHECK(!session.connected || d.sequence == session.seqNumOut);
    // Before the link is up only the probe's own answer, or a net-ring, gets through, and only the
    // probe's answer may turn encryption off.
    if (!session.connected) {
        if (session.probe.isEmpty()) {
            FUZZ_CHECK(d.payload.contains("LANVesk") && !d.encryptionOff);
        } else {
            FUZZ_CHECK(session.seqNumOut >= 0 && d.sequence == (session.seqNumOut & 0xFF));
            FUZZ_CHECK(d.payload.contains(session.probeAnswer) && !d.payload.contains("LANVesk"));
        }
    }
    // The sequence XOR is its own inverse.
    QByteArray again = d.payload;
    if (session.sequenceNumbers)
        clsNetwork::Encrypt(again, clsNetwork::SequenceKey(session.passcode, d.sequence));
    FUZZ_CHECK(again == d.plain.mid(1));

    const std::int32_t check = clsNetwork::CheckAnswer(d.payload);
    FUZZ_CHECK(check == 0 || check == ErrorCode::BadChecksum || check == ErrorCode::PanelNak
               || check == ErrorCode::CallbackRequested);
    if (check != ErrorCode::BadChecksum)
        FUZZ_CHECK(d.payload.size() >= 4 && static_cast<std::uint8_t>(d.payload.at(1)) + 2 == d.payload.size());
    return 0;
}
