// quarvo-host as an installer runs it: the real program against a quarvo-panelsim process on UDP,
// started with a settings file only. Receive, change an item, send, receive again; failed attempts
// that leave the data file alone; bad input and a missing display.
#include <gtest/gtest.h>

#include "Commands.h"
#include "PanelDataStore.h"
#include "PanelSimulator.h"
#include "PanelState.h"
#include "connection/frmCommInterface.h"
#include "core/SessionState.h"
#include "platform/Timing.h"
#include "supervision/frmDisconnect.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__has_feature)
#define kAddressSanitizer __has_feature(address_sanitizer)
#else
#define kAddressSanitizer 0
#endif

namespace {

const QString kHost = QStringLiteral(QUARVO_HOST_PROGRAM);
const QString kPanelSim = QStringLiteral(QUARVO_PANELSIM_PROGRAM);
// Protocol time at a tenth: a whole panel is received in about ten seconds.
const QByteArray kScale = QByteArrayLiteral("0.1");

std::string str(const QString &text)
{
    return text.toStdString();
}

// The file's permission bits, as ls shows them.
unsigned modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

struct HostRun
{
    int exitCode = -1;
    QString out;
    QString err;

    // The host events of the run (the JSON lines of standard output).
    QList<QJsonObject> events() const
    {
        QList<QJsonObject> list;
        for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            list << QJsonDocument::fromJson(line.toUtf8()).object();
        return list;
    }
    // The texts of event 3, joined by ",".
    std::string endings() const
    {
        QStringList texts;
        for (const QJsonObject &e : events())
            if (e.value(QStringLiteral("code")).toInt() == 3)
                texts << e.value(QStringLiteral("data")).toString();
        return texts.join(QLatin1Char(',')).toStdString();
    }
};

class HostCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUARVO_TIME_SCALE"), QString::fromLatin1(kScale));
        env.insert(QStringLiteral("QUARVO_SETTINGS_DIR"), dir.filePath(QStringLiteral("store")));
        env.insert(QStringLiteral("QUARVO_LOG_DIR"), dir.filePath(QStringLiteral("logs")));
        // The transfer file goes to the host application's data folder: a private one.
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("xdg-data")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }

    void TearDown() override { stopPanel(); }

    // Starts quarvo-panelsim on a free UDP port; its trace and, when it stops, its data go to files.
    void startPanel(const QStringList &extra = {})
    {
        panel.setProcessEnvironment(env);
        panel.start(kPanelSim, QStringList{QStringLiteral("--mode"), QStringLiteral("network"), QStringLiteral("--port"),
                                           QStringLiteral("0"), QStringLiteral("--trace"), tracePath(),
                                           QStringLiteral("--save-data"), dir.filePath(QStringLiteral("panel.bin"))}
                                   + extra);
        ASSERT_TRUE(panel.waitForStarted(10000));
        const QRegularExpression announce(QStringLiteral("127\\.0\\.0\\.1:(\\d+)"));
        QString said;
        QElapsedTimer clock;
        clock.start();
        while (!announce.match(said).hasMatch() && clock.elapsed() < 10000 && panel.state() == QProcess::Running) {
            panel.waitForReadyRead(200);
            said += QString::fromLocal8Bit(panel.readAllStandardOutput());
        }
        const QRegularExpressionMatch m = announce.match(said);
        ASSERT_TRUE(m.hasMatch()) << str(said + QString::fromLocal8Bit(panel.readAllStandardError()));
        port = m.captured(1).toUShort();
    }

    void stopPanel()
    {
        if (panel.state() == QProcess::NotRunning)
            return;
        panel.terminate();
        if (!panel.waitForFinished(10000)) {
            panel.kill();
            panel.waitForFinished(5000);
        }
    }

    // A settings file for the panel, mode 0600, with `changes` over the usual keys.
    QString writeSettings(const QJsonObject &changes = {}, const QString &name = QStringLiteral("settings.json"))
    {
        QJsonObject json{{QStringLiteral("AccountName"), QStringLiteral("5150")},
                         {QStringLiteral("RemoteHost"), QStringLiteral("127.0.0.1")},
                         {QStringLiteral("PanelPort"), int(port)},
                         {QStringLiteral("Passcode"), QStringLiteral("123456")},
                         {QStringLiteral("ResponseTimeout"), 2},
                         {QStringLiteral("DataLocks"),
                          QJsonArray{QJsonObject{{QStringLiteral("Value"), 0x1234}, {QStringLiteral("Name"), QStringLiteral("Office")},
                                                 {QStringLiteral("Number"), 1}, {QStringLiteral("Key"), QStringLiteral("PRIMARY")}}}}};
        for (auto it = changes.begin(); it != changes.end(); ++it)
            json.insert(it.key(), it.value());
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QJsonDocument(json).toJson());
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        return path;
    }

    HostRun host(const QStringList &arguments, const QProcessEnvironment *environment = nullptr)
    {
        QProcess process;
        process.setProcessEnvironment(environment ? *environment : env);
        process.setChildProcessModifier(childSetUp);
        process.start(kHost, arguments);
        return finish(process, arguments);
    }

    // In the child before quarvo-host starts: SIGTERM and SIGINT as a terminal gives them (a test
    // runner started in the background may have left SIGINT ignored), and, outside sanitizer builds
    // (whose shadow memory needs the address space), memory capped at 4 GB: a host that swallowed an
    // endless input would fail there instead of filling the machine.
    static void childSetUp()
    {
        ::signal(SIGTERM, SIG_DFL);
        ::signal(SIGINT, SIG_DFL);
#if !defined(__SANITIZE_ADDRESS__) && !kAddressSanitizer
        const rlimit cap{rlim_t(4) << 30, rlim_t(4) << 30};
        ::setrlimit(RLIMIT_AS, &cap);
#endif
    }

    HostRun finish(QProcess &process, const QStringList &arguments)
    {
        HostRun run;
        if (!process.waitForStarted(10000) || !process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished(5000);
            ADD_FAILURE() << "quarvo-host " << str(arguments.join(QLatin1Char(' '))) << " did not finish";
        }
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    QString tracePath() const { return dir.filePath(QStringLiteral("trace.jsonl")); }

    // Requests the panel got (decoded), in order.
    QStringList requests() const
    {
        QStringList list;
        for (const QByteArray &line : testsupport::readFile(tracePath()).split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value(QStringLiteral("dir")).toString() == QLatin1String("in"))
                list << o.value(QStringLiteral("decoded")).toString();
        }
        return list;
    }
    static int count(const QStringList &requests, const QString &name)
    {
        return int(std::count_if(requests.begin(), requests.end(), [&](const QString &r) { return r.contains(name); }));
    }

    QTemporaryDir dir;
    QProcessEnvironment env;
    QProcess panel;
    quint16 port = 0;
};

// The panel's 19 items as quarvo-panelsim with the default seed, passcode and data lock holds them.
QByteArray seedItem(int item)
{
    panelsim::PanelConfig config;
    config.mode = panelsim::LinkMode::Network;
    return panelsim::PanelState(config).itemBytes(item);
}

TEST_F(HostCommandTest, ReceiveChangeSendAndReceiveAgainAgainstAPanelProcess)
{
    ASSERT_NO_FATAL_FAILURE(startPanel());
    const QString settings = writeSettings();
    const QString dataFile = dir.filePath(QStringLiteral("5150.qpd"));

    // The settings file only: the data file is made next to it, named after the account.
    const HostRun receive = host({QStringLiteral("unattended"), QStringLiteral("--settings"), settings, QStringLiteral("--jobs"),
                              QStringLiteral("receive")});
    ASSERT_EQ(receive.exitCode, 0) << str(receive.err);
    EXPECT_EQ(receive.endings(), "SUCCESS");
    // Every block of the item map; the simulator calls the read of block 0:0 (the data lock) "Request
    // Data Lock", which the handshake asks for once more.
    EXPECT_EQ(count(requests(), QStringLiteral("Request Item Block")) + count(requests(), QStringLiteral("Request Data Lock")), 213 + 1);
    EXPECT_EQ(modeOf(dataFile), 0600u);
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("logs/5150.log")))); // the session log, named after the account
    PanelDataStore store;
    QString why;
    ASSERT_TRUE(store.load(dataFile, &why)) << str(why);
    for (int item = 0; item < PanelDataStore::ItemCount; ++item)
        EXPECT_EQ(store.item(item), seedItem(item)) << "item " << item;

    const HostRun set = host({QStringLiteral("data"), QStringLiteral("set"), dataFile, QStringLiteral("5"), QStringLiteral("0x10"),
                          QStringLiteral("a5 5a c3")});
    ASSERT_EQ(set.exitCode, 0) << str(set.err);

    const int before = int(requests().size());
    const HostRun send = host({QStringLiteral("unattended"), QStringLiteral("--settings"), settings, QStringLiteral("--jobs"),
                           QStringLiteral("send")});
    ASSERT_EQ(send.exitCode, 0) << str(send.err);
    EXPECT_EQ(send.endings(), "SUCCESS");
    const QStringList sent = requests().mid(before);
    EXPECT_EQ(count(sent, QStringLiteral("Write Item Block 5:")), 4);
    EXPECT_EQ(count(sent, QStringLiteral("Write Item Block")), 4);
    EXPECT_EQ(count(sent, QStringLiteral("Panel Goodbye 1")), 1) << str(sent.join(QLatin1Char('\n')));

    // Panel and data file agree now: nothing moves, and the file is not rewritten.
    const QByteArray file = testsupport::readFile(dataFile);
    const int beforeAgain = int(requests().size());
    const HostRun again = host({QStringLiteral("unattended"), QStringLiteral("--settings"), settings, QStringLiteral("--jobs"),
                            QStringLiteral("receive")});
    ASSERT_EQ(again.exitCode, 0) << str(again.err);
    const QStringList asked = requests().mid(beforeAgain);
    EXPECT_EQ(count(asked, QStringLiteral("Request CRC")), 1);
    EXPECT_EQ(count(asked, QStringLiteral("Request Item Block")), 0);
    EXPECT_TRUE(again.err.contains(QLatin1String("every CRC the same"))) << str(again.err);
    EXPECT_EQ(testsupport::readFile(dataFile), file);

    // What the panel holds when it stops: the data file's items, byte for byte.
    stopPanel();
    ASSERT_TRUE(store.load(dataFile, &why)) << str(why);
    QByteArray items;
    for (int item = 0; item < PanelDataStore::ItemCount; ++item)
        items += store.item(item);
    EXPECT_EQ(testsupport::readFile(dir.filePath(QStringLiteral("panel.bin"))), items);
    EXPECT_EQ(store.item(5).mid(16, 3), QByteArrayLiteral("\xa5\x5a\xc3"));
}

TEST_F(HostCommandTest, AFailedAttemptIsAFailureAndLeavesTheDataFileAlone)
{
    struct Case
    {
        const char *what;
        QStringList panel;
        const char *says;
    };
    const Case cases[] = {
        {"refused passcode", {QStringLiteral("--fault"), QStringLiteral("refuse@passcode*0")}, "refused the passcode"},
        {"data lock of nobody", {QStringLiteral("--data-lock"), QStringLiteral("0x7777")}, "data lock matches none"},
        {"silent panel", {QStringLiteral("--fault"), QStringLiteral("silence*0")}, "did not answer"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(startPanel(c.panel));
        const QString settings = writeSettings();
        const QString dataFile = dir.filePath(QStringLiteral("kept.qpd"));
        PanelDataStore store;
        ASSERT_TRUE(store.setBytes(5, 0, QByteArrayLiteral("\x01\x02"), nullptr));
        ASSERT_TRUE(store.save(dataFile, nullptr));
        const QByteArray before = testsupport::readFile(dataFile);
        const QDateTime modified = QFileInfo(dataFile).lastModified();

        const HostRun run = host({QStringLiteral("unattended"), QStringLiteral("--settings"), settings, QStringLiteral("--data"), dataFile,
                              QStringLiteral("--jobs"), QStringLiteral("clock,receive")});
        EXPECT_EQ(run.exitCode, 1) << str(run.err);
        EXPECT_EQ(run.endings(), "FAILURE");
        EXPECT_TRUE(run.err.contains(QLatin1String(c.says))) << str(run.err);
        EXPECT_EQ(count(requests(), QStringLiteral("Change Panel Date")), 0);
        EXPECT_EQ(testsupport::readFile(dataFile), before);
        EXPECT_EQ(QFileInfo(dataFile).lastModified(), modified);
        stopPanel();
        QFile::remove(tracePath());
    }
}

TEST_F(HostCommandTest, BadInputAndNoDisplayEndWithAUsageErrorThatSaysWhy)
{
    const QString settings = writeSettings();
    QProcessEnvironment headless = env;
    for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        headless.remove(QLatin1String(variable));
    struct Case
    {
        QStringList arguments;
        int exitCode;
        const char *says;
        bool noDisplay;
    };
    const Case cases[] = {
        {{QStringLiteral("session"), QStringLiteral("--settings"), settings}, 2, "quarvo-host unattended", true},
        {{QStringLiteral("unattended"), QStringLiteral("--settings"), settings, QStringLiteral("--jobs"), QStringLiteral("clok")}, 2,
         "unknown job \"clok\"", false},
        {{QStringLiteral("unattended"), QStringLiteral("--settings"), dir.filePath(QStringLiteral("missing.json")), QStringLiteral("--jobs"),
          QStringLiteral("clock")},
         2, "cannot read", false},
        {{QStringLiteral("unattended"), QStringLiteral("--jobs"), QStringLiteral("clock")}, 2, "--settings FILE is needed", false},
        {{QStringLiteral("data"), QStringLiteral("show"), settings}, 2, "not a panel data file", false},
        {{QStringLiteral("frobnicate")}, 2, "unknown command", false},
        {{QStringLiteral("--out-of-process"), QStringLiteral("data"), QStringLiteral("show"), settings}, 2,
         "goes with session and unattended only", false},
        {{QStringLiteral("unattended"), QStringLiteral("--help")}, 0, "", false},
        {{QStringLiteral("session"), QStringLiteral("--help")}, 0, "", true}, // help needs no display
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(str(c.arguments.join(QLatin1Char(' '))));
        const HostRun run = host(c.arguments, c.noDisplay ? &headless : nullptr);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.err.contains(QLatin1String(c.says))) << str(run.err);
        if (c.exitCode == 0) {
            EXPECT_TRUE(run.out.contains(QLatin1String("--out-of-process"))
                        && run.out.contains(QStringLiteral("Usage: quarvo-host ") + c.arguments.first()))
                << str(run.out);
        }
    }
    // Half an hour off this computer's UTC: the clock cannot be written, and nothing is sent.
    QProcessEnvironment utc = env;
    utc.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
    const HostRun india = host({QStringLiteral("unattended"), QStringLiteral("--settings"),
                                writeSettings({{QStringLiteral("TimeZone"), QStringLiteral("Asia/Kolkata")}, {QStringLiteral("PanelPort"), 9}}),
                                QStringLiteral("--jobs"),
                                QStringLiteral("clock")},
                               &utc);
    EXPECT_EQ(india.exitCode, 2);
    EXPECT_TRUE(india.err.contains(QStringLiteral("TimeZone \"Asia/Kolkata\" is UTC+05:30"))) << str(india.err);
}

// Inputs that never end (a device, a FIFO nobody writes to) as any file quarvo-host reads: refused at
// once with exit 2 and one line that names the file, never read.
TEST_F(HostCommandTest, InputsThatNeverEndAreRefusedAtOnceNamingTheFile)
{
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    port = 3001; // no panel: nothing may get as far as asking one
    const QString settings = writeSettings();
    const QString sound = dir.filePath(QStringLiteral("sound.qpd"));
    ASSERT_TRUE(PanelDataStore().save(sound, nullptr));
    for (const QString &input : {QStringLiteral("/dev/zero"), QStringLiteral("/dev/urandom"), fifo}) {
        const QString withDataFile = writeSettings({{QStringLiteral("DataFile"), input}}, QStringLiteral("datafile.json"));
        struct Case
        {
            const char *as;
            QStringList arguments;
        };
        const Case cases[] = {
            {"data show", {QStringLiteral("data"), QStringLiteral("show"), input}},
            {"data diff", {QStringLiteral("data"), QStringLiteral("diff"), sound, input}},
            {"--settings", {QStringLiteral("unattended"), QStringLiteral("--settings"), input, QStringLiteral("--jobs"), QStringLiteral("none")}},
            {"--data",
             {QStringLiteral("unattended"), QStringLiteral("--settings"), settings, QStringLiteral("--data"), input, QStringLiteral("--jobs"),
              QStringLiteral("none")}},
            {"DataFile", {QStringLiteral("unattended"), QStringLiteral("--settings"), withDataFile, QStringLiteral("--jobs"), QStringLiteral("none")}},
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(str(input + QStringLiteral(" as ") + QString::fromLatin1(c.as)));
            const HostRun run = host(c.arguments);
            EXPECT_EQ(run.exitCode, 2) << str(run.err);
            const QStringList lines = run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            ASSERT_EQ(lines.size(), 1) << str(run.err);
            EXPECT_TRUE(lines.first().contains(input + QStringLiteral(": a ")) && lines.first().contains(QLatin1String("not a regular file")))
                << str(run.err);
        }
    }
}

// A symbolic link planted at the transfer file's fixed name: the receive fails, the panel still
// gets its goodbye, and neither the link's target nor the data file is written.
TEST_F(HostCommandTest, ALinkAtTheTransferFileFailsTheReceiveAndWritesNothingThrough)
{
    ASSERT_NO_FATAL_FAILURE(startPanel());
    const QString settings = writeSettings();
    const QString tamsel = dir.filePath(QStringLiteral("xdg-data/Tamsel"));
    ASSERT_TRUE(QDir().mkpath(tamsel));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("outside"))));
    const QString victim = dir.filePath(QStringLiteral("outside/victim"));
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("precious\n");
    file.close();
    ASSERT_EQ(::chmod(QFile::encodeName(victim).constData(), 0644), 0);
    const QString transfer = QDir(tamsel).filePath(QStringLiteral("tempdat.000"));
    const QString created = dir.filePath(QStringLiteral("outside/created"));
    for (const QString &target : {victim, created}) {
        SCOPED_TRACE(str(target));
        QFile::remove(transfer);
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(transfer).constData()), 0);
        const int before = int(requests().size());
        const HostRun run = host({QStringLiteral("unattended"), QStringLiteral("--settings"), settings, QStringLiteral("--jobs"),
                                  QStringLiteral("receive")});
        EXPECT_EQ(run.exitCode, 1) << str(run.err);
        EXPECT_EQ(run.endings(), "FAILURE");
        EXPECT_TRUE(run.err.contains(QLatin1String("tempdat.000"))) << str(run.err);
        EXPECT_EQ(count(requests().mid(before), QStringLiteral("Panel Goodbye")), 1);
        EXPECT_TRUE(QFileInfo(transfer).isSymLink());
    }
    EXPECT_EQ(testsupport::readFile(victim), QByteArray("precious\n"));
    EXPECT_EQ(modeOf(victim), 0644u);
    EXPECT_FALSE(QFileInfo::exists(created));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("5150.qpd"))));
}

// The data file the user named, behind a link: one's own link is followed to its target (the link
// stays); another user's link is refused before the panel is asked anything.
TEST_F(HostCommandTest, ADataFileLinkIsFollowedWhenItIsTheUsersOwnAndRefusedOtherwise)
{
    ASSERT_NO_FATAL_FAILURE(startPanel());
    const QString settings = writeSettings();
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("kept"))));
    const QString target = dir.filePath(QStringLiteral("kept/site-5150.qpd"));
    const QString link = dir.filePath(QStringLiteral("5150.qpd"));
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);

    const HostRun own = host({QStringLiteral("unattended"), QStringLiteral("--settings"), settings, QStringLiteral("--jobs"),
                              QStringLiteral("receive")});
    ASSERT_EQ(own.exitCode, 0) << str(own.err);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(modeOf(target), 0600u);
    PanelDataStore store;
    QString why;
    ASSERT_TRUE(store.load(target, &why)) << str(why);
    EXPECT_EQ(store.item(5), seedItem(5));

    if (::lchown(QFile::encodeName(link).constData(), 65534, 65534) != 0)
        GTEST_SKIP() << "giving the link to another user needs root";
    const QByteArray kept = testsupport::readFile(target);
    const int before = int(requests().size());
    for (const char *jobs : {"receive", "send"}) {
        SCOPED_TRACE(jobs);
        const HostRun foreign = host({QStringLiteral("unattended"), QStringLiteral("--settings"), settings, QStringLiteral("--jobs"),
                                      QString::fromLatin1(jobs)});
        EXPECT_EQ(foreign.exitCode, 2) << str(foreign.err);
        EXPECT_TRUE(foreign.err.contains(QLatin1String("symbolic link of another user"))) << str(foreign.err);
    }
    EXPECT_EQ(int(requests().size()), before);
    EXPECT_EQ(testsupport::readFile(target), kept);
}

// SIGTERM and SIGINT end the run with 128 + the signal, whether the session is still connecting or
// already moving data; a connected panel gets its goodbye and no message record is left.
TEST_F(HostCommandTest, SigtermAndSigintEndTheRunWith128PlusTheSignal)
{
    struct Case
    {
        const char *phase;
        QStringList panel;
        const char *waitFor; // in the panel's requests
    };
    const Case phases[] = {
        {"connecting", {QStringLiteral("--fault"), QStringLiteral("silence*0")}, ""},
        {"receiving", {}, "Request Item Block"},
    };
    for (const Case &c : phases) {
        for (const int signo : {SIGTERM, SIGINT}) {
            SCOPED_TRACE(std::string(c.phase) + " signal " + std::to_string(signo));
            ASSERT_NO_FATAL_FAILURE(startPanel(c.panel));
            // A silent panel keeps the session connecting for seconds: the signal comes meanwhile.
            const QString settings = writeSettings({{QStringLiteral("ResponseTimeout"), 30}});
            QProcess process;
            process.setProcessEnvironment(env);
            process.setChildProcessModifier(childSetUp);
            const QStringList arguments{QStringLiteral("unattended"), QStringLiteral("--settings"), settings, QStringLiteral("--jobs"),
                                        QStringLiteral("history-all,receive")};
            process.start(kHost, arguments);
            ASSERT_TRUE(process.waitForStarted(10000));
            const qint64 pid = process.processId();
            // The session is under way once the panel has been asked what the phase asks.
            QElapsedTimer clock;
            clock.start();
            while (process.state() == QProcess::Running && clock.elapsed() < 60000
                   && count(requests(), QString::fromLatin1(c.waitFor)) == 0)
                process.waitForFinished(50);
            ASSERT_EQ(process.state(), QProcess::Running) << "the session ended before the signal";
            ::kill(pid_t(pid), signo);
            const HostRun run = finish(process, arguments);
            EXPECT_EQ(run.exitCode, 128 + signo) << str(run.err);
            EXPECT_TRUE(run.err.contains(QStringLiteral("ended by signal %1").arg(signo))) << str(run.err);
            if (c.panel.isEmpty()) {
                EXPECT_EQ(count(requests(), QStringLiteral("Panel Goodbye")), 1);
            }
            EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/dev/shm/quarvo-segments.%1").arg(pid)));
            stopPanel();
            QFile::remove(tracePath());
        }
    }
}

// The messages of a careless settings file and of a receive whose data could not be kept.
TEST_F(HostCommandTest, MessagesSayWhatToMendAndNeverCallALossASuccess)
{
    // An unknown key of 800,000 characters with terminal escape codes: cut, escaped, one line.
    const QString longKey = QStringLiteral("\x1b]0;pwned\x07\x1b[2J") + QString(800000, QLatin1Char('K'));
    const QString careless = writeSettings({{longKey, 1}}, QStringLiteral("careless.json"));
    const HostRun unknown = host({QStringLiteral("unattended"), QStringLiteral("--settings"), careless, QStringLiteral("--jobs"),
                                  QStringLiteral("none")});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.contains(QLatin1String("unknown key \"\\x1b]0;pwned\\x07\\x1b[2J"))) << str(unknown.err.left(300));
    EXPECT_FALSE(unknown.err.contains(QChar(0x1b)));
    EXPECT_LT(unknown.err.size(), 400);

    // A port written into RemoteHost: said before any panel is tried.
    const QString withPort = writeSettings({{QStringLiteral("RemoteHost"), QStringLiteral("127.0.0.1:47501")}}, QStringLiteral("port.json"));
    const HostRun port = host({QStringLiteral("unattended"), QStringLiteral("--settings"), withPort, QStringLiteral("--jobs"),
                               QStringLiteral("none")});
    EXPECT_EQ(port.exitCode, 2);
    EXPECT_TRUE(port.err.contains(QLatin1String("port belongs in PanelPort"))) << str(port.err);

    // Received data that cannot be saved (the data file's folder is a file): the run is a failure
    // and its last line says so first, with the reason.
    ASSERT_NO_FATAL_FAILURE(startPanel());
    const QString settings = writeSettings();
    QFile blocker(dir.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const HostRun lost = host({QStringLiteral("unattended"), QStringLiteral("--settings"), settings, QStringLiteral("--data"),
                               dir.filePath(QStringLiteral("blocker/5150.qpd")), QStringLiteral("--jobs"), QStringLiteral("receive")});
    EXPECT_EQ(lost.exitCode, 1) << str(lost.err);
    const QStringList lines = lost.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines)
        EXPECT_FALSE(line.startsWith(QLatin1String("quarvo-host: SUCCESS"))) << str(line);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().startsWith(QLatin1String("quarvo-host: FAILURE: the received data were not saved:"))) << str(lines.last());
    EXPECT_TRUE(lines.last().contains(QLatin1String("blocker"))) << str(lines.last());
}

// The session command as an operator uses it (in this process, the panel simulator beside it): the
// dialog opens on the settings' link type, Connect admits the panel, the operator window's
// Disconnect (confirmed in the end-session dialog) says goodbye, and the run ends 0 with "USERDISCONNECTING".
TEST(HostSessionCommand, TheOperatorConnectsAndDisconnects)
{
    QTemporaryDir dir;
    qputenv("QUARVO_TIME_SCALE", kScale);
    Timing::setScale(kScale.toDouble());
    panelsim::PanelConfig config;
    config.mode = panelsim::LinkMode::Network;
    panelsim::PanelSimulator panel(config);
    QString why;
    ASSERT_TRUE(panel.start(&why)) << str(why);
    const QString settings = dir.filePath(QStringLiteral("site.json"));
    QFile file(settings);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(QJsonObject{{QStringLiteral("RemoteHost"), QStringLiteral("127.0.0.1")},
                                         {QStringLiteral("PanelPort"), int(panel.udpPort())},
                                         {QStringLiteral("DataLocks"), QJsonArray{QJsonObject{{QStringLiteral("Value"), 0x1234},
                                                                                               {QStringLiteral("Key"), QStringLiteral("PRIMARY")}}}}})
                   .toJson());
    file.close();

    bool connectPressed = false, disconnectPressed = false;
    QTimer operatorHand;
    operatorHand.setInterval(20);
    QObject::connect(&operatorHand, &QTimer::timeout, [&] {
        frmCommInterface *dialog = sessionState().connectionDialog;
        if (!connectPressed && dialog && dialog->isVisible() && dialog->cmbConnect->currentIndex() == frmCommInterface::TypeNetwork) {
            connectPressed = true;
            QTimer::singleShot(0, dialog->cmdConnect, &QPushButton::click);
        }
        for (QWidget *w : QApplication::topLevelWidgets()) {
            // Once the synchronisation check has asked the panel for its CRCs.
            if (disconnectPressed || w->objectName() != QLatin1String("quarvoHostSession") || !w->isVisible()
                || panel.commandCount(QStringLiteral("Request CRC")) == 0)
                continue;
            for (QPushButton *b : w->findChildren<QPushButton *>())
                if (b->text() == QLatin1String("&Disconnect")) {
                    disconnectPressed = true;
                    QTimer::singleShot(0, b, &QPushButton::click);
                }
        }
    });
    // The end-session dialog that Disconnect opens: OK.
    QTimer confirm;
    confirm.setInterval(20);
    QObject::connect(&confirm, &QTimer::timeout, [] {
        if (auto *dialog = qobject_cast<frmDisconnect *>(QApplication::activeModalWidget()))
            dialog->cmdOK->click();
    });
    confirm.start();
    operatorHand.start();
    const QString events = dir.filePath(QStringLiteral("events.jsonl"));
    const int status = runSession({QStringLiteral("--settings"), settings, QStringLiteral("--events"), events});
    operatorHand.stop();
    panel.stop();
    resetSessionState();
    Timing::setScale(0);
    qunsetenv("QUARVO_TIME_SCALE");

    EXPECT_TRUE(connectPressed);
    EXPECT_TRUE(disconnectPressed);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(panel.goodbyeReceived());
    const QByteArray lines = testsupport::readFile(events);
    EXPECT_TRUE(lines.contains("\"data\":\"USERDISCONNECTING\"")) << lines.toStdString();
}

} // namespace
