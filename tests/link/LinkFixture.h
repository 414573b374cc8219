// Shared set-up of the link tests: a fresh session record with its registry, error reporter and an
// in-memory settings object, a private log folder, and helpers to find the commands a request
// procedure registered and to read the error file.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QSet>

#include "component/Configuration.h"
#include "core/GuidRegistry.h"
#include "core/SessionState.h"
#include "external/ErrorReporter.h"
#include "link/clsPanelMsg.h"
#include "support/HostDoubles.h"
#include "support/TestSupport.h"

namespace linktest {

inline QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

// An owner as windows are: a GUID and a name.
class OwnerDouble : public GuidObjectBase
{
public:
    QString Name() const { return QStringLiteral("frmTestOwner"); }
};

// A window that can be destroyed under a command that refers to it.
struct WindowDouble : QObject, GuidObjectBase
{
    QString Name() const { return QStringLiteral("frmWindow"); }
};

class LinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::freshLogDir();
        resetSessionState();
        modGlobals::InitApplicationVariables();
        sessionState().hostSettings = settings;
        owner.setSzGUID(QStringLiteral("{11111111-2222-3333-4444-555555555555}"));
        newCommands();
    }
    void TearDown() override { resetSessionState(); }

    // The panel commands registered since the last call (or since SetUp).
    QList<std::shared_ptr<clsPanelMsg>> newCommands()
    {
        QList<std::shared_ptr<clsPanelMsg>> out;
        const QStringList keys = sessionState().guidRegistry->keys();
        for (const QString &key : keys)
            if (auto msg = std::dynamic_pointer_cast<clsPanelMsg>(sessionState().guidRegistry->get(key)); msg && !known.contains(key))
                out << msg;
        known = QSet<QString>(keys.begin(), keys.end());
        return out;
    }

    // The one command registered since the last call; fails the test when there is not exactly one.
    std::shared_ptr<clsPanelMsg> newCommand()
    {
        const auto list = newCommands();
        EXPECT_EQ(list.size(), 1);
        return list.isEmpty() ? nullptr : list.first();
    }

    QString errorLog() const
    {
        return QString::fromLocal8Bit(testsupport::readFile(sessionState().errorReporter->errorFilePath()));
    }

    std::shared_ptr<testsupport::SettingsDouble> settings = std::make_shared<testsupport::SettingsDouble>();
    OwnerDouble owner;
    QSet<QString> known;
};

} // namespace linktest
