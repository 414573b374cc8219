// The data-lock check against the host's entries: which entry is chosen, when the panel's code is
// rewritten and to what.
#include <gtest/gtest.h>

#include "component/Configuration.h"
#include "core/ErrorCodes.h"
#include "core/SessionState.h"
#include "external/ErrorReporter.h"
#include "link/modDatalock.h"
#include "support/HostDoubles.h"
#include "support/TestSupport.h"

using testsupport::DataLockDouble;

namespace {

constexpr std::int32_t kMask = 0x6B52;

class DatalockTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::freshLogDir();
        resetSessionState();
        modGlobals::InitApplicationVariables();
        settings = std::make_shared<testsupport::SettingsDouble>();
        sessionState().hostSettings = settings;
        settings->primary = std::make_shared<DataLockDouble>(0x2222, 0, QStringLiteral("Primary"), 90);
    }
    void TearDown() override { resetSessionState(); }

    void entries(std::initializer_list<std::pair<qint32, qint32>> valueAndType)
    {
        int n = 1;
        for (const auto &[value, type] : valueAndType) {
            settings->dataLocks.push_back(
                std::make_shared<DataLockDouble>(value, type, QStringLiteral("Entry %1").arg(n), n));
            ++n;
        }
    }

    // Runs the check for a panel whose plain code is `plain`.
    std::int32_t check(std::int32_t plain)
    {
        code = plain ^ kMask;
        rewrite = false;
        chosen.reset();
        return modDatalock::CheckDatalock(code, rewrite, chosen);
    }

    std::shared_ptr<testsupport::SettingsDouble> settings;
    std::int32_t code = 0;
    bool rewrite = false;
    std::shared_ptr<HostDataLockEntry> chosen;
};

TEST_F(DatalockTest, OwnCodePassesUnchanged)
{
    entries({{0x1234, 0}, {0x4444, 1}});
    ASSERT_EQ(check(0x1234), 0);
    EXPECT_FALSE(rewrite);
    EXPECT_EQ(code, 0x1234 ^ kMask);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->Number(), 1);
}

TEST_F(DatalockTest, MasterCodeIsRewrittenToOwnOrPrimary)
{
    entries({{0x1234, 0}});
    ASSERT_EQ(check(modDatalock::MasterValue), 0);
    EXPECT_TRUE(rewrite);
    EXPECT_EQ(code, 0x1234 ^ kMask);
    EXPECT_EQ(chosen->Number(), 1);

    settings->dataLocks.front()->value = -1;
    ASSERT_EQ(check(modDatalock::MasterValue), 0);
    EXPECT_TRUE(rewrite);
    EXPECT_EQ(code, 0x2222 ^ kMask);
    EXPECT_EQ(chosen->Number(), 90);
}

TEST_F(DatalockTest, OtherEntryMatchesByType)
{
    // Own code set: a panel of another known installation is taken over.
    entries({{0x1234, 0}, {0x5555, 0}, {0x6666, 1}});
    ASSERT_EQ(check(0x6666), 0);
    EXPECT_TRUE(rewrite);
    EXPECT_EQ(code, 0x1234 ^ kMask);
    EXPECT_EQ(chosen->Number(), 1);

    // Own code not set: types 1 and 3 are kept as they are, other types move to "PRIMARY".
    settings->dataLocks.front()->value = -1;
    ASSERT_EQ(check(0x6666), 0);
    EXPECT_FALSE(rewrite);
    EXPECT_EQ(code, 0x6666 ^ kMask);
    EXPECT_EQ(chosen->Number(), 3);

    settings->dataLocks[2]->type = 3;
    ASSERT_EQ(check(0x6666), 0);
    EXPECT_FALSE(rewrite);

    ASSERT_EQ(check(0x5555), 0);
    EXPECT_TRUE(rewrite);
    EXPECT_EQ(code, 0x2222 ^ kMask);
    EXPECT_EQ(chosen->Number(), 90);
}

TEST_F(DatalockTest, UnknownCodeIsRefusedAndReported)
{
    entries({{0x1234, 0}, {0x5555, 1}});
    EXPECT_EQ(check(0x7777), ErrorCode::DataLockMismatch);
    EXPECT_FALSE(chosen);
    EXPECT_EQ(code, 0x7777 ^ kMask);
    const QString log = QString::fromLocal8Bit(testsupport::readFile(sessionState().errorReporter->errorFilePath()));
    EXPECT_TRUE(log.contains(QStringLiteral("CheckDatalock()")));
    EXPECT_TRUE(log.contains(QStringLiteral("modDatalock")));
}

TEST_F(DatalockTest, NoCodeToWriteIsRefusedInsteadOfLockingThePanel)
{
    // Master code, own entry not set and a "PRIMARY" entry that is not set either: writing -1
    // would leave the panel with a code that no installation holds.
    entries({{-1, 0}});
    settings->primary->value = -1;
    EXPECT_EQ(check(modDatalock::MasterValue), ErrorCode::DataLockMismatch);
    EXPECT_FALSE(rewrite);

    // A host without a "PRIMARY" entry is an error, not a null entry handed back.
    settings->primary.reset();
    EXPECT_NE(check(modDatalock::MasterValue), 0);
    EXPECT_FALSE(chosen);
}

} // namespace
