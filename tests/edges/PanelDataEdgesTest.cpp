// What the component reads out of panel answers, at the edges: item CRCs against the simulator's
// CRC-16/ARC, a one-bit change in either byte of each item's CRC, the data-lock codes with their
// top bit set, the revision digits, every 20-bit time stamp against the simulator's unpacking, the
// slot thresholds one either side, the block walk at its last byte, the clock bytes round the
// 12-hour clock, and the item map of every panel family against the simulator's.
#include "link/LinkFixture.h"

#include "Crc16Arc.h"
#include "EventLog.h"
#include "ItemMap.h"
#include "PanelFrame.h"
#include "connection/PanelConnection.h"
#include "core/ErrorCodes.h"
#include "core/modGlobals.h"
#include "link/modChecksums.h"
#include "link/modDatalock.h"
#include "link/modToolbox.h"
#include "operations/HistoryRetrieval.h"
#include "operations/modDateTime.h"

#include "support/Bytes.h"

#include <QCheckBox>
#include <QRandomGenerator>

using namespace linktest;
using panelsim::Addressing;
using panelsim::PanelFrame;

namespace {

using testsupport::pattern;

} // namespace

class CrcEdges : public LinkTest
{
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        for (int item = 0; item <= 18; ++item)
            pif->items[item] = pattern(17 + 13 * item, static_cast<quint32>(item) + 40);
        sessionState().hostPif = pif;
    }
    // The simulator's CRC answer for the host's items: the marker, then each CRC high byte first.
    QByteArray answer(int changedItem = -1, int bit = 0) const
    {
        QByteArray data = QByteArray::fromHex("ffffe0");
        for (int item = 0; item <= 18; ++item) {
            quint16 crc = panelsim::crc16Arc(pif->items.at(item));
            if (item == changedItem)
                crc ^= static_cast<quint16>(1u << bit);
            data.append(static_cast<char>(crc >> 8)).append(static_cast<char>(crc & 0xFF));
        }
        return PanelFrame::answer(Addressing::Remote, 18, data);
    }
    std::shared_ptr<testsupport::PifDouble> pif = std::make_shared<testsupport::PifDouble>();
};

TEST_F(CrcEdges, BuffersAreCrc16Arc)
{
    QList<QByteArray> buffers{QByteArray("abc"), QByteArray(1, '\0'), QByteArray(2, '\0'), QByteArray(1, '\xFF'),
                              QByteArray(300, '\xA5')};
    for (int value = 0; value < 256; ++value)
        buffers << QByteArray(1, static_cast<char>(value)) << QByteArray::fromHex("80") + QByteArray(1, static_cast<char>(value));
    for (int size : {2, 3, 7, 64, 183, 1000})
        buffers << pattern(size, static_cast<quint32>(size));
    for (const QByteArray &b : buffers)
        ASSERT_EQ(modGlobals::CalcBufferCRC_Morx(b), panelsim::crc16Arc(b)) << b.left(8).toHex().constData();
    EXPECT_EQ(modGlobals::CalcBufferCRC_Morx(QByteArray("abc")), 0x9738);
}

TEST_F(CrcEdges, OneBitOffInEitherByteOfAnyItemsCrcMarksThatItemOnly)
{
    QList<bool> changed;
    bool allSame = false;
    ASSERT_EQ(modToolbox::CompareCRC(answer(), changed, allSame), 0);
    EXPECT_TRUE(allSame);
    EXPECT_EQ(changed, QList<bool>(19, false));
    for (int item = 0; item <= 18; ++item) {
        for (const int bit : {0, 7, 8, 15}) {
            ASSERT_EQ(modToolbox::CompareCRC(answer(item, bit), changed, allSame), 0);
            EXPECT_FALSE(allSame) << item << ":" << bit;
            QList<bool> expected(19, false);
            expected[item] = true;
            EXPECT_EQ(changed, expected) << item << ":" << bit;
        }
    }
}

class DatalockEdges : public LinkTest
{
protected:
    // The panel carries a plain code scrambled with 6B52.
    static std::int32_t panelCode(std::int32_t plain) { return plain ^ 0x6B52; }
    void entries(std::int32_t own, const QList<QPair<std::int32_t, std::int32_t>> &others)
    {
        settings->dataLocks.clear();
        settings->dataLocks.push_back(std::make_shared<testsupport::DataLockDouble>(own, 0, QStringLiteral("own"), 1));
        int number = 2;
        for (const auto &[value, type] : others)
            settings->dataLocks.push_back(std::make_shared<testsupport::DataLockDouble>(value, type, QStringLiteral("other"), number++));
        settings->primary = std::make_shared<testsupport::DataLockDouble>(0x0F0F, 0, QStringLiteral("primary"), 99);
    }
};

TEST_F(DatalockEdges, CodesWithTheirTopBitSetAndTheFirstSearchedEntry)
{
    struct Case
    {
        std::int32_t own;
        QList<QPair<std::int32_t, std::int32_t>> others; // value, type
        std::int32_t plain;                              // the panel's plain code
        std::int32_t result;
        bool rewrite;
        std::int32_t number;  // of the chosen entry
        std::int32_t written; // plain code to write, when rewriting
    };
    const QList<Case> cases{
        {0x8001, {}, 0x8001, 0, false, 1, 0},
        {0xFFFF, {}, 0xFFFF, 0, false, 1, 0},
        {0x1234, {}, 0x9234, ErrorCode::DataLockMismatch, false, 0, 0},
        {0x1234, {}, 58213, 0, true, 1, 0x1234},
        {-1, {}, 58213, 0, true, 99, 0x0F0F},
        {0x1234, {{0x8765, 0}}, 0x8765, 0, true, 1, 0x1234},            // entry 2, the first searched
        {0x1234, {{0x1111, 0}, {0x8765, 1}}, 0x8765, 0, true, 1, 0x1234}, // entry 3
        {-1, {{0x8765, 0}}, 0x8765, 0, true, 99, 0x0F0F},
        {-1, {{0x8765, 1}}, 0x8765, 0, false, 2, 0},
        {-1, {{0x8765, 2}}, 0x8765, 0, true, 99, 0x0F0F},
        {-1, {{0x8765, 3}}, 0x8765, 0, false, 2, 0},
        {-1, {{0x8765, 4}}, 0x8765, 0, true, 99, 0x0F0F},
        {-1, {{0x8765, 1}}, 0x8764, ErrorCode::DataLockMismatch, false, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QStringLiteral("own %1 plain %2").arg(c.own).arg(c.plain).toStdString());
        entries(c.own, c.others);
        std::int32_t code = panelCode(c.plain);
        bool rewrite = !c.rewrite;
        std::shared_ptr<HostDataLockEntry> entry;
        ASSERT_EQ(modDatalock::CheckDatalock(code, rewrite, entry), c.result);
        if (c.result != 0)
            continue;
        EXPECT_EQ(rewrite, c.rewrite);
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->Number(), c.number);
        EXPECT_EQ(code, c.rewrite ? panelCode(c.written) : panelCode(c.plain));
    }
}

TEST(StatusEdges, RevisionDigitsAndTheStatusByte)
{
    struct Case
    {
        QByteArray data; // answer bytes 3 ..
        const char *revision;
        int status;
    };
    const QList<Case> cases{
        {QByteArray::fromHex("01030705"), "1.307", 5}, {QByteArray::fromHex("01000700"), "1.07", 0},
        {QByteArray::fromHex("0100000a"), "1.00", 10}, {QByteArray::fromHex("02000aff"), "2.10", 255},
        {QByteArray::fromHex("00010080"), "0.100", 128}, {QByteArray::fromHex("ff0c6301"), "255.1299", 1},
        {QByteArray::fromHex("0a0a0a0a"), "10.1010", 10},
    };
    for (const Case &c : cases) {
        QString revision;
        std::uint8_t status = 0;
        PanelConnection::DecodePanelStatus(PanelFrame::answer(Addressing::Remote, 20, c.data), revision, status);
        EXPECT_EQ(revision.toStdString(), c.revision) << c.data.toHex().constData();
        EXPECT_EQ(status, c.status);
    }
}

TEST(HistoryEdges, EveryTimeStampIsJudgedAsTheSimulatorUnpacksIt)
{
    // All 2^20 patterns of the packed bits; the bits that are not examined vary with them.
    for (quint32 bits = 0; bits < (1u << 20); ++bits) {
        QByteArray slot(4, '\0');
        slot[0] = static_cast<char>(bits >> 12);
        slot[1] = static_cast<char>((bits >> 4) & 0xFF);
        slot[2] = static_cast<char>(((bits & 0x0F) << 4) | (bits % 13));
        slot[3] = static_cast<char>(bits * 7);
        ASSERT_EQ(HistoryRetrieval::IsValidTimeStamp(slot), panelsim::EventLog::unpackTimeStamp(slot)) << slot.toHex().constData();
    }
    // And the edges of each field, packed by the simulator.
    struct Stamp
    {
        int month, day, hour, minute;
        bool valid;
    };
    const QList<Stamp> stamps{{1, 1, 0, 0, true},    {12, 31, 23, 59, true}, {0, 1, 0, 0, false}, {13, 1, 0, 0, false},
                              {1, 0, 0, 0, false},   {1, 30, 0, 0, true},    {1, 16, 0, 0, true}, {1, 17, 0, 0, true},
                              {1, 1, 24, 0, false},  {1, 1, 16, 0, true},    {1, 1, 0, 60, false}, {1, 1, 0, 32, true},
                              {1, 1, 0, 48, true},   {11, 15, 22, 58, true}};
    for (const Stamp &s : stamps) {
        const QByteArray slot = panelsim::EventLog::packTimeStamp({s.month, s.day, s.hour, s.minute});
        EXPECT_EQ(HistoryRetrieval::IsValidTimeStamp(slot), s.valid) << s.month << "/" << s.day << " " << s.hour << ":" << s.minute;
    }
}

TEST(HistoryEdges, MainSlotThresholdsAndTheEmptyAnswer)
{
    for (const int b0 : {0x00, 0x01, 0xEF, 0xF0, 0xF1, 0xFF}) {
        for (const int b1 : {0x00, 0x3F, 0x40, 0x41, 0x80, 0xFF}) {
            const QByteArray slot = QByteArray(1, static_cast<char>(b0)) + QByteArray(1, static_cast<char>(b1)) + QByteArray::fromHex("ffff");
            EXPECT_EQ(HistoryRetrieval::IsValidMainEvent(slot), panelsim::EventLog::isValidMainSlot(slot)) << slot.toHex().constData();
            EXPECT_EQ(HistoryRetrieval::IsValidMainEvent(slot), b0 < 0xF0 && b1 < 0x40);
        }
    }
    // Every byte from index 3 on counts; the three bytes before it do not.
    const QByteArray empty = PanelFrame::answer(Addressing::Remote, 20, QByteArray(12, '\0'));
    QByteArray zeros = empty;
    zeros[zeros.size() - 1] = 0;
    for (int at = 0; at < zeros.size(); ++at) {
        QByteArray one(zeros.size(), '\0');
        one[at] = 1;
        EXPECT_EQ(HistoryRetrieval::IsEmptyHistory(one), at < 3) << at;
    }
}

TEST(HistoryEdges, BlockWalkAtItsLastByteAndThroughModifiers)
{
    const QByteArray stamp = panelsim::EventLog::packTimeStamp({6, 15, 12, 30});
    const QByteArray event = QByteArray::fromHex("11220000") + stamp;
    const auto answer = [](const QByteArray &body) { return QByteArray::fromHex("000020") + body + QByteArray(1, '\x55'); };

    // An event, its time stamp and the first byte of the slot after it must lie before the last
    // byte: one byte less and the block ends there.
    const QByteArray two = answer(event + QByteArray(1, '\0'));
    ASSERT_EQ(two.size(), 13); // last index 12 = base 3 + 9
    auto walk = HistoryRetrieval::WalkBlock(two, 100, 0, false, {});
    EXPECT_EQ(walk.consumed, 2);
    EXPECT_EQ(walk.validEvents, 1);
    walk = HistoryRetrieval::WalkBlock(two.left(12), 100, 0, false, {});
    EXPECT_TRUE(walk.endOfBlock);
    EXPECT_EQ(walk.consumed, 0);

    // The byte after the time stamp decides whether a modifier slot belongs to the event.
    for (const int mark : {0x00, 0xEF, 0xF0, 0xF1, 0xFF}) {
        const QByteArray body = event + QByteArray(1, static_cast<char>(mark)) + QByteArray::fromHex("000000") + QByteArray(16, '\0');
        walk = HistoryRetrieval::WalkBlock(answer(body), 100, 0, false, {});
        EXPECT_EQ(walk.validEvents, 1) << mark;
        EXPECT_EQ(walk.notes.value(0), mark >= 0xF0 ? QStringLiteral("Event with Modifier") : QStringLiteral("Event without Modifier"))
            << mark;
    }

    // Invalid slots go one at a time, 30 to a block at most.
    QByteArray invalid;
    for (int i = 0; i < 40; ++i)
        invalid += QByteArray::fromHex("11400000");
    walk = HistoryRetrieval::WalkBlock(answer(invalid), 1000, 0, false, {});
    EXPECT_EQ(walk.consumed, 30);
    EXPECT_EQ(walk.processedSlots, 30);
    EXPECT_EQ(walk.validEvents, 0);

    // The plan ends exactly at its last slot: one slot short and the walk goes on.
    QByteArray events;
    for (int i = 0; i < 6; ++i)
        events += event;
    walk = HistoryRetrieval::WalkBlock(answer(events + QByteArray(12, '\x01')), 4, 0, false, {});
    EXPECT_EQ(walk.validEvents, 2);
    EXPECT_TRUE(walk.endOfLog);
    walk = HistoryRetrieval::WalkBlock(answer(events + QByteArray(12, '\x01')), 5, 0, false, {});
    EXPECT_EQ(walk.validEvents, 3);
}

TEST(ClockEdges, ClockBytesRoundTheTwelveHourClockAndTheDay)
{
    // The bytes stand for the shifted moment: month, day, two-digit year, 12-hour hour (13 and
    // later less 12), minute, and 1 from noon on.
    const QDate day(2026, 12, 31);
    for (int hour = 0; hour < 24; ++hour) {
        for (const int adjustment : {-24, -13, -1, 0, 1, 12, 24}) {
            const QDateTime now(day, QTime(hour, 7 + hour));
            const modDateTime::PanelClockBytes b = modDateTime::panelClockFor(now, static_cast<std::int16_t>(adjustment));
            const QDateTime shifted = now.addSecs(3600LL * adjustment);
            const int h = shifted.time().hour();
            SCOPED_TRACE(shifted.toString(Qt::ISODate).toStdString());
            EXPECT_EQ(b.month, shifted.date().month());
            EXPECT_EQ(b.day, shifted.date().day());
            EXPECT_EQ(b.year, shifted.date().year() % 100);
            EXPECT_EQ(b.hour, h >= 13 ? h - 12 : h);
            EXPECT_EQ(b.minute, shifted.time().minute());
            EXPECT_EQ(b.amPm, h >= 12 ? 1 : 0);
        }
    }
    // The hour shift on its own, at the day's edges.
    struct Shift
    {
        int hour, adjustment, newHour, carry;
    };
    for (const Shift &s : QList<Shift>{{0, 0, 0, 0}, {23, 1, 0, 1}, {0, -1, 23, -1}, {1, -1, 0, 0}, {22, 3, 1, 1},
                                      {1, -3, 22, -1}, {12, -12, 0, 0}, {12, 12, 0, 1}, {0, -24, 0, -1}, {23, 24, 23, 1}}) {
        std::int16_t newHour = -1;
        EXPECT_EQ(modGlobals::TimeOffset(static_cast<std::int16_t>(s.hour), static_cast<std::int16_t>(s.adjustment), newHour), s.carry)
            << s.hour << "+" << s.adjustment;
        EXPECT_EQ(newHour, s.newHour) << s.hour << "+" << s.adjustment;
    }
}

class ItemMapEdges : public LinkTest
{
};

TEST_F(ItemMapEdges, EveryFamilyBoundaryGivesTheSimulatorsLayout)
{
    for (const int type : {0, 1, 6, 7, 36, 37, 39, 40, 48, 49, 50, 51, 52}) {
        SCOPED_TRACE(type);
        settings->panelType = type;
        QVector<std::int16_t> itemOf, startOf, blockLen, blockCount;
        modToolbox::GetItemMap(itemOf, startOf, blockLen, blockCount);
        const bool known = (type >= 1 && type <= 6) || (type >= 37 && type <= 39) || (type >= 49 && type <= 51);
        ASSERT_EQ(panelsim::ItemMap::isKnownPanelType(type), known);
        const panelsim::ItemMap map(type);
        ASSERT_EQ(itemOf.size(), map.blocks().size());
        EXPECT_EQ(blockLen.size(), known ? map.blocks().size() : 0);
        for (int e = 0; e < map.blocks().size(); ++e) {
            EXPECT_EQ(itemOf.at(e), map.blocks().at(e).item) << e;
            EXPECT_EQ(startOf.at(e), map.blocks().at(e).start) << e;
            if (known) {
                EXPECT_EQ(blockLen.at(e), map.blocks().at(e).length) << e;
            }
        }
        for (int item = 0; item < panelsim::ItemMap::ItemCount; ++item)
            EXPECT_EQ(blockCount.at(item), map.blockCountOf(item)) << item;
    }
}

TEST_F(ItemMapEdges, ABlockAnswerIsStoredOnlyAtItsExactLength)
{
    auto pif = std::make_shared<testsupport::PifDouble>();
    sessionState().hostPif = pif;
    settings->panelType = 1;
    const QByteArray block = pattern(112, 8);
    for (const int size : {111, 112, 113}) {
        pif->items.clear();
        const QByteArray answer = PanelFrame::answer(Addressing::Remote, 15, pattern(size, 8));
        const std::int32_t rc = modToolbox::InsertResponse(answer, 8, 16);
        EXPECT_EQ(rc == 0, size == 112) << size;
        if (size == 112) {
            // Block 8:16 starts at record 16 of 8 bytes each.
            ASSERT_EQ(pif->items.count(8), 1u);
            EXPECT_EQ(pif->items.at(8).mid(16 * testsupport::PifDouble::recordSize(8), 112), block);
        } else {
            EXPECT_TRUE(pif->items.empty()) << size;
        }
    }
    // Every single bit off in the length byte: refused, nothing written.
    const QByteArray good = PanelFrame::answer(Addressing::Remote, 15, block);
    for (int bit = 0; bit < 8; ++bit) {
        pif->items.clear();
        QByteArray bad = good;
        bad[1] = static_cast<char>(static_cast<std::uint8_t>(bad.at(1)) ^ (1u << bit));
        EXPECT_NE(modToolbox::InsertResponse(bad, 8, 16), 0) << bit;
        EXPECT_TRUE(pif->items.empty()) << bit;
    }
}

TEST(EventWordEdges, EachBitOfTheHighByteTicksItsOwnBoxWhateverTheBoxesShowed)
{
    QCheckBox owned[8];
    QList<QCheckBox *> boxes;
    for (QCheckBox &box : owned)
        boxes << &box;
    for (int bit = 0; bit < 16; ++bit) {
        for (const bool before : {false, true}) {
            for (QCheckBox *box : boxes)
                box->setChecked(before);
            modToolbox::UpdatePanelEventForm(boxes, 1 << bit);
            for (int k = 0; k < 8; ++k)
                EXPECT_EQ(boxes[k]->isChecked(), bit >= 8 && k == bit - 8) << "bit " << bit << " box " << k;
        }
    }
}
