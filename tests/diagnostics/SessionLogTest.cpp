// The session log file and the immediate log window.
#include <gtest/gtest.h>

#include "component/Configuration.h"
#include "core/SessionState.h"
#include "core/Errors.h"
#include "core/modGlobals.h"
#include "core/modRegistry.h"
#include "diagnostics/Logging.h"
#include "diagnostics/clsSessionLog.h"
#include "diagnostics/frmImmediate.h"
#include "platform/Paths.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>

#include <sys/stat.h>

namespace {

const QString kApp = QStringLiteral("Tamsel");
const QString kComm = QStringLiteral("Communications");

class LogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSessionState();
        testsupport::freshSettingsDir();
        logDir = testsupport::freshLogDir();
        modGlobals::InitApplicationVariables();
    }
    void TearDown() override { resetSessionState(); }

    static QStringList lines(const QString &path)
    {
        return QString::fromLocal8Bit(testsupport::readFile(path)).split(QStringLiteral("\r\n"));
    }
    static int mode(const QString &path)
    {
        struct stat st{};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return -1;
        return st.st_mode & 0777;
    }
    QString logDir;
};

} // namespace

TEST_F(LogTest, MissingSwitchIsWrittenAsYesAndTheLogIsWritten)
{
    clsSessionLog log;
    EXPECT_TRUE(log.enabled());
    EXPECT_EQ(modRegistry::GetRegSetting(kApp, kComm, QStringLiteral("SessionLogEnable")), QStringLiteral("Yes"));
    EXPECT_EQ(modRegistry::GetRegSetting(kApp, kComm, QStringLiteral("SessionLogName")), QStringLiteral("session.log"));
    log.OpenLog(QString());
    log.LogEntry(QStringLiteral("Send"), QByteArray("\x01\x02\xff", 3));
    log.LogEntry(QStringLiteral("Modem"), QStringLiteral("OK"));
    log.LogEntry(QStringLiteral("Retry 1"));
    log.CloseLog();

    const QString path = Paths::logFile(QStringLiteral("session.log"));
    EXPECT_EQ(mode(path), 0600);
    const QStringList l = lines(path);
    ASSERT_GE(l.size(), 10);
    const QString header = modGlobals::GetCatalogString(327);
    ASSERT_TRUE(header.contains(QStringLiteral("%TIMESTAMP%")));
    const QString prefix = header.left(header.indexOf(QStringLiteral("%TIMESTAMP%")));
    EXPECT_TRUE(l[0].startsWith(prefix)) << l[0].toStdString();
    EXPECT_FALSE(l[0].contains(QLatin1Char('%')));
    EXPECT_EQ(l[1], QString());
    EXPECT_TRUE(l[2].startsWith(QStringLiteral("Send, ")));
    EXPECT_EQ(l[3], QStringLiteral("[01][02][FF]"));
    EXPECT_EQ(l[4], QString());
    EXPECT_TRUE(l[5].startsWith(QStringLiteral("Modem, ")));
    EXPECT_EQ(l[6], QStringLiteral("OK"));
    EXPECT_EQ(l[7], QString());
    EXPECT_TRUE(l[8].startsWith(QStringLiteral("Retry 1, ")));
    EXPECT_EQ(l[9], QString());
}

TEST_F(LogTest, LowerCaseNoIsRewrittenAndExactNoDisables)
{
    modRegistry::SaveRegSetting(kApp, kComm, QStringLiteral("SessionLogEnable"), QStringLiteral("no"));
    {
        clsSessionLog log;
        EXPECT_TRUE(log.enabled());
    }
    EXPECT_EQ(modRegistry::GetRegSetting(kApp, kComm, QStringLiteral("SessionLogEnable")), QStringLiteral("Yes"));

    modRegistry::SaveRegSetting(kApp, kComm, QStringLiteral("SessionLogEnable"), QStringLiteral("No"));
    clsSessionLog log;
    EXPECT_FALSE(log.enabled());
    log.OpenLog(QString());
    log.LogEntry(QStringLiteral("x"));
    log.CloseLog();
    EXPECT_FALSE(QFile::exists(Paths::logFile(QStringLiteral("session.log"))));
}

TEST_F(LogTest, NamedLogReplacesThePreviousFileAndStaysInTheLogFolder)
{
    clsSessionLog log;
    log.OpenLog(QStringLiteral("1234.log"));
    log.LogEntry(QStringLiteral("first session"));
    log.CloseLog();
    log.OpenLog(QStringLiteral("1234.log"));
    log.LogEntry(QStringLiteral("second session"));
    log.CloseLog();
    const QString text = QString::fromLocal8Bit(testsupport::readFile(Paths::logFile(QStringLiteral("1234.log"))));
    EXPECT_FALSE(text.contains(QStringLiteral("first session")));
    EXPECT_TRUE(text.contains(QStringLiteral("second session")));

    // A name with folders in it cannot place the log elsewhere.
    log.OpenLog(QStringLiteral("../escape.log"));
    log.CloseLog();
    EXPECT_FALSE(QFile::exists(QFileInfo(logDir).dir().filePath(QStringLiteral("escape.log"))));
    EXPECT_TRUE(log.path().startsWith(logDir));
}

TEST_F(LogTest, AddLogEntryNeedsASessionLog)
{
    modGlobals::AddLogEntry(QStringLiteral("nowhere")); // no log: nothing happens
    auto log = std::make_shared<clsSessionLog>();
    sessionState().sessionLog = log;
    log->OpenLog(QString());
    modGlobals::AddLogEntry(QStringLiteral("Passcode"), QByteArray("\x12\x34", 2));
    log->CloseLog();
    const QStringList l = lines(log->path());
    ASSERT_GE(l.size(), 4);
    EXPECT_TRUE(l[2].startsWith(QStringLiteral("Passcode, ")));
    EXPECT_EQ(l[3], QStringLiteral("[12][34]"));
}

TEST_F(LogTest, HiddenImmediateWindowCollectsNothingAndDumpsNothing)
{
    {
        frmImmediate window;
        window.DebugPrint(QStringLiteral("lost"));
        EXPECT_TRUE(window.dumpList().isEmpty());
    }
    EXPECT_FALSE(QFile::exists(frmImmediate::dumpPath()));
}

TEST_F(LogTest, ImmediateWindowShowsTheLast100AndDumpsEverything)
{
    frmImmediate window;
    window.show();
    for (int i = 1; i <= 150; ++i)
        window.DebugPrint(QStringLiteral("text %1").arg(i));
    QStringList shown = window.txtDebug->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(shown.size(), 100);
    EXPECT_EQ(shown.first(), QStringLiteral("text 51"));
    EXPECT_EQ(shown.last(), QStringLiteral("text 150"));

    window.cmdClear_Click();
    EXPECT_TRUE(window.txtDebug->toPlainText().isEmpty());
    window.cmdDump_Click();
    const QStringList l = lines(frmImmediate::dumpPath());
    EXPECT_TRUE(l[0].startsWith(QStringLiteral("START SESSION, ")));
    EXPECT_EQ(l[1], QString());
    EXPECT_EQ(l[2], QStringLiteral("text 1"));
    EXPECT_EQ(l[151], QStringLiteral("text 150"));
    EXPECT_EQ(mode(frmImmediate::dumpPath()), 0600);

    // With Show unchecked texts are collected but the box is refreshed only after it is checked again
    // and a new text arrives.
    window.chkShow->setChecked(false);
    window.DebugPrint(QStringLiteral("quiet"));
    EXPECT_TRUE(window.txtDebug->toPlainText().isEmpty());
    window.chkShow->setChecked(true);
    EXPECT_TRUE(window.txtDebug->toPlainText().isEmpty());
    window.DebugPrint(QStringLiteral("loud"));
    EXPECT_EQ(window.txtDebug->toPlainText(), QStringLiteral("quiet\nloud\n"));

    // Unloading a visible window dumps it again, this time with the newer texts.
    window.unload();
    EXPECT_EQ(lines(frmImmediate::dumpPath()).at(153), QStringLiteral("loud"));
}

// A long session: the window's memory stays bounded, and the dump still holds every text.
TEST_F(LogTest, ImmediateWindowKeepsBoundedMemoryAndDumpsEveryText)
{
    frmImmediate window;
    window.show();
    window.chkShow->setChecked(false);
    constexpr int kTexts = 3 * frmImmediate::DumpKept;
    for (int i = 1; i <= kTexts; ++i)
        window.DebugPrint(QStringLiteral("text %1").arg(i));
    EXPECT_LT(window.displayList().size(), kTexts / 2);
    EXPECT_LT(window.dumpList().size(), kTexts / 2);
    EXPECT_EQ(window.dumpList().last(), QStringLiteral("text %1").arg(kTexts));
    window.cmdDump_Click();
    const QStringList l = lines(frmImmediate::dumpPath());
    ASSERT_EQ(l.size(), kTexts + 3); // header, empty line, the texts, and the final line end
    for (int i = 1; i <= kTexts; ++i)
        ASSERT_EQ(l[i + 1], QStringLiteral("text %1").arg(i));
}

TEST_F(LogTest, InitImmediateFollowsTheSettingAndDebugPrintForwards)
{
    modGlobals::InitImmediate();
    ASSERT_TRUE(sessionState().immediateWindow);
    EXPECT_FALSE(sessionState().immediateWindow->isVisible());
    modRegistry::SaveRegSetting(kApp, QStringLiteral("SavedSettings"), QStringLiteral("Immediate"), QStringLiteral("Yes"));
    modGlobals::InitImmediate();
    frmImmediate *window = sessionState().immediateWindow;
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    modGlobals::DebugPrint(QStringLiteral("via the module"));
    EXPECT_EQ(window->dumpList(), QStringList{QStringLiteral("via the module")});
    delete window;
}

// Links planted in the log folder, one per log file: none is followed, the target keeps its content
// and mode, and the refusal is reported (for the error file itself, on stderr only).
TEST_F(LogTest, LinksPlantedInTheLogFolderAreRefusedAndTheirTargetsUntouched)
{
    const QString target = QDir(testsupport::freshLogDir()).filePath(QStringLiteral("target"));
    qputenv("QUARVO_LOG_DIR", logDir.toLocal8Bit());
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("precious\n");
    }
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0644), 0);
    for (const char *name : {"session.log", "immediate.log", "Comm.err"})
        ASSERT_TRUE(QFile::link(target, Paths::logFile(QString::fromLatin1(name)))) << name;
    const QString errorFile = Paths::logFile(QStringLiteral("Comm.err"));
    QFile::remove(errorFile); // the error file itself is tried last

    clsSessionLog log;
    log.OpenLog(QString());
    log.LogEntry(QStringLiteral("passcode"), QByteArray("\x12\x34", 2));
    EXPECT_FALSE(log.isOpen());
    frmImmediate window;
    window.show();
    window.DebugPrint(QStringLiteral("traffic"));
    window.cmdDump_Click();
    const QString reports = QString::fromLocal8Bit(testsupport::readFile(errorFile));
    EXPECT_TRUE(reports.contains(QStringLiteral("0x00000046 clsSessionLog OpenLog()"))) << reports.toStdString();
    EXPECT_TRUE(reports.contains(QStringLiteral("0x00000046 frmImmediate cmdDump_Click()"))) << reports.toStdString();

    ASSERT_TRUE(QFile::remove(errorFile));
    ASSERT_TRUE(QFile::link(target, errorFile));
    errors::guarded(QStringLiteral("clsModem"), QStringLiteral("Connect()"), [] { raiseError(5); });

    EXPECT_EQ(testsupport::readFile(target), QByteArray("precious\n"));
    EXPECT_EQ(mode(target), 0644);
    for (const char *name : {"session.log", "immediate.log", "Comm.err"})
        EXPECT_TRUE(QFileInfo(Paths::logFile(QString::fromLatin1(name))).isSymLink()) << name;
    window.hide();
}
