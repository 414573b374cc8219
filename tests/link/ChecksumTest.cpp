// Item CRCs: the CRC-16/ARC routine, the CRC of a host item, and the comparison against a panel's
// CRC answer frame built byte by byte.
#include "component/Configuration.h"
#include "core/SessionState.h"
#include "diagnostics/frmImmediate.h"
#include "link/modChecksums.h"
#include "platform/Paths.h"
#include "support/HostDoubles.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using modGlobals::CalcBufferCRC_Morx;
using modToolbox::CalcItemCRC;
using modToolbox::CompareCRC;

namespace {

class ChecksumTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSessionState();
        testsupport::freshSettingsDir();
        testsupport::freshLogDir();
        modGlobals::InitApplicationVariables();
        pif = std::make_shared<testsupport::PifDouble>();
        for (int item = 0; item <= 18; ++item)
            pif->items[item] = QByteArray(item + 3, char('A' + item));
        sessionState().hostPif = pif;
    }
    void TearDown() override
    {
        delete window;
        resetSessionState();
    }

    QString errorFile() const
    {
        return QString::fromLocal8Bit(testsupport::readFile(Paths::logFile(QStringLiteral("Comm.err"))));
    }

    // The panel's CRC answer as it arrives on a remote link: address 0, length, command 18, the
    // three marker bytes, the 19 item CRCs high byte first, and a checksum that makes the sum of
    // all bytes 0x7F.
    static QByteArray crcAnswer(const QList<std::int32_t> &crcs)
    {
        QByteArray frame;
        frame.append('\x00');
        frame.append('\x00'); // length, set below
        frame.append(char(18));
        frame.append("\xFF\xFF\xE0", 3);
        for (const std::int32_t crc : crcs) {
            frame.append(char((crc >> 8) & 0xFF));
            frame.append(char(crc & 0xFF));
        }
        frame[1] = char(frame.size() - 1); // bytes after the length byte, checksum included
        int sum = 0;
        for (const char c : frame)
            sum += static_cast<std::uint8_t>(c);
        frame.append(char((0x7F - sum) & 0xFF));
        return frame;
    }

    QList<std::int32_t> hostCrcs() const
    {
        QList<std::int32_t> crcs;
        for (int item = 0; item <= 18; ++item)
            crcs << CalcBufferCRC_Morx(pif->items.at(item));
        return crcs;
    }

    frmImmediate *showImmediate()
    {
        window = new frmImmediate;
        sessionState().immediateWindow = window;
        window->show();
        return window;
    }

    std::shared_ptr<testsupport::PifDouble> pif;
    frmImmediate *window = nullptr;
};

// Item sizes given as SISize x NofSubItems instead of one byte per record.
class SubItemPif : public testsupport::PifDouble
{
public:
    std::shared_ptr<HostPifItem> Item(const QString &key) const override
    {
        if (key != QLatin1String("7"))
            return PifDouble::Item(key);
        return std::make_shared<testsupport::PifItemDouble>(4, 3);
    }
};

} // namespace

TEST_F(ChecksumTest, BufferCrcIsCrc16Arc)
{
    EXPECT_EQ(CalcBufferCRC_Morx(QByteArray("abc")), 0x9738);
    EXPECT_EQ(CalcBufferCRC_Morx(QByteArray("123456789")), 0xBB3D);
    EXPECT_EQ(CalcBufferCRC_Morx(QByteArray(1, '\0')), 0);
    EXPECT_EQ(CalcBufferCRC_Morx(QByteArray(2, '\0')), 0);
    // High bytes must not sign-extend into the table index.
    EXPECT_EQ(CalcBufferCRC_Morx(QByteArray::fromHex("FF")), 0x4040);
    EXPECT_TRUE(errorFile().isEmpty());
}

TEST_F(ChecksumTest, EmptyBufferIsReported)
{
    EXPECT_EQ(CalcBufferCRC_Morx(QByteArray()), 0);
    const QString err = errorFile();
    EXPECT_TRUE(err.contains(QStringLiteral("modGlobals"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("CalcBufferCRC_Morx()"))) << err.toStdString();
}

TEST_F(ChecksumTest, ItemCrcCoversSubItemSizeTimesCount)
{
    pif->items[3] = QByteArray("abc");
    EXPECT_EQ(CalcItemCRC(3), 0x9738);

    auto subItems = std::make_shared<SubItemPif>();
    subItems->items[7] = QByteArray("123456789ABCxyz"); // 12 bytes count, the rest is not the item's
    sessionState().hostPif = subItems;
    EXPECT_EQ(CalcItemCRC(7), CalcBufferCRC_Morx(QByteArray("123456789ABC")));
}

TEST_F(ChecksumTest, UnreadableItemsGiveZeroAndAreReported)
{
    EXPECT_EQ(CalcItemCRC(42), 0); // not in the host's data
    pif->items[5] = QByteArray();  // no bytes
    EXPECT_EQ(CalcItemCRC(5), 0);
    sessionState().hostPif.reset();
    EXPECT_EQ(CalcItemCRC(3), 0);
    EXPECT_EQ(errorFile().count(QStringLiteral("CalcItemCRC()")), 3);
}

TEST_F(ChecksumTest, MatchingAnswerMeansAllSame)
{
    const QByteArray answer = crcAnswer(hostCrcs());
    ASSERT_EQ(answer.size(), 45); // CRCs in bytes 6..43, checksum in 44
    QList<bool> changed;
    bool allSame = false;
    EXPECT_EQ(CompareCRC(answer, changed, allSame), 0);
    EXPECT_TRUE(allSame);
    EXPECT_EQ(changed, QList<bool>(19, false));
}

TEST_F(ChecksumTest, MismatchMarksExactlyThatItemAndLogsIt)
{
    frmImmediate *log = showImmediate();
    QList<std::int32_t> crcs = hostCrcs();
    const std::int32_t host18 = crcs[18];
    crcs[18] = host18 ^ 0x0101; // bytes 42 and 43
    crcs[0] = crcs[0] ^ 0x8000; // high byte of item 0 only
    QList<bool> changed;
    bool allSame = true;
    EXPECT_EQ(CompareCRC(crcAnswer(crcs), changed, allSame), 0);
    EXPECT_FALSE(allSame);
    QList<bool> expected(19, false);
    expected[0] = true;
    expected[18] = true;
    EXPECT_EQ(changed, expected);

    const QStringList lines = log->dumpList().filter(QStringLiteral("different"));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.at(1).contains(QStringLiteral("Item 18 different: %1   %2").arg(host18 ^ 0x0101).arg(host18)))
        << lines.at(1).toStdString();
}

TEST_F(ChecksumTest, ShortAnswerIsAFailureNotAMatch)
{
    // The answer stops after item 4's CRC: items 5..18 cannot be compared.
    const QByteArray answer = crcAnswer(hostCrcs()).left(6 + 5 * 2);
    QList<bool> changed;
    bool allSame = true;
    EXPECT_NE(CompareCRC(answer, changed, allSame), 0);
    EXPECT_FALSE(allSame);
    ASSERT_EQ(changed.size(), 19);
    for (int item = 0; item <= 18; ++item)
        EXPECT_EQ(changed[item], item >= 5) << item;
    EXPECT_TRUE(errorFile().contains(QStringLiteral("CompareCRC()")));

    EXPECT_NE(CompareCRC(QByteArray(), changed, allSame), 0);
    EXPECT_FALSE(allSame);
    EXPECT_EQ(changed, QList<bool>(19, true));
}
