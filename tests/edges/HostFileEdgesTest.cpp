// The reference host's files at their edges: the panel data file's 16-bit fields read high byte
// first, a one-bit change in either byte of any item's CRC, a byte too many or too few; writes and
// record locations up to the last byte of an item; every numeric setting at its bounds and one
// past them; and history records whose fields are the simulator's unpacking of the time stamp.
#include <gtest/gtest.h>

#include "EventLog.h"
#include "FileHostSettings.h"
#include "HistoryRecords.h"
#include "ItemMap.h"
#include "PanelDataStore.h"

#include "support/Bytes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

namespace {

using testsupport::pattern;

// A store of the given type with every item filled with its own pattern.
PanelDataStore filledStore(qint32 type)
{
    PanelDataStore store(type);
    const panelsim::ItemMap map(type);
    for (int item = 0; item < panelsim::ItemMap::ItemCount; ++item)
        EXPECT_TRUE(store.setBytes(item, 0, pattern(map.itemSize(item), static_cast<quint32>(item) * 3 + 1), nullptr));
    return store;
}

constexpr int kHeader = 12;
constexpr int kEntry = 12;

} // namespace

TEST(DataFileEdges, FieldsAreHighByteFirstAndEveryCrcBitCounts)
{
    for (const qint32 type : {1, 6, 37, 39, 49, 51}) {
        SCOPED_TRACE(type);
        const PanelDataStore store = filledStore(type);
        const QByteArray file = store.toBytes();
        // Version 1, the panel type and 19 items, each a 16-bit word high byte first.
        EXPECT_EQ(file.mid(0, 10).toHex(), (QByteArray("QVPD") + QByteArray::fromHex("0001") + QByteArray(1, '\0')
                                            + QByteArray(1, static_cast<char>(type)) + QByteArray::fromHex("0013")).toHex());
        const panelsim::ItemMap map(type);
        for (int item = 0; item < panelsim::ItemMap::ItemCount; ++item) {
            const qsizetype entry = kHeader + item * kEntry;
            EXPECT_EQ(static_cast<quint8>(file.at(entry + 1)), item);
            const quint32 size = (quint32(quint8(file.at(entry + 8))) << 24) | (quint32(quint8(file.at(entry + 9))) << 16)
                                 | (quint32(quint8(file.at(entry + 10))) << 8) | quint8(file.at(entry + 11));
            EXPECT_EQ(size, static_cast<quint32>(map.itemSize(item))) << item;
        }
        PanelDataStore back(1);
        QString why;
        ASSERT_TRUE(back.fromBytes(file, &why)) << why.toStdString();
        EXPECT_EQ(back.toBytes(), file);

        // The type written low byte first is another (unknown) type.
        QByteArray swapped = file;
        std::swap(swapped[6], swapped[7]);
        EXPECT_FALSE(PanelDataStore(1).fromBytes(swapped, nullptr));
        // One bit off in either byte of any item's CRC: the whole file is refused.
        for (int item = 0; item < panelsim::ItemMap::ItemCount; ++item) {
            for (const int at : {6, 7}) {
                for (const int bit : {0, 7}) {
                    QByteArray bad = file;
                    const qsizetype index = kHeader + item * kEntry + at;
                    bad[index] = static_cast<char>(static_cast<quint8>(bad.at(index)) ^ (1u << bit));
                    EXPECT_FALSE(PanelDataStore(1).fromBytes(bad, nullptr)) << item << ":" << at << ":" << bit;
                }
            }
        }
        // One byte too many or too few.
        EXPECT_FALSE(PanelDataStore(1).fromBytes(file + QByteArray(1, '\0'), nullptr));
        EXPECT_FALSE(PanelDataStore(1).fromBytes(file.left(file.size() - 1), nullptr));
    }
}

TEST(DataFileEdges, WritesAndLocationsReachTheLastByteOfAnItemAndNoFurther)
{
    PanelDataStore store(1);
    const panelsim::ItemMap map(1);
    for (const int item : {0, 1, 8, 18}) {
        const int size = map.itemSize(item);
        SCOPED_TRACE(item);
        EXPECT_TRUE(store.setBytes(item, size - 1, QByteArray(1, '\x7E'), nullptr));
        EXPECT_FALSE(store.setBytes(item, size - 1, QByteArray(2, '\x7E'), nullptr));
        EXPECT_FALSE(store.setBytes(item, size, QByteArray(1, '\x7E'), nullptr));
        EXPECT_TRUE(store.setBytes(item, 0, QByteArray(size, '\x01'), nullptr));
        EXPECT_FALSE(store.setBytes(item, 0, QByteArray(size + 1, '\x01'), nullptr));
        EXPECT_FALSE(store.setBytes(item, -1, QByteArray(1, '\x01'), nullptr));
        // Records: the start records of the item's blocks are all inside it, the next is not.
        const auto blocks = map.blocks();
        int lastStart = 0;
        int step = 1;
        int count = 0;
        for (const auto &b : blocks) {
            if (b.item != item)
                continue;
            EXPECT_EQ(store.locate(static_cast<qint16>(item), b.start), item * 65536 + b.offset) << b.start;
            lastStart = b.start;
            ++count;
        }
        if (count > 1)
            step = blocks.at(map.findBlock(item, lastStart)).start - blocks.at(map.findBlock(item, lastStart) - 1).start;
        const int records = count > 1 ? lastStart + step : 1;
        EXPECT_GE(store.locate(static_cast<qint16>(item), records - 1), 0);
        EXPECT_EQ(store.locate(static_cast<qint16>(item), records), -1);
        EXPECT_EQ(store.locate(static_cast<qint16>(item), -1), -1);
    }
    EXPECT_FALSE(store.setBytes(19, 0, QByteArray(1, '\0'), nullptr));
    EXPECT_FALSE(store.setBytes(-1, 0, QByteArray(1, '\0'), nullptr));
}

TEST(SettingsFileEdges, EveryBoundIsInsideAndOnePastItIsRefused)
{
    struct Case
    {
        const char *key;
        QJsonValue inside;
        QJsonValue outside;
    };
    const QList<Case> cases{
        {"TimeOffsetHours", -24, -25}, {"TimeOffsetHours", 24, 25},
        {"ResponseTimeout", 1, 0},     {"ResponseTimeout", 255, 256},
        {"LinkKeyMode", 0, -1},        {"LinkKeyMode", 1, 2},
        {"DataBits", 5, 4},            {"DataBits", 8, 9},
        {"StopBits", 1, 0},            {"StopBits", 2, 3},
        {"ComPort", 1, 0},             {"ComPort", 255, 256},
        {"BaudRate", 1, 0},            {"BaudRate", 1000000, 1000001},
        {"ExpectedPanelStatus", 0, -1}, {"ExpectedPanelStatus", 255, 256},
        {"PanelPort", 1, 0},           {"PanelPort", 65535, 65536},
        {"PanelType", 1, 0},           {"PanelType", 6, 7},
        {"PanelType", 37, 36},         {"PanelType", 39, 40},
        {"PanelType", 49, 48},         {"PanelType", 51, 52},
        {"Passcode", QStringLiteral("123456"), QStringLiteral("1234567")},
        {"LinkKey", QString(32, QLatin1Char('k')), QString(33, QLatin1Char('k'))},
        {"LinkKey", QString(), QString(31, QLatin1Char('k'))},
        {"Parity", QStringLiteral("S"), QStringLiteral("NE")},
    };
    for (const Case &c : cases) {
        for (const bool inside : {true, false}) {
            QJsonObject json;
            json.insert(QLatin1String(c.key), inside ? c.inside : c.outside);
            FileHostSettings settings;
            QString why;
            EXPECT_EQ(settings.fromJson(json, &why), inside)
                << QJsonDocument(json).toJson(QJsonDocument::Compact).constData() << ": " << why.toStdString();
            if (!inside)
                EXPECT_TRUE(why.contains(QLatin1String(c.key))) << why.toStdString();
        }
    }
    // Data-lock values: -1 (not set) through 65535.
    for (const auto &[value, ok] : QList<QPair<int, bool>>{{-2, false}, {-1, true}, {0, true}, {65535, true}, {65536, false}}) {
        QJsonObject entry{{QStringLiteral("Value"), value}};
        QJsonObject json{{QStringLiteral("DataLocks"), QJsonArray{entry}}};
        FileHostSettings settings;
        EXPECT_EQ(settings.fromJson(json), ok) << value;
    }
}

TEST(HistoryRecordEdges, FieldsAreTheSimulatorsUnpackingOfEachTimeStamp)
{
    QRandomGenerator random(2026);
    for (int round = 0; round < 4000; ++round) {
        // Mostly valid stamps, with every field at its edges now and then.
        panelsim::EventTime t;
        t.month = 1 + random.bounded(12);
        t.day = round % 7 == 0 ? (round % 2 ? 31 : 1) : 1 + random.bounded(31);
        t.hour = round % 5 == 0 ? 23 : random.bounded(24);
        t.minute = round % 3 == 0 ? 59 : random.bounded(60);
        const QByteArray stamp = panelsim::EventLog::packTimeStamp(t);
        const int mark = random.bounded(256);
        const QByteArray block = QByteArray::fromHex("10200000") + stamp + QByteArray(1, static_cast<char>(mark))
                                 + QByteArray::fromHex("000000") + QByteArray::fromHex("10200000") + stamp;
        const QList<QJsonObject> records = history::decodeBlock(block, 7);
        ASSERT_FALSE(records.isEmpty());
        const QJsonObject r = records.first();
        panelsim::EventTime u;
        ASSERT_TRUE(panelsim::EventLog::unpackTimeStamp(stamp, &u));
        ASSERT_TRUE(r.value(QStringLiteral("valid")).toBool());
        EXPECT_EQ(r.value(QStringLiteral("month")).toInt(), u.month);
        EXPECT_EQ(r.value(QStringLiteral("day")).toInt(), u.day);
        EXPECT_EQ(r.value(QStringLiteral("hour")).toInt(), u.hour);
        EXPECT_EQ(r.value(QStringLiteral("minute")).toInt(), u.minute);
        // A slot whose byte 0 is F0 or more after the time stamp is the event's modifier.
        EXPECT_EQ(r.value(QStringLiteral("modifier")).isString(), mark >= 0xF0) << mark;
        ASSERT_EQ(records.size(), mark >= 0xF0 ? 2 : 3) << mark;
    }
}

TEST(DataFileEdges, ThePasscodeIsTheFirstThreeBytesOfItem3InHex)
{
    for (const auto &[bytes, passcode] : QList<QPair<QByteArray, const char *>>{
             {QByteArray::fromHex("12ab0f77"), "12AB0F"}, {QByteArray::fromHex("000001ff"), "000001"},
             {QByteArray::fromHex("ffffff00"), "FFFFFF"}, {QByteArray::fromHex("98765400"), "987654"}}) {
        PanelDataStore store(1);
        ASSERT_TRUE(store.setBytes(3, 0, bytes, nullptr));
        EXPECT_EQ(store.Passcode().toStdString(), passcode);
    }
}
