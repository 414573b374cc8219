// bench_FleetReport: the fleet report of a large fleet. Fills a database with --sites sites and
// --nights nights of runs (about one site in twenty failing on a night, retried; history events;
// a snapshot whose programming changes now and then), writes the report and prints its size and the
// time that took, then, when a Chromium is found, how long the browser takes to load and run the
// page (the same browser's time for an empty page is subtracted). --keep DIR keeps the database and
// the page there.
#include "FleetDatabase.h"
#include "FleetReport.h"
#include "PanelDataStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

const char kUsage[] =
    "Usage: bench_FleetReport [--sites N] [--nights M] [--keep DIR]\n"
    "  --sites N    sites in the generated database (default 5000)\n"
    "  --nights M   nights of runs (default 30)\n"
    "  --keep DIR   keep the database (fleet.db) and the page (report.html) in DIR\n";

QString chromium()
{
    for (const char *name : {"chromium", "chromium-browser", "google-chrome"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return {};
}

// Milliseconds Chromium takes to load `page` and run its script (the DOM is dumped afterwards); -1 on failure.
qint64 browserMs(const QString &browser, const QString &page, const QString &profile)
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(browser, {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                            QStringLiteral("--no-first-run"), QStringLiteral("--disable-background-networking"),
                            QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                            QStringLiteral("--user-data-dir=") + profile, QStringLiteral("--dump-dom"),
                            QStringLiteral("file://") + page});
    if (!process.waitForFinished(180000)) {
        process.kill();
        process.waitForFinished(5000);
        return -1;
    }
    return process.exitCode() == 0 ? clock.elapsed() : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int sites = 5000, nights = 30;
    QString keep;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= args.size()) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        const QString v = args[++i];
        if (a == QLatin1String("--sites"))
            sites = v.toInt();
        else if (a == QLatin1String("--nights"))
            nights = v.toInt();
        else if (a == QLatin1String("--keep"))
            keep = v;
        else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (sites < 1 || nights < 1) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    QTemporaryDir temp;
    const QDir folder(keep.isEmpty() ? temp.path() : keep);
    if (!keep.isEmpty() && !QDir().mkpath(keep)) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(keep));
        return 2;
    }
    QFile::remove(folder.filePath(QStringLiteral("fleet.db")));
    FleetDatabase db;
    QString why;
    if (!db.open(folder.filePath(QStringLiteral("fleet.db")), &why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    std::vector<Site> list;
    for (int i = 0; i < sites; ++i) {
        Site s;
        s.account = QString::number(100000 + i);
        s.name = QStringLiteral("Site %1, %2 street").arg(i).arg(QStringList{QStringLiteral("North"), QStringLiteral("Harbour"), QStringLiteral("Mill")}[i % 3]);
        s.address = QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg(i / 256 % 256).arg(i % 256);
        s.port = 3001;
        s.passcode = QStringLiteral("123456");
        list.push_back(s);
    }
    int added = 0, updated = 0;
    if (!db.importSites(list, &added, &updated, &why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    QRandomGenerator random(42);
    const QDateTime firstNight = QDateTime(QDate::currentDate().addDays(-nights), QTime(1, 30));
    std::vector<PanelDataStore> programming(static_cast<size_t>(sites));
    for (const Site &s : db.sites()) {
        const int i = s.account.toInt() - 100000;
        for (int n = 0; n < nights; ++n) {
            const QDateTime start = firstNight.addDays(n + 1).addSecs(random.bounded(3600));
            const bool silent = random.bounded(20) == 0;
            for (int attempt = 1; attempt <= (silent ? 3 : 1); ++attempt) {
                RunRecord r;
                r.siteId = s.id;
                r.batch = QStringLiteral("night-%1").arg(n);
                r.jobs = QStringLiteral("clock,history-current,set-pointer,receive");
                r.started = start.addSecs(60 * (attempt - 1));
                r.attempt = attempt;
                r.runner = QStringLiteral("bench:1");
                r.id = db.beginRun(r, &why);
                r.ended = r.started.addSecs(5);
                std::vector<HistoryRow> history;
                std::optional<QByteArray> snapshot;
                if (silent) {
                    r.result = QStringLiteral("failed");
                    r.exitStatus = 1;
                    r.errorText = QStringLiteral("the panel did not answer");
                } else {
                    r.result = QStringLiteral("success");
                    r.exitStatus = 0;
                    for (int e = 0, count = random.bounded(6); e < count; ++e) {
                        HistoryRow h;
                        h.fingerprint = QStringLiteral("%1-%2-%3").arg(i).arg(n).arg(e);
                        h.valid = true;
                        h.event = QStringLiteral("%1").arg(random.bounded(256), 2, 16, QLatin1Char('0'));
                        h.year = start.date().year();
                        h.month = start.date().month();
                        h.day = start.date().day();
                        h.hour = random.bounded(24);
                        h.minute = random.bounded(60);
                        h.readAt = r.ended.toString(Qt::ISODate);
                        history.push_back(h);
                    }
                    PanelDataStore &data = programming[static_cast<size_t>(i)];
                    if (random.bounded(10) == 0)
                        data.setBytes(random.bounded(PanelDataStore::ItemCount), 0, QByteArray(1, char(random.bounded(256))), &why);
                    snapshot = data.toBytes();
                }
                FinishResult result;
                if (!db.finishRun(r, {}, history, snapshot, 10, std::nullopt, &result, &why)) {
                    std::fprintf(stderr, "%s\n", qPrintable(why));
                    return 1;
                }
            }
        }
    }
    std::printf("database: %d sites x %d nights filled in %.1f s\n", sites, nights, clock.elapsed() / 1000.0);

    clock.restart();
    ReportSummary summary;
    const QString page = folder.filePath(QStringLiteral("report.html"));
    if (!fleetreport::write(db, ReportOptions{}, page, &summary, &why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    std::printf("report: %.2f MB (%s 5 MB) written in %.2f s; %d sites, %d failed\n", summary.bytes / 1e6,
                summary.bytes < 5000000 ? "under" : "OVER", clock.elapsed() / 1000.0, summary.sites, summary.failed);

    const QString browser = chromium();
    if (browser.isEmpty()) {
        std::printf("browser: no Chromium found; load time not measured\n");
        return 0;
    }
    QFile empty(folder.filePath(QStringLiteral("empty.html")));
    if (empty.open(QIODevice::WriteOnly))
        empty.write("<!DOCTYPE html><title>empty</title>");
    empty.close();
    const qint64 base = browserMs(browser, empty.fileName(), folder.filePath(QStringLiteral("profile-empty")));
    const qint64 full = browserMs(browser, page, folder.filePath(QStringLiteral("profile-report")));
    if (base < 0 || full < 0) {
        std::printf("browser: Chromium did not load the pages\n");
        return 1;
    }
    std::printf("browser: the report loads and draws in %.2f s (%.2f s for the whole browser run, %.2f s for an empty page)\n",
                (full - base) / 1000.0, full / 1000.0, base / 1000.0);
    return 0;
}
