// The fleet report: the page built from a database, read back as data (chart counts, changed items,
// escaping), and a report written by a real `run --report` against simulated panels, opened in
// headless Chromium and checked through the DOM the page's script left.
#include <gtest/gtest.h>

#include "FleetReport.h"
#include "FleetRunFixture.h"
#include "PanelDataStore.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

using namespace fleettest;

// The JSON block of a page, read back.
QJsonObject pageData(const QByteArray &page)
{
    const QByteArray open = "<script type=\"application/json\" id=\"fleet-data\">";
    const qsizetype from = page.indexOf(open);
    const qsizetype to = page.indexOf("</script>", from);
    if (from < 0 || to < 0)
        return {};
    return QJsonDocument::fromJson(page.mid(from + open.size(), to - from - open.size())).object();
}

QJsonArray siteRow(const QJsonObject &data, const QString &account)
{
    for (const QJsonValue &v : data.value(QStringLiteral("sites")).toArray())
        if (v.toArray().at(0).toString() == account)
            return v.toArray();
    return {};
}

TEST(FleetReportText, EscapesLeaveNoMarkupAndNoScriptEnd)
{
    const struct
    {
        QString text;
        QString html;
    } html[] = {
        {QStringLiteral("<script>alert(1)</script>"), QStringLiteral("&lt;script&gt;alert(1)&lt;/script&gt;")},
        {QStringLiteral("a \"b\" & 'c'"), QStringLiteral("a &quot;b&quot; &amp; &#39;c&#39;")},
        {QStringLiteral("plain Ünïcode"), QStringLiteral("plain Ünïcode")},
    };
    for (const auto &c : html)
        EXPECT_EQ(fleetreport::escapeHtml(c.text), c.html);

    // Whatever a name holds, the JSON keeps no "<" (so no "</script" or "<!--") and reads back the same.
    for (const QString &name : {QStringLiteral("</script><script>alert(1)</script>"), QStringLiteral("<!-- x --> & </SCRIPT >"),
                                QStringLiteral("\u2028line\u2029sep")}) {
        const QByteArray json = fleetreport::jsonForScript(QJsonDocument(QJsonArray{name}).toJson(QJsonDocument::Compact));
        EXPECT_FALSE(json.contains('<')) << json.constData();
        EXPECT_FALSE(json.contains('>')) << json.constData();
        EXPECT_EQ(QJsonDocument::fromJson(json).array().at(0).toString(), name);
    }
}

class FleetReportBuild : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QString why;
        bool skip = false;
        const QString location = fleettest::testDatabase(dir, QStringLiteral("fleet.db"), &why, &skip);
        if (skip)
            GTEST_SKIP() << why.toStdString();
        ASSERT_FALSE(location.isEmpty()) << why.toStdString();
        ASSERT_TRUE(db.open(location, &why)) << why.toStdString();
    }

    Site addSite(const QString &account, const QString &name)
    {
        Site s;
        s.account = account;
        s.name = name;
        s.address = QStringLiteral("127.0.0.1");
        s.port = 3001;
        s.passcode = QStringLiteral("551177");
        s.linkKey = QStringLiteral("fedcba9876543210fedcba9876543210");
        int added = 0, updated = 0;
        QString why;
        EXPECT_TRUE(db.importSites({s}, &added, &updated, &why)) << why.toStdString();
        return *db.site(account);
    }

    // One finished run of `site` at `started`.
    void addRun(const Site &site, const QDateTime &started, const QString &result, const std::optional<QByteArray> &snapshot = {},
                int events = 0, const QString &error = {})
    {
        RunRecord r;
        r.siteId = site.id;
        r.batch = QStringLiteral("t");
        r.jobs = QStringLiteral("receive");
        r.started = started;
        r.runner = QStringLiteral("t:1");
        QString why;
        r.id = db.beginRun(r, &why);
        ASSERT_GT(r.id, 0) << why.toStdString();
        r.ended = started.addSecs(5);
        r.result = result;
        r.errorText = error;
        std::vector<HistoryRow> history;
        for (int e = 0; e < events; ++e) {
            HistoryRow h;
            h.fingerprint = QStringLiteral("%1-%2").arg(r.id).arg(e);
            h.valid = true;
            h.event = QStringLiteral("2a");
            h.year = 2026, h.month = 12, h.day = 1, h.hour = 3, h.minute = e;
            h.readAt = r.ended.toString(Qt::ISODate);
            history.push_back(h);
        }
        FinishResult done;
        ASSERT_TRUE(db.finishRun(r, {}, history, snapshot, 10, std::nullopt, &done, &why)) << why.toStdString();
    }

    QTemporaryDir dir;
    FleetDatabase db;
};

TEST_F(FleetReportBuild, NightsChangedItemsAndOrderComeFromTheDatabase)
{
    const QDateTime night1 = QDateTime(QDate(2026, 12, 1), QTime(1, 0));
    const QDateTime night2 = night1.addDays(1);
    const Site steady = addSite(QStringLiteral("5001"), QStringLiteral("Steady"));
    const Site changed = addSite(QStringLiteral("5002"), QStringLiteral("Changed"));
    const Site flaky = addSite(QStringLiteral("5003"), QStringLiteral("Flaky"));
    addSite(QStringLiteral("5004"), QStringLiteral("Never"));

    PanelDataStore programming;
    QString why;
    addRun(steady, night1, QStringLiteral("success"), programming.toBytes());
    addRun(steady, night2, QStringLiteral("success"), programming.toBytes(), 2);
    addRun(changed, night1, QStringLiteral("success"), programming.toBytes());
    ASSERT_TRUE(programming.setBytes(5, 0, QByteArray("\x01\x02", 2), &why)) << why.toStdString();
    ASSERT_TRUE(programming.setBytes(11, 0, QByteArray("\x07", 1), &why)) << why.toStdString();
    addRun(changed, night2, QStringLiteral("success"), programming.toBytes(), 3);
    addRun(flaky, night1, QStringLiteral("success"));
    // Two failed attempts after midnight still count for the evening before, as one failed site.
    addRun(flaky, night2, QStringLiteral("failed"), {}, 0, QStringLiteral("the panel did not answer"));
    addRun(flaky, night2.addSecs(600), QStringLiteral("failed"), {}, 0, QStringLiteral("the panel did not answer"));

    ReportOptions options;
    options.now = night2.addSecs(8 * 3600);
    ReportSummary summary;
    const QByteArray page = fleetreport::build(db, options, &summary);
    EXPECT_EQ(summary.sites, 4);
    EXPECT_EQ(summary.succeeded, 2);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(summary.neverRun, 1);
    EXPECT_EQ(summary.stale, 1); // flaky's last success is a day old; "never" has none

    // The chart: the last two of its nights hold the two nights' results.
    const QRegularExpression bar(QStringLiteral("data-night=\"([0-9-]+)\" data-succeeded=\"(\\d+)\" data-failed=\"(\\d+)\" data-notrun=\"(\\d+)\""));
    QMap<QString, QStringList> nights;
    for (auto it = bar.globalMatch(QString::fromUtf8(page)); it.hasNext();) {
        const auto m = it.next();
        nights[m.captured(1)] = QStringList{m.captured(2), m.captured(3), m.captured(4)};
    }
    EXPECT_EQ(nights.size(), 30);
    EXPECT_EQ(nights.value(QStringLiteral("2026-11-30")), (QStringList{QStringLiteral("3"), QStringLiteral("0"), QStringLiteral("1")}));
    EXPECT_EQ(nights.value(QStringLiteral("2026-12-01")), (QStringList{QStringLiteral("2"), QStringLiteral("1"), QStringLiteral("1")}));

    const QJsonObject data = pageData(page);
    const QJsonArray sites = data.value(QStringLiteral("sites")).toArray();
    ASSERT_EQ(sites.size(), 4);
    EXPECT_EQ(sites.at(0).toArray().at(0).toString(), QStringLiteral("5003")); // the failure first
    EXPECT_EQ(sites.at(1).toArray().at(0).toString(), QStringLiteral("5004")); // then never reached
    EXPECT_EQ(siteRow(data, QStringLiteral("5002")).at(7).toString(), QStringLiteral("5, 11"));
    EXPECT_EQ(siteRow(data, QStringLiteral("5001")).at(7).toString(), QString()); // the same programming: no new version
    EXPECT_EQ(siteRow(data, QStringLiteral("5002")).at(6).toInt(), 3);           // events read last night
    EXPECT_EQ(siteRow(data, QStringLiteral("5003")).at(5).toInt(), 1);
    EXPECT_TRUE(siteRow(data, QStringLiteral("5003")).at(4).toString().contains(QStringLiteral("did not answer")));
    // Details: the newest snapshot first, with what changed since the one before.
    const QJsonArray snapshots = siteRow(data, QStringLiteral("5002")).at(12).toArray();
    ASSERT_EQ(snapshots.size(), 2);
    EXPECT_EQ(snapshots.at(0).toArray().at(0).toInt(), 2);
    EXPECT_EQ(snapshots.at(0).toArray().at(3).toString(), QStringLiteral("5, 11"));
    EXPECT_FALSE(page.contains("551177"));
    EXPECT_FALSE(page.contains("fedcba9876543210"));

    // --since and --sites narrow what is read.
    options.since = night2.addSecs(-3600);
    options.patterns = QStringList{QStringLiteral("Fl*")};
    const QJsonObject narrowed = pageData(fleetreport::build(db, options, &summary));
    ASSERT_EQ(narrowed.value(QStringLiteral("sites")).toArray().size(), 1);
    EXPECT_EQ(siteRow(narrowed, QStringLiteral("5003")).at(13).toInt(), 2); // the night-1 run is before --since
}

QString chromiumProgram()
{
    for (const char *name : {"chromium", "chromium-browser"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return {};
}

class FleetReportBrowser : public FleetRunTest
{
protected:
    // The DOM of `url` after its script ran, as headless Chromium dumps it.
    QString dom(const QString &url)
    {
        const QString browser = chromiumProgram();
        QProcess process;
        process.start(browser, {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                                QStringLiteral("--disable-quic"), QStringLiteral("--no-first-run"), QStringLiteral("--disable-background-networking"),
                                QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                                QStringLiteral("--user-data-dir=") + dir.filePath(QStringLiteral("profile-%1").arg(++profiles)),
                                QStringLiteral("--virtual-time-budget=2000"), QStringLiteral("--dump-dom"), url});
        EXPECT_TRUE(process.waitForStarted(30000)) << browser.toStdString();
        if (!waitWhile([&] { return process.state() != QProcess::NotRunning; }, 120000)) {
            process.kill();
            process.waitForFinished(10000);
            ADD_FAILURE() << "Chromium did not finish";
        }
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    struct Row
    {
        QString account, result;
    };
    static std::vector<Row> rows(const QString &dom)
    {
        static const QRegularExpression row(QStringLiteral("<tr class=\"g\\d\" data-account=\"([^\"]*)\" data-result=\"([^\"]*)\">"));
        std::vector<Row> out;
        for (auto it = row.globalMatch(dom); it.hasNext();) {
            const auto m = it.next();
            out.push_back(Row{m.captured(1), m.captured(2)});
        }
        return out;
    }

    static int summaryNumber(const QString &dom, const QString &id)
    {
        const QRegularExpression number(QStringLiteral("id=\"%1\"[^>]*>(\\d+)<").arg(id));
        const auto m = number.match(dom);
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    }

    int profiles = 0;
};

TEST_F(FleetReportBrowser, ARunsReportShowsTheDatabaseFailuresFirstAndRunsNoForeignScript)
{
    if (chromiumProgram().isEmpty())
        GTEST_SKIP() << "Chromium is not installed (scripts/install-deps.sh installs it)";
    const QString hostile = QStringLiteral("<script>alert(1);document.title='owned'</script><img src=x onerror=\"document.title='owned'\">");
    panelPasscode = QStringLiteral("730956");
    Site good = addPanel(QStringLiteral("4001"), true, panelPasscode);
    Site plain = addPanel(QStringLiteral("4002"), false, panelPasscode);
    Site silent = addPanel(QStringLiteral("4003"), false, panelPasscode);
    panels.back()->stop();
    Site wrong = addPanel(QStringLiteral("4004"), false, QStringLiteral("999956"));
    Site named = addPanel(QStringLiteral("4005"), false, panelPasscode);
    named.name = hostile;
    import({good, plain, silent, wrong, named});

    const QString report = dir.filePath(QStringLiteral("out/report.html"));
    const auto [status, out, err] =
        fleet({QStringLiteral("run"), QStringLiteral("--jobs"), QStringLiteral("clock,history-current,set-pointer,receive"), QStringLiteral("--parallel"),
               QStringLiteral("5"), QStringLiteral("--attempts"), QStringLiteral("2"), QStringLiteral("--backoff"), QStringLiteral("0.2"),
               QStringLiteral("--response-timeout"), QStringLiteral("2"), QStringLiteral("--host"), kHost, QStringLiteral("--report"), report});
    EXPECT_EQ(status, 1) << out.toStdString() << err.toStdString();
    QFile file(report);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << err.toStdString();
    const QByteArray page = file.readAll();
    for (const QString &secret : {panelPasscode, QStringLiteral("999956"), kLinkKey})
        EXPECT_FALSE(page.contains(secret.toUtf8())) << secret.toStdString();
    EXPECT_TRUE(page.contains("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src &#39;none&#39;;"));

    // What the page must show, from the database.
    int succeeded = 0, failed = 0, attention = 0;
    for (const SiteStatus &st : db.status()) {
        const QString result = st.lastRun ? st.lastRun->result : QString();
        succeeded += result == QLatin1String("success");
        failed += result == QLatin1String("failed") || result == QLatin1String("refused") || result == QLatin1String("aborted");
        attention += st.site.needsAttention;
    }
    ASSERT_EQ(failed, 2); // the silent panel and the refused passcode
    ASSERT_EQ(attention, 1);

    const QString url = QStringLiteral("file://") + report;
    const QString all = dom(url);
    ASSERT_FALSE(all.isEmpty());
    EXPECT_EQ(summaryNumber(all, QStringLiteral("sum-sites")), 5);
    EXPECT_EQ(summaryNumber(all, QStringLiteral("sum-succeeded")), succeeded);
    EXPECT_EQ(summaryNumber(all, QStringLiteral("sum-failed")), failed);
    EXPECT_EQ(summaryNumber(all, QStringLiteral("sum-attention")), attention);
    const std::vector<Row> shown = rows(all);
    ASSERT_EQ(shown.size(), 5u) << all.toStdString();
    QStringList firstTwo{shown[0].account, shown[1].account};
    firstTwo.sort();
    EXPECT_EQ(firstTwo, (QStringList{QStringLiteral("4003"), QStringLiteral("4004")}));
    EXPECT_EQ(shown[0].result == QLatin1String("failed") ? shown[1].result : shown[0].result, QStringLiteral("refused"));
    for (size_t i = 2; i < shown.size(); ++i)
        EXPECT_EQ(shown[i].result, QStringLiteral("success")) << shown[i].account.toStdString();

    // The hostile name is text; neither its script nor its handler ran, and nothing is loaded from anywhere.
    EXPECT_TRUE(all.contains(QStringLiteral("<td>&lt;script&gt;alert(1);document.title='owned'&lt;/script&gt;&lt;img src=x")))
        << all.toStdString();
    EXPECT_FALSE(all.contains(QStringLiteral("owned</title>")));
    EXPECT_EQ(all.count(QStringLiteral("<script")), 2);
    EXPECT_FALSE(all.contains(QStringLiteral("<img")));
    static const QRegularExpression fetches(QStringLiteral("<[a-z]+[^>]*\\s(src|href|action|srcset)\\s*="), QRegularExpression::CaseInsensitiveOption);
    EXPECT_FALSE(fetches.match(all).hasMatch()) << fetches.match(all).captured(0).toStdString();

    // The filter from the address narrows the table; a site opened there shows its runs.
    const QString filtered = dom(url + QStringLiteral("#filter=4004&open=4004"));
    const std::vector<Row> narrowed = rows(filtered);
    ASSERT_EQ(narrowed.size(), 1u) << filtered.toStdString();
    EXPECT_EQ(narrowed[0].account, QStringLiteral("4004"));
    EXPECT_TRUE(filtered.contains(QStringLiteral("1 of 5 sites shown")));
    EXPECT_TRUE(filtered.contains(QStringLiteral("<td>refused</td>"))) << filtered.toStdString();
}

} // namespace
