// The error reporter as the component uses it: an error trapped by a procedure's boundary lands as
// one readable line in "Comm.err" in the log folder, a private file that later errors append to.
#include <gtest/gtest.h>

#include "component/Configuration.h"
#include "component/modRegistry.h"
#include "core/Errors.h"
#include "core/SessionState.h"
#include "support/TestSupport.h"

#include <QDate>
#include <QDir>
#include <QRegularExpression>
#include <QStringList>

#include <sys/stat.h>

namespace {

// Restores the process umask when the test ends.
class UmaskGuard
{
public:
    explicit UmaskGuard(mode_t mask) : m_old(::umask(mask)) {}
    ~UmaskGuard() { ::umask(m_old); }

private:
    mode_t m_old;
};

QStringList errorLines(const QString &logDir)
{
    const QString text = QString::fromLocal8Bit(testsupport::readFile(QDir(logDir).filePath(QStringLiteral("Comm.err"))));
    return text.split(QRegularExpression(QStringLiteral("\r?\n")), Qt::SkipEmptyParts);
}

} // namespace

TEST(ErrorReporter, GuardedErrorsAppendReadableLinesToAPrivateFile)
{
    // With an open umask a file created without care would be world-readable.
    const UmaskGuard umaskGuard(0);
    testsupport::freshSettingsDir();
    const QString logDir = testsupport::freshLogDir();
    modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Setup"), QStringLiteral("WarningLevel"),
                                QStringLiteral("3"));
    resetSessionState();
    modGlobals::InitApplicationVariables();
    ASSERT_TRUE(errorLines(logDir).isEmpty()) << "a clean configuration load reports nothing";

    const QDate before = QDate::currentDate();
    const std::int32_t first = errors::guarded(QStringLiteral("clsModem"), QStringLiteral("Connect()"),
                                               [] { raiseError(static_cast<std::int32_t>(0x80041388)); });
    const QDate after = QDate::currentDate();
    EXPECT_EQ(static_cast<quint32>(first), 0x80041388u);

    QStringList lines = errorLines(logDir);
    ASSERT_EQ(lines.size(), 1);
    const QString line = lines.at(0);
    const QRegularExpression date(QStringLiteral(R"(\b(\d{4}-\d{2}-\d{2})\b)"));
    const QRegularExpressionMatch d = date.match(line);
    ASSERT_TRUE(d.hasMatch()) << line.toStdString();
    const QDate logged = QDate::fromString(d.captured(1), Qt::ISODate);
    EXPECT_TRUE(logged == before || logged == after) << line.toStdString();
    EXPECT_TRUE(line.contains(QRegularExpression(QStringLiteral(R"(\b\d{2}:\d{2}:\d{2}\b)")))) << line.toStdString();
    EXPECT_TRUE(line.contains(QStringLiteral("0x80041388"))) << line.toStdString();
    EXPECT_TRUE(line.contains(QStringLiteral("clsModem"))) << line.toStdString();
    EXPECT_TRUE(line.contains(QStringLiteral("Connect()"))) << line.toStdString();
    EXPECT_TRUE(line.contains(QRegularExpression(QStringLiteral(R"(\blevel 3\b)")))) << line.toStdString();

    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(QDir(logDir).filePath(QStringLiteral("Comm.err"))).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // A second error is appended below the first; hex digits are upper case.
    const std::int32_t second = errors::guarded(QStringLiteral("frmMsgQueue"), QStringLiteral("tmrInactivity_Timer()"),
                                                [] { raiseError(static_cast<std::int32_t>(0x800413AC)); });
    EXPECT_EQ(static_cast<quint32>(second), 0x800413ACu);
    lines = errorLines(logDir);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines.at(0), line);
    EXPECT_TRUE(lines.at(1).contains(QStringLiteral("0x800413AC"))) << lines.at(1).toStdString();
    EXPECT_TRUE(lines.at(1).contains(QStringLiteral("frmMsgQueue"))) << lines.at(1).toStdString();
    EXPECT_TRUE(lines.at(1).contains(QStringLiteral("tmrInactivity_Timer()"))) << lines.at(1).toStdString();

    // A procedure that succeeds reports nothing.
    EXPECT_EQ(errors::guarded(QStringLiteral("clsModem"), QStringLiteral("Answer()"), [] {}), 0);
    EXPECT_EQ(errorLines(logDir).size(), 2);
    resetSessionState();
}

TEST(ErrorReporter, AnExistingLooseFileIsNarrowedAndKept)
{
    const UmaskGuard umaskGuard(0);
    testsupport::freshSettingsDir();
    const QString logDir = testsupport::freshLogDir();
    const QString path = QDir(logDir).filePath(QStringLiteral("Comm.err"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("earlier line\r\n");
    }
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);

    resetSessionState();
    modGlobals::InitApplicationVariables();
    errors::guarded(QStringLiteral("modGlobals"), QStringLiteral("MakeCallback()"),
                    [] { raiseError(static_cast<std::int32_t>(0x80041389)); });

    const QStringList lines = errorLines(logDir);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines.at(0), QStringLiteral("earlier line"));
    EXPECT_TRUE(lines.at(1).contains(QStringLiteral("0x80041389")));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the file holds passcodes in hex";
    resetSessionState();
}
