// The reference host's files and inputs: the panel data store keeps every block where the item map
// puts it (checked against the simulator's own map), its file is taken whole or refused, settings
// mistakes name their key, --jobs words make the job mask, history blocks decode into records.
#include <gtest/gtest.h>

#include "FileHostSettings.h"
#include "HistoryRecords.h"
#include "HostSession.h"
#include "ItemMap.h"
#include "PanelDataStore.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <functional>

#include <sys/stat.h>

namespace {

std::string str(const QString &text)
{
    return text.toStdString();
}

TEST(PanelDataStore, EveryBlockLiesWhereTheItemMapPutsItAndTheFileKeepsIt)
{
    for (const int panelType : {1, 50}) {
        SCOPED_TRACE(panelType);
        PanelDataStore store(panelType);
        const panelsim::ItemMap map(panelType);
        // Each block written at the location the component asks for, with a byte of its own: none
        // may overwrite another, and each lands at the offset the simulator's map gives it.
        for (int b = 0; b < map.blocks().size(); ++b) {
            const panelsim::ItemBlock &block = map.blocks()[b];
            store.write(QByteArray(block.length, char(b)), store.locate(qint16(block.item), block.start));
        }
        for (int item = 0; item < PanelDataStore::ItemCount; ++item) {
            ASSERT_EQ(store.item(item).size(), map.itemSize(item)) << item;
            const std::shared_ptr<HostPifItem> record = store.Item(QString::number(item));
            EXPECT_EQ(record->SISize() * record->NofSubItems(), map.itemSize(item)) << item;
        }
        for (int b = 0; b < map.blocks().size(); ++b) {
            const panelsim::ItemBlock &block = map.blocks()[b];
            EXPECT_EQ(store.item(block.item).mid(block.offset, block.length), QByteArray(block.length, char(b)))
                << block.item << ":" << block.start;
        }
        PanelDataStore copy;
        QString why;
        ASSERT_TRUE(copy.fromBytes(store.toBytes(), &why)) << str(why);
        EXPECT_EQ(copy.panelType(), panelType);
        for (int item = 0; item < PanelDataStore::ItemCount; ++item)
            EXPECT_EQ(copy.item(item), store.item(item)) << item;
    }
}

TEST(PanelDataStore, ADamagedFileIsRefusedWholeAndSaysWhy)
{
    PanelDataStore source;
    ASSERT_TRUE(source.setBytes(5, 10, QByteArrayLiteral("\x01\x02\x03"), nullptr));
    const QByteArray good = source.toBytes();
    struct Case
    {
        const char *what;
        std::function<void(QByteArray &)> damage;
        const char *says;
    };
    const Case cases[] = {
        {"magic", [](QByteArray &b) { b[0] = 'X'; }, "not a panel data file"},
        {"newer version", [](QByteArray &b) { b[5] = 2; }, "version 2"},
        {"other panel type", [](QByteArray &b) { b[7] = 50; }, "does not match the item map"},
        {"cut short", [](QByteArray &b) { b.chop(1); }, "ends inside"},
        {"byte changed", [](QByteArray &b) { b[b.size() - 1] = char(b.at(b.size() - 1) ^ 1); }, "damaged"},
        {"bytes after the end", [](QByteArray &b) { b.append('x'); }, "after the last item"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray bad = good;
        c.damage(bad);
        PanelDataStore store;
        ASSERT_TRUE(store.setBytes(0, 0, QByteArrayLiteral("\x7f"), nullptr));
        const QByteArray before = store.toBytes();
        QString why;
        EXPECT_FALSE(store.fromBytes(bad, &why));
        EXPECT_TRUE(why.contains(QLatin1String(c.says))) << str(why);
        EXPECT_EQ(store.toBytes(), before);
    }
}

TEST(PanelDataStore, ReceivedDataAreWrittenWholePrivateAndOnlyWhenTheyCanBe)
{
    QTemporaryDir dir;
    const QString dataFile = dir.filePath(QStringLiteral("new/folder/panel.qpd"));
    const QString transferFile = dir.filePath(QStringLiteral("tamsel/tempdat.000"));
    PanelDataStore store;
    store.setDataFile(dataFile);
    store.write(QByteArrayLiteral("\x11\x22"), store.locate(0, 0));
    store.takeTransferFile(transferFile);
    EXPECT_FALSE(store.saveFailed()) << str(store.saveError());
    for (const QString &path : {dataFile, transferFile}) {
        EXPECT_EQ(testsupport::readFile(path), store.toBytes()) << str(path);
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << str(path);
    }
    EXPECT_EQ(QDir(QFileInfo(dataFile).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("panel.qpd")});

    // A transfer file that cannot be written: the run is told, and the data file stays as it was.
    QFile blocker(dir.filePath(QStringLiteral("not-a-folder")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QByteArray saved = testsupport::readFile(dataFile);
    store.write(QByteArrayLiteral("\x33"), store.locate(0, 0));
    store.takeTransferFile(dir.filePath(QStringLiteral("not-a-folder/tempdat.000")));
    EXPECT_TRUE(store.saveFailed());
    EXPECT_EQ(testsupport::readFile(dataFile), saved);
}

TEST(FileHostSettings, AMistakeNamesItsKeyAndChangesNothing)
{
    struct Case
    {
        const char *json;
        const char *names;
    };
    for (const Case &c : {Case{R"({"Pascode": "123456"})", "unknown key \"Pascode\""},
                          Case{R"({"LinkKey": "0123456789abcdef0123456789abcde"})", "\"LinkKey\""},
                          Case{R"({"PanelType": 7})", "\"PanelType\""},
                          Case{R"({"Passcode": "1234567"})", "\"Passcode\""},
                          Case{R"({"PanelPort": "http"})", "\"PanelPort\""},
                          Case{R"({"TimeOffsetHours": "soon"})", "\"TimeOffsetHours\""},
                          Case{R"({"AccountName": "../etc/x"})", "\"AccountName\""},
                          Case{R"({"LinkType": "carrier-pigeon"})", "\"LinkType\""},
                          Case{R"({"DataLocks": [{"Value": 70000}]})", "\"DataLocks[0].Value\""},
                          Case{R"({"DataLocks": [{"Value": 1, "Colour": 2}]})", "unknown key \"DataLocks[0].Colour\""},
                          Case{R"({"TimeZone": "Mars/Olympus_Mons"})", "\"TimeZone\""},
                          Case{R"({"TimeZone": "Europe/Berlin", "TimeOffsetHours": 1})", "\"TimeZone\" and \"TimeOffsetHours\""}}) {
        SCOPED_TRACE(c.json);
        FileHostSettings settings;
        const QJsonObject before = settings.toJson();
        QString why;
        EXPECT_FALSE(settings.fromJson(QJsonDocument::fromJson(c.json).object(), &why));
        EXPECT_TRUE(why.contains(QLatin1String(c.names))) << str(why);
        EXPECT_EQ(settings.toJson(), before);
    }
    FileHostSettings settings;
    QString why;
    ASSERT_TRUE(settings.fromJson(QJsonDocument::fromJson(R"({"PanelPort": 3002, "TimeOffsetHours": -2, "PanelType": 50,
        "DataLocks": [{"Value": 4660, "Name": "Office", "Number": 1, "Key": "PRIMARY"}]})").object(), &why)) << str(why);
    EXPECT_EQ(settings.PanelPort(), QStringLiteral("3002"));
    EXPECT_EQ(settings.TimeOffsetHours(), -2);
    EXPECT_EQ(settings.linkType(), QStringLiteral("network"));
    ASSERT_TRUE(settings.dataLockByKey(QStringLiteral("PRIMARY")));
    EXPECT_EQ(settings.dataLockByKey(QStringLiteral("PRIMARY"))->Value(), 4660);
}

TEST(JobWords, MakeTheMaskAndNameWhatIsPassedOver)
{
    struct Case
    {
        const char *words;
        int mask; // -1: refused
        int notes;
    };
    for (const Case &c : {Case{"none", 0, 0}, Case{"clock", 1, 0}, Case{"clock,history-current,set-pointer,receive", 23, 0},
                          Case{"history-all,history-current,set-pointer", 14, 1}, Case{"receive,send", 48, 1},
                          Case{" Clock , SEND ", 33, 0}, Case{"set-pointer", 4, 1}, Case{"clok", -1, 0}, Case{"clock,", -1, 0}}) {
        SCOPED_TRACE(c.words);
        QString why;
        QStringList notes;
        const std::optional<std::int32_t> mask = jobMaskFor(QString::fromLatin1(c.words), &why, &notes);
        EXPECT_EQ(mask.value_or(-1), c.mask);
        EXPECT_EQ(notes.size(), c.notes);
        EXPECT_EQ(why.isEmpty(), c.mask >= 0);
    }
}

// The time-stamp slot as the panel packs it: month in byte 0's high nibble, day across byte 0's
// low nibble and byte 1's top bit, hour in byte 1's bits 6-2, minute across byte 1's low bits and
// byte 2's high nibble.
QByteArray stamp(int month, int day, int hour, int minute)
{
    QByteArray s(4, '\0');
    s[0] = char((month << 4) | (day >> 1));
    s[1] = char(((day & 1) << 7) | (hour << 2) | (minute >> 4));
    s[2] = char((minute & 0x0F) << 4);
    return s;
}

TEST(HistoryRecords, EventsModifiersAndInvalidSlotsDecode)
{
    const QByteArray block = QByteArrayLiteral("\x10\x20\x00\x00") + stamp(12, 31, 23, 59)   // event
                             + QByteArrayLiteral("\x01\x40\x00\x00")                          // invalid alone
                             + QByteArrayLiteral("\x05\x01\x02\x03") + stamp(1, 1, 0, 0)     // event with
                             + QByteArrayLiteral("\xF1\x22\x00\x00")                          // its modifier
                             + QByteArrayLiteral("\x06\x01\x00\x00") + stamp(13, 1, 0, 0);    // bad time stamp
    const QList<QJsonObject> records = history::decodeBlock(block, 40);
    ASSERT_EQ(records.size(), 5);
    const auto text = [](const QJsonObject &o) { return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)).toStdString(); };
    EXPECT_EQ(text(records[0]), R"({"day":31,"event":"10200000","hour":23,"minute":59,"modifier":null,"month":12,"slot":40,"valid":true})");
    EXPECT_EQ(text(records[1]), R"({"event":"01400000","slot":42,"valid":false})");
    EXPECT_EQ(text(records[2]), R"({"day":1,"event":"05010203","hour":0,"minute":0,"modifier":"f1220000","month":1,"slot":43,"valid":true})");
    EXPECT_EQ(text(records[3]), R"({"event":"06010000","slot":46,"valid":false})");
    EXPECT_FALSE(records[4].value(QStringLiteral("valid")).toBool());
}

} // namespace
