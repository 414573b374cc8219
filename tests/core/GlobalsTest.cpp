// Host notifications, the owner registry and the byte and text helpers.
#include <gtest/gtest.h>

#include "component/Configuration.h"
#include "core/GuidRegistry.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "platform/Paths.h"
#include "support/HostDoubles.h"
#include "support/TestSupport.h"

#include <QRegularExpression>

using namespace modGlobals;

namespace {

class GlobalsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSessionState();
        testsupport::freshSettingsDir();
        testsupport::freshLogDir();
        InitApplicationVariables();
        callback = std::make_shared<testsupport::CallbackDouble>();
        sessionState().hostCallback = callback;
    }
    void TearDown() override { resetSessionState(); }

    QString errorFile() const { return QString::fromLocal8Bit(testsupport::readFile(Paths::logFile(QStringLiteral("Comm.err")))); }

    std::shared_ptr<testsupport::CallbackDouble> callback;
};

struct Owner : GuidObjectBase
{
};

} // namespace

TEST_F(GlobalsTest, NotificationsCarryTheRightSource)
{
    ZelCommEvent(12, 0);
    ZelCommEvent(3, QStringLiteral("USERDISCONNECTING"), QStringLiteral("frm"));
    sessionState().UnattendedFlag = true;
    sessionState().accountName = QStringLiteral("1234");
    ZelCommEvent(3, QStringLiteral("SUCCESS"));
    ZelCommEvent(7, 0, QStringLiteral("other"));
    MakeCallback(QStringLiteral("GET_REV"), QStringLiteral("1.307"));

    ASSERT_EQ(callback->events.size(), 5u);
    EXPECT_FALSE(callback->events[0].source.has_value());
    EXPECT_EQ(callback->events[1].source, QStringLiteral("frm"));
    for (size_t i = 2; i < 5; ++i)
        EXPECT_EQ(callback->events[i].source, QStringLiteral("1234")) << i;
}

TEST_F(GlobalsTest, TaggedNotificationIsAFourElementArray)
{
    MakeCallback(QStringLiteral("SET_DATALOCK"), 3);
    MakeCallback(QStringLiteral("GET_REV"), QStringLiteral("1.07"), QStringLiteral("x"));
    ASSERT_EQ(callback->events.size(), 2u);
    const QVariantList first = callback->events[0].data.toList();
    ASSERT_EQ(first.size(), 4);
    EXPECT_EQ(callback->events[0].code, 5);
    EXPECT_EQ(first[0].toString(), QStringLiteral("SET_DATALOCK"));
    EXPECT_EQ(first[1].toInt(), 3);
    EXPECT_TRUE(isMissing(first[2]));
    EXPECT_FALSE(isMissing(QVariant(QString())));
    EXPECT_EQ(first[3].toString(), QStringLiteral("Quarvo"));
    EXPECT_EQ(callback->events[1].data.toList()[2].toString(), QStringLiteral("x"));
    EXPECT_FALSE(callback->events[0].source.has_value());
}

TEST_F(GlobalsTest, GuidsAndTheOwnerRegistry)
{
    QString guid;
    ASSERT_EQ(GetGUID(guid), 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}$"))
                    .match(guid)
                    .hasMatch())
        << guid.toStdString();
    QString other;
    GetGUID(other);
    EXPECT_NE(guid, other);

    auto owner = std::make_shared<Owner>();
    AddGUIDObject(owner);
    ASSERT_EQ(owner->szGUID().size(), 38);
    EXPECT_EQ(GetGUIDObject(owner->szGUID()), owner);

    auto named = std::make_shared<Owner>();
    named->setSzGUID(guid);
    AddGUIDObject(named);
    EXPECT_EQ(GetGUIDObject(guid), named);

    RemoveGUIDObject(owner->szGUID());
    EXPECT_EQ(GetGUIDObject(owner->szGUID()), nullptr);
    EXPECT_TRUE(errorFile().isEmpty());
    // Removing a missing key is an error that is reported; looking one up is silent.
    RemoveGUIDObject(owner->szGUID());
    EXPECT_TRUE(errorFile().contains(QStringLiteral("RemoveGUIDObject()")));
    EXPECT_EQ(GetGUIDObject(QStringLiteral("{nothing}")), nullptr);

    // Without a registry nothing is added and nothing is found.
    sessionState().guidRegistry.reset();
    auto lone = std::make_shared<Owner>();
    AddGUIDObject(lone);
    EXPECT_TRUE(lone->szGUID().isEmpty());
    EXPECT_EQ(GetGUIDObject(guid), nullptr);
}

TEST_F(GlobalsTest, ByteHelpers)
{
    EXPECT_EQ(LoByte(0x1234), 0x34);
    EXPECT_EQ(HiByte(0x1234), 0x12);
    EXPECT_EQ(HiByte(0x7FFF1234), 0x12);
    EXPECT_EQ(MakeLong(0x02, 0x01), 0x0201);

    QByteArray bytes;
    StringToByte(QStringLiteral("AT\xe9"), bytes);
    EXPECT_EQ(bytes, QByteArray("AT\xe9"));
    EXPECT_EQ(ToString(bytes), QStringLiteral("AT\xe9"));
    EXPECT_EQ(ToString(QByteArray("LANVesk"), 3, 4), QStringLiteral("Vesk"));
    EXPECT_EQ(ToString(QByteArray("LANVesk"), 3, 40), QStringLiteral("Vesk"));
    EXPECT_EQ(ToString(QByteArray("LANVesk"), 0, 0), QString());

    EXPECT_EQ(DebugConvert(QByteArray("\x06\xff", 2)), QStringLiteral("[06][FF]"));
    EXPECT_EQ(DebugConvert(QVariantList{1, 2, 255}), QStringLiteral("[01][02][FF]"));
    EXPECT_EQ(DebugConvert(QByteArray("\x01\x02\x03\x04", 4), 1, 2), QStringLiteral("[02][03]"));
    EXPECT_EQ(DebugConvert(QVariant(10)), QStringLiteral("[0A]"));
    EXPECT_EQ(DebugConvert(QVariant()), QString());
    EXPECT_TRUE(errorFile().isEmpty());
    EXPECT_EQ(DebugConvert(QVariant(300)), QString());
    EXPECT_TRUE(errorFile().contains(QStringLiteral("DebugConvert()")));
}

TEST_F(GlobalsTest, TimeOffsetCarriesTheDay)
{
    const struct { std::int16_t hour, offset, newHour, carry; } cases[] = {
        {23, 2, 1, 1}, {1, -3, 22, -1}, {5, -5, 0, 0}, {0, 24, 0, 1}, {12, 0, 12, 0}, {0, -24, 0, -1},
        // Beyond a day (only the host's settings can ask for it): the hour stays a clock hour.
        {23, 30, 5, 2}, {1, -30, 19, -2}};
    for (const auto &c : cases) {
        std::int16_t hour = -1;
        EXPECT_EQ(TimeOffset(c.hour, c.offset, hour), c.carry) << c.hour << " " << c.offset;
        EXPECT_EQ(hour, c.newHour) << c.hour << " " << c.offset;
    }
}

TEST_F(GlobalsTest, ReplaceVariableReplacesEveryMarkerAndAlwaysEnds)
{
    EXPECT_EQ(ReplaceVariable(QStringLiteral("%MAX% of %MAX%"), QStringLiteral("MAX"), QStringLiteral("3")),
              QStringLiteral("3 of 3"));
    EXPECT_EQ(ReplaceVariable(QStringLiteral("no marker"), QStringLiteral("MAX"), QStringLiteral("3")),
              QStringLiteral("no marker"));
    EXPECT_EQ(ReplaceVariable(QStringLiteral("%max%"), QStringLiteral("MAX"), QStringLiteral("3")), QStringLiteral("%max%"));
    // A value holding the marker itself is inserted once per marker, not expanded again.
    EXPECT_EQ(ReplaceVariable(QStringLiteral("a %X% b %X%"), QStringLiteral("X"), QStringLiteral("<%X%>")),
              QStringLiteral("a <%X%> b <%X%>"));
    EXPECT_EQ(ReplaceVariable(QStringLiteral("%X%"), QStringLiteral("X"), QStringLiteral("%X%%X%")),
              QStringLiteral("%X%%X%"));
}

TEST_F(GlobalsTest, CatalogTextsComeFromTheCatalog)
{
    EXPECT_EQ(GetCatalogString(109), QStringLiteral("OK"));
    sessionState().stringCatalog.reset(); // created again on first use
    EXPECT_EQ(GetCatalogString(109), QStringLiteral("OK"));
    EXPECT_TRUE(GetCatalogString(32000).isEmpty());
}

TEST_F(GlobalsTest, RecordTextCopiesAreBoundedByTheByteCount)
{
    char buffer[16];
    memset(buffer, 0x55, sizeof buffer);
    CopyTextToMemory(buffer, QStringLiteral("ABCDEFGH"), 6);
    QString text;
    CopyMemoryToText(text, buffer, 6);
    EXPECT_EQ(text, QStringLiteral("ABC"));
    EXPECT_EQ(static_cast<unsigned char>(buffer[6]), 0x55);
    CopyTextToMemory(buffer + 1, QStringLiteral("Z"), 10); // unaligned and shorter than the count
    CopyMemoryToText(text, buffer + 1, 2);
    EXPECT_EQ(text, QStringLiteral("Z"));
}
