// The error reporter as the component uses it: an error trapped by a procedure's boundary lands as
// one readable line in "Comm.err" in the log folder, a private file that later errors append to.
#include <gtest/gtest.h>

#include "component/Configuration.h"
#include "core/Errors.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "core/modRegistry.h"
#include "external/ErrorReporter.h"
#include "support/TestSupport.h"

#include <QDate>
#include <QDir>
#include <QRegularExpression>
#include <QTest>

#include <sys/stat.h>

namespace {

QStringList errorLines(const QString &path)
{
    return QString::fromLocal8Bit(testsupport::readFile(path)).split(QRegularExpression(QStringLiteral("\r?\n")), Qt::SkipEmptyParts);
}

mode_t fileMode(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 0777) : 0;
}

} // namespace

TEST(ErrorReporter, GuardedErrorsAppendReadableLinesToAPrivateFile)
{
    // With an open umask a file created without care would be world-readable.
    struct UmaskGuard { mode_t old = ::umask(0); ~UmaskGuard() { ::umask(old); } } umaskGuard;
    testsupport::freshSettingsDir();
    const QString path = QDir(testsupport::freshLogDir()).filePath(QStringLiteral("Comm.err"));
    modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Setup"), QStringLiteral("WarningLevel"),
                                QStringLiteral("3"));
    resetSessionState();
    modGlobals::InitApplicationVariables();
    ASSERT_TRUE(errorLines(path).isEmpty()) << "a clean configuration load reports nothing";
    // A procedure that succeeds reports nothing either.
    EXPECT_EQ(errors::guarded(QStringLiteral("clsModem"), QStringLiteral("Answer()"), [] {}), 0);

    const QDate before = QDate::currentDate();
    EXPECT_EQ(static_cast<quint32>(errors::guarded(QStringLiteral("clsModem"), QStringLiteral("Connect()"),
                                                   [] { raiseError(static_cast<std::int32_t>(0x80041388)); })),
              0x80041388u);
    QStringList lines = errorLines(path);
    ASSERT_EQ(lines.size(), 1);
    const QString line = lines.at(0);
    const QRegularExpressionMatch d = QRegularExpression(QStringLiteral(R"(\b(\d{4}-\d{2}-\d{2})\b)")).match(line);
    ASSERT_TRUE(d.hasMatch()) << line.toStdString();
    const QDate logged = QDate::fromString(d.captured(1), Qt::ISODate);
    EXPECT_TRUE(logged == before || logged == QDate::currentDate()) << line.toStdString();
    for (const char *pattern : {R"(\b\d{2}:\d{2}:\d{2}\b)", R"(\b0x80041388\b)", R"(\bclsModem\b)", R"(\bConnect\(\))",
                                R"(\blevel 3\b)"})
        EXPECT_TRUE(line.contains(QRegularExpression(QString::fromLatin1(pattern)))) << pattern << " in " << line.toStdString();
    EXPECT_EQ(fileMode(path), 0600u);

    // A file that was loosened meanwhile is narrowed again at the next error, which is appended below
    // the first with its hex digits in upper case.
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
    errors::guarded(QStringLiteral("frmMsgQueue"), QStringLiteral("tmrInactivity_Timer()"),
                    [] { raiseError(static_cast<std::int32_t>(0x800413AC)); });
    lines = errorLines(path);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines.at(0), line);
    for (const char *part : {"0x800413AC", "frmMsgQueue", "tmrInactivity_Timer()"})
        EXPECT_TRUE(lines.at(1).contains(QLatin1String(part))) << part << " in " << lines.at(1).toStdString();
    EXPECT_EQ(fileMode(path), 0600u) << "the file holds passcodes in hex";
    resetSessionState();
}

// A peer that sends junk makes the same report again and again: within a window only the first
// few are written, then one line counts the rest.
TEST(ErrorReporter, IdenticalReportsAreLimitedAndCounted)
{
    testsupport::freshSettingsDir();
    const QString path = QDir(testsupport::freshLogDir()).filePath(QStringLiteral("Comm.err"));
    resetSessionState();
    modGlobals::InitApplicationVariables();
    ASSERT_TRUE(sessionState().errorReporter);
    sessionState().errorReporter->RepeatWindowMs = 200;
    const auto junk = [] { errors::report(5, QStringLiteral("frmMsgQueue"), QStringLiteral("DataArrival()")); };
    for (int i = 0; i < 178; ++i)
        junk();
    errors::report(13, QStringLiteral("frmMsgQueue"), QStringLiteral("Form_Load()")); // another report is written
    QStringList lines = errorLines(path);
    ASSERT_EQ(lines.size(), ErrorReporter::RepeatLimit + 1);
    EXPECT_EQ(lines.filter(QStringLiteral("DataArrival()")).size(), ErrorReporter::RepeatLimit);

    QTest::qWait(250); // the window passes: the next report brings the count
    junk();
    lines = errorLines(path);
    ASSERT_EQ(lines.size(), ErrorReporter::RepeatLimit + 3);
    EXPECT_TRUE(lines.at(lines.size() - 2).contains(QStringLiteral("DataArrival() level 5 - repeated %1 more times").arg(178 - ErrorReporter::RepeatLimit)))
        << lines.at(lines.size() - 2).toStdString();
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("DataArrival() level 5")));
    resetSessionState();
}
