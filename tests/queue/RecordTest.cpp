// Message records in named shared memory: the byte layout, the results of Create and Load, the
// field limits, and that another process sees the same record.
#include <gtest/gtest.h>

#include "component/Configuration.h"
#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "platform/Paths.h"
#include "platform/SharedMemory.h"
#include "queue/clsMessage.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QProcess>

#include <sys/stat.h>

namespace {

QString newGuid()
{
    QString g;
    modGlobals::GetGUID(g);
    return g;
}

// The block as bytes, read without clsMessage.
QByteArray rawRecord(const QString &guid)
{
    SharedMemory block;
    QByteArray bytes(int(msgrecord::RecordSize), '\0');
    if (block.open(guid, msgrecord::RecordSize) != 0 || !block.read(0, bytes.data(), msgrecord::RecordSize))
        return {};
    return bytes;
}

QByteArray utf16le(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2); // the host is little-endian
}

int le16(const QByteArray &raw, int offset)
{
    return std::int16_t(quint8(raw[offset]) | (quint8(raw[offset + 1]) << 8));
}

std::int32_t propertyError(const std::function<void()> &f)
{
    try {
        f();
    } catch (const QuarvoError &e) {
        return e.number();
    }
    return 0;
}

class RecordTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSessionState();
        testsupport::freshLogDir();
        modGlobals::InitApplicationVariables();
    }
    void TearDown() override
    {
        for (const QString &g : created)
            SharedMemory::unlink(g);
        resetSessionState();
    }
    // A new record, removed at the end of the test.
    QString create(clsMessage &msg)
    {
        created << newGuid();
        EXPECT_EQ(msg.Create(created.last()), 0);
        return created.last();
    }
    QString errorFile() const { return QString::fromLocal8Bit(testsupport::readFile(Paths::logFile(QStringLiteral("Comm.err")))); }

    QStringList created;
};

} // namespace

TEST_F(RecordTest, FieldsLandAtTheirOffsetsByteForByteInAPrivateBlock)
{
    clsMessage msg;
    const QString guid = create(msg);
    const QString owner = newGuid(), client = newGuid(), next = newGuid(), head = newGuid();
    msg.setName(QStringLiteral("Keep Alive"));
    msg.setPriority(-2);
    msg.setAuto(-1);
    msg.setData(QByteArray::fromHex("e40428ff"));
    msg.setOwnerName(QStringLiteral("frmMsgQueue"));
    msg.setOwnerGUID(owner);
    msg.setClientGUID(client);
    msg.setNextMsgGUID(next);
    msg.setHeadGUID(head);

    const QByteArray raw = rawRecord(guid);
    ASSERT_EQ(raw.size(), 1024);
    EXPECT_EQ(raw.mid(0, 76), utf16le(guid));
    EXPECT_EQ(le16(raw, 76), 20);
    EXPECT_EQ(raw.mid(78, 20), utf16le(QStringLiteral("Keep Alive")));
    EXPECT_EQ(raw.mid(178, 6), QByteArray::fromHex("feffffff0400")); // priority, auto, data length
    EXPECT_EQ(raw.mid(184, 4), QByteArray::fromHex("e40428ff"));
    EXPECT_EQ(le16(raw, 440), 22);
    EXPECT_EQ(raw.mid(442, 22), utf16le(QStringLiteral("frmMsgQueue")));
    EXPECT_EQ(raw.mid(542, 4 * 76), utf16le(owner + client + next + head));
    EXPECT_EQ(raw.mid(846), QByteArray(178, '\0'));

    struct stat st {};
    ASSERT_EQ(stat(("/dev/shm" + SharedMemory::objectName(guid)).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(RecordTest, CreateAndLoadResults)
{
    clsMessage first;
    const QString guid = create(first);
    first.setName(QStringLiteral("Request CRC"));
    // A second Create opens the same block, says so, and leaves it as it was.
    clsMessage second;
    EXPECT_EQ(second.Create(guid), 183);
    EXPECT_EQ(second.Name(), QStringLiteral("Request CRC"));

    // Load of a missing block: reported, returns 0, and the accessor has no block.
    clsMessage missing;
    EXPECT_EQ(missing.Load(newGuid()), 0);
    EXPECT_EQ(propertyError([&] { (void)missing.Name(); }), ErrorCode::TypeMismatch);
    EXPECT_TRUE(errorFile().contains(QStringLiteral("Load()")));

    // A text that is not a GUID: error 160, nothing created.
    clsMessage bad;
    EXPECT_EQ(bad.Create(QStringLiteral("{short}")), 0);
    EXPECT_FALSE(bad.isLoaded());
    EXPECT_TRUE(errorFile().contains(QStringLiteral("Create()")));

    // An unwritten GUID field differs from every real GUID text.
    EXPECT_EQ(first.OwnerGUID(), QString(38, QChar(0)));
}

TEST_F(RecordTest, OversizedAndDamagedValuesAreRefusedNotCut)
{
    clsMessage msg;
    const QString guid = create(msg);
    const QString fifty(50, QChar(u'n'));
    msg.setName(fifty);
    EXPECT_EQ(propertyError([&] { msg.setName(fifty + QStringLiteral("x")); }), ErrorCode::InvalidArgument);
    EXPECT_EQ(msg.Name(), fifty);
    EXPECT_EQ(propertyError([&] { msg.setOwnerName(QString(51, QChar(u'o'))); }), ErrorCode::InvalidArgument);
    EXPECT_EQ(msg.OwnerName(), QString());

    const QByteArray full(256, '\x5A');
    msg.setData(full);
    EXPECT_EQ(propertyError([&] { msg.setData(QByteArray(257, '\x7F')); }), ErrorCode::InvalidArgument);
    EXPECT_EQ(msg.dataBytes(), full);
    EXPECT_EQ(le16(rawRecord(guid), 440), 0); // nothing was written past the data field

    // Lists of numbers are converted element by element; a value that is no byte is refused.
    msg.setData(QVariantList{1, 2, 255});
    EXPECT_EQ(msg.dataBytes(), QByteArray::fromHex("0102ff"));
    EXPECT_EQ(propertyError([&] { msg.setData(QVariantList{1, 300}); }), ErrorCode::Overflow);

    // Damaged length words never make a read run past the field.
    SharedMemory raw;
    ASSERT_EQ(raw.open(guid, 1024), 0);
    const auto poke = [&](std::size_t offset, const char *two) { ASSERT_TRUE(raw.write(offset, two, 2)); };
    poke(182, "\x00\x7F"); // data length 32512
    EXPECT_EQ(propertyError([&] { (void)msg.Data(); }), ErrorCode::BadRecord);
    poke(76, "\xFF\x00"); // name length 255 bytes
    EXPECT_EQ(propertyError([&] { (void)msg.Name(); }), ErrorCode::BadRecord);
    poke(76, "\xFE\xFF"); // negative: empty
    EXPECT_EQ(msg.Name(), QString());
}

TEST_F(RecordTest, ListsWalkFromTheHeadAndEndAtIt)
{
    clsMessages head;
    clsMessage ma, mb;
    const QString headGuid = newGuid();
    created << headGuid;
    ASSERT_EQ(head.Create(headGuid), 0);
    EXPECT_EQ(head.FirstMsg(), nullptr);
    const QString a = create(ma), b = create(mb);
    ma.setHeadGUID(headGuid);
    mb.setHeadGUID(headGuid);
    ma.setNextMsgGUID(b);
    mb.setNextMsgGUID(headGuid);
    head.setFirstMsgGUID(a);

    auto first = head.FirstMsg();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->szGUID(), a);
    EXPECT_EQ(first->NextMessage()->szGUID(), b);
    EXPECT_EQ(first->NextMessage()->NextMessage(), nullptr);
    EXPECT_EQ(propertyError([&] { head.setFirstMsgGUID(QStringLiteral("{too short}")); }), ErrorCode::BadRecord);
    // A link to a record that is gone ends the walk without an object.
    SharedMemory::unlink(b);
    EXPECT_EQ(first->NextMessage(), nullptr);
}

// The child half of the cross-process check: runs only when started by the test below.
TEST_F(RecordTest, ChildReadsRecord)
{
    const QString guid = qEnvironmentVariable("QUARVO_QUEUE_CHILD_GUID");
    if (guid.isEmpty())
        GTEST_SKIP() << "started only by SecondProcessReadsTheSameRecord";
    clsMessage msg;
    ASSERT_EQ(msg.Load(guid), 0);
    const QStringList fields{msg.szGUID(), msg.Name(), QString::number(msg.Priority()),
                             QString::fromLatin1(msg.dataBytes().toHex()), msg.OwnerName(), msg.ClientGUID()};
    std::printf("RECORD:%s\n", fields.join(u'|').toUtf8().constData());
    msg.setPriority(42); // the child writes back: the parent must see it
}

TEST_F(RecordTest, SecondProcessReadsTheSameRecord)
{
    clsMessage msg;
    const QString guid = create(msg), client = newGuid();
    msg.setName(QStringLiteral("Passcode Verification"));
    msg.setPriority(9);
    msg.setData(QByteArray::fromHex("e4082012345600"));
    msg.setOwnerName(QStringLiteral("frmCommInterface"));
    msg.setClientGUID(client);

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUARVO_QUEUE_CHILD_GUID"), guid);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=RecordTest.ChildReadsRecord")});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("RECORD:%1|Passcode Verification|9|e4082012345600|frmCommInterface|%2").arg(guid, client)))
        << out.toStdString();
    EXPECT_EQ(msg.Priority(), 42);
}
