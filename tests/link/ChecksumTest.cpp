// Item CRCs: the CRC-16/ARC routine, the CRC of a host item, and the comparison against a panel's
// CRC answer frame built byte by byte.
#include "LinkFixture.h"

#include "diagnostics/frmImmediate.h"
#include "link/modChecksums.h"

using modGlobals::CalcBufferCRC_Morx;
using modToolbox::CalcItemCRC;
using modToolbox::CompareCRC;

namespace {

class ChecksumTest : public linktest::LinkTest
{
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        for (int item = 0; item <= 18; ++item)
            pif->items[item] = QByteArray(item + 3, char('A' + item));
        sessionState().hostPif = pif;
    }

    // The panel's CRC answer on a remote link: address 0, length, command 18, the three marker
    // bytes, the 19 item CRCs high byte first, and a checksum that makes the sum 0x7F.
    static QByteArray crcAnswer(const QList<std::int32_t> &crcs)
    {
        QByteArray frame = QByteArray::fromHex("000012FFFFE0");
        for (const std::int32_t crc : crcs)
            frame.append(char((crc >> 8) & 0xFF)).append(char(crc & 0xFF));
        frame[1] = char(frame.size() - 1); // bytes after the length byte, checksum included
        int sum = 0;
        for (const char c : frame)
            sum += static_cast<std::uint8_t>(c);
        return frame.append(char((0x7F - sum) & 0xFF));
    }

    QList<std::int32_t> hostCrcs() const
    {
        QList<std::int32_t> crcs;
        for (int item = 0; item <= 18; ++item)
            crcs << CalcBufferCRC_Morx(pif->items.at(item));
        return crcs;
    }

    std::shared_ptr<testsupport::PifDouble> pif = std::make_shared<testsupport::PifDouble>();
};

// Item 7 sized as SISize x NofSubItems instead of one byte per record.
class SubItemPif : public testsupport::PifDouble
{
public:
    std::shared_ptr<HostPifItem> Item(const QString &key) const override
    {
        return key == QLatin1String("7") ? std::make_shared<testsupport::PifItemDouble>(4, 3) : PifDouble::Item(key);
    }
};

} // namespace

TEST_F(ChecksumTest, BufferAndItemCrcsAreCrc16Arc)
{
    EXPECT_EQ(CalcBufferCRC_Morx(QByteArray("abc")), 0x9738);
    EXPECT_EQ(CalcBufferCRC_Morx(QByteArray("123456789")), 0xBB3D);
    EXPECT_EQ(CalcBufferCRC_Morx(QByteArray::fromHex("FF")), 0x4040); // no sign extension into the table index
    EXPECT_TRUE(errorLog().isEmpty());
    EXPECT_EQ(CalcBufferCRC_Morx(QByteArray()), 0);
    EXPECT_TRUE(errorLog().contains(QStringLiteral("modGlobals CalcBufferCRC_Morx()"))) << errorLog().toStdString();

    pif->items[3] = QByteArray("abc");
    EXPECT_EQ(CalcItemCRC(3), 0x9738);
    auto subItems = std::make_shared<SubItemPif>();
    subItems->items[7] = QByteArray("123456789ABCxyz"); // 12 bytes count, the rest is not the item's
    sessionState().hostPif = subItems;
    EXPECT_EQ(CalcItemCRC(7), CalcBufferCRC_Morx(QByteArray("123456789ABC")));

    // Unreadable items give 0 and are reported: not in the host's data, no bytes, no host data at all.
    subItems->items[5] = QByteArray();
    EXPECT_EQ(CalcItemCRC(42), 0);
    EXPECT_EQ(CalcItemCRC(5), 0);
    sessionState().hostPif.reset();
    EXPECT_EQ(CalcItemCRC(3), 0);
    EXPECT_EQ(errorLog().count(QStringLiteral("CalcItemCRC()")), 3);
}

TEST_F(ChecksumTest, AnswerComparisonMarksExactlyTheChangedItemsAndFailsOnAShortAnswer)
{
    QList<bool> changed;
    bool allSame = false;
    const QByteArray same = crcAnswer(hostCrcs());
    ASSERT_EQ(same.size(), 45); // CRCs in bytes 6..43, checksum in 44
    EXPECT_EQ(CompareCRC(same, changed, allSame), 0);
    EXPECT_TRUE(allSame);
    EXPECT_EQ(changed, QList<bool>(19, false));

    frmImmediate window;
    sessionState().immediateWindow = &window;
    window.show();
    QList<std::int32_t> crcs = hostCrcs();
    const std::int32_t host18 = crcs[18];
    crcs[18] = host18 ^ 0x0101; // bytes 42 and 43
    crcs[0] = crcs[0] ^ 0x8000; // high byte of item 0 only
    EXPECT_EQ(CompareCRC(crcAnswer(crcs), changed, allSame), 0);
    EXPECT_FALSE(allSame);
    QList<bool> expected(19, false);
    expected[0] = expected[18] = true;
    EXPECT_EQ(changed, expected);
    const QStringList lines = window.dumpList().filter(QStringLiteral("different"));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.at(1).contains(QStringLiteral("Item 18 different: %1   %2").arg(host18 ^ 0x0101).arg(host18)))
        << lines.at(1).toStdString();
    sessionState().immediateWindow = nullptr;

    // An answer that stops after item 4's CRC is a failure, not a match: items 5..18 count as changed.
    allSame = true;
    EXPECT_NE(CompareCRC(same.left(6 + 5 * 2), changed, allSame), 0);
    EXPECT_FALSE(allSame);
    ASSERT_EQ(changed.size(), 19);
    for (int item = 0; item <= 18; ++item)
        EXPECT_EQ(changed[item], item >= 5) << item;
    EXPECT_TRUE(errorLog().contains(QStringLiteral("CompareCRC()")));
    EXPECT_NE(CompareCRC(QByteArray(), changed, allSame), 0);
    EXPECT_EQ(changed, QList<bool>(19, true));
}
