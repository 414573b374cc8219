// quarvo-fleet runs against simulated panels on 127.0.0.1 (in this process), each session a real
// quarvo-host child: many sites at once with snapshots and history checked against the panels,
// silent panels and a wrong passcode beside good ones, the panel clock in a site's time zone, a
// restore from a snapshot, and SIGTERM to the quarvo-fleet program in the middle of a run.
#include <gtest/gtest.h>

#include "FleetRunFixture.h"
#include "PanelDataStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <tuple>

namespace {

using namespace fleettest;

// The panel's events from its read pointer to its newest index, as the history rows should hold them.
struct PanelEvent
{
    bool valid;
    QString event, modifier;
    int month = 0, day = 0, hour = 0, minute = 0;
};

std::vector<PanelEvent> eventsSincePointer(const panelsim::PanelState &state)
{
    const panelsim::EventLog &log = state.eventLog;
    std::vector<PanelEvent> out;
    int i = log.panelPointer();
    const int end = log.newestIndex();
    const auto wrap = [&](int k) { return k % log.size(); };
    while (i != end) {
        const QByteArray main = log.slot(i);
        panelsim::EventTime t;
        if (panelsim::EventLog::isValidMainSlot(main) && wrap(i + 1) != end && panelsim::EventLog::unpackTimeStamp(log.slot(wrap(i + 1)), &t)) {
            PanelEvent e{true, QString::fromLatin1(main.toHex()), QString(), t.month, t.day, t.hour, t.minute};
            int next = wrap(i + 2);
            if (next != end && static_cast<quint8>(log.slot(next).at(0)) >= 0xF0) {
                e.modifier = QString::fromLatin1(log.slot(next).toHex());
                next = wrap(next + 1);
            }
            out.push_back(e);
            i = next;
        } else {
            out.push_back(PanelEvent{false, QString::fromLatin1(main.toHex()), QString()});
            i = wrap(i + 1);
        }
    }
    return out;
}

TEST_F(FleetRunTest, FortySitesTwentyAtOnceMatchTheirPanelsAndASecondRunAddsNothing)
{
    std::vector<Site> sites;
    for (int i = 0; i < 40; ++i)
        sites.push_back(addPanel(QString::number(2000 + i), i % 4 == 0));
    import(sites);
    std::vector<std::vector<PanelEvent>> expected;
    for (const auto &panel : panels)
        expected.push_back(eventsSincePointer(panel->state()));

    const QString jobs = QStringLiteral("clock,history-current,set-pointer,receive");
    for (const SiteReport &r : run(jobs, 20))
        EXPECT_EQ(r.result, QStringLiteral("success")) << r.site.account.toStdString() << ": " << r.error.toStdString();

    for (size_t i = 0; i < panels.size(); ++i) {
        const Site site = *db.site(sites[i].account);
        const panelsim::PanelState state = panels[i]->state();
        const std::optional<QByteArray> snapshot = db.snapshotData(site.id, 0);
        ASSERT_TRUE(snapshot) << site.account.toStdString();
        PanelDataStore data;
        QString why;
        ASSERT_TRUE(data.fromBytes(*snapshot, &why)) << why.toStdString();
        for (int item = 0; item < PanelDataStore::ItemCount; ++item)
            EXPECT_EQ(data.item(item), state.itemBytes(item)) << site.account.toStdString() << " item " << item;
        const std::vector<HistoryRow> rows = db.history(site.id, 0);
        ASSERT_EQ(rows.size(), expected[i].size()) << site.account.toStdString();
        for (size_t k = 0; k < rows.size(); ++k) {
            EXPECT_EQ(rows[k].valid, expected[i][k].valid);
            EXPECT_EQ(rows[k].event, expected[i][k].event);
            EXPECT_EQ(rows[k].modifier, expected[i][k].modifier);
            if (rows[k].valid) {
                EXPECT_EQ(QList<int>({*rows[k].month, *rows[k].day, *rows[k].hour, *rows[k].minute}),
                          QList<int>({expected[i][k].month, expected[i][k].day, expected[i][k].hour, expected[i][k].minute}));
            }
        }
        EXPECT_TRUE(state.goodbyeReceived);
    }

    // Again, reading every event this time: what was read before is not stored twice, and an
    // unchanged panel makes no new snapshot.
    std::vector<size_t> before;
    for (const Site &s : sites)
        before.push_back(db.history(db.site(s.account)->id, 0).size());
    for (const SiteReport &r : run(QStringLiteral("history-all,receive"), 20)) {
        EXPECT_EQ(r.result, QStringLiteral("success")) << r.error.toStdString();
        EXPECT_FALSE(r.snapshotVersion);
        EXPECT_TRUE(r.snapshotUnchanged);
    }
    for (size_t i = 0; i < sites.size(); ++i) {
        const Site site = *db.site(sites[i].account);
        EXPECT_EQ(db.snapshots(site.id).size(), 1u);
        const std::vector<HistoryRow> rows = db.history(site.id, 0);
        EXPECT_GE(rows.size(), before[i]);
        QSet<QString> fingerprints;
        for (const HistoryRow &h : rows)
            fingerprints.insert(h.fingerprint);
        EXPECT_EQ(static_cast<size_t>(fingerprints.size()), rows.size());
    }
}

TEST_F(FleetRunTest, SilentPanelsAreRetriedAWrongPasscodeIsMarkedAndOthersGoOn)
{
    // A port nobody answers on: a panel started and stopped again.
    Site silent = addPanel(QStringLiteral("3001"));
    panels.back()->stop();
    // The passcode's last two characters also key the datagrams: a passcode that shares them
    // reaches the panel, which refuses it.
    Site wrong = addPanel(QStringLiteral("3002"), false, QStringLiteral("999956"));
    Site good = addPanel(QStringLiteral("3003"));
    import({silent, wrong, good});
    const std::vector<SiteReport> reports = run(QStringLiteral("clock"), 3);
    std::map<QString, SiteReport> by;
    for (const SiteReport &r : reports)
        by[r.site.account] = r;
    EXPECT_EQ(by["3001"].result, QStringLiteral("failed"));
    EXPECT_EQ(by["3001"].attempts, 3);
    EXPECT_EQ(by["3002"].result, QStringLiteral("refused"));
    EXPECT_EQ(by["3002"].attempts, 1);
    EXPECT_TRUE(by["3002"].error.contains(QStringLiteral("passcode"))) << by["3002"].error.toStdString();
    EXPECT_EQ(by["3003"].result, QStringLiteral("success"));
    EXPECT_EQ(by["3003"].attempts, 1);
    EXPECT_TRUE(db.site(QStringLiteral("3002"))->needsAttention);
    EXPECT_FALSE(db.site(QStringLiteral("3001"))->needsAttention);
    EXPECT_EQ(db.runs(db.site(QStringLiteral("3001"))->id, 10).size(), 3u);
    const std::vector<RunRecord> refused = db.runs(db.site(QStringLiteral("3002"))->id, 10);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused.front().errorNumber, 0x80041388LL);
    EXPECT_EQ(refused.front().exitStatus, 1);
}

TEST_F(FleetRunTest, ClockFollowsTheSitesZoneOnBothSidesOfDaylightSaving)
{
    Site york = addPanel(QStringLiteral("4001"));
    york.timeZone = QStringLiteral("America/New_York");
    Site india = addPanel(QStringLiteral("4002"));
    india.timeZone = QStringLiteral("Asia/Kolkata");
    import({york, india});
    for (const auto &[moment, hours] : {std::pair{"2026-03-08T06:30:00Z", -5}, std::pair{"2026-03-08T07:30:00Z", -4}}) {
        qputenv("QUARVO_CLOCK_MOMENT", moment);
        std::map<QString, SiteReport> by;
        for (const SiteReport &r : run(QStringLiteral("clock"), 2))
            by[r.site.account] = r;
        EXPECT_EQ(by["4001"].result, QStringLiteral("success")) << by["4001"].error.toStdString();
        // The panel runs on the New York time written into it; this machine's clock is UTC.
        const QDateTime panelClock = panels[0]->state().clock();
        const QDateTime expected = QDateTime::currentDateTimeUtc().addSecs(hours * 3600);
        const QDateTime written(panelClock.date(), panelClock.time(), Qt::UTC);
        EXPECT_LT(std::abs(written.secsTo(expected)), 150) << moment << ": panel " << panelClock.toString(Qt::ISODate).toStdString();
        EXPECT_EQ(by["4002"].result, QStringLiteral("refused"));
        EXPECT_TRUE(by["4002"].error.contains(QStringLiteral("Asia/Kolkata"))) << by["4002"].error.toStdString();
        EXPECT_EQ(panels[1]->state().commandCount(QStringLiteral("Passcode Verification")), 0) << "nothing was sent to it";
    }
}

TEST_F(FleetRunTest, ASendRestoresTheChosenSnapshot)
{
    import({addPanel(QStringLiteral("5001"))});
    ASSERT_EQ(run(QStringLiteral("receive"), 1).front().result, QStringLiteral("success"));
    const QByteArray original = panels[0]->state().block(5, 0);
    panels[0]->updateState([](panelsim::PanelState &s) {
        QByteArray changed = s.block(5, 0);
        changed[0] = static_cast<char>(changed[0] ^ 0x5a);
        s.writeBlock(5, 0, changed);
    });
    ASSERT_EQ(run(QStringLiteral("receive"), 1).front().snapshotVersion, 2);
    const std::vector<SiteReport> sent = run(QStringLiteral("send"), 1, {}, 1);
    EXPECT_EQ(sent.front().result, QStringLiteral("success")) << sent.front().error.toStdString();
    EXPECT_EQ(panels[0]->state().block(5, 0), original);
}

TEST_F(FleetRunTest, SigtermEndsEverySessionWithAGoodbyeAndKeepsFinishedResults)
{
    std::vector<Site> sites;
    for (int i = 0; i < 6; ++i)
        sites.push_back(addPanel(QString::number(6000 + i)));
    import(sites);
    QProcess fleet;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    fleet.setProcessEnvironment(env);
    fleet.start(kFleet, {QStringLiteral("run"), QStringLiteral("--db"), db.location(), QStringLiteral("--jobs"), QStringLiteral("history-all,receive"),
                         QStringLiteral("--parallel"), QStringLiteral("3"), QStringLiteral("--host"), kHost});
    ASSERT_TRUE(fleet.waitForStarted(10000));
    // Once the first three sessions talk to their panels, the runner is told to end.
    ASSERT_TRUE(waitWhile([&] {
        int talking = 0;
        for (const auto &p : panels)
            talking += p->exchangeCount() > 3;
        return talking < 3;
    }, 60000));
    ::kill(static_cast<pid_t>(fleet.processId()), SIGTERM);
    ASSERT_TRUE(waitWhile([&] { return fleet.state() != QProcess::NotRunning; }, 90000));
    EXPECT_EQ(fleet.exitCode(), 3) << fleet.readAllStandardError().toStdString();

    int started = 0;
    for (const auto &p : panels)
        if (p->exchangeCount() > 0) {
            ++started;
            EXPECT_TRUE(p->goodbyeReceived());
        }
    EXPECT_EQ(started, 3) << "no session starts after the signal";
    // No quarvo-host child is left: their folders were under this test's folder.
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly)) {
            EXPECT_FALSE(cmdline.readAll().contains(QFile::encodeName(dir.path()) + "/quarvo-fleet-")) << "process " << pid.toStdString();
        }
    }
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("quarvo-fleet-*")}, QDir::Dirs).isEmpty()) << "private folders removed";
    // The database opens cleanly and holds every attempt, none left running.
    FleetDatabase again;
    QString why;
    ASSERT_TRUE(again.open(db.location(), &why)) << why.toStdString();
    int aborted = 0, finished = 0;
    for (const Site &s : again.sites())
        for (const RunRecord &r : again.runs(s.id, 10)) {
            EXPECT_NE(r.result, QStringLiteral("running"));
            aborted += r.result == QLatin1String("aborted");
            finished += r.result == QLatin1String("success");
        }
    EXPECT_EQ(aborted + finished, 3);
    EXPECT_GE(aborted, 1);
}

TEST_F(FleetRunTest, TheCommandsKeepSecretsOutAndABadImportTakesNothing)
{
    panelPasscode = QStringLiteral("730956");
    const QString key = QStringLiteral("f00dfeedcafe5eedf00dfeedcafe5eed");
    Site good = addPanel(QStringLiteral("7001"), false, panelPasscode);
    Site silent = addPanel(QStringLiteral("7002"), false, panelPasscode);
    panels.back()->stop();
    silent.linkKey = key;
    const QString csv = dir.filePath(QStringLiteral("sites.csv"));
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("account,name,address,port,passcode,link_key,data_locks\n"
                              "7001,Good,127.0.0.1,%1,%2,,4660\n7002,Silent,127.0.0.1,%3,%2,%4,4660\n")
                   .arg(good.port)
                   .arg(panelPasscode)
                   .arg(silent.port)
                   .arg(key)
                   .toUtf8());
    file.close();
    // A bad row: nothing of the file is taken, and the message names the row and the field.
    QFile bad(dir.filePath(QStringLiteral("bad.csv")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("account,address,port,passcode\n8001,127.0.0.1,3001,123456\n8002,127.0.0.1,3001,1234567\n");
    bad.close();
    const auto [badStatus, badOut, badErr] = fleet({QStringLiteral("import"), bad.fileName()});
    EXPECT_EQ(badStatus, 2);
    EXPECT_TRUE(badErr.contains(QStringLiteral("line 3, field \"passcode\""))) << badErr.toStdString();
    EXPECT_TRUE(db.sites().empty());

    ASSERT_EQ(std::get<0>(fleet({QStringLiteral("import"), csv})), 0);
    const auto [runStatus, runOut, runErr] =
        fleet({QStringLiteral("run"), QStringLiteral("--jobs"), QStringLiteral("clock,receive"), QStringLiteral("--attempts"), QStringLiteral("2"),
               QStringLiteral("--backoff"), QStringLiteral("0.1"), QStringLiteral("--response-timeout"), QStringLiteral("1"),
               QStringLiteral("--host"), kHost});
    EXPECT_EQ(runStatus, 1) << runErr.toStdString();
    EXPECT_TRUE(runOut.contains(QStringLiteral("1 of 2 site(s) succeeded"))) << runOut.toStdString();
    const auto [statusStatus, statusOut, statusErr] = fleet({QStringLiteral("status")});
    EXPECT_EQ(statusStatus, 0);
    EXPECT_TRUE(statusOut.contains(QStringLiteral("did not answer"))) << statusOut.toStdString();
    const auto csvOut = std::get<1>(fleet({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("csv")}));
    const auto jsonOut = std::get<1>(fleet({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("json")}));
    const auto history = std::get<1>(fleet({QStringLiteral("history"), QStringLiteral("7001")}));
    const auto snapshots = std::get<1>(fleet({QStringLiteral("snapshots"), QStringLiteral("7001")}));
    for (const QString &text : {runOut, runErr, statusOut, statusErr, csvOut, jsonOut, history, snapshots}) {
        EXPECT_FALSE(text.contains(panelPasscode)) << text.toStdString();
        EXPECT_FALSE(text.contains(key)) << text.toStdString();
    }
    // The session logs neither.
    QDirIterator logs(dir.filePath(QStringLiteral("logs")), QDir::Files, QDirIterator::Subdirectories);
    while (logs.hasNext()) {
        QFile log(logs.next());
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        EXPECT_FALSE(text.contains(panelPasscode.toUtf8()) || text.contains(key.toUtf8())) << log.fileName().toStdString();
    }
    // Only when asked, and then the export imports again.
    const auto secret = std::get<1>(fleet({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--with-secrets")}));
    EXPECT_TRUE(secret.contains(panelPasscode) && secret.contains(key));
    QFile again(dir.filePath(QStringLiteral("again.jsonl")));
    ASSERT_TRUE(again.open(QIODevice::WriteOnly));
    again.write(secret.toUtf8());
    again.close();
    const auto [reStatus, reOut, reErr] = fleet({QStringLiteral("import"), again.fileName()});
    EXPECT_EQ(reStatus, 0) << reErr.toStdString();
    EXPECT_TRUE(reOut.contains(QStringLiteral("0 site(s) added, 2 updated"))) << reOut.toStdString();
    EXPECT_EQ(db.site(QStringLiteral("7002"))->linkKey, key);
    // The exported snapshot is a data file quarvo-host reads.
    const QString exported = dir.filePath(QStringLiteral("7001.qpd"));
    ASSERT_EQ(std::get<0>(fleet({QStringLiteral("snapshots"), QStringLiteral("7001"), QStringLiteral("--export"), QStringLiteral("0"),
                                 QStringLiteral("--output"), exported})),
              0);
    QProcess diff;
    diff.start(kHost, {QStringLiteral("data"), QStringLiteral("diff"), exported, exported});
    ASSERT_TRUE(diff.waitForFinished(30000));
    EXPECT_EQ(diff.exitCode(), 0) << diff.readAllStandardError().toStdString();
}

} // namespace
