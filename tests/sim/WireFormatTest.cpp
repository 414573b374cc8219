// The simulator's codecs against the worked examples of the wire formats, byte for byte.
#include "SimClient.h"

#include "Crc16Arc.h"
#include "EventLog.h"
#include "ItemMap.h"
#include "PanelFrame.h"
#include "SerialEnvelope.h"
#include "TwofishCbc.h"

using namespace panelsim;
using simtest::hex;

TEST(PanelsimWireFormat, FramesCarryAddressAndChecksumPerDirectionAndAddressing)
{
    EXPECT_EQ(PanelFrame::nak(Addressing::Local), hex("64020297"));
    EXPECT_EQ(PanelFrame::sum(hex("64020297")), 0xFF);
    // Remote answers sum to 7F, remote requests to FF, local requests to 7F.
    EXPECT_EQ(PanelFrame::nak(Addressing::Remote), hex("0002027B"));
    EXPECT_EQ(PanelFrame::request(Addressing::Local, 40, hex("0510")), hex("E4042805105A"));
    EXPECT_EQ(PanelFrame::sum(PanelFrame::request(Addressing::Remote, 15, hex("0810"))), 0xFF);
    EXPECT_EQ(PanelFrame::callbackRequest(Addressing::Remote), hex("0003030871"));
    // A refusal has a data byte, so it can never read as a NAK.
    const QByteArray refused = PanelFrame::refusal(Addressing::Local, 32);
    EXPECT_EQ(refused.left(3), hex("640302"));
    EXPECT_EQ(PanelFrame::sum(refused), 0xFF);
}

TEST(PanelsimWireFormat, Crc16ArcAndTheTwofishVector)
{
    EXPECT_EQ(crc16Arc("abc"), 0x9738);
    EXPECT_EQ(crc16Arc("123456789"), 0xBB3D);
    EXPECT_EQ(crc16Arc(QByteArray(1, '\x01')), 0xC0C1);
    EXPECT_EQ(TwofishCbc::encryptBlockEcb(QByteArray(32, '\0'), QByteArray(16, '\0')).toHex().toUpper(),
              QByteArray("57FF739D4DC92C1BD7FC01700CC8216F"));
}

TEST(PanelsimWireFormat, EnvelopeSizesHeaderRoundTripAndChainedPieces)
{
    const QString key = QStringLiteral("0123456789abcdef0123456789ABCDEF");
    const QByteArray vector = hex("000102030405060708090A0B0C0D0E0F");
    for (const auto &[n, size] : {std::pair{10, 34}, {16, 34}, {1025, 18 + 1024 + 16}, {0, 18}}) {
        SCOPED_TRACE(n);
        QByteArray plain(n, '\0');
        for (int i = 0; i < n; ++i)
            plain[i] = static_cast<char>(i * 7 + 3);
        const QByteArray env = LinkEnvelope::encrypt(plain, key, vector);
        ASSERT_EQ(env.size(), size);
        EXPECT_EQ(env.left(16), vector);
        EXPECT_EQ(simtest::word(env, 16), n);
        bool ok = false;
        EXPECT_EQ(LinkEnvelope::decrypt(env, key, &ok), plain);
        EXPECT_TRUE(ok);
        EXPECT_EQ(LinkEnvelope::decrypt(env, QStringLiteral("another key"), &ok) == plain, n == 0);
    }
    bool ok = true;
    EXPECT_TRUE(LinkEnvelope::decrypt(QByteArray(20, 'x'), key, &ok).isEmpty());
    EXPECT_FALSE(ok);

    // Two 1024-byte pieces: the second continues from the first piece's last cipher block. A short
    // key is padded with blanks.
    QByteArray plain(2048, '\0');
    for (int i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<char>(i & 0xFF);
    EXPECT_EQ(LinkEnvelope::keyBytes(QStringLiteral("k")), QByteArray("k") + QByteArray(31, ' '));
    TwofishCbc whole(LinkEnvelope::keyBytes(QStringLiteral("k")), vector);
    EXPECT_EQ(LinkEnvelope::encrypt(plain, QStringLiteral("k"), vector).mid(18), whole.encrypt(plain));
}

TEST(PanelsimWireFormat, SerialEnvelopeWrapsAndReadsDatagrams)
{
    const QByteArray datagram = QByteArray(1, '\x07') + QByteArray(10, '\x11');
    const QByteArray good = SerialEnvelope::wrap(datagram);
    EXPECT_EQ(good.left(7), hex("02FFFFFFFF000B"));
    EXPECT_TRUE(SerialEnvelope::wrap(QByteArray(256, 'x')).isEmpty());
    // Noise, a header announcing 300 bytes (rejected), then a good envelope split across reads.
    SerialEnvelope reader;
    reader.feed(hex("1234 02FFFFFFFF012C") + good.left(4));
    EXPECT_FALSE(reader.next().has_value());
    reader.feed(good.mid(4));
    EXPECT_EQ(reader.next().value_or(QByteArray()), datagram);
    EXPECT_EQ(reader.rejectedHeaders(), 1);
}

TEST(PanelsimWireFormat, TimeStampPackingAndTheGeneratedEventLog)
{
    EXPECT_EQ(EventLog::packTimeStamp({12, 31, 23, 59}), hex("CFDFB000"));
    EXPECT_EQ(EventLog::packTimeStamp({1, 2, 3, 4}), hex("110C4000"));
    EventTime t;
    ASSERT_TRUE(EventLog::unpackTimeStamp(hex("CFDFB000"), &t));
    EXPECT_EQ(QList<int>({t.month, t.day, t.hour, t.minute}), QList<int>({12, 31, 23, 59}));
    EXPECT_FALSE(EventLog::unpackTimeStamp(EventLog::packTimeStamp({13, 1, 0, 0})));
    EXPECT_FALSE(EventLog::unpackTimeStamp(EventLog::packTimeStamp({1, 0, 0, 0})));
    EXPECT_FALSE(EventLog::unpackTimeStamp(hex("11FF0000"))); // hour 31

    // Ten events written from slot 120 of 128, three with modifier slots and one invalid slot: the
    // ring wraps, and slots after the newest event stay empty.
    const EventLog log = EventLog::generate(128, 10, 3, 120, 7, QDateTime(QDate(2024, 3, 9), QTime(14, 30)));
    EXPECT_LT(log.newestIndex(), 120);
    EXPECT_EQ(log.eventCount(), 10);
    int modifiers = 0, invalid = 0;
    for (int i = 120, n = 0; n < 10; ++n, i += 2) {
        for (; !EventLog::isValidMainSlot(log.slot(i)); ++i)
            ++invalid;
        ASSERT_TRUE(EventLog::unpackTimeStamp(log.slot(i + 1))) << i;
        if (static_cast<quint8>(log.slot(i + 2)[0]) >= 0xF0)
            ++modifiers, ++i;
    }
    EXPECT_EQ(modifiers, 3);
    EXPECT_EQ(invalid, 1);
    // The newest index is the slot after the newest event (its time stamp, no modifier, ends there).
    EXPECT_EQ(log.newestIndex(), log.writeIndex());
    EventLog::unpackTimeStamp(log.slot(log.newestIndex() - 1), &t);
    EXPECT_EQ(t.hour, 14);
    EXPECT_EQ(log.slot(log.writeIndex()), QByteArray(4, '\0'));
    EXPECT_EQ(log.readSlots(127, 2), log.slot(127) + log.slot(0));
}

TEST(PanelsimWireFormat, ItemMapPasscodeBytesAndSequenceKey)
{
    const ItemMap standard(1), wide(50);
    EXPECT_EQ(standard.blocks().size(), ItemMap::BlockCount);
    EXPECT_EQ(standard.blocks()[1].length, 75);
    EXPECT_EQ(wide.blocks()[1].length, 78);
    EXPECT_EQ(standard.blockCountOf(8), 31);
    EXPECT_EQ(standard.blocks()[49].start, 240);
    EXPECT_EQ(wide.itemSize(1), 624);
    EXPECT_EQ(standard.findBlock(13, 5), 61);
    EXPECT_EQ(standard.findBlock(13, 6), -1);

    EXPECT_EQ(DatagramCodec::passcodeBytes("123456"), hex("1234560000"));
    EXPECT_EQ(DatagramCodec::passcodeBytes("12ZZ5G"), hex("1200050000"));
    EXPECT_EQ(DatagramCodec::sequenceKey("1234AB", 0x10), 0xBB);
    EXPECT_EQ(DatagramCodec::sequenceKey("123456", 0xAA), 0x00); // 0x56 + 0xAA = 256
    const QByteArray d = DatagramCodec::encode(0x21, "LANVesk", "123456", true);
    EXPECT_EQ(d.left(2), QByteArray("\x21") + char('L' ^ 0x77));
    quint8 seq = 0;
    QByteArray payload;
    ASSERT_TRUE(DatagramCodec::decode(d, "123456", true, &seq, &payload));
    EXPECT_EQ(payload, "LANVesk");
}
