// Shared set-up of the link tests: a fresh session record with its registry, error reporter and an
// in-memory settings object, a private log folder, and helpers to find the commands a request
// procedure registered and to read the error file.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QSet>
#include <QString>

#include <initializer_list>
#include <memory>

#include "component/Configuration.h"
#include "core/GuidRegistry.h"
#include "core/SessionState.h"
#include "external/ErrorReporter.h"
#include "link/clsPanelMsg.h"
#include "support/HostDoubles.h"
#include "support/TestSupport.h"

namespace linktest {

inline QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray out;
    for (int b : list)
        out.append(static_cast<char>(b));
    return out;
}

// An owner as windows are: a GUID and a name.
class OwnerDouble : public GuidObjectBase
{
public:
    explicit OwnerDouble(QString name = QStringLiteral("frmTestOwner")) : m_name(std::move(name)) {}
    QString Name() const { return m_name; }

private:
    QString m_name;
};

class LinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::freshLogDir();
        resetSessionState();
        modGlobals::InitApplicationVariables();
        settings = std::make_shared<testsupport::SettingsDouble>();
        sessionState().hostSettings = settings;
        owner.setSzGUID(QStringLiteral("{11111111-2222-3333-4444-555555555555}"));
        known = registeredKeys();
    }
    void TearDown() override { resetSessionState(); }

    QSet<QString> registeredKeys() const
    {
        const QStringList keys = sessionState().guidRegistry->keys();
        return QSet<QString>(keys.begin(), keys.end());
    }

    // The panel commands registered since the last call (or since SetUp).
    QList<std::shared_ptr<clsPanelMsg>> newCommands()
    {
        QList<std::shared_ptr<clsPanelMsg>> out;
        const QSet<QString> now = registeredKeys();
        for (const QString &key : now) {
            if (known.contains(key))
                continue;
            if (auto msg = std::dynamic_pointer_cast<clsPanelMsg>(sessionState().guidRegistry->get(key)))
                out << msg;
        }
        known = now;
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

    std::shared_ptr<testsupport::SettingsDouble> settings;
    OwnerDouble owner;
    QSet<QString> known;
};

} // namespace linktest
