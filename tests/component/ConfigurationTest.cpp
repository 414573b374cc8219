// The configuration load: defaults written back to an empty store, numeric keys, the flags, and the
// host settings that narrow them.
#include <gtest/gtest.h>

#include "component/Configuration.h"
#include "component/clsCommunication.h"
#include "core/SessionState.h"
#include "core/modRegistry.h"
#include "external/ErrorReporter.h"
#include "platform/Paths.h"
#include "support/HostDoubles.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSettings>

#include <sys/stat.h>

using modRegistry::GetRegSetting;
using modRegistry::SaveRegSetting;

namespace {

const QString kApp = QStringLiteral("Tamsel");

class ConfigurationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSessionState();
        testsupport::freshSettingsDir();
        testsupport::freshLogDir();
    }
    void TearDown() override { resetSessionState(); }
};

// Every key of the store as "Section/Key=value" lines, read through a separate process (this test
// program started again with a filter that runs only the dump below).
QStringList readStoreInAnotherProcess()
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUARVO_DUMP_STORE"), Paths::settingsFile());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=StoreDump.Print"), QStringLiteral("--gtest_brief=1")});
    if (!child.waitForFinished(30000)) {
        child.kill();
        child.waitForFinished(5000);
        return {};
    }
    QStringList lines;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n'))
        if (line.startsWith("STORE "))
            lines << QString::fromUtf8(line.mid(6));
    return lines;
}

} // namespace

// Runs only in the child process started above: prints the store it finds.
TEST(StoreDump, Print)
{
    if (qEnvironmentVariableIsEmpty("QUARVO_DUMP_STORE"))
        GTEST_SKIP() << "helper for the cross-process check";
    // The child has private folders of its own: the parent names the file to read.
    QSettings store(qEnvironmentVariable("QUARVO_DUMP_STORE"), QSettings::IniFormat);
    for (const QString &key : store.allKeys())
        printf("STORE %s=%s\n", qPrintable(key), qPrintable(store.value(key).toString()));
    fflush(stdout);
}

TEST_F(ConfigurationTest, EmptyStoreGetsExactlyTheDefaultsSeenByAnotherProcess)
{
    clsCommunication component;
    const QStringList expected{
        QStringLiteral("Communications/CallBackTime=180"),
        QStringLiteral("Communications/DRInterval=10000"),
        QStringLiteral("Communications/ExclusivePollRate=10"),
        QStringLiteral("Communications/HBInterval=20000"),
        QStringLiteral("Communications/InactivityTimeout=15"),
        QStringLiteral("Communications/NumOfNaks=5"),
        QStringLiteral("Communications/SendAgainPauseTime=500"),
        QStringLiteral("Communications/StandardPollRate=500"),
        QStringLiteral("Communications/TimeToGatherBody=1"),
        QStringLiteral("Setup/TamselPath=") + Paths::defaultTamselPath(false),
        QStringLiteral("Setup/WarningLevel=5"),
    };
    QStringList seen = readStoreInAnotherProcess();
    seen.sort();
    EXPECT_EQ(seen, expected);

    const SessionState &s = sessionState();
    EXPECT_TRUE(s.SequenceNumbersEnabled);
    EXPECT_TRUE(s.EncryptionEnabled);
    EXPECT_EQ(s.config.inactivityTimeout, 900);
    EXPECT_EQ(s.config.tamselPath, Paths::defaultTamselPath(false));
    ASSERT_TRUE(s.guidRegistry);
    ASSERT_TRUE(s.errorReporter);
    EXPECT_EQ(s.errorReporter->AppErrorFile, QStringLiteral("Comm.err"));
    EXPECT_EQ(s.errorReporter->FileSection, QStringLiteral("COMM"));
    EXPECT_EQ(s.errorReporter->AppVersion, QStringLiteral("1.0.0"));
}

TEST_F(ConfigurationTest, StoredValuesAreUsedAndMissingOnesRewritten)
{
    SaveRegSetting(kApp, QStringLiteral("Communications"), QStringLiteral("InactivityTimeout"), QStringLiteral("2"));
    SaveRegSetting(kApp, QStringLiteral("Communications"), QStringLiteral("HBInterval"), QStringLiteral("-1"));
    SaveRegSetting(kApp, QStringLiteral("Communications"), QStringLiteral("NumOfNaks"), QStringLiteral("3"));
    SaveRegSetting(kApp, QStringLiteral("Communications"), QStringLiteral("SendAgainPauseTime"), QStringLiteral("2.5"));
    SaveRegSetting(kApp, QStringLiteral("Setup"), QStringLiteral("Icon"), QStringLiteral("panel.ico"));
    modGlobals::InitApplicationVariables();
    const Configuration &c = sessionState().config;
    EXPECT_EQ(c.inactivityTimeout, 120);
    EXPECT_EQ(c.hbInterval, 20000);
    EXPECT_EQ(GetRegSetting(kApp, QStringLiteral("Communications"), QStringLiteral("HBInterval")), QStringLiteral("20000"));
    EXPECT_EQ(c.numOfNaks, 3);
    EXPECT_EQ(c.sendAgainPauseTime, 2); // rounded half to even
    EXPECT_EQ(c.icon, QStringLiteral("panel.ico"));
    // "-1" for the inactivity time is replaced by the default.
    SaveRegSetting(kApp, QStringLiteral("Communications"), QStringLiteral("InactivityTimeout"), QStringLiteral("-1"));
    modGlobals::InitApplicationVariables();
    EXPECT_EQ(sessionState().config.inactivityTimeout, 900);
    EXPECT_EQ(GetRegSetting(kApp, QStringLiteral("Communications"), QStringLiteral("InactivityTimeout")), QStringLiteral("15"));
}

TEST_F(ConfigurationTest, SequenceAndEncryptionFlagsOnlyClearOnExactly255)
{
    const QString saved = QStringLiteral("SavedSettings");
    SaveRegSetting(kApp, saved, QStringLiteral("SeqNum"), QStringLiteral("255"));
    SaveRegSetting(kApp, saved, QStringLiteral("TwoFish"), QStringLiteral("255"));
    modGlobals::InitApplicationVariables();
    EXPECT_FALSE(sessionState().SequenceNumbersEnabled);
    EXPECT_FALSE(sessionState().EncryptionEnabled);

    SaveRegSetting(kApp, saved, QStringLiteral("SeqNum"), QStringLiteral("0"));
    SaveRegSetting(kApp, saved, QStringLiteral("TwoFish"), QStringLiteral(" 255"));
    modGlobals::InitApplicationVariables();
    EXPECT_TRUE(sessionState().SequenceNumbersEnabled);
    EXPECT_TRUE(sessionState().EncryptionEnabled);
    // Nothing is written for these keys.
    EXPECT_EQ(GetRegSetting(kApp, saved, QStringLiteral("Debug"), QStringLiteral("-1")), QStringLiteral("-1"));
}

TEST_F(ConfigurationTest, EmptyHostFolderKeepsFirstCopyEmptyAndRewritesForTheSecond)
{
    SaveRegSetting(kApp, QStringLiteral("Setup"), QStringLiteral("TamselPath"), QString());
    modGlobals::InitApplicationVariables();
    EXPECT_TRUE(sessionState().config.tamselPath.isEmpty());
    EXPECT_EQ(sessionState().config.tamselDataPath, Paths::defaultTamselPath(true));
    EXPECT_EQ(GetRegSetting(kApp, QStringLiteral("Setup"), QStringLiteral("TamselPath")), Paths::defaultTamselPath(true));
}

TEST_F(ConfigurationTest, UnusableNumbersKeepTheirDefaultAndAreReported)
{
    SaveRegSetting(kApp, QStringLiteral("Communications"), QStringLiteral("NumOfNaks"), QStringLiteral("many"));
    SaveRegSetting(kApp, QStringLiteral("Communications"), QStringLiteral("InactivityTimeout"), QStringLiteral("600"));
    SaveRegSetting(kApp, QStringLiteral("Communications"), QStringLiteral("StandardPollRate"), QStringLiteral("70000"));
    modGlobals::InitApplicationVariables();
    const Configuration &c = sessionState().config;
    EXPECT_EQ(c.numOfNaks, 5);
    EXPECT_EQ(c.inactivityTimeout, 900); // 600 minutes do not fit the seconds field
    EXPECT_EQ(c.standardPollRate, 500);
    EXPECT_EQ(c.hbInterval, 20000); // the keys after the bad one are still loaded
    // The bad text is left for the operator to see.
    EXPECT_EQ(GetRegSetting(kApp, QStringLiteral("Communications"), QStringLiteral("NumOfNaks")), QStringLiteral("many"));
    const QString err = QString::fromLocal8Bit(testsupport::readFile(Paths::logFile(QStringLiteral("Comm.err"))));
    EXPECT_EQ(err.count(QStringLiteral("InitApplicationVariables()")), 3);
    EXPECT_TRUE(err.contains(QStringLiteral("0x0000000D"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("0x00000006"))) << err.toStdString();
}

TEST_F(ConfigurationTest, RegistryRoutinesCutAtNulAndFallBackToTheDefault)
{
    SaveRegSetting(kApp, QStringLiteral("Setup"), QStringLiteral("Icon"), QStringLiteral("ab") + QChar(0) + QStringLiteral("cd"));
    EXPECT_EQ(GetRegSetting(kApp, QStringLiteral("Setup"), QStringLiteral("Icon")), QStringLiteral("ab"));
    EXPECT_EQ(GetRegSetting(kApp, QStringLiteral("Nowhere"), QStringLiteral("Icon"), QStringLiteral("dflt")), QStringLiteral("dflt"));
    EXPECT_EQ(modRegistry::RegQueryString(modRegistry::HKEY_LOCAL_MACHINE, QStringLiteral("Bogus"), QStringLiteral("x"),
                                          QStringLiteral("d")),
              QStringLiteral("d"));
    // Texts with commas, quotes and backslashes come back as written.
    const QString odd = QStringLiteral("AT&F, E0 \"Q\" C:\\x");
    SaveRegSetting(kApp, QStringLiteral("Communications"), QStringLiteral("Init"), odd);
    EXPECT_EQ(GetRegSetting(kApp, QStringLiteral("Communications"), QStringLiteral("Init")), odd);
}

TEST_F(ConfigurationTest, HostSettingsNarrowEncryptionAndResolveTheRemoteHost)
{
    struct Case
    {
        int keyLength;
        int keyMode;
        bool expected;
    };
    const Case cases[] = {{31, 0, false}, {32, 0, true}, {33, 0, false}, {32, 1, false}, {32, 2, true}};
    for (const Case &c : cases) {
        clsCommunication component;
        auto settings = std::make_shared<testsupport::SettingsDouble>();
        settings->linkKey = QString(c.keyLength, QLatin1Char('k'));
        settings->linkKeyMode = c.keyMode;
        settings->accountName = QStringLiteral("acct-%1").arg(c.keyLength);
        component.setSettings(settings);
        EXPECT_EQ(sessionState().EncryptionEnabled, c.expected) << c.keyLength << " " << c.keyMode;
        EXPECT_EQ(sessionState().accountName, settings->accountName);
        EXPECT_EQ(component.Settings(), settings);
    }

    // Encryption switched off in the store is never switched on by the host.
    SaveRegSetting(kApp, QStringLiteral("SavedSettings"), QStringLiteral("TwoFish"), QStringLiteral("255"));
    clsCommunication component;
    auto settings = std::make_shared<testsupport::SettingsDouble>();
    settings->linkKey = QString(32, QLatin1Char('k'));
    settings->remoteHost = QStringLiteral("no-such-host.invalid");
    component.setSettings(settings);
    EXPECT_FALSE(sessionState().EncryptionEnabled);
    EXPECT_EQ(settings->remoteHost, QStringLiteral("no-such-host.invalid"));
    EXPECT_EQ(settings->remoteHostWrites, 0);

    settings->remoteHost = QStringLiteral("localhost");
    component.setSettings(settings);
    EXPECT_EQ(settings->remoteHost, QStringLiteral("127.0.0.1"));

    // An empty object is stored and nothing is derived from it.
    sessionState().accountName = QStringLiteral("kept");
    component.setSettings(nullptr);
    EXPECT_EQ(component.Settings(), nullptr);
    EXPECT_EQ(sessionState().accountName, QStringLiteral("kept"));
}

TEST_F(ConfigurationTest, NameIsFixedAndDataBeforeASessionGoesNowhere)
{
    clsCommunication component;
    component.setName(QStringLiteral("Other"));
    EXPECT_EQ(component.Name(), QStringLiteral("Quarvo"));
    EXPECT_EQ(component.DiagStartup(), 0);
    QByteArray data("\x01\x02", 2);
    component.DataArrival(data); // no session: nothing happens, nothing breaks
    EXPECT_TRUE(testsupport::readFile(Paths::logFile(QStringLiteral("Comm.err"))).isEmpty());
}

// The store's folders and file get fixed modes whatever the umask: under 000 a store others could
// write would let any local user switch encryption off ("TwoFish" 255) or redirect a port.
TEST_F(ConfigurationTest, StoreFoldersAre0755AndTheFile0644WhateverTheUmask)
{
    const auto modeOf = [](const QString &path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    };
    for (const mode_t mask : {mode_t(0), mode_t(077)}) {
        const QString root = testsupport::freshSettingsDir() + QStringLiteral("/system");
        qputenv("QUARVO_SETTINGS_DIR", root.toLocal8Bit());
        const mode_t old = ::umask(mask);
        resetSessionState();
        clsCommunication component; // writes the defaults back
        SaveRegSetting(kApp, QStringLiteral("SavedSettings"), QStringLiteral("Debug"), QStringLiteral("No"));
        ::umask(old);
        EXPECT_EQ(modeOf(root), 0755) << "umask " << mask;
        EXPECT_EQ(modeOf(root + QStringLiteral("/Norvane")), 0755) << "umask " << mask;
        EXPECT_EQ(modeOf(Paths::settingsFile()), 0644) << "umask " << mask;
        EXPECT_EQ(GetRegSetting(kApp, QStringLiteral("Communications"), QStringLiteral("NumOfNaks")), QStringLiteral("5"));
    }
}
