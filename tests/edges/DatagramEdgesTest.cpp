// Datagrams and their envelopes at the edges: the sequence key for every sequence byte against the
// simulator's codec, the sequence byte one either side of the one sent, every single-bit corruption
// of a checksum or length byte, the encrypted envelope's length rule and its length bytes in both
// orders, and the serial envelope's lengths at 0, 1, 255 and 256.
#include <gtest/gtest.h>

#include "DatagramCodec.h"
#include "LinkEnvelope.h"
#include "PanelFrame.h"
#include "SerialEnvelope.h"
#include "core/ErrorCodes.h"
#include "link/modEncryption.h"
#include "transports/DatagramTransport.h"
#include "transports/EnhancedEnvelope.h"

#include "support/Bytes.h"

#include <QRandomGenerator>

using panelsim::Addressing;
using panelsim::DatagramCodec;
using panelsim::PanelFrame;

namespace {

QByteArray flipped(QByteArray bytes, qsizetype index, int bit)
{
    bytes[index] = static_cast<char>(static_cast<std::uint8_t>(bytes.at(index)) ^ (1u << bit));
    return bytes;
}

using testsupport::pattern;

const QString kKey = QStringLiteral("0123456789abcdefghijklmnopqrstuv");

} // namespace

TEST(DatagramEdges, SequenceKeyOfEverySequenceByteIsTheSimulators)
{
    const QStringList passcodes{QStringLiteral("123456"), QStringLiteral("1234ff"), QStringLiteral("12ab9F"),
                                QStringLiteral("1234fg"), QStringLiteral("12345g"), QStringLiteral("99"),
                                QStringLiteral("7"), QString(), QStringLiteral("0080")};
    for (const QString &passcode : passcodes)
        for (int sequence = 0; sequence < 256; ++sequence)
            ASSERT_EQ(DatagramTransport::SequenceKey(passcode, static_cast<std::uint8_t>(sequence)),
                      DatagramCodec::sequenceKey(passcode, static_cast<quint8>(sequence)))
                << passcode.toStdString() << " sequence " << sequence;
}

TEST(DatagramEdges, TheSequenceByteMustBeTheOneSentOnlyOnceConnected)
{
    const QString passcode = QStringLiteral("12ab9F");
    const QByteArray frame = PanelFrame::answer(Addressing::Remote, 20, QByteArray::fromHex("01020304"));
    for (const int sent : {1, 2, 128, 254, 255}) {
        for (const int delta : {-1, 0, 1}) {
            const int got = (sent + delta) & 0xFF;
            const QByteArray datagram = DatagramCodec::encode(static_cast<quint8>(got), frame, passcode, true);
            for (const bool connected : {false, true}) {
                const auto d = DatagramTransport::DecodePayload(datagram, connected, static_cast<std::int16_t>(sent), true, passcode);
                const bool dropped = connected && delta != 0;
                EXPECT_EQ(d.dropped, dropped) << "sent " << sent << " got " << got << " connected " << connected;
                if (!dropped) {
                    EXPECT_EQ(d.sequence, got);
                    EXPECT_EQ(d.bytes.toHex(), frame.toHex());
                }
            }
        }
    }
    // Without sequence numbers the payload travels as it is.
    const auto clear = DatagramTransport::DecodePayload(DatagramCodec::encode(9, frame, passcode, false), true, 9, false, passcode);
    EXPECT_EQ(clear.bytes, frame);
    // Nothing after the sequence byte answers nothing; one byte is the smallest payload.
    EXPECT_TRUE(DatagramTransport::DecodePayload({}, false, 0, false, passcode).dropped);
    EXPECT_TRUE(DatagramTransport::DecodePayload(QByteArray(1, '\x05'), false, 5, false, passcode).dropped);
    EXPECT_FALSE(DatagramTransport::DecodePayload(QByteArray::fromHex("0541"), false, 5, false, passcode).dropped);
}

TEST(DatagramEdges, AnswerCheckAtEveryEdgeOfTheFrame)
{
    const QList<QPair<int, QByteArray>> answers{{20, QByteArray::fromHex("0103070000")}, {15, pattern(100, 7)},
                                                {14, {}}, {18, QByteArray::fromHex("ffffe0") + pattern(38, 3)},
                                                {2, QByteArray(1, '\x0E')}, {3, QByteArray::fromHex("0800")}};
    for (const auto &[command, data] : answers) {
        const QByteArray good = PanelFrame::answer(Addressing::Remote, static_cast<quint8>(command), data);
        SCOPED_TRACE(good.toHex().constData());
        ASSERT_EQ(DatagramTransport::CheckAnswer(good), 0);
        for (int bit = 0; bit < 8; ++bit) {
            EXPECT_EQ(DatagramTransport::CheckAnswer(flipped(good, good.size() - 1, bit)), ErrorCode::BadChecksum) << "checksum bit " << bit;
            EXPECT_EQ(DatagramTransport::CheckAnswer(flipped(good, 1, bit)), ErrorCode::BadChecksum) << "length bit " << bit;
        }
        // One byte more or less than the length byte says, even with a sum that fits.
        QByteArray longer = good;
        longer.insert(good.size() - 1, '\0');
        EXPECT_EQ(DatagramTransport::CheckAnswer(longer), ErrorCode::BadChecksum);
        QByteArray shorter = good;
        shorter.remove(good.size() - 2, 1);
        shorter[shorter.size() - 1] = static_cast<char>(0x7F - (PanelFrame::sum(shorter.left(shorter.size() - 1))));
        ASSERT_EQ(PanelFrame::sum(shorter), 0x7F);
        EXPECT_EQ(DatagramTransport::CheckAnswer(shorter), ErrorCode::BadChecksum);
        // The answer target of the other direction is not this one's.
        QByteArray otherTarget = good;
        otherTarget[good.size() - 1] = static_cast<char>(static_cast<std::uint8_t>(good.back()) + 0x80);
        EXPECT_EQ(DatagramTransport::CheckAnswer(otherTarget), ErrorCode::BadChecksum);
    }
    // Three bytes summing to 7F carry no command byte: no answer.
    EXPECT_EQ(DatagramTransport::CheckAnswer(QByteArray::fromHex("00017e")), ErrorCode::BadChecksum);
    EXPECT_EQ(DatagramTransport::CheckAnswer(QByteArray::fromHex("7f")), ErrorCode::BadChecksum);

    struct Shape
    {
        int command;
        QByteArray data;
        std::int32_t expected;
    };
    const QList<Shape> shapes{
        {2, {}, ErrorCode::PanelNak},
        {3, {}, 0},
        {2, QByteArray(1, '\0'), 0},        // a refusal
        {2, QByteArray::fromHex("0000"), 0},
        {3, QByteArray(1, '\x08'), ErrorCode::CallbackRequested},
        {3, QByteArray(1, '\xF8'), ErrorCode::CallbackRequested},
        {3, QByteArray::fromHex("0800"), 0}, // length 4
        {4, QByteArray(1, '\x08'), 0},
    };
    for (const Shape &s : shapes) {
        const QByteArray frame = PanelFrame::answer(Addressing::Remote, static_cast<quint8>(s.command), s.data);
        EXPECT_EQ(DatagramTransport::CheckAnswer(frame), s.expected) << frame.toHex().constData();
    }
    for (int bit = 0; bit < 8; ++bit) {
        const QByteArray frame = PanelFrame::answer(Addressing::Remote, 3, QByteArray(1, static_cast<char>(1u << bit)));
        EXPECT_EQ(DatagramTransport::CheckAnswer(frame), bit == 3 ? ErrorCode::CallbackRequested : 0) << bit;
    }
}

TEST(EnvelopeEdges, LengthRuleSizesAndTheLengthBytes)
{
    for (int length = 0; length <= 70; ++length)
        EXPECT_EQ(modEncryption::isEnvelopeLength(length), panelsim::LinkEnvelope::hasEnvelopeLength(length)) << length;

    const QByteArray vector = pattern(16, 99);
    for (const int n : {0, 1, 15, 16, 17, 31, 32, 33, 255, 256, 258, 1023, 1024, 1025, 1040, 2049}) {
        SCOPED_TRACE(n);
        const QByteArray plain = pattern(n, static_cast<quint32>(n) + 1);
        // The simulator's envelope opens here, and this side's opens there.
        const QByteArray theirs = panelsim::LinkEnvelope::encrypt(plain, kKey, vector);
        ASSERT_EQ(theirs.size(), 18 + (n + 15) / 16 * 16);
        EXPECT_EQ(modEncryption::DecryptData(theirs, kKey), plain);
        const QByteArray ours = modEncryption::EncryptData(plain, kKey);
        EXPECT_EQ(ours.size(), theirs.size());
        EXPECT_EQ(static_cast<std::uint8_t>(ours.at(16)) * 256 + static_cast<std::uint8_t>(ours.at(17)), n);
        bool ok = false;
        EXPECT_EQ(panelsim::LinkEnvelope::decrypt(ours, kKey, &ok), plain);
        EXPECT_TRUE(ok);
        // A header that claims one byte more than the cipher text carries opens to nothing; one
        // that claims the last byte of it opens to that many bytes.
        const int carried = static_cast<int>(theirs.size()) - 18;
        QByteArray claim = theirs;
        claim[16] = static_cast<char>(((carried + 1) >> 8) & 0xFF);
        claim[17] = static_cast<char>((carried + 1) & 0xFF);
        EXPECT_TRUE(modEncryption::DecryptData(claim, kKey).isEmpty());
        claim[16] = static_cast<char>((carried >> 8) & 0xFF);
        claim[17] = static_cast<char>(carried & 0xFF);
        EXPECT_EQ(modEncryption::DecryptData(claim, kKey).size(), carried);
    }
    // A length off the 18 + 16k rule by one either way opens to nothing.
    const QByteArray envelope = panelsim::LinkEnvelope::encrypt(pattern(20, 5), kKey, vector);
    EXPECT_TRUE(modEncryption::DecryptData(envelope.left(envelope.size() - 1), kKey).isEmpty());
    EXPECT_TRUE(modEncryption::DecryptData(envelope + QByteArray(1, '\0'), kKey).isEmpty());
}

TEST(EnvelopeEdges, SerialEnvelopeLengthsAndHeaderBytes)
{
    for (const int n : {0, 1, 2, 10, 254, 255, 256, 300}) {
        const QByteArray datagram = pattern(n, static_cast<quint32>(n) + 11);
        const QByteArray ours = EnhancedEnvelope::wrap(datagram);
        EXPECT_EQ(ours.toHex(), panelsim::SerialEnvelope::wrap(datagram).toHex()) << n;
        if (n >= 1 && n <= 255) {
            const EnhancedEnvelope::Decoded d = EnhancedEnvelope::decode(panelsim::SerialEnvelope::wrap(datagram));
            EXPECT_TRUE(d.complete);
            EXPECT_EQ(d.result, 0);
            EXPECT_EQ(d.consumed, 7 + n);
            EXPECT_EQ(d.datagram, datagram);
        }
    }
    // The announced length, high byte first: 0 and anything above 255 are refused before a body byte.
    struct Header
    {
        int high;
        int low;
        std::int32_t result;
    };
    const QList<Header> headers{{0, 0, ErrorCode::PanelNak},  {0, 1, 0},
                                {0, 255, 0},                  {1, 0, ErrorCode::EnhancedLengthTooLong},
                                {1, 44, ErrorCode::EnhancedLengthTooLong}, {5, 0, ErrorCode::EnhancedLengthTooLong},
                                {0, 5, 0},                    {0x80, 0, ErrorCode::EnhancedLengthTooLong}};
    for (const Header &h : headers) {
        QByteArray header = QByteArray::fromHex("02ffffffff");
        header.append(static_cast<char>(h.high));
        header.append(static_cast<char>(h.low));
        int length = -1;
        EXPECT_EQ(EnhancedEnvelope::checkHeader(header, length), h.result) << h.high << "," << h.low;
        EXPECT_EQ(length, h.result == 0 ? h.low : 0);
    }
    // Any single bit off in the marker byte is no envelope.
    const QByteArray good = EnhancedEnvelope::wrap(QByteArray::fromHex("0a00095014"));
    for (int bit = 0; bit < 8; ++bit) {
        int length = 0;
        EXPECT_EQ(EnhancedEnvelope::checkHeader(flipped(good, 0, bit).left(7), length), ErrorCode::PanelNak) << bit;
        // A bit off in the high length byte announces more than 255 bytes.
        EXPECT_EQ(EnhancedEnvelope::checkHeader(flipped(good, 5, bit).left(7), length), ErrorCode::EnhancedLengthTooLong) << bit;
    }
}
