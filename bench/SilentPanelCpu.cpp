// CPU use of the process while a serial link waits for a panel that does not answer: the modem
// line's frame exchange, then the enhanced direct link's answer wait. Both block the GUI thread in
// bounded waits on the port; neither may spin. Prints, per link, the wall time of the wait, the CPU
// time the whole process used meanwhile (getrusage, all threads, the simulator's included) and
// their ratio; exits 1 when a ratio reaches 5 % of one core.
//
//   bench_SilentPanelCpu [time-scale]     (default 0.5: each 5 s answer wait lasts 2.5 s)
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <memory>
#include <utility>

#include "BenchSupport.h"
#include "PanelSimulator.h"
#include "component/Configuration.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "core/modRegistry.h"
#include "link/modExecFunctions.h"
#include "platform/Timing.h"
#include "queue/MessageQueue.h"
#include "support/HostDoubles.h"
#include "transports/clsEnhancedDirect.h"
#include "transports/clsModem.h"

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class Owner : public GuidObjectBase, public ResponseReceiver
{
public:
    QString Name() const { return QStringLiteral("frmBenchOwner"); }
    void ResponseReceived(clsMessage &) override { ++answers; }
    int answers = 0;
};

// Brings the link up to the point where the passcode would go out; null when it does not come up.
std::shared_ptr<IControlType> openLink(panelsim::LinkMode mode)
{
    if (mode == panelsim::LinkMode::Modem) {
        auto modem = std::make_shared<clsModem>();
        modem->CommPort = 1;
        modem->ResetCmd = QStringLiteral("ATZ");
        modem->PreDialInit = QStringLiteral("AT&F");
        modem->DataPhone = QStringLiteral("5551234");
        modem->setRemote(true);
        sessionState().currentTransport = modem;
        if (modem->PortPrep(nullptr, false) != 0 || modem->ControlInitialize(nullptr, false) != 0
            || modem->Connect(nullptr, false) != 0)
            return nullptr;
        return modem;
    }
    auto enhanced = std::make_shared<clsEnhancedDirect>();
    enhanced->CommPort = 1;
    sessionState().currentTransport = enhanced;
    if (enhanced->PortPrep(nullptr, false) != 0)
        return nullptr;
    enhanced->setConnected(true); // as the handshake leaves it once the probe was answered
    return enhanced;
}

// Sends the passcode to a silent panel over `mode` and measures until the session gives up.
// Returns the CPU share in percent, or -1 when the run could not be made.
double measure(panelsim::LinkMode mode, const char *name)
{
    modGlobals::InitApplicationVariables();
    SessionState &state = sessionState();
    auto settings = std::make_shared<testsupport::SettingsDouble>();
    settings->hostDataMode = true;
    state.hostSettings = settings;
    state.config.numOfNaks = 1; // two sends, two full answer waits
    state.passcode = QStringLiteral("123456");
    modGlobals::InitQueue();

    panelsim::PanelConfig config;
    config.mode = mode;
    panelsim::PanelSimulator panel(config);
    panel.addFault(QStringLiteral("silence@passcode*0"));
    QString why;
    if (!panel.start(&why)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(why));
        return -1;
    }
    modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Communications"), QStringLiteral("Port1"),
                                panel.devicePath());
    std::shared_ptr<IControlType> link = openLink(mode);
    if (!link) {
        std::fprintf(stderr, "the %s link did not come up\n", name);
        return -1;
    }

    Owner owner;
    owner.setSzGUID(QStringLiteral("{0B0B0B0B-1111-2222-3333-444444444444}"));
    state.guidRegistry->addUnowned(owner.szGUID(), &owner);

    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    modExecFunctions::SMPasscode(QStringLiteral("123456"), &owner, 0, false);
    // The queue sends the command on its next tick; the exchange then blocks until it gives up.
    while (state.LastErrorNumber == 0 && wall.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double wallSeconds = static_cast<double>(wall.elapsed()) / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    const std::int32_t result = state.LastErrorNumber;

    if (state.guidRegistry)
        state.guidRegistry->remove(owner.szGUID());
    state.currentTransport.reset();
    link.reset();
    panel.stop();
    delete state.messageQueue.data();
    resetSessionState();

    const double percent = wallSeconds > 0 ? 100.0 * cpu / wallSeconds : 0.0;
    std::printf("silent panel wait, %s: wall %.3f s, process CPU %.3f s, %.2f %% of one core (limit 5 %%), result 0x%08X\n",
                name, wallSeconds, cpu, percent, static_cast<unsigned>(result));
    if (result == 0) {
        std::printf("the %s exchange did not fail as a silent panel should\n", name);
        return -1;
    }
    return percent;
}

} // namespace

int main(int argc, char **argv)
{
    if (bench::helpAsked(argc, argv,
                         "Usage: bench_SilentPanelCpu [time-scale]\n"
                         "CPU use while a modem line and an enhanced direct link wait for a silent panel; exits 1\n"
                         "when either reaches 5 % of one core. The time scale shortens the waits (default 0.5).\n"))
        return 0;
    const QByteArray scale = argc > 1 ? QByteArray(argv[1]) : QByteArray("0.5");
    bool scaleOk = false;
    if (scale.toDouble(&scaleOk) <= 0 || !scaleOk) {
        std::fprintf(stderr, "bench_SilentPanelCpu: the time scale must be a number above 0 (see --help)\n");
        return 2;
    }
    qputenv("QUARVO_TIME_SCALE", scale);
    QTemporaryDir folder;
    if (!bench::usePrivateFolders(folder))
        return 2;
    QApplication app(argc, argv);

    bool pass = true;
    for (const auto &[mode, name] : {std::pair{panelsim::LinkMode::Modem, "modem"},
                                     std::pair{panelsim::LinkMode::EnhancedDirect, "enhanced direct"}}) {
        const double percent = measure(mode, name);
        if (percent < 0)
            return 2;
        pass = pass && percent < 5.0;
    }
    return pass ? 0 : 1;
}
