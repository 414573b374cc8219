// The parts of quarvo-fleet that need no panel: import checks, the database (schema, mode, history
// without duplicates, snapshot versions), how a quarvo-host child's end is read, and time zones.
#include <gtest/gtest.h>

#include "FleetDatabase.h"
#include "PostgresServer.h"
#include "PanelTimeZone.h"
#include "SessionOutcome.h"
#include "SiteImport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <ctime>
#include <ostream>

#include <sys/stat.h>

namespace {

// The checks of local time assume a computer in UTC, whatever the machine's own zone; the
// quarvo-host children inherit it.
const bool kInUtc = [] {
    qputenv("TZ", "UTC");
    ::tzset();
    return true;
}();

const char kHeader[] = "account,name,address,port,passcode,link_key,data_locks,panel_type,time_zone,jobs\n";

struct BadRow
{
    const char *row;
    int line;
    const char *field;
};

void PrintTo(const BadRow &row, std::ostream *out)
{
    *out << row.row;
}

class ImportRejects : public ::testing::TestWithParam<BadRow>
{
};

TEST_P(ImportRejects, NamesLineAndFieldAndTakesNothing)
{
    const BadRow &bad = GetParam();
    const QByteArray file = QByteArray(kHeader) + "1001,Shop,127.0.0.1,3001,123456,,4660,1,,\n" + bad.row + "\n";
    std::vector<Site> sites{Site{}};
    siteimport::Problem problem;
    EXPECT_FALSE(siteimport::parse(file, &sites, &problem));
    EXPECT_EQ(problem.line, bad.line) << problem.text().toStdString();
    EXPECT_EQ(problem.field.toStdString(), bad.field) << problem.text().toStdString();
    EXPECT_EQ(sites.size(), 1u) << "the caller's list is left alone";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ImportRejects,
    ::testing::Values(BadRow{"1002,B,127.0.0.1,70000,123456,,4660,1,,", 3, "port"},
                      BadRow{"1002,B,127.0.0.1,3001,1234567,,4660,1,,", 3, "passcode"},
                      BadRow{"1002,B,127.0.0.1,3001,123456,short,4660,1,,", 3, "link_key"},
                      BadRow{"1002,B,127.0.0.1,3001,123456,,banana,1,,", 3, "data_locks"},
                      BadRow{"1002,B,127.0.0.1,3001,123456,,4660,7,,", 3, "panel_type"},
                      BadRow{"1002,B,127.0.0.1,3001,123456,,4660,1,Mars/Olympus,", 3, "time_zone"},
                      BadRow{"1002,B,127.0.0.1,3001,123456,,4660,1,,clock,dance", 3, ""}, // one field too many
                      BadRow{"\"1002,B,127.0.0.1,3001,123456,,4660,1,,", 3, ""},
                      BadRow{"1002,B,127.0.0.1,3001,123456,,4660,1,,\"clock,dance\"", 3, "jobs"},
                      BadRow{"1001,Again,127.0.0.1,3001,123456,,4660,1,,", 3, "account"},
                      BadRow{"../x,B,127.0.0.1,3001,123456,,4660,1,,", 3, "account"},
                      BadRow{",B,127.0.0.1,3001,123456,,4660,1,,", 3, "account"}),
    [](const ::testing::TestParamInfo<BadRow> &info) { return "Row" + std::to_string(info.index); });

TEST(FleetImport, ReadsCsvAndJsonLinesAlike)
{
    const QByteArray csv = QByteArray(kHeader)
                           + "# comment lines are passed over\n"
                             "1001,\"Shop, Main St\",127.0.0.1,3001,123456,0123456789abcdef0123456789abcdef,\"4660:Office;0x1235\",50,"
                             "Europe/Berlin,\"clock,receive\"\n";
    const QByteArray json = R"({"account":"1001","name":"Shop, Main St","address":"127.0.0.1","port":3001,"passcode":"123456",)"
                            R"("link_key":"0123456789abcdef0123456789abcdef","data_locks":[{"Value":4660,"Name":"Office"},4661],)"
                            R"("panel_type":50,"time_zone":"Europe/Berlin","jobs":"clock,receive"})"
                            "\n";
    for (const QByteArray &file : {csv, json}) {
        std::vector<Site> sites;
        siteimport::Problem problem;
        ASSERT_TRUE(siteimport::parse(file, &sites, &problem)) << problem.text().toStdString();
        ASSERT_EQ(sites.size(), 1u);
        const Site &s = sites.front();
        EXPECT_EQ(s.name, QStringLiteral("Shop, Main St"));
        EXPECT_EQ(s.panelType, 50);
        EXPECT_EQ(s.jobs, QStringLiteral("clock,receive"));
        ASSERT_EQ(s.dataLocks.size(), 2);
        EXPECT_EQ(s.dataLocks.at(0).toObject().value(QStringLiteral("Value")).toInt(), 4660);
        EXPECT_EQ(s.dataLocks.at(0).toObject().value(QStringLiteral("Key")).toString(), QStringLiteral("PRIMARY"));
        EXPECT_EQ(s.hostSettings().value(QStringLiteral("TimeZone")).toString(), QStringLiteral("Europe/Berlin"));
    }
}

class FleetDatabaseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QString why;
        bool skip = false;
        path = fleettest::testDatabase(dir, QStringLiteral("sub/fleet.db"), &why, &skip);
        if (skip)
            GTEST_SKIP() << why.toStdString();
        ASSERT_FALSE(path.isEmpty()) << why.toStdString();
        ASSERT_TRUE(db.open(path, &why)) << why.toStdString();
        Site s;
        s.account = QStringLiteral("1001");
        s.address = QStringLiteral("127.0.0.1");
        s.passcode = QStringLiteral("123456");
        int added = 0, updated = 0;
        ASSERT_TRUE(db.importSites({s}, &added, &updated, &why)) << why.toStdString();
        site = *db.site(QStringLiteral("1001"));
    }

    qint64 finish(const std::vector<HistoryRow> &history, const std::optional<QByteArray> &snapshot, FinishResult *result)
    {
        RunRecord run;
        run.siteId = site.id;
        run.batch = QStringLiteral("b");
        run.jobs = QStringLiteral("receive");
        run.started = QDateTime::currentDateTimeUtc();
        run.runner = QStringLiteral("test:1");
        QString why;
        run.id = db.beginRun(run, &why);
        EXPECT_NE(run.id, 0) << why.toStdString();
        run.ended = QDateTime::currentDateTimeUtc();
        run.result = QStringLiteral("success");
        EXPECT_TRUE(db.finishRun(run, {EventRow{QString(), 3, QString(), QStringLiteral("{\"data\":\"SUCCESS\"}")}}, history, snapshot, 3,
                                 false, result, &why))
            << why.toStdString();
        return run.id;
    }

    QTemporaryDir dir;
    QString path;
    FleetDatabase db;
    Site site;
};

TEST_F(FleetDatabaseTest, IsPrivateVersionedAndReopens)
{
    if (!fleettest::usesServer()) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        ASSERT_EQ(::stat(QFile::encodeName(dir.filePath(QStringLiteral("sub"))).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    EXPECT_EQ(db.schemaVersion(), FleetDatabase::SchemaVersion);
    FleetDatabase again;
    QString why;
    ASSERT_TRUE(again.open(path, &why)) << why.toStdString();
    EXPECT_EQ(again.schemaVersion(), FleetDatabase::SchemaVersion);
    EXPECT_EQ(again.sites().size(), 1u);
}

TEST_F(FleetDatabaseTest, ASpooledResultIsStoredOnceHoweverOftenItIsHandedOver)
{
    RunRecord run;
    run.siteId = site.id;
    run.batch = QStringLiteral("b");
    run.jobs = QStringLiteral("receive");
    run.started = QDateTime::currentDateTimeUtc();
    run.runner = QStringLiteral("test:1");
    QString why;
    run.id = db.beginRun(run, &why);
    ASSERT_NE(run.id, 0) << why.toStdString();
    run.ended = QDateTime::currentDateTimeUtc();
    run.result = QStringLiteral("success");
    HistoryRow h;
    h.fingerprint = QStringLiteral("f1");
    h.valid = true;
    h.event = QStringLiteral("0a");
    h.year = 2026;
    h.readAt = QStringLiteral("now");
    const std::vector<EventRow> events{EventRow{QString(), 3, QStringLiteral("RECV_END"), QStringLiteral("{}")}};

    // Two spools hold the same result (a commit whose answer was lost, kept again): the first
    // hand-over stores it, the second passes it over, and a run only marked as cut short in
    // between still takes the real result.
    FleetSpool first, second;
    ASSERT_TRUE(first.open(dir.filePath(QStringLiteral("spool-a.db")), &why)) << why.toStdString();
    ASSERT_TRUE(second.open(dir.filePath(QStringLiteral("spool-b.db")), &why)) << why.toStdString();
    for (FleetSpool *spool : {&first, &second})
        ASSERT_TRUE(spool->add(run, events, {h}, QByteArray("panel"), 3, false, &why)) << why.toStdString();
    EXPECT_EQ(first.count(), 1);
    EXPECT_EQ(db.abandonRunning(QStringLiteral("test:1")), 1);
    EXPECT_EQ(first.handOver(db, &why), 1) << why.toStdString();
    EXPECT_EQ(second.handOver(db, &why), 1) << why.toStdString();
    EXPECT_EQ(first.count() + second.count(), 0);

    const std::vector<RunRecord> runs = db.runs(site.id, 10);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs.front().result, QStringLiteral("success"));
    EXPECT_EQ(db.runEvents(run.id).size(), 1u);
    EXPECT_EQ(db.history(site.id, 0).size(), 1u);
    ASSERT_EQ(db.snapshots(site.id).size(), 1u);
    EXPECT_EQ(*db.snapshotData(site.id, 0), QByteArray("panel"));
}

TEST(FleetServerAddress, TakesUserHostPortAndDatabaseAndRefusesAPassword)
{
    struct Case
    {
        const char *text;
        bool ok;
        const char *shown;  // the address as the database names it, when taken
        const char *reason; // a part of the refusal, when not
    };
    const Case cases[] = {
        {"postgresql://fleet@db.example:6543/quarvo", true, "postgresql://fleet@db.example:6543/quarvo", ""},
        {"postgres://fleet@10.0.0.5/quarvo", true, "postgresql://fleet@10.0.0.5/quarvo", ""},
        {"postgresql://fleet@db/quarvo?sslmode=require", true, "postgresql://fleet@db/quarvo", ""},
        {"postgresql://fleet:secret@db/quarvo", false, "", "pgpass"},
        {"postgresql://fleet@db/quarvo?password=secret", false, "", "pgpass"},
        {"postgresql://fleet@db/quarvo?sslmode=a%20b", false, "", "cannot be passed"},
        {"postgresql://fleet@db/", false, "", "needs a host and a database"},
        {"postgresql:///quarvo", false, "", "needs a host and a database"},
        {"mysql://fleet@db/quarvo", false, "", "not a database address"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        QString why;
        const std::optional<ServerAddress> a = ServerAddress::parse(QString::fromLatin1(c.text), &why);
        ASSERT_EQ(a.has_value(), c.ok) << why.toStdString();
        if (a)
            EXPECT_EQ(a->toString(), QLatin1String(c.shown));
        else
            EXPECT_TRUE(why.contains(QLatin1String(c.reason))) << why.toStdString();
        // The secret never shows in a refusal.
        EXPECT_FALSE(why.contains(QLatin1String("secret")));
    }
    const std::optional<ServerAddress> withOptions = ServerAddress::parse(QStringLiteral("postgresql://u@h:5433/d?sslmode=require"), nullptr);
    ASSERT_TRUE(withOptions);
    EXPECT_EQ(withOptions->port, 5433);
    EXPECT_EQ(withOptions->options, QStringList{QStringLiteral("sslmode=require")});
}

TEST_F(FleetDatabaseTest, ImportUpdatesByAccountAndClearsAttention)
{
    FinishResult stored;
    RunRecord run;
    run.siteId = site.id;
    run.batch = run.jobs = run.runner = QStringLiteral("x");
    run.started = run.ended = QDateTime::currentDateTimeUtc();
    QString why;
    run.id = db.beginRun(run, &why);
    run.result = QStringLiteral("refused");
    run.errorText = QStringLiteral("the panel refused the passcode");
    ASSERT_TRUE(db.finishRun(run, {}, {}, std::nullopt, 3, true, &stored, &why));
    EXPECT_TRUE(db.site(QStringLiteral("1001"))->needsAttention);

    Site changed = site;
    changed.passcode = QStringLiteral("654321");
    Site other = site;
    other.account = QStringLiteral("1002");
    int added = 0, updated = 0;
    ASSERT_TRUE(db.importSites({changed, other}, &added, &updated, &why));
    EXPECT_EQ(added, 1);
    EXPECT_EQ(updated, 1);
    const Site now = *db.site(QStringLiteral("1001"));
    EXPECT_EQ(now.passcode, QStringLiteral("654321"));
    EXPECT_FALSE(now.needsAttention);
    EXPECT_EQ(db.sites({QStringLiteral("100?")}).size(), 2u);

    // A file without the secret columns (an export without --with-secrets) keeps the stored ones.
    std::vector<Site> plain;
    siteimport::Problem problem;
    ASSERT_TRUE(siteimport::parse("account,name,address,port\n1001,Renamed,127.0.0.2,3002\n", &plain, &problem)) << problem.text().toStdString();
    ASSERT_TRUE(db.importSites(plain, &added, &updated, &why)) << why.toStdString();
    const Site renamed = *db.site(QStringLiteral("1001"));
    EXPECT_EQ(renamed.name, QStringLiteral("Renamed"));
    EXPECT_EQ(renamed.port, 3002);
    EXPECT_EQ(renamed.passcode, QStringLiteral("654321"));
    EXPECT_EQ(db.sites({QStringLiteral("1002")}).size(), 1u);
}

TEST_F(FleetDatabaseTest, HistoryReadTwiceIsStoredOnceAndSnapshotsOnlyWhenChanged)
{
    const QByteArray lines = R"({"slot":0,"event":"01020304","valid":true,"month":3,"day":1,"hour":9,"minute":5,"modifier":null}
{"slot":2,"event":"01020304","valid":true,"month":3,"day":1,"hour":9,"minute":5,"modifier":null}
{"slot":4,"event":"0150aa00","valid":false}
{"slot":5,"event":"05060708","valid":true,"month":3,"day":2,"hour":10,"minute":0,"modifier":"f1000000"}
)";
    const std::vector<HistoryRow> rows = outcome::historyFrom(lines, QDate(2026, 3, 10), QStringLiteral("now"));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_NE(rows[0].fingerprint, rows[1].fingerprint) << "two equal events in one minute are two events";
    FinishResult first, second, third;
    finish(rows, QByteArray("programming v1"), &first);
    EXPECT_EQ(first.historyAdded, 4);
    EXPECT_EQ(first.snapshotVersion, 1);
    // The same range again, and the same programming: nothing new.
    finish(outcome::historyFrom(lines, QDate(2026, 3, 11), QStringLiteral("later")), QByteArray("programming v1"), &second);
    EXPECT_EQ(second.historyAdded, 0);
    EXPECT_EQ(second.historyKnown, 4);
    EXPECT_FALSE(second.snapshotVersion);
    EXPECT_TRUE(second.snapshotUnchanged);
    EXPECT_EQ(db.history(site.id, 0).size(), 4u);
    // Changed programming makes versions; only the newest three are kept.
    for (const char *data : {"v2", "v3", "v4"})
        finish({}, QByteArray(data), &third);
    EXPECT_EQ(third.snapshotVersion, 4);
    const std::vector<SnapshotInfo> kept = db.snapshots(site.id);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept.front().version, 4);
    EXPECT_EQ(kept.back().version, 2);
    EXPECT_EQ(db.snapshotData(site.id, 0), QByteArray("v4"));
    EXPECT_EQ(db.snapshotData(site.id, 3), QByteArray("v3"));
    EXPECT_FALSE(db.snapshotData(site.id, 1));
}

TEST(FleetHistory, YearIsTheLatestNotAfterThePanelsDate)
{
    const QByteArray lines = R"({"event":"01020304","valid":true,"month":12,"day":31,"hour":23,"minute":59,"modifier":null}
{"event":"01020304","valid":true,"month":1,"day":1,"hour":0,"minute":1,"modifier":null}
)";
    const std::vector<HistoryRow> rows = outcome::historyFrom(lines, QDate(2027, 1, 1), QString());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].year, 2026);
    EXPECT_EQ(rows[1].year, 2027);
}

struct EndCase
{
    int exitStatus;
    bool crashed;
    bool stopped;
    const char *line;
    outcome::Kind kind;
};

void PrintTo(const EndCase &c, std::ostream *out)
{
    *out << "exit " << c.exitStatus << ": " << c.line;
}

class ChildEnds : public ::testing::TestWithParam<EndCase>
{
};

TEST_P(ChildEnds, AreReadAsTheRunnerActsOnThem)
{
    const EndCase &c = GetParam();
    outcome::ChildEnd end;
    end.exitStatus = c.exitStatus;
    end.crashed = c.crashed;
    end.stoppedByRunner = c.stopped;
    end.finalLine = QString::fromLatin1(c.line);
    EXPECT_EQ(outcome::classify(end).kind, c.kind) << c.line;
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, ChildEnds,
    ::testing::Values(EndCase{0, false, false, "SUCCESS: panel clock written", outcome::Kind::Success},
                      EndCase{0, false, true, "SUCCESS: finished just before the signal", outcome::Kind::Success},
                      EndCase{1, false, false, "FAILURE: the panel did not answer at RemoteHost:PanelPort (0x800413a7)", outcome::Kind::Retry},
                      EndCase{1, false, false, "FAILURE: the panel stopped answering (every retry used) (0x800413a1)", outcome::Kind::Retry},
                      EndCase{1, false, false, "FAILURE: the panel refused the passcode (0x80041388)", outcome::Kind::Refused},
                      EndCase{1, false, false, "FAILURE: the panel's data lock matches none (0x80041399)", outcome::Kind::Refused},
                      EndCase{1, false, false, "FAILURE: a request could not be sent, or the panel refused it (0x80041389)",
                              outcome::Kind::Refused},
                      EndCase{2, false, false, "unattended: TimeZone \"Asia/Kolkata\" ...", outcome::Kind::Refused},
                      EndCase{3, false, false, "ABORTED: no end within 900 s", outcome::Kind::Retry},
                      EndCase{143, false, true, "ended by signal 15", outcome::Kind::Aborted},
                      EndCase{9, true, false, "", outcome::Kind::Retry}),
    [](const ::testing::TestParamInfo<EndCase> &info) { return "End" + std::to_string(info.index); });

TEST(PanelTimeZone, WholeHoursEitherSideOfDaylightSavingAndFractionsRefused)
{
    ASSERT_TRUE(kInUtc);
    ASSERT_EQ(QDateTime::currentDateTime().offsetFromUtc(), 0);
    // New York moved from UTC-5 to UTC-4 at 2026-03-08 07:00 UTC.
    EXPECT_EQ(paneltime::hoursFor(QStringLiteral("America/New_York"), QDateTime::fromString(QStringLiteral("2026-03-08T06:59:00Z"), Qt::ISODate)), -5);
    EXPECT_EQ(paneltime::hoursFor(QStringLiteral("America/New_York"), QDateTime::fromString(QStringLiteral("2026-03-08T07:01:00Z"), Qt::ISODate)), -4);
    EXPECT_EQ(paneltime::hoursFor(QStringLiteral("Europe/Berlin"), QDateTime::fromString(QStringLiteral("2026-07-01T12:00:00Z"), Qt::ISODate)), 2);
    QString why;
    EXPECT_FALSE(paneltime::hoursFor(QStringLiteral("Asia/Kolkata"), QDateTime::currentDateTimeUtc(), &why));
    EXPECT_TRUE(why.contains(QStringLiteral("UTC+05:30"))) << why.toStdString();
    EXPECT_FALSE(paneltime::hoursFor(QStringLiteral("Nowhere/Land"), QDateTime::currentDateTimeUtc(), &why));
}

} // namespace
