// Speed of a full receive of the panel's programming (19 items, 213 blocks) over UDP on 127.0.0.1,
// against the pace the queue sets: its worker timer sends one request per tick, so a
// transfer should take 213 ticks of the poll rate and little more. Runs the receive in exclusive
// mode (worker at "ExclusivePollRate") and in standard mode (worker at "StandardPollRate") through
// the synchronisation's own transfer, and prints each time, the designed time and their ratio.
// Exits 1 when the exclusive ratio is above 1.10.
//
//   bench_SyncSpeed [--exclusive-only] [--standard-rate MS] [--clear] [--immediate] [--console]
//
// --immediate shows the immediate log window and --console the queue console during the run, as
// the "Immediate" and "Debug" settings do.
//
// Standard mode at the default 500 ms takes about 107 s; --standard-rate shortens the tick.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <memory>

#include "PanelSimulator.h"
#include "component/Configuration.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "core/modRegistry.h"
#include "diagnostics/frmImmediate.h"
#include "link/modExecFunctions.h"
#include "operations/PanelSynchronisation.h"
#include "queue/MessageQueue.h"
#include "queue/clsMessage.h"
#include "BenchSupport.h"
#include "support/HostDoubles.h"
#include "transports/clsNetwork.h"

namespace {

const QString kKey = QStringLiteral("Quarvo-net-bench-key-32-chars-ok");

// The owner of the connection probe: the link is up once the panel answers "CONNECT".
class ProbeOwner : public GuidObjectBase, public ResponseReceiver
{
public:
    QString Name() const { return QStringLiteral("frmBenchOwner"); }
    void ResponseReceived(clsMessage &msg) override { connected = msg.dataBytes().contains("CONNECT"); }
    bool connected = false;
};

struct Run
{
    double seconds = -1;
    int blocks = 0;
    double blockPaceMs = 0;   // as the panel saw it: first to last block request, per block
    double phaseSeconds = -1; // as the panel saw it: first request of the transfer to the last answer
};

// One session: connect, receive every item, end. Returns the time from the start of the transfer
// to the end report.
Run receiveAll(bool exclusive, std::int16_t standardRate, bool encrypted)
{
    Run run;
    resetSessionState();
    modGlobals::InitApplicationVariables();
    SessionState &state = sessionState();
    auto settings = std::make_shared<testsupport::SettingsDouble>();
    settings->hostDataMode = true;
    settings->linkKey = kKey;
    auto pif = std::make_shared<testsupport::PifDouble>();
    auto callback = std::make_shared<testsupport::CallbackDouble>();
    state.hostSettings = settings;
    state.hostPif = pif;
    state.hostCallback = callback;
    state.config.standardPollRate = standardRate;
    state.passcode = QStringLiteral("123456");
    state.EncryptionEnabled = encrypted;

    panelsim::PanelConfig config;
    config.mode = panelsim::LinkMode::Network;
    config.passcode = state.passcode;
    if (encrypted)
        config.linkKey = kKey;
    panelsim::PanelSimulator panel(config);
    QString why;
    if (!panel.start(&why)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(why));
        return run;
    }

    modGlobals::InitQueue();
    modGlobals::InitImmediate();
    auto net = std::make_shared<clsNetwork>();
    net->RemoteHost = QStringLiteral("127.0.0.1");
    net->RemotePort = QString::number(panel.udpPort());
    state.currentTransport = net;
    ProbeOwner owner;
    modGlobals::AddGUIDObjectUnowned(&owner);
    modExecFunctions::SMNullCommand(QByteArrayLiteral("LANVesk"), &owner, 0, false);
    if (bench::waitUntil([&] { return owner.connected; }, 10000)) {
        net->setConnected(true);
        // Unattended: the transfer window reports at the finishing answer, without its closing pause.
        state.messageQueue->setUnattended(true);
        QElapsedTimer clock;
        clock.start();
        if (modToolbox::PerformPanelSyncronization(1, QList<bool>(), exclusive) == 0
            && bench::waitUntil([&] { return callback->tags().contains(QStringLiteral("RECV_END")); }, 400000))
            run.seconds = static_cast<double>(clock.elapsed()) / 1000.0;
        run.blocks = panel.commandCount(QStringLiteral("Request Item Block"))
                     + panel.commandCount(QStringLiteral("Request Data Lock"));
        qint64 first = -1, last = -1, phaseStart = -1, phaseEnd = -1;
        for (const panelsim::TraceEntry &e : panel.trace()) {
            const bool block = e.decoded.contains(QLatin1String("Request Item Block"))
                               || e.decoded.contains(QLatin1String("Request Data Lock"));
            const bool transfer = block || e.decoded.contains(QLatin1String("Exclusive Command"));
            if (!transfer)
                continue;
            if (e.direction == QLatin1String("in") && phaseStart < 0)
                phaseStart = e.elapsedMs;
            if (e.direction == QLatin1String("out"))
                phaseEnd = e.elapsedMs;
            if (e.direction != QLatin1String("in") || !block)
                continue;
            if (first < 0)
                first = e.elapsedMs;
            last = e.elapsedMs;
        }
        if (run.blocks > 1)
            run.blockPaceMs = static_cast<double>(last - first) / (run.blocks - 1);
        if (phaseStart >= 0 && phaseEnd >= phaseStart)
            run.phaseSeconds = static_cast<double>(phaseEnd - phaseStart) / 1000.0;
    } else {
        std::fprintf(stderr, "the panel did not answer the probe\n");
    }
    state.guidRegistry->remove(owner.szGUID());
    if (state.messageQueue)
        state.messageQueue->Unload();
    if (frmImmediate *window = state.immediateWindow) {
        window->unload();
        delete window;
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    state.currentTransport.reset();
    net.reset();
    panel.stop();
    resetSessionState();
    return run;
}

// Prints the run; returns the transfer's ratio to the designed time (or a negative value).
double print(const char *mode, const Run &run, int rateMs, int startRateMs)
{
    const double designed = 213.0 * rateMs / 1000.0;
    if (run.seconds < 0 || run.phaseSeconds < 0) {
        std::printf("%-9s receive did not finish (%d blocks asked)\n", mode, run.blocks);
        return -1;
    }
    const double ratio = run.phaseSeconds / designed;
    std::printf("%-9s %3d blocks: transfer %7.3f s vs designed 213 x %d ms = %7.3f s, ratio %.3f (one block every %.2f ms)\n"
                "%-9s from the start: %7.3f s (ratio %.3f), the first request waiting for a worker tick of %d ms\n",
                mode, run.blocks, run.phaseSeconds, rateMs, designed, ratio, run.blockPaceMs, "", run.seconds,
                run.seconds / designed, startRateMs);
    return ratio;
}

} // namespace

int main(int argc, char **argv)
{
    bool exclusiveOnly = false;
    bool immediate = false;
    bool console = false;
    bool encrypted = true;
    int standardRate = 500;
    if (bench::helpAsked(argc, argv,
                         "Usage: bench_SyncSpeed [--exclusive-only] [--standard-rate MS] [--immediate] [--console] [--clear]\n"
                         "A full 213-block receive over UDP on 127.0.0.1, in exclusive and in standard mode, timed against\n"
                         "213 x the worker interval; prints the ratios. --immediate and --console show those windows\n"
                         "(off screen), --clear turns link encryption off.\n"))
        return 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--exclusive-only"))
            exclusiveOnly = true;
        else if (!std::strcmp(argv[i], "--immediate"))
            immediate = true;
        else if (!std::strcmp(argv[i], "--console"))
            console = true;
        else if (!std::strcmp(argv[i], "--clear"))
            encrypted = false;
        else if (!std::strcmp(argv[i], "--standard-rate") && i + 1 < argc && std::atoi(argv[i + 1]) > 0)
            standardRate = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "bench_SyncSpeed: unknown or incomplete argument \"%s\" (see --help)\n", argv[i]);
            return 2;
        }
    }
    qunsetenv("QUARVO_TIME_SCALE");
    QTemporaryDir folder;
    if (!bench::usePrivateFolders(folder))
        return 2;
    QApplication app(argc, argv);

    const QString saved = QStringLiteral("SavedSettings");
    modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), saved, QStringLiteral("Immediate"), immediate ? QStringLiteral("Yes") : QStringLiteral("No"));
    modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), saved, QStringLiteral("Debug"), console ? QStringLiteral("Yes") : QStringLiteral("No"));
    modGlobals::InitApplicationVariables();
    const int exclusiveRate = sessionState().config.exclusivePollRate;
    std::printf("full receive over UDP on 127.0.0.1 (%s link)\n", encrypted ? "encrypted" : "clear");
    const Run exclusive = receiveAll(true, static_cast<std::int16_t>(standardRate), encrypted);
    const double ratio = print("exclusive", exclusive, exclusiveRate, standardRate);
    if (!exclusiveOnly) {
        const Run standard = receiveAll(false, static_cast<std::int16_t>(standardRate), encrypted);
        print("standard", standard, standardRate, standardRate);
    }
    return ratio > 0 && ratio <= 1.10 ? 0 : 1;
}
