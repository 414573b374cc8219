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

TEST(DatalockTest, EntryChosenAndRewriteDecided)
{
    constexpr std::int32_t kMask = 0x6B52, kMaster = modDatalock::MasterValue, kNone = -2;
    constexpr std::int32_t kFails = ErrorCode::DataLockMismatch;
    struct Case
    {
        const char *what;
        std::vector<std::pair<qint32, qint32>> entries; // value and type of entries 1, 2, ...
        std::int32_t primary;                           // value of "PRIMARY" (number 90), kNone: absent
        std::int32_t plain, result;
        bool rewrite;
        std::int32_t written; // the plain code left for the panel
        int chosen;           // entry number, 0: none
    };
    const Case cases[] = {
        {"own code passes", {{0x1234, 0}, {0x4444, 1}}, 0x2222, 0x1234, 0, false, 0x1234, 1},
        {"master -> own", {{0x1234, 0}}, 0x2222, kMaster, 0, true, 0x1234, 1},
        {"master -> primary", {{-1, 0}}, 0x2222, kMaster, 0, true, 0x2222, 90},
        {"other entry taken over", {{0x1234, 0}, {0x5555, 0}, {0x6666, 1}}, 0x2222, 0x6666, 0, true, 0x1234, 1},
        {"type 1 kept", {{-1, 0}, {0x5555, 0}, {0x6666, 1}}, 0x2222, 0x6666, 0, false, 0x6666, 3},
        {"type 3 kept", {{-1, 0}, {0x5555, 0}, {0x6666, 3}}, 0x2222, 0x6666, 0, false, 0x6666, 3},
        {"type 0 -> primary", {{-1, 0}, {0x5555, 0}, {0x6666, 3}}, 0x2222, 0x5555, 0, true, 0x2222, 90},
        {"unknown refused", {{0x1234, 0}, {0x5555, 1}}, 0x2222, 0x7777, kFails, false, 0x7777, 0},
        // Writing -1 would leave the panel with a code that no installation holds.
        {"nothing to write", {{-1, 0}}, -1, kMaster, kFails, false, kMaster, 0},
        // A host without a "PRIMARY" entry is an error, not a null entry handed back.
        {"no primary", {{-1, 0}}, kNone, kMaster, -1, false, kMaster, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::freshLogDir();
        resetSessionState();
        modGlobals::InitApplicationVariables();
        auto settings = std::make_shared<testsupport::SettingsDouble>();
        sessionState().hostSettings = settings;
        if (c.primary != kNone)
            settings->primary = std::make_shared<DataLockDouble>(c.primary, 0, QStringLiteral("Primary"), 90);
        int n = 0;
        for (const auto &[value, type] : c.entries)
            settings->dataLocks.push_back(std::make_shared<DataLockDouble>(value, type, QStringLiteral("Entry"), ++n));

        std::int32_t code = c.plain ^ kMask;
        bool rewrite = false;
        std::shared_ptr<HostDataLockEntry> chosen;
        const std::int32_t rc = modDatalock::CheckDatalock(code, rewrite, chosen);
        if (c.result == -1)
            EXPECT_NE(rc, 0);
        else
            EXPECT_EQ(rc, c.result);
        EXPECT_EQ(rewrite, c.rewrite);
        EXPECT_EQ(code, c.written ^ kMask);
        EXPECT_EQ(chosen ? chosen->Number() : 0, c.chosen);
        if (c.result != 0) {
            const QString log = QString::fromLocal8Bit(testsupport::readFile(sessionState().errorReporter->errorFilePath()));
            EXPECT_TRUE(log.contains(QStringLiteral("CheckDatalock()"))) << log.toStdString();
        }
    }
    resetSessionState();
}
