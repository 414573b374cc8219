// quarvo-host unattended: the jobs of --jobs run without an operator (DoUnattended), headless; the
// process ends with the session's result.
#include "Commands.h"
#include "HostSession.h"
#include "PanelTimeZone.h"
#include "Printable.h"
#include "ProgressReport.h"

#include "component/IZelComm.h"

#include <QStringList>

namespace {

QString itemList(const std::set<int> &items)
{
    QStringList out;
    for (const int item : items)
        out << QString::number(item);
    return out.join(QStringLiteral(", "));
}

// What the finished jobs did, for the final line of a successful run; a job that the session did
// not finish is named in `unfinished`.
QString summaryOf(std::int32_t mask, HostSession &session, QStringList &unfinished)
{
    const QStringList tags = session.events().tags();
    QStringList parts;
    if (mask & 1)
        parts << QStringLiteral("panel clock written");
    if (mask & (8 | 2)) {
        if (const std::optional<int> count = session.events().historyEnd())
            parts << QStringLiteral("%1 history events read").arg(*count);
        else
            unfinished << QStringLiteral("the history retrieval");
    }
    if (mask & 16) {
        if (!tags.contains(QStringLiteral("RECV_END")))
            unfinished << QStringLiteral("the receive");
        else if (session.data().itemsWritten().empty())
            parts << QStringLiteral("no item to receive (every CRC the same)");
        else
            parts << QStringLiteral("received item(s) %1 into %2").arg(itemList(session.data().itemsWritten()), session.data().dataFile());
    } else if (mask & 32) {
        if (!tags.contains(QStringLiteral("SEND_END")))
            unfinished << QStringLiteral("the send");
        else if (session.data().sendsFinished() == 0)
            parts << QStringLiteral("no item to send (every CRC the same)");
        else
            parts << QStringLiteral("the differing items sent, panel reset at goodbye");
    }
    return parts.join(QStringLiteral("; "));
}

} // namespace

int runUnattended(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs jobs on a panel without an operator, over the network link of the settings file, and\n"
        "ends with the session's result: SUCCESS (exit 0), FAILURE (1), ABORTED (3), UNKNOWN (4); after\n"
        "SIGTERM or SIGINT (the panel still gets its goodbye) 128 + the signal's number.\n"
        "Host events go to standard output as JSON lines; progress and the final message to standard\n"
        "error.\n\n"
        "Jobs (--jobs, comma-separated): clock (set the panel clock from this computer's, shifted by\n"
        "TimeOffsetHours, or to the local time of the settings' TimeZone), history-current (events\n"
        "since the panel's pointer) with set-pointer (move the pointer afterwards), or history-all;\n"
        "receive (the panel's differing items into the data\n"
        "file) or send (the data file's differing items to the panel, which resets at goodbye);\n"
        "none. Example: --jobs clock,history-current,set-pointer,receive"));
    const SessionOptions common(QStringLiteral("Run the session in quarvo-server on the D-Bus session bus (started by the bus "
                                               "when needed) instead of in this process."));
    const QCommandLineOption jobsOption(QStringLiteral("jobs"), QStringLiteral("The jobs to run (above)."), QStringLiteral("list"));
    const QCommandLineOption maskOption(QStringLiteral("mask"), QStringLiteral("The job mask as a number 0-63 instead of --jobs."),
                                        QStringLiteral("n"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
                                           QStringLiteral("Shut the session down after this many seconds (default 900, 0 = never)."),
                                           QStringLiteral("seconds"), QStringLiteral("900"));
    common.addTo(parser, {jobsOption, maskOption, timeoutOption});
    if (const std::optional<int> done = parseCommandLine(parser, QStringLiteral("unattended"), arguments))
        return *done;
    if (!parser.positionalArguments().isEmpty()) {
        complain(QStringLiteral("unattended: unexpected argument \"%1\" (see quarvo-host unattended --help)").arg(printable(parser.positionalArguments().first())));
        return hostexit::Usage;
    }
    if (!parser.isSet(common.settings)) {
        complain(QStringLiteral("unattended: --settings FILE is needed (the panel's address, port, passcode, data locks...)"));
        return hostexit::Usage;
    }
    if (parser.isSet(jobsOption) == parser.isSet(maskOption)) {
        complain(QStringLiteral("unattended: give the jobs with --jobs (or --mask), once"));
        return hostexit::Usage;
    }
    std::int32_t mask = 0;
    if (parser.isSet(jobsOption)) {
        QString why;
        QStringList notes;
        const std::optional<std::int32_t> parsed = jobMaskFor(parser.value(jobsOption), &why, &notes);
        if (!parsed) {
            complain(QStringLiteral("unattended: ") + why);
            return hostexit::Usage;
        }
        mask = *parsed;
        for (const QString &note : notes)
            complain(QStringLiteral("note: ") + note);
    } else {
        bool ok = false;
        mask = parser.value(maskOption).toInt(&ok);
        if (!ok || mask < 0 || mask > 63) {
            complain(QStringLiteral("unattended: --mask must be a number from 0 to 63"));
            return hostexit::Usage;
        }
    }
    bool ok = false;
    const int timeout = parser.value(timeoutOption).toInt(&ok);
    if (!ok || timeout < 0) {
        complain(QStringLiteral("unattended: --timeout must be a number of seconds (0 = no limit)"));
        return hostexit::Usage;
    }

    HostSession::chooseFolders();
    HostSession session;
    const HostOptions options = common.read(parser);
    QString why;
    if (!session.prepare(options, &why)) {
        complain(why);
        return hostexit::Usage;
    }
    // A panel in a time zone of its own gets that zone's time: the whole hours between the zone and
    // this computer's local time at this moment. A zone that differs by a fraction of an hour cannot
    // be written, and the clock job is then refused before anything is sent.
    if (!session.settings().timeZone().isEmpty()) {
        const std::optional<QDateTime> moment = paneltime::offsetMoment(&why);
        if (!moment || !session.settings().applyTimeZone(*moment, &why)) {
            if (mask & 1) {
                complain(QStringLiteral("unattended: ") + why);
                return hostexit::Usage;
            }
        }
    }
    const FileHostSettings &settings = session.settings();
    if (settings.linkType() != QLatin1String("network")) {
        complain(QStringLiteral("unattended jobs run over the network link only; %1 says LinkType \"%2\"")
                     .arg(options.settingsPath, settings.linkType()));
        return hostexit::Usage;
    }
    if (settings.RemoteHost().trimmed().isEmpty() || settings.PanelPort().trimmed().isEmpty()) {
        complain(QStringLiteral("%1 must name the panel: RemoteHost and PanelPort").arg(options.settingsPath));
        return hostexit::Usage;
    }

    if (!session.attach(&why)) {
        complain(QStringLiteral("unattended: ") + why);
        return hostexit::Failure;
    }
    ProgressReport progress;
    session.events().beforeLine = [&progress] { progress.clear(); };
    progress.start();
    std::int32_t jobMask = mask;
    const std::int32_t started = session.component().DoUnattended(jobMask);
    bool inTime = true;
    if (started == 0)
        inTime = session.waitForEnd(timeout);
    progress.finish();
    session.events().beforeLine = nullptr; // the bar goes before the session does

    if (const int signalled = HostSession::terminationStatus()) {
        complain(QStringLiteral("ended by signal %1").arg(signalled - 128));
        return signalled;
    }
    const QString ending = session.events().ending();
    int status = ending.isEmpty() ? hostexit::Unknown : HostSession::statusFor(ending);
    QString message;
    if (started != 0) {
        status = hostexit::Failure;
        message = QStringLiteral("the session could not start (error 0x%1)")
                      .arg(static_cast<quint32>(started), 8, 16, QLatin1Char('0'));
        if (const QString reason = session.failureReason(); !reason.isEmpty())
            message += QStringLiteral("; ") + reason;
    } else if (status == hostexit::Success) {
        QStringList unfinished;
        message = summaryOf(mask, session, unfinished);
        if (!unfinished.isEmpty()) {
            status = hostexit::Failure;
            message = QStringLiteral("%1 did not finish").arg(unfinished.join(QStringLiteral(" and ")));
            if (const QString reason = session.failureReason(); !reason.isEmpty())
                message += QStringLiteral("; ") + reason;
        }
    } else {
        message = session.failureReason();
        if (!inTime)
            message = QStringLiteral("no end within %1 s").arg(timeout) + (message.isEmpty() ? QString() : QStringLiteral("; ") + message);
    }
    QStringList lost;
    if (session.data().saveFailed())
        lost << QStringLiteral("the received data were not saved: ") + session.data().saveError();
    if (session.events().writeFailed())
        lost << QStringLiteral("the host events could not all be written");
    if (!lost.isEmpty()) {
        // What was not kept is the news; a summary of what was received would claim otherwise.
        if (status == hostexit::Success)
            message.clear();
        status = hostexit::Failure;
        message += (message.isEmpty() ? QString() : QStringLiteral("; ")) + lost.join(QStringLiteral("; "));
    }
    // The line starts with the run's outcome: a session that ended SUCCESS in a run that failed
    // (a job unfinished, data not kept) is a FAILURE, and says how the session itself ended.
    QString headline = ending.isEmpty() ? QStringLiteral("no result (UNKNOWN)") : ending;
    if (ending == QLatin1String("SUCCESS") && status != hostexit::Success) {
        headline = QStringLiteral("FAILURE");
        message += QStringLiteral(" (the session with the panel ended SUCCESS)");
    }
    complain(QStringLiteral("%1%2").arg(headline, message.isEmpty() ? QString() : QStringLiteral(": ") + message));
    session.close();
    return status;
}
