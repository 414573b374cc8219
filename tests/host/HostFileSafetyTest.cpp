// What the reference host reads and writes when the files are not what they should be: inputs that
// never end or are far too large, symbolic links at the names it writes, a full disk, and texts from
// a file that would act on the terminal.
#include <gtest/gtest.h>

#include "FileHostSettings.h"
#include "HostFiles.h"
#include "HostSession.h"
#include "PanelDataStore.h"
#include "Printable.h"
#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/SessionState.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string str(const QString &text)
{
    return text.toStdString();
}

unsigned modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

void writeFile(const QString &path, const QByteArray &bytes, unsigned mode = 0644)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << str(path);
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

bool makeLink(const QString &target, const QString &link)
{
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0;
}

// A message for the terminal: one line.
bool oneLine(const QString &text)
{
    return !text.isEmpty() && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r'));
}

TEST(HostInputs, WhatIsNotARegularFileOrIsTooLargeIsRefusedUnread)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Sparse files one byte over each limit: nothing needs writing, and nothing may be read.
    const auto sparse = [&](const char *name, qint64 size) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(size));
        return path;
    };
    const QString bigData = sparse("big.qpd", PanelDataStore::maxFileBytes() + 1);
    const QString bigSettings = sparse("big.json", FileHostSettings::MaxFileBytes + 1);
    struct Case
    {
        QString path;
        const char *says;
    };
    const Case cases[] = {
        {QStringLiteral("/dev/zero"), "a character device, not a regular file"},
        {QStringLiteral("/dev/urandom"), "a character device, not a regular file"},
        {fifo, "a FIFO, not a regular file"},
        {dir.path(), "a folder, not a regular file"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(str(c.path));
        PanelDataStore store;
        FileHostSettings settings;
        QString why;
        EXPECT_FALSE(store.load(c.path, &why));
        EXPECT_TRUE(oneLine(why) && why.startsWith(c.path) && why.contains(QLatin1String(c.says))) << str(why);
        why.clear();
        EXPECT_FALSE(settings.load(c.path, &why));
        EXPECT_TRUE(oneLine(why) && why.startsWith(c.path) && why.contains(QLatin1String(c.says))) << str(why);
    }
    PanelDataStore store;
    FileHostSettings settings;
    QString why;
    EXPECT_FALSE(store.load(bigData, &why));
    EXPECT_TRUE(why.contains(QLatin1String("larger than such a file can be"))) << str(why);
    EXPECT_FALSE(settings.load(bigSettings, &why));
    EXPECT_TRUE(why.contains(QLatin1String("larger than such a file can be"))) << str(why);

    // The largest sound file is read: the limit is the format's own.
    PanelDataStore largest(50);
    const QString sound = dir.filePath(QStringLiteral("largest.qpd"));
    ASSERT_TRUE(largest.save(sound, &why)) << str(why);
    EXPECT_LE(QFileInfo(sound).size(), PanelDataStore::maxFileBytes());
    EXPECT_TRUE(store.load(sound, &why)) << str(why);
}

TEST(HostInputs, TheTransferFileIsNeverWrittenThroughALink)
{
    QTemporaryDir dir;
    const QString victim = dir.filePath(QStringLiteral("victim"));
    writeFile(victim, "precious\n", 0644);
    const QString transfer = dir.filePath(QStringLiteral("tempdat.000"));
    const QString dataFile = dir.filePath(QStringLiteral("panel.qpd"));
    struct Case
    {
        const char *what;
        QString target; // where the link points
    };
    for (const Case &c : {Case{"to a file", victim}, Case{"to nothing yet", dir.filePath(QStringLiteral("created"))}}) {
        SCOPED_TRACE(c.what);
        QFile::remove(transfer);
        ASSERT_TRUE(makeLink(c.target, transfer));
        PanelDataStore store;
        store.setDataFile(dataFile);
        store.write(QByteArrayLiteral("\x11\x22"), store.locate(0, 0));
        store.takeTransferFile(transfer);
        EXPECT_TRUE(store.saveFailed());
        EXPECT_TRUE(store.saveError().contains(QLatin1String("symbolic link"))) << str(store.saveError());
        EXPECT_TRUE(QFileInfo(transfer).isSymLink());
        EXPECT_FALSE(QFile::exists(dataFile)); // the data file waits for a transfer file that was written
    }
    EXPECT_EQ(testsupport::readFile(victim), QByteArray("precious\n"));
    EXPECT_EQ(modeOf(victim), 0644u);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("created"))));
}

TEST(HostInputs, ADataFileBehindALinkIsWrittenAtItsTargetOnlyWhenTheLinkIsTheUsersOwn)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("elsewhere")));
    const QString target = dir.filePath(QStringLiteral("elsewhere/site.qpd"));
    PanelDataStore first;
    ASSERT_TRUE(first.setBytes(5, 0, QByteArrayLiteral("\x01"), nullptr));
    QString why;
    ASSERT_TRUE(first.save(target, &why)) << str(why);
    const QString link = dir.filePath(QStringLiteral("site.qpd"));
    ASSERT_TRUE(makeLink(QStringLiteral("elsewhere/site.qpd"), link)); // relative, as people make them

    // One's own link: read and replaced at its target, as an editor does; the link stays.
    PanelDataStore store;
    ASSERT_TRUE(store.load(link, &why)) << str(why);
    EXPECT_EQ(store.item(5).left(1), QByteArrayLiteral("\x01"));
    ASSERT_TRUE(store.setBytes(5, 0, QByteArrayLiteral("\x02"), nullptr));
    ASSERT_TRUE(store.save(link, &why)) << str(why);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(testsupport::readFile(target), store.toBytes());
    EXPECT_EQ(modeOf(target), 0600u);
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("elsewhere"))).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("site.qpd")});

    // Another user's link at the name: neither read nor written through.
    if (::lchown(QFile::encodeName(link).constData(), 65534, 65534) != 0)
        GTEST_SKIP() << "giving the link to another user needs root";
    const QByteArray before = testsupport::readFile(target);
    PanelDataStore other;
    EXPECT_FALSE(other.load(link, &why));
    EXPECT_TRUE(why.contains(QLatin1String("another user"))) << str(why);
    EXPECT_FALSE(store.save(link, &why));
    EXPECT_TRUE(why.contains(QLatin1String("another user"))) << str(why);
    QString resolved;
    EXPECT_FALSE(hostfiles::resolveOwnLinks(link, &resolved, &why));
    EXPECT_EQ(testsupport::readFile(target), before);
}

TEST(HostInputs, AFullDiskIsCalledWhatTheSystemCallsIt)
{
    const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    QString why;
    EXPECT_FALSE(hostfiles::writeFully(fd, QByteArray(100, 'x'), &why));
    ::close(fd);
    EXPECT_EQ(why, QString::fromLocal8Bit(std::strerror(ENOSPC)));

    // On a real file system that is full, where one can be mounted for the test.
    QTemporaryDir dir;
    const QString mountPoint = dir.filePath(QStringLiteral("small"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("small")));
    if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=8k") != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    struct Unmount
    {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{QFile::encodeName(mountPoint)};
    PanelDataStore store;
    const QString dataFile = QDir(mountPoint).filePath(QStringLiteral("panel.qpd"));
    EXPECT_FALSE(store.save(dataFile, &why));
    EXPECT_TRUE(why.contains(QString::fromLocal8Bit(std::strerror(ENOSPC)))) << str(why);
    EXPECT_TRUE(why.contains(dataFile)) << str(why);
    // Nothing is left behind: no part of a file, no temporary.
    EXPECT_TRUE(QDir(mountPoint).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST(HostInputs, TextsFromAFileAreShownOnOneLineAndCutShort)
{
    struct Case
    {
        QString text;
        int maxChars;
        QString shown;
    };
    const Case cases[] = {
        {QStringLiteral("Pascode"), 64, QStringLiteral("Pascode")},
        {QStringLiteral("a\x1b[31mred\x07"), 64, QStringLiteral("a\\x1b[31mred\\x07")},
        {QStringLiteral("two\nlines\r\t"), 64, QStringLiteral("two\\nlines\\r\\t")},
        {QString(QChar(0x202E)) + QStringLiteral("txt.exe"), 64, QStringLiteral("\\u202etxt.exe")},
        {QStringLiteral("caf\u00e9 \u00fcber"), 64, QStringLiteral("caf\u00e9 \u00fcber")},
        {QString(100, QLatin1Char('k')), 10, QStringLiteral("kkkkkkkkkk... (100 characters)")},
        {QString(100, QLatin1Char('k')), -1, QString(100, QLatin1Char('k'))},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(str(c.shown));
        EXPECT_EQ(printable(c.text, c.maxChars), c.shown);
    }

    // An unknown key of 800,000 characters with terminal escapes in it.
    const QString key = QStringLiteral("\x1b]0;owned\x07\x1b[2J") + QString(800000, QLatin1Char('A'));
    FileHostSettings settings;
    QString why;
    EXPECT_FALSE(settings.fromJson(QJsonObject{{key, 1}}, &why));
    EXPECT_TRUE(why.startsWith(QLatin1String("unknown key \"\\x1b]0;owned\\x07\\x1b[2J"))) << str(why.left(200));
    EXPECT_TRUE(why.contains(QStringLiteral("(%1 characters)").arg(key.size()))) << str(why.left(200));
    EXPECT_LT(why.size(), 200);
}

TEST(HostInputs, RemoteHostTakesAnAddressOrAHostNameAndSaysWhereAPortBelongs)
{
    struct Case
    {
        const char *host;
        const char *says; // nullptr: taken
    };
    const Case cases[] = {
        {"127.0.0.1", nullptr},
        {"panel-7.example.org", nullptr},
        {"PANEL_7", nullptr},
        {"", nullptr}, // no network link: the dialog asks
        {"127.0.0.1:47501", "the port belongs in PanelPort (\"RemoteHost\": \"127.0.0.1\", \"PanelPort\": 47501)"},
        {"panel.example.org:3001", "the port belongs in PanelPort"},
        {"udp://127.0.0.1", "must be an IPv4 address or a host name"},
        {"127.0.0.1 3001", "must be an IPv4 address or a host name"},
        {"-panel", "must be an IPv4 address or a host name"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.host);
        FileHostSettings settings;
        QString why;
        const bool taken = settings.fromJson(QJsonObject{{QStringLiteral("RemoteHost"), QString::fromLatin1(c.host)}}, &why);
        EXPECT_EQ(taken, c.says == nullptr) << str(why);
        if (c.says) {
            EXPECT_TRUE(why.startsWith(QLatin1String("\"RemoteHost\"")) && why.contains(QLatin1String(c.says))) << str(why);
        }
    }
    // Numbers beyond what a whole number field holds are a mistake, not undefined arithmetic.
    for (const char *json : {R"({"PanelPort": 1e300})", R"({"PanelType": -1e19})", R"({"BaudRate": 9600.5})"}) {
        SCOPED_TRACE(json);
        FileHostSettings settings;
        QString why;
        EXPECT_FALSE(settings.fromJson(QJsonDocument::fromJson(json).object(), &why));
    }
}

// The final message points to Comm.err only when the session wrote something there.
TEST(HostInputs, TheFailureReasonNamesCommErrOnlyWhenItWasWritten)
{
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("site.json"));
    writeFile(settings, R"({"RemoteHost": "127.0.0.1"})", 0600);
    HostOptions options;
    options.settingsPath = settings;
    options.eventsPath = dir.filePath(QStringLiteral("events.jsonl"));
    {
        HostSession session;
        QString why;
        ASSERT_TRUE(session.prepare(options, &why)) << str(why);
        ASSERT_TRUE(session.attach(&why)) << str(why);
        ASSERT_TRUE(sessionState().errorReporter);
        EXPECT_FALSE(session.failureReason().contains(QLatin1String("Comm.err"))) << str(session.failureReason());
        errors::report(ErrorCode::SendRefused, QStringLiteral("HostInputs"), QStringLiteral("Test()"), QStringLiteral("written"));
        EXPECT_TRUE(session.failureReason().contains(QLatin1String("details in"))) << str(session.failureReason());
        session.close();
    }
    resetSessionState();
}

} // namespace
