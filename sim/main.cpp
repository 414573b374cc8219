// quarvo-panelsim: serves one simulated panel on a pseudo-terminal or a UDP port until SIGINT or
// SIGTERM, printing where to connect and (optionally) the trace of every exchange.
#include "PanelSimulator.h"
#include "TimeScale.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <ctime>

using namespace panelsim;

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "quarvo-panelsim: %s\n", qPrintable(message));
    return 2;
}

bool readNumber(const QCommandLineParser &p, const QString &name, qint64 min, qint64 max, qint64 *out, QString *error)
{
    if (!p.isSet(name))
        return true;
    bool ok = false;
    const QString text = p.value(name);
    const qint64 v = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2).toLongLong(&ok, 16)
                                                                               : text.toLongLong(&ok);
    if (!ok || v < min || v > max) {
        *error = QStringLiteral("--%1 must be a number from %2 to %3").arg(name).arg(min).arg(max);
        return false;
    }
    *out = v;
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quarvo-panelsim"));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Simulated alarm panel for Quarvo. Serves one panel on a pseudo-terminal (direct line, Hayes modem,\n"
        "enhanced direct) or on a UDP port of 127.0.0.1 until SIGINT or SIGTERM. Prints the device path or\n"
        "port to open, then (with --trace) one JSON line per exchange. Every delay is multiplied by\n"
        "QUARVO_TIME_SCALE (or --time-scale)."));
    p.addHelpOption();
    const QList<QCommandLineOption> options{
        {QStringLiteral("mode"), QStringLiteral("Link: direct (local addressing), modem (Hayes modem, remote addressing), enhanced (serial envelope around datagrams) or network (UDP). Default direct."), QStringLiteral("mode"), QStringLiteral("direct")},
        {QStringLiteral("passcode"), QStringLiteral("Passcode the panel accepts (also gives the sequence key). Default 123456."), QStringLiteral("text")},
        {QStringLiteral("answer-passcode"), QStringLiteral("Passcode accepted on calls the panel placed itself. Default 482907."), QStringLiteral("text")},
        {QStringLiteral("seed"), QStringLiteral("Seed of the programming data, event log and noise. Default 1."), QStringLiteral("n")},
        {QStringLiteral("differ"), QStringLiteral("Items (comma-separated, 1-18) whose data differ from what the seed gives, e.g. 1,5,13; a host holding the seed's data then finds these items changed."), QStringLiteral("items")},
        {QStringLiteral("panel-type"), QStringLiteral("Panel type; 49-51 give 78-byte item 1 blocks, others 75. Default 1."), QStringLiteral("n")},
        {QStringLiteral("revision"), QStringLiteral("ROM revision bytes 3-5 of the status answer, as a.b.c. Default 1.3.7."), QStringLiteral("a.b.c")},
        {QStringLiteral("status-byte"), QStringLiteral("Byte 6 of the status answer. Default 0."), QStringLiteral("n")},
        {QStringLiteral("data-lock"), QStringLiteral("Plain data-lock code (stored scrambled in item 0). Default 0x1234."), QStringLiteral("n")},
        {QStringLiteral("passcode-from-item3"), QStringLiteral("A write of item 3:0 sets the passcode from its first three bytes.")},
        {QStringLiteral("port"), QStringLiteral("Network: UDP port on 127.0.0.1 (0 = any free port). Default 0."), QStringLiteral("n")},
        {QStringLiteral("link-key"), QStringLiteral("Network: 32-character link key; datagrams then travel encrypted."), QStringLiteral("text")},
        {QStringLiteral("strict-encryption"), QStringLiteral("Network with a key: ignore datagrams that are not encrypted envelopes.")},
        {QStringLiteral("no-sequence-key"), QStringLiteral("Datagrams are not XOR-ed with the sequence key.")},
        {QStringLiteral("symlink"), QStringLiteral("Serial: also make this symlink to the pty (removed on exit)."), QStringLiteral("path")},
        {QStringLiteral("poll-interval"), QStringLiteral("Direct line: idle frame after this many quiet ms (0 = never). Default 200."), QStringLiteral("ms")},
        {QStringLiteral("connect-delay"), QStringLiteral("Modem: ms from ATD/ATA to CONNECT. Default 1000."), QStringLiteral("ms")},
        {QStringLiteral("no-echo"), QStringLiteral("Modem: do not echo commands (as after ATE0).")},
        {QStringLiteral("numeric"), QStringLiteral("Modem: numeric result codes (as after ATV0).")},
        {QStringLiteral("ring-interval"), QStringLiteral("Modem: ms between RINGs. Default 2000."), QStringLiteral("ms")},
        {QStringLiteral("callback-delay"), QStringLiteral("ms from hang-up (or the callback request on network links) to the panel's call. Default 2000."), QStringLiteral("ms")},
        {QStringLiteral("ring-after"), QStringLiteral("The panel calls this many ms after start (RING, or the net-ring datagram)."), QStringLiteral("ms")},
        {QStringLiteral("ring-port"), QStringLiteral("Network: send the net-ring to this port of 127.0.0.1."), QStringLiteral("n")},
        {QStringLiteral("log-size"), QStringLiteral("Event log slots. Default 256."), QStringLiteral("n")},
        {QStringLiteral("events"), QStringLiteral("Events in the log. Default 24."), QStringLiteral("n")},
        {QStringLiteral("new-events"), QStringLiteral("Events after the panel's read pointer. Default 6."), QStringLiteral("n")},
        {QStringLiteral("first-slot"), QStringLiteral("Slot of the oldest event. Default 0."), QStringLiteral("n")},
        {QStringLiteral("slots-per-answer"), QStringLiteral("Slots in each event log answer (1-63). Default 32."), QStringLiteral("n")},
        {QStringLiteral("event-counter"), QStringLiteral("New-event word of the keep-alive answer. Default 0."), QStringLiteral("n")},
        {QStringLiteral("clock"), QStringLiteral("Panel clock at start, yyyy-MM-ddTHH:mm[:ss]. Default the computer's time."), QStringLiteral("time")},
        {QStringLiteral("fault"), QStringLiteral("Scripted fault KIND[=ARG][@TARGET][*TIMES], repeatable. Kinds: nak silence badsum garbage wrongseq duplicate late otherport callback refuse drop badcrc badheader badlength busy nocarrier nodial mute error. Targets: a command name or alias (passcode, status, keepalive, datalock, read, write, crc, eventindex, eventlog, setindex, date, setdate, goodbye, exclusive, null), numbers (20/32), #N for the N-th exchange, or an AT command start (ATDT, AT&F). TIMES 0 = always."), QStringLiteral("rule")},
        {QStringLiteral("trace"), QStringLiteral("Write the JSON-lines trace to this file (mode 0600), or - for standard output."), QStringLiteral("file")},
        {QStringLiteral("save-data"), QStringLiteral("On exit, write the panel's programming data to this file: the 19 items' bytes one after the other, item 0 first."), QStringLiteral("file")},
        {QStringLiteral("time-scale"), QStringLiteral("Multiply every delay by this factor (sets QUARVO_TIME_SCALE)."), QStringLiteral("factor")},
    };
    p.addOptions(options);
    p.process(app);

    if (p.isSet(QStringLiteral("time-scale"))) {
        bool ok = false;
        const double f = p.value(QStringLiteral("time-scale")).toDouble(&ok);
        if (!ok || f <= 0)
            return fail(QStringLiteral("--time-scale must be a positive number"));
        qputenv("QUARVO_TIME_SCALE", QByteArray::number(f));
    }

    PanelConfig c;
    if (!parseLinkMode(p.value(QStringLiteral("mode")), &c.mode))
        return fail(QStringLiteral("unknown --mode %1").arg(p.value(QStringLiteral("mode"))));
    if (p.isSet(QStringLiteral("passcode")))
        c.passcode = p.value(QStringLiteral("passcode"));
    if (p.isSet(QStringLiteral("answer-passcode")))
        c.answerPasscode = p.value(QStringLiteral("answer-passcode"));
    c.passcodeFromItem3 = p.isSet(QStringLiteral("passcode-from-item3"));
    c.linkKey = p.value(QStringLiteral("link-key"));
    if (!c.linkKey.isEmpty() && c.linkKey.size() != 32)
        return fail(QStringLiteral("--link-key must be exactly 32 characters"));
    c.acceptClearWhenEncrypted = !p.isSet(QStringLiteral("strict-encryption"));
    c.sequenceNumbers = !p.isSet(QStringLiteral("no-sequence-key"));
    c.symlinkPath = p.value(QStringLiteral("symlink"));
    c.modemEcho = !p.isSet(QStringLiteral("no-echo"));
    c.numericResults = p.isSet(QStringLiteral("numeric"));
    if (p.isSet(QStringLiteral("revision"))) {
        const QStringList parts = p.value(QStringLiteral("revision")).split(QLatin1Char('.'));
        bool ok = parts.size() == 3;
        for (int i = 0; ok && i < 3; ++i) {
            const int v = parts[i].toInt(&ok);
            ok = ok && v >= 0 && v <= 255;
            if (ok)
                c.romRevision[size_t(i)] = quint8(v);
        }
        if (!ok)
            return fail(QStringLiteral("--revision must be three numbers 0-255 as a.b.c"));
    }
    if (p.isSet(QStringLiteral("clock"))) {
        c.clock = QDateTime::fromString(p.value(QStringLiteral("clock")), Qt::ISODate);
        if (!c.clock.isValid())
            return fail(QStringLiteral("--clock must look like 2024-05-01T13:45"));
    }
    const QString trace = p.value(QStringLiteral("trace"));
    c.traceToStdout = trace == QLatin1String("-");
    if (!c.traceToStdout)
        c.traceFile = trace;

    QString error;
    qint64 v = 0;
    struct NumberOption { const char *name; qint64 min, max; std::function<void(qint64)> set; };
    qint64 ringAfter = -1, ringPort = 0;
    const NumberOption numbers[] = {
        {"seed", 0, 0xFFFFFFFFLL, [&](qint64 x) { c.seed = quint32(x); }},
        {"panel-type", 0, 255, [&](qint64 x) { c.panelType = int(x); }},
        {"status-byte", 0, 255, [&](qint64 x) { c.statusByte = quint8(x); }},
        {"data-lock", 0, 0xFFFF, [&](qint64 x) { c.dataLock = quint16(x); }},
        {"port", 0, 65535, [&](qint64 x) { c.udpPort = quint16(x); }},
        {"poll-interval", 0, 600000, [&](qint64 x) { c.localPollMs = int(x); }},
        {"connect-delay", 0, 600000, [&](qint64 x) { c.connectDelayMs = int(x); }},
        {"ring-interval", 1, 600000, [&](qint64 x) { c.ringIntervalMs = int(x); }},
        {"callback-delay", 0, 600000, [&](qint64 x) { c.callbackDelayMs = int(x); }},
        {"ring-after", 0, 86400000, [&](qint64 x) { ringAfter = x; }},
        {"ring-port", 1, 65535, [&](qint64 x) { ringPort = x; }},
        {"log-size", 1, 0xFFFF, [&](qint64 x) { c.logSize = int(x); }},
        {"events", 0, 20000, [&](qint64 x) { c.eventCount = int(x); }},
        {"new-events", 0, 20000, [&](qint64 x) { c.newEventCount = int(x); }},
        {"first-slot", 0, 0xFFFF, [&](qint64 x) { c.firstEventSlot = int(x); }},
        {"slots-per-answer", 1, 63, [&](qint64 x) { c.slotsPerAnswer = int(x); }},
        {"event-counter", 0, 0xFFFF, [&](qint64 x) { c.eventCounter = quint16(x); }},
    };
    for (const NumberOption &o : numbers) {
        v = -1;
        if (!readNumber(p, QString::fromLatin1(o.name), o.min, o.max, &v, &error))
            return fail(error);
        if (p.isSet(QString::fromLatin1(o.name)))
            o.set(v);
    }

    if (p.isSet(QStringLiteral("differ"))) {
        for (const QString &part : p.value(QStringLiteral("differ")).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            bool ok = false;
            const int item = part.trimmed().toInt(&ok);
            if (!ok || item < 1 || item >= ItemMap::ItemCount)
                return fail(QStringLiteral("--differ takes item numbers 1 to %1").arg(ItemMap::ItemCount - 1));
            c.differItems.append(item);
        }
    }

    PanelSimulator panel(c);
    for (const QString &ruleText : p.values(QStringLiteral("fault"))) {
        if (!panel.addFault(ruleText, &error))
            return fail(error);
    }

    // SIGINT and SIGTERM are taken synchronously by this thread; the simulator's thread inherits
    // the blocked mask and never sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (!panel.start(&error))
        return fail(error);
    if (c.mode == LinkMode::Network)
        std::printf("quarvo-panelsim: network panel on UDP 127.0.0.1:%u%s\n", panel.udpPort(),
                    c.linkKey.isEmpty() ? "" : " (encrypted)");
    else
        std::printf("quarvo-panelsim: %s panel on %s\n", qPrintable(linkModeName(c.mode)), qPrintable(panel.devicePath()));
    std::fflush(stdout);

    if (ringAfter >= 0) {
        const int ms = scaledMs(int(ringAfter));
        timespec wait{ms / 1000, long(ms % 1000) * 1000000L};
        if (sigtimedwait(&stopSignals, nullptr, &wait) > 0) {
            panel.stop();
            return 0;
        }
        panel.ring(quint16(ringPort));
    }
    int sig = 0;
    sigwait(&stopSignals, &sig);
    panel.stop();
    std::fprintf(stderr, "quarvo-panelsim: stopped (%d exchanges)\n", panel.exchangeCount());
    if (p.isSet(QStringLiteral("save-data"))) {
        const PanelState state = panel.state();
        QByteArray bytes;
        for (int item = 0; item < ItemMap::ItemCount; ++item)
            bytes += state.itemBytes(item);
        QFile file(p.value(QStringLiteral("save-data")));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() || !file.flush())
            return fail(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    return 0;
}
