// Soak: 10,000 block reads over UDP on 127.0.0.1, sent by the queue's worker timer at a fast
// interval, in one network session (encrypted, sequence numbers on, the heartbeat running
// alongside) against the panel simulator running as its own process (quarvo-panelsim), so that
// what is measured is this process alone. Prints this process's resident memory, open file
// descriptors and shared-memory segments (the records its index in /dev/shm lists) at the start,
// every 2,500 exchanges and at the end, then once more after the session ended. Exits 1 when the
// fds or the segments grew, resident memory grew by more than 4 MiB, or an exchange failed.
//
//   bench_UdpSoak [exchanges] [path of quarvo-panelsim]     (default 10000, the build's simulator)
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "PanelState.h"
#include "component/Configuration.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "link/modExecFunctions.h"
#include "link/modSDIFunctions.h"
#include "link/modToolbox.h"
#include "platform/SharedMemoryIndex.h"
#include "queue/MessageQueue.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"
#include "BenchSupport.h"
#include "support/HostDoubles.h"
#include "transports/clsNetwork.h"

namespace {

const QString kKey = QStringLiteral("Quarvo-udp-soak-key-32-chars-ok!");

struct Usage
{
    long rssKiB = 0;
    int fds = 0;
    int segments = 0;
};

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Records this process created and has not removed: the live names of its /dev/shm index that
// exist as segments.
int ownSegments()
{
    QFile index(SharedMemoryIndex::ownIndexPath());
    if (!index.open(QIODevice::ReadOnly))
        return 0;
    QSet<QByteArray> live;
    const QList<QByteArray> lines = index.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (line.startsWith('+'))
            live.insert(line.mid(1));
        else if (line.startsWith('-'))
            live.remove(line.mid(1));
    }
    int count = 0;
    for (const QByteArray &name : live)
        if (QFile::exists(QStringLiteral("/dev/shm/") + QString::fromLatin1(name)))
            ++count;
    return count;
}

Usage usage()
{
    Usage u;
    u.rssKiB = residentKiB();
    u.fds = int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
    u.segments = ownSegments();
    return u;
}

void print(const char *when, int exchanges, const Usage &u)
{
    std::printf("%-16s exchanges %6d   RSS %7ld KiB   open fds %3d   /dev/shm segments %d\n", when, exchanges, u.rssKiB, u.fds,
                u.segments);
    std::fflush(stdout);
}

// Owns the probe and the block reads: each answer checks the block and queues the next read.
class Reader : public GuidObjectBase, public ResponseReceiver
{
public:
    QString Name() const { return QStringLiteral("frmSoakReader"); }
    void ResponseReceived(clsMessage &msg) override
    {
        const QByteArray data = msg.dataBytes();
        if (msg.Name() == QLatin1String("Null Command")) {
            connected = data.contains("CONNECT");
            return;
        }
        const int length = modToolbox::BlockLength(8, static_cast<std::int16_t>(block * 8));
        if (data.size() != length + 4 || data.mid(3, length) != expected.value(block))
            ++wrong;
        ++answers;
        block = (block + 1) % 31;
        if (answers < target)
            requestNext();
    }
    void requestNext()
    {
        if (modSDIFunctions::SDIRequestItemBlock(8, block * 8, this, 5, false) != 0)
            ++wrong;
    }

    bool connected = false;
    int answers = 0;
    int target = 0;
    int wrong = 0;
    int block = 0;
    QList<QByteArray> expected; // the panel's 31 blocks of item 8
};

} // namespace

int main(int argc, char **argv)
{
    if (bench::helpAsked(argc, argv,
                         "Usage: bench_UdpSoak [exchanges] [path of quarvo-panelsim]\n"
                         "Block reads over encrypted UDP against the simulator (default 10000); prints resident memory,\n"
                         "open fds and /dev/shm segments at the start, every 2,500 exchanges and at the end; exits 1\n"
                         "when any of them grew (memory by more than 4 MiB) or an exchange failed.\n"))
        return 0;
    const int exchanges = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (exchanges < 1) {
        std::fprintf(stderr, "bench_UdpSoak: the number of exchanges must be a whole number from 1 (see --help)\n");
        return 2;
    }
    qunsetenv("QUARVO_TIME_SCALE");
    QTemporaryDir folder;
    if (!bench::usePrivateFolders(folder))
        return 2;
    QApplication app(argc, argv);

    modGlobals::InitApplicationVariables();
    SessionState &state = sessionState();
    auto settings = std::make_shared<testsupport::SettingsDouble>();
    settings->hostDataMode = true;
    settings->linkKey = kKey;
    state.hostSettings = settings;
    state.hostPif = std::make_shared<testsupport::PifDouble>();
    state.hostCallback = std::make_shared<testsupport::CallbackDouble>();
    state.passcode = QStringLiteral("123456");
    state.EncryptionEnabled = true;
    state.SequenceNumbersEnabled = true;
    state.config.standardPollRate = 1; // the worker sends a queued request every millisecond
    state.config.hbInterval = 1000;    // and a keep-alive goes out every second meanwhile

    // The panel, in a process of its own; its memory is the seed's, which gives the blocks to expect.
    panelsim::PanelConfig config;
    config.passcode = state.passcode;
    const panelsim::PanelState panelMemory(config);
    const QString simulator = argc > 2 ? QString::fromLocal8Bit(argv[2])
                                       : QCoreApplication::applicationDirPath() + QStringLiteral("/../sim/quarvo-panelsim");
    QProcess panel;
    panel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    panel.start(simulator, {QStringLiteral("--mode"), QStringLiteral("network"), QStringLiteral("--port"), QStringLiteral("0"),
                            QStringLiteral("--link-key"), kKey, QStringLiteral("--passcode"), state.passcode});
    quint16 port = 0;
    const QRegularExpression announced(QStringLiteral("127\\.0\\.0\\.1:(\\d+)"));
    QElapsedTimer started;
    started.start();
    while (port == 0 && started.elapsed() < 10000 && panel.state() != QProcess::NotRunning) {
        panel.waitForReadyRead(100);
        const QRegularExpressionMatch m = announced.match(QString::fromLocal8Bit(panel.readAllStandardOutput()));
        if (m.hasMatch())
            port = static_cast<quint16>(m.captured(1).toUInt());
    }
    if (port == 0) {
        std::fprintf(stderr, "the simulator %s did not start\n", qPrintable(simulator));
        return 2;
    }

    modGlobals::InitQueue();
    auto net = std::make_shared<clsNetwork>();
    net->RemoteHost = QStringLiteral("127.0.0.1");
    net->RemotePort = QString::number(port);
    state.currentTransport = net;
    Reader reader;
    reader.target = exchanges;
    for (int b = 0; b < 31; ++b)
        reader.expected << panelMemory.block(8, b * 8);
    modGlobals::AddGUIDObjectUnowned(&reader);
    modExecFunctions::SMNullCommand(QByteArrayLiteral("LANVesk"), &reader, 0, false);
    if (!bench::waitUntil([&] { return reader.connected; }, 10000)) {
        std::fprintf(stderr, "the panel did not answer the probe\n");
        return 2;
    }
    net->setConnected(true);
    state.messageQueue->setWorkerInterval(state.config.standardPollRate);
    state.messageQueue->setHeartbeatEnabled(true);

    std::printf("UDP soak: %d block reads (item 8, 112 bytes each) on 127.0.0.1, encrypted, worker every %d ms\n",
                exchanges, state.config.standardPollRate);
    const Usage start = usage();
    print("start", 0, start);
    QElapsedTimer clock;
    clock.start();
    reader.requestNext();
    int next = 2500;
    while (reader.answers < exchanges && state.messageQueue && state.LastErrorNumber == 0) {
        bench::waitUntil([&] { return reader.answers >= std::min(next, exchanges) || !state.messageQueue || state.LastErrorNumber != 0; },
                  120000);
        if (reader.answers >= next && reader.answers < exchanges) {
            print("", reader.answers, usage());
            next += 2500;
        }
        if (clock.elapsed() > 600000)
            break;
    }
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    const Usage end = usage();
    print("end", reader.answers, end);
    const std::int32_t error = state.LastErrorNumber;

    modGlobals::Disconnect(false, 0);
    bench::waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return !state.messageQueue;
    }, 10000);
    if (state.guidRegistry->contains(reader.szGUID()))
        state.guidRegistry->remove(reader.szGUID());
    state.currentTransport.reset();
    net.reset();
    panel.terminate();
    panel.waitForFinished(5000);
    const Usage after = usage();
    print("session ended", reader.answers, after);
    std::printf("%.1f s, %.0f exchanges/s, %d wrong or failed answers, last error 0x%08X\n", seconds,
                reader.answers / std::max(seconds, 0.001), reader.wrong, static_cast<unsigned>(error));

    const bool flat = end.fds <= start.fds && end.segments <= start.segments && end.rssKiB - start.rssKiB <= 4096
                      && after.segments == 0;
    const bool ok = reader.answers >= exchanges && reader.wrong == 0 && error == 0;
    std::printf("%s\n", flat && ok ? "flat" : "NOT flat or not complete");
    resetSessionState();
    return flat && ok ? 0 : 1;
}
