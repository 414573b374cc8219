#include "FleetDatabase.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTimeZone>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <QVariant>

#include <cerrno>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// What differs between the kinds of database the fleet can use: SQLite (one file, one machine) and
// PostgreSQL (a server that runners on several machines share). Every other SQL text is the same
// for both.
struct FleetDialect
{
    const char *driver;        // the Qt SQL driver
    const char *autoId;        // an integer key the database numbers itself
    const char *blob;          // bytes
    const char *bigint;        // 64-bit integers (run ids, error numbers)
    bool returningId;          // a new row's key comes back through INSERT ... RETURNING id
    const char *lockSchema;    // holds off other processes while the schema is brought up to date
    const char *unlockSchema;
    const char *skipLocked;    // the rows a claim reads are locked; rows locked by another claim are passed over
    const char *nowMs;         // the database's clock in ms since the epoch: runners on several machines share it
    const char *lockRow;       // a row read to be changed in the same transaction waits for another writer of it
    const char *beginWrite;    // a transaction that reads and then writes; SQLite takes the write lock at
                               // once, else another process's commit between the two fails the write
};

// SQLite locks the whole file for a writer, so a claim needs no row locks.
const FleetDialect kSqlite{"QSQLITE", "INTEGER PRIMARY KEY AUTOINCREMENT", "BLOB", "INTEGER", false, nullptr, nullptr, "",
                           "CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER)", "", "BEGIN IMMEDIATE"};
// The advisory lock's key is an arbitrary constant that names the fleet schema.
const FleetDialect kPostgres{"QPSQL",
                        "BIGSERIAL PRIMARY KEY",
                        "BYTEA",
                        "BIGINT",
                        true,
                        "SELECT pg_advisory_lock(717273)",
                        "SELECT pg_advisory_unlock(717273)",
                        " FOR UPDATE SKIP LOCKED",
                        "CAST(EXTRACT(EPOCH FROM clock_timestamp()) * 1000 AS BIGINT)",
                        " FOR UPDATE",
                        "BEGIN"};

namespace {

// The migrations, one list of statements per schema version; migration N brings version N-1 to N.
// A released migration is never changed: a new schema is a new entry.
QList<QStringList> migrations(const FleetDialect &d)
{
    const QString id = QLatin1String(d.autoId);
    const QString blob = QLatin1String(d.blob);
    const QString big = QLatin1String(d.bigint);
    return {
        // Version 1.
        {QStringLiteral("CREATE TABLE sites (id %1, account TEXT NOT NULL UNIQUE, name TEXT NOT NULL DEFAULT '', "
                        "address TEXT NOT NULL, port INTEGER NOT NULL, passcode TEXT NOT NULL DEFAULT '', "
                        "link_key TEXT NOT NULL DEFAULT '', data_locks TEXT NOT NULL DEFAULT '[]', "
                        "panel_type INTEGER NOT NULL DEFAULT 1, time_zone TEXT NOT NULL DEFAULT '', jobs TEXT NOT NULL DEFAULT '', "
                        "needs_attention INTEGER NOT NULL DEFAULT 0, attention_reason TEXT NOT NULL DEFAULT '', "
                        "imported TEXT NOT NULL, updated TEXT NOT NULL)")
             .arg(id),
         QStringLiteral("CREATE TABLE runs (id %1, site_id %2 NOT NULL REFERENCES sites(id) ON DELETE CASCADE, "
                        "batch TEXT NOT NULL, jobs TEXT NOT NULL, started TEXT NOT NULL, ended TEXT, result TEXT NOT NULL, "
                        "exit_status INTEGER, error_number %2, error_text TEXT NOT NULL DEFAULT '', attempt INTEGER NOT NULL, "
                        "runner TEXT NOT NULL)")
             .arg(id, big),
         QStringLiteral("CREATE INDEX runs_by_site ON runs (site_id, id)"),
         QStringLiteral("CREATE INDEX runs_by_result ON runs (result)"),
         QStringLiteral("CREATE TABLE run_events (run_id %1 NOT NULL REFERENCES runs(id) ON DELETE CASCADE, seq INTEGER NOT NULL, "
                        "time TEXT, code INTEGER NOT NULL, tag TEXT, data TEXT, PRIMARY KEY (run_id, seq))")
             .arg(big),
         QStringLiteral("CREATE TABLE history (id %1, site_id %2 NOT NULL REFERENCES sites(id) ON DELETE CASCADE, "
                        "run_id %2 REFERENCES runs(id) ON DELETE SET NULL, fingerprint TEXT NOT NULL, valid INTEGER NOT NULL, "
                        "event TEXT NOT NULL, modifier TEXT, year INTEGER, month INTEGER, day INTEGER, hour INTEGER, "
                        "minute INTEGER, read_at TEXT NOT NULL, UNIQUE (site_id, fingerprint))")
             .arg(id, big),
         QStringLiteral("CREATE TABLE snapshots (id %1, site_id %2 NOT NULL REFERENCES sites(id) ON DELETE CASCADE, "
                        "version INTEGER NOT NULL, run_id %2 REFERENCES runs(id) ON DELETE SET NULL, taken TEXT NOT NULL, "
                        "sha256 TEXT NOT NULL, size INTEGER NOT NULL, data %3 NOT NULL, UNIQUE (site_id, version))")
             .arg(id, big, blob)},
        // Version 2: runners on several machines share the site list. A runner claims a site (its
        // name and a token of the claim) with a lease it renews while it holds the site; a lease
        // that ran out frees the site again. finished_at: when a runner last ended its work on it.
        {QStringLiteral("ALTER TABLE sites ADD COLUMN claimed_by TEXT"), QStringLiteral("ALTER TABLE sites ADD COLUMN claim_token TEXT"),
         QStringLiteral("ALTER TABLE sites ADD COLUMN lease_until %1").arg(big),
         QStringLiteral("ALTER TABLE sites ADD COLUMN finished_at %1").arg(big),
         QStringLiteral("CREATE INDEX sites_by_claim ON sites (claimed_by)"),
         QStringLiteral("CREATE TABLE runners (name TEXT PRIMARY KEY, started %1 NOT NULL, heartbeat %1 NOT NULL, ended %1)").arg(big)},
    };
}

QString stamp(const QDateTime &t)
{
    return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QDateTime fromStamp(const QVariant &v)
{
    return v.isNull() ? QDateTime() : QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
}

QVariant orNull(const std::optional<int> &v)
{
    return v ? QVariant(*v) : QVariant(QMetaType(QMetaType::Int));
}

// A text for a NOT NULL column: Qt binds a null QString as NULL.
QString nn(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

QString describe(const QSqlQuery &q)
{
    return q.lastError().text();
}

bool run(QSqlQuery &q, QString *error)
{
    if (q.exec())
        return true;
    if (error)
        *error = describe(q);
    return false;
}

// Wildcard patterns (account or name) as one SQL condition with its values.
QString patternCondition(const QStringList &patterns, QVariantList *values)
{
    if (patterns.isEmpty())
        return QStringLiteral("1=1");
    QStringList parts;
    for (const QString &p : patterns) {
        // GLOB is SQLite's; the patterns are translated to LIKE, which every database has.
        QString like = p;
        like.replace(QLatin1String("\\"), QLatin1String("\\\\")).replace(QLatin1String("%"), QLatin1String("\\%"))
            .replace(QLatin1String("_"), QLatin1String("\\_")).replace(QLatin1Char('*'), QLatin1Char('%'))
            .replace(QLatin1Char('?'), QLatin1Char('_'));
        parts << QStringLiteral("(s.account LIKE ? ESCAPE '\\' OR s.name LIKE ? ESCAPE '\\')");
        *values << like << like;
    }
    return QLatin1Char('(') + parts.join(QStringLiteral(" OR ")) + QLatin1Char(')');
}

// The text of a run whose runner ended (or was taken for dead) before the session did.
const char kCutShort[] = "the runner ended before this session did";

const char kSiteColumns[] = "s.id, s.account, s.name, s.address, s.port, s.passcode, s.link_key, s.data_locks, s.panel_type, "
                            "s.time_zone, s.jobs, s.needs_attention, s.attention_reason";

Site siteFrom(const QSqlQuery &q, int first = 0)
{
    Site s;
    s.id = q.value(first + 0).toLongLong();
    s.account = q.value(first + 1).toString();
    s.name = q.value(first + 2).toString();
    s.address = q.value(first + 3).toString();
    s.port = q.value(first + 4).toInt();
    s.passcode = q.value(first + 5).toString();
    s.linkKey = q.value(first + 6).toString();
    s.dataLocks = QJsonDocument::fromJson(q.value(first + 7).toString().toUtf8()).array();
    s.panelType = q.value(first + 8).toInt();
    s.timeZone = q.value(first + 9).toString();
    s.jobs = q.value(first + 10).toString();
    s.needsAttention = q.value(first + 11).toInt() != 0;
    s.attentionReason = q.value(first + 12).toString();
    return s;
}

const char kRunColumns[] = "r.id, r.site_id, r.batch, r.jobs, r.started, r.ended, r.result, r.exit_status, r.error_number, "
                           "r.error_text, r.attempt, r.runner";

RunRecord runFrom(const QSqlQuery &q)
{
    RunRecord r;
    r.id = q.value(0).toLongLong();
    r.siteId = q.value(1).toLongLong();
    r.batch = q.value(2).toString();
    r.jobs = q.value(3).toString();
    r.started = fromStamp(q.value(4));
    r.ended = fromStamp(q.value(5));
    r.result = q.value(6).toString();
    if (!q.value(7).isNull())
        r.exitStatus = q.value(7).toInt();
    if (!q.value(8).isNull())
        r.errorNumber = q.value(8).toLongLong();
    r.errorText = q.value(9).toString();
    r.attempt = q.value(10).toInt();
    r.runner = q.value(11).toString();
    return r;
}

// Creates the database file owner-only before the driver opens it, so it is never readable by
// others, not even for a moment; an existing file is made owner-only.
bool prepareFile(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (!info.absoluteDir().exists()) {
        if (!QDir().mkpath(info.absolutePath())) {
            *error = QStringLiteral("cannot make the folder %1").arg(info.absolutePath());
            return false;
        }
        ::chmod(QFile::encodeName(info.absolutePath()).constData(), 0700);
    }
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    ::fchmod(fd, 0600);
    ::close(fd);
    return true;
}

} // namespace

const FleetDialect &FleetDatabase::dialect() const
{
    return m_postgres ? kPostgres : kSqlite;
}

FleetDatabase::FleetDatabase() : m_connection(QStringLiteral("fleet-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

FleetDatabase::~FleetDatabase()
{
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

QString FleetDatabase::defaultLocation()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::home().filePath(QStringLiteral(".local/share"));
    return QDir(base).filePath(QStringLiteral("quarvo-fleet/fleet.db"));
}

bool FleetDatabase::open(const QString &location, QString *error)
{
    static const QRegularExpression url(QStringLiteral("^[a-z][a-z0-9+]*://"));
    if (url.match(location).hasMatch())
        return openServer(location, error);
    QString path = location;
    if (path.startsWith(QLatin1String("sqlite:")))
        path = path.mid(7);
    if (path.isEmpty()) {
        *error = QStringLiteral("--db needs a file path or a postgresql://USER@HOST[:PORT]/DB address");
        return false;
    }
    if (!QSqlDatabase::isDriverAvailable(QLatin1String(kSqlite.driver))) {
        *error = QStringLiteral("the Qt SQLite driver is missing (Debian package libqt6sql6-sqlite)");
        return false;
    }
    if (!prepareFile(path, error))
        return false;
    m_postgres = false;
    m_location = QFileInfo(path).absoluteFilePath();
    m_db = QSqlDatabase::addDatabase(QLatin1String(kSqlite.driver), m_connection);
    m_db.setDatabaseName(m_location);
    // Readers (status, history) wait for a writer instead of failing at once.
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=15000"));
    if (!m_db.open()) {
        *error = QStringLiteral("cannot open the database %1: %2").arg(m_location, m_db.lastError().text());
        return false;
    }
    QString why;
    // Write-ahead logging lets `status` read while a run writes; foreign keys keep rows of a site together.
    if (!exec(QStringLiteral("PRAGMA journal_mode=WAL"), &why) || !exec(QStringLiteral("PRAGMA foreign_keys=ON"), &why)
        || !exec(QStringLiteral("PRAGMA synchronous=NORMAL"), &why)) {
        *error = QStringLiteral("%1: %2 (is it a fleet database?)").arg(m_location, why);
        return false;
    }
    if (!migrate(&why)) {
        *error = QStringLiteral("%1: %2").arg(m_location, why);
        return false;
    }
    return true;
}

std::optional<ServerAddress> ServerAddress::parse(const QString &text, QString *error)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("postgresql") && scheme != QLatin1String("postgres"))) {
        *error = QStringLiteral("--db %1: not a database address; give a file path or postgresql://USER@HOST[:PORT]/DB").arg(text);
        return std::nullopt;
    }
    if (!url.password().isEmpty()) {
        *error = QStringLiteral("--db: a password does not go in the address (others can read a command line); put it in "
                                "~/.pgpass or the file PGPASSFILE names");
        return std::nullopt;
    }
    ServerAddress a;
    a.user = url.userName();
    a.host = url.host();
    a.port = url.port(5432);
    a.database = url.path().mid(1);
    if (a.host.isEmpty() || a.database.isEmpty() || a.database.contains(QLatin1Char('/'))) {
        *error = QStringLiteral("--db %1: the address needs a host and a database: postgresql://USER@HOST[:PORT]/DB").arg(text);
        return std::nullopt;
    }
    // Further libpq settings (sslmode=require...) may follow as a query; a password may not.
    const QUrlQuery query(url);
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded)) {
        static const QRegularExpression plain(QStringLiteral("^[a-z_]+$"));
        if (key == QLatin1String("password")) {
            *error = QStringLiteral("--db: a password does not go in the address; put it in ~/.pgpass or the file PGPASSFILE names");
            return std::nullopt;
        }
        if (!plain.match(key).hasMatch() || value.contains(QLatin1Char(' ')) || value.contains(QLatin1Char(';'))
            || value.contains(QLatin1Char('\'')) || value.contains(QLatin1Char('\\'))) {
            *error = QStringLiteral("--db %1: the setting %2 cannot be passed on").arg(text, key);
            return std::nullopt;
        }
        a.options << key + QLatin1Char('=') + value;
    }
    return a;
}

QString ServerAddress::toString() const
{
    QString text = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        text += user + QLatin1Char('@');
    text += host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    if (port != 5432)
        text += QLatin1Char(':') + QString::number(port);
    return text + QLatin1Char('/') + database;
}

bool FleetDatabase::openServer(const QString &location, QString *error)
{
    const std::optional<ServerAddress> address = ServerAddress::parse(location, error);
    if (!address)
        return false;
    if (!QSqlDatabase::isDriverAvailable(QLatin1String(kPostgres.driver))) {
        *error = QStringLiteral("the Qt PostgreSQL driver is missing (Debian package libqt6sql6-psql)");
        return false;
    }
    m_postgres = true;
    m_location = address->toString();
    m_db = QSqlDatabase::addDatabase(QLatin1String(kPostgres.driver), m_connection);
    m_db.setHostName(address->host);
    m_db.setPort(address->port);
    m_db.setUserName(address->user);
    m_db.setDatabaseName(address->database);
    // No password here: libpq reads it from PGPASSWORD, PGPASSFILE or ~/.pgpass. A server that does
    // not answer fails the open within the connect timeout instead of hanging.
    QStringList options{QStringLiteral("connect_timeout=15"), QStringLiteral("application_name=quarvo-fleet")};
    options += address->options;
    m_db.setConnectOptions(options.join(QLatin1Char(';')));
    if (!m_db.open()) {
        *error = QStringLiteral("cannot open the database %1: %2").arg(m_location, m_db.lastError().text().trimmed());
        return false;
    }
    QString why;
    // The schema's "already exists, skipping" notices are no news.
    exec(QStringLiteral("SET client_min_messages TO warning"), nullptr);
    // Several runners may open a new database at the same moment: one brings the schema up to date,
    // the others wait for it and then find it done.
    if (!exec(QLatin1String(kPostgres.lockSchema), &why)) {
        *error = QStringLiteral("%1: %2").arg(m_location, why);
        return false;
    }
    const bool migrated = migrate(&why);
    exec(QLatin1String(kPostgres.unlockSchema), nullptr);
    if (!migrated) {
        *error = QStringLiteral("%1: %2").arg(m_location, why);
        return false;
    }
    return true;
}

bool FleetDatabase::isOpen() const
{
    return m_db.isValid() && m_db.isOpen();
}

bool FleetDatabase::exec(const QString &sql, QString *error)
{
    QSqlQuery q(m_db);
    if (q.exec(sql))
        return true;
    if (error)
        *error = q.lastError().text();
    return false;
}

int FleetDatabase::schemaVersion() const
{
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !q.next())
        return 0;
    return q.value(0).toInt();
}

bool FleetDatabase::migrate(QString *error)
{
    if (!exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL, applied TEXT NOT NULL)"), error))
        return false;
    const int current = schemaVersion();
    const QList<QStringList> steps = migrations(dialect());
    if (current > steps.size()) {
        *error = QStringLiteral("the database has schema version %1, newer than this quarvo-fleet knows (%2): use a newer "
                                "quarvo-fleet")
                     .arg(current)
                     .arg(steps.size());
        return false;
    }
    for (int version = current + 1; version <= steps.size(); ++version) {
        if (!m_db.transaction()) {
            *error = m_db.lastError().text();
            return false;
        }
        for (const QString &sql : steps.at(version - 1)) {
            if (!exec(sql, error)) {
                m_db.rollback();
                *error = QStringLiteral("migration to schema version %1 failed: %2").arg(version).arg(*error);
                return false;
            }
        }
        QSqlQuery q(m_db);
        q.prepare(QStringLiteral("INSERT INTO schema_version (version, applied) VALUES (?, ?)"));
        q.addBindValue(version);
        q.addBindValue(stamp(QDateTime::currentDateTimeUtc()));
        if (!run(q, error) || !m_db.commit()) {
            m_db.rollback();
            return false;
        }
    }
    return true;
}

bool FleetDatabase::importSites(const std::vector<Site> &sites, int *added, int *updated, QString *error)
{
    *added = *updated = 0;
    if (!m_db.transaction()) {
        *error = m_db.lastError().text();
        return false;
    }
    const QString now = stamp(QDateTime::currentDateTimeUtc());
    for (const Site &s : sites) {
        QSqlQuery find(m_db);
        find.prepare(QStringLiteral("SELECT id FROM sites WHERE account = ?"));
        find.addBindValue(nn(s.account));
        if (!run(find, error)) {
            m_db.rollback();
            return false;
        }
        const bool known = find.next();
        const QVariantList values{nn(s.name), nn(s.address), s.port, nn(s.passcode), nn(s.linkKey),
                                  QString::fromUtf8(QJsonDocument(s.dataLocks).toJson(QJsonDocument::Compact)), s.panelType,
                                  nn(s.timeZone), nn(s.jobs)};
        static const QStringList columns{QStringLiteral("name"),       QStringLiteral("address"),    QStringLiteral("port"),
                                         QStringLiteral("passcode"),   QStringLiteral("link_key"),   QStringLiteral("data_locks"),
                                         QStringLiteral("panel_type"), QStringLiteral("time_zone"), QStringLiteral("jobs")};
        QSqlQuery q(m_db);
        if (known) {
            // Only what the file gave: a column left out keeps its stored value.
            QStringList sets;
            QVariantList bound;
            for (int c = 0; c < columns.size(); ++c)
                if (s.givenFields.isEmpty() || s.givenFields.contains(columns[c])) {
                    sets << columns[c] + QStringLiteral(" = ?");
                    bound << values[c];
                }
            q.prepare(QStringLiteral("UPDATE sites SET %1needs_attention = 0, attention_reason = '', updated = ? WHERE account = ?")
                          .arg(sets.isEmpty() ? QString() : sets.join(QStringLiteral(", ")) + QStringLiteral(", ")));
            for (const QVariant &v : bound)
                q.addBindValue(v);
            q.addBindValue(now);
            q.addBindValue(s.account);
        } else {
            q.prepare(QStringLiteral("INSERT INTO sites (%1, updated, account, imported) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                          .arg(columns.join(QStringLiteral(", "))));
            for (const QVariant &v : values)
                q.addBindValue(v);
            q.addBindValue(now);
            q.addBindValue(s.account);
            q.addBindValue(now);
        }
        if (!run(q, error)) {
            m_db.rollback();
            *error = QStringLiteral("site %1: %2").arg(s.account, *error);
            return false;
        }
        ++(known ? *updated : *added);
    }
    if (!m_db.commit()) {
        *error = m_db.lastError().text();
        m_db.rollback();
        *added = *updated = 0;
        return false;
    }
    return true;
}

std::vector<Site> FleetDatabase::sites(const QStringList &patterns) const
{
    QVariantList values;
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT %1 FROM sites s WHERE %2 ORDER BY s.account")
                  .arg(QLatin1String(kSiteColumns), patternCondition(patterns, &values)));
    for (const QVariant &v : values)
        q.addBindValue(v);
    std::vector<Site> out;
    if (!q.exec())
        return out;
    while (q.next())
        out.push_back(siteFrom(q));
    return out;
}

std::optional<Site> FleetDatabase::site(const QString &account) const
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT %1 FROM sites s WHERE s.account = ?").arg(QLatin1String(kSiteColumns)));
    q.addBindValue(account);
    if (!q.exec() || !q.next())
        return std::nullopt;
    return siteFrom(q);
}

qint64 FleetDatabase::beginRun(const RunRecord &r, QString *error)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("INSERT INTO runs (site_id, batch, jobs, started, result, attempt, runner) VALUES (?, ?, ?, ?, ?, ?, ?)%1")
                  .arg(dialect().returningId ? QStringLiteral(" RETURNING id") : QString()));
    q.addBindValue(r.siteId);
    q.addBindValue(nn(r.batch));
    q.addBindValue(nn(r.jobs));
    q.addBindValue(stamp(r.started));
    q.addBindValue(QStringLiteral("running"));
    q.addBindValue(r.attempt);
    q.addBindValue(nn(r.runner));
    if (!run(q, error))
        return 0;
    if (dialect().returningId)
        return q.next() ? q.value(0).toLongLong() : 0;
    return q.lastInsertId().toLongLong();
}

bool FleetDatabase::finishRun(const RunRecord &r, const std::vector<EventRow> &events, const std::vector<HistoryRow> &history,
                              const std::optional<QByteArray> &snapshot, int keep, std::optional<bool> needsAttention, FinishResult *result,
                              QString *error)
{
    *result = FinishResult();
    {
        QSqlQuery begin(m_db);
        if (!begin.exec(QLatin1String(dialect().beginWrite))) {
            *error = begin.lastError().text();
            return false;
        }
    }
    const auto fail = [&](const QString &why) {
        m_db.rollback();
        *error = why;
        *result = FinishResult();
        return false;
    };
    QString why;
    {
        // A result handed over from the spool may have arrived before (the commit went through but
        // its answer was lost with the connection): it is stored once. A run only marked as cut
        // short (its runner was taken for dead) takes the real result.
        QSqlQuery known(m_db);
        known.prepare(QStringLiteral("SELECT result, error_text FROM runs WHERE id = ?%1").arg(QLatin1String(dialect().lockRow)));
        known.addBindValue(r.id);
        if (!run(known, &why))
            return fail(why);
        if (!known.next())
            return fail(QStringLiteral("run %1 is not in the database").arg(r.id));
        if (known.value(0).toString() != QLatin1String("running") && known.value(1).toString() != QLatin1String(kCutShort)) {
            m_db.rollback();
            result->alreadyStored = true;
            return true;
        }
    }
    {
        QSqlQuery q(m_db);
        q.prepare(QStringLiteral("UPDATE runs SET ended = ?, result = ?, exit_status = ?, error_number = ?, error_text = ? WHERE id = ?"));
        q.addBindValue(stamp(r.ended));
        q.addBindValue(r.result);
        q.addBindValue(r.exitStatus ? QVariant(*r.exitStatus) : QVariant(QMetaType(QMetaType::Int)));
        q.addBindValue(r.errorNumber ? QVariant(*r.errorNumber) : QVariant(QMetaType(QMetaType::LongLong)));
        q.addBindValue(nn(r.errorText));
        q.addBindValue(r.id);
        if (!run(q, &why))
            return fail(why);
    }
    if (!events.empty()) {
        QSqlQuery q(m_db);
        q.prepare(QStringLiteral("INSERT INTO run_events (run_id, seq, time, code, tag, data) VALUES (?, ?, ?, ?, ?, ?)"));
        int seq = 0;
        for (const EventRow &e : events) {
            q.addBindValue(r.id);
            q.addBindValue(++seq);
            q.addBindValue(e.time);
            q.addBindValue(e.code);
            q.addBindValue(e.tag.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(e.tag));
            q.addBindValue(nn(e.data));
            if (!run(q, &why))
                return fail(why);
        }
    }
    if (!history.empty()) {
        // A record read before (the same fingerprint) is passed over: reading a range twice stores it once.
        QSqlQuery q(m_db);
        q.prepare(QStringLiteral("INSERT INTO history (site_id, run_id, fingerprint, valid, event, modifier, year, month, day, hour, "
                                 "minute, read_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (site_id, fingerprint) DO NOTHING"));
        for (const HistoryRow &h : history) {
            q.addBindValue(r.siteId);
            q.addBindValue(r.id);
            q.addBindValue(nn(h.fingerprint));
            q.addBindValue(h.valid ? 1 : 0);
            q.addBindValue(nn(h.event));
            q.addBindValue(h.modifier.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(h.modifier));
            q.addBindValue(orNull(h.year));
            q.addBindValue(orNull(h.month));
            q.addBindValue(orNull(h.day));
            q.addBindValue(orNull(h.hour));
            q.addBindValue(orNull(h.minute));
            q.addBindValue(nn(h.readAt));
            if (!run(q, &why))
                return fail(why);
            if (q.numRowsAffected() > 0)
                ++result->historyAdded;
            else
                ++result->historyKnown;
        }
    }
    if (snapshot) {
        const QString sha = QString::fromLatin1(QCryptographicHash::hash(*snapshot, QCryptographicHash::Sha256).toHex());
        QSqlQuery newest(m_db);
        newest.prepare(QStringLiteral("SELECT version, sha256 FROM snapshots WHERE site_id = ? ORDER BY version DESC LIMIT 1"));
        newest.addBindValue(r.siteId);
        if (!run(newest, &why))
            return fail(why);
        int version = 0;
        QString newestSha;
        if (newest.next()) {
            version = newest.value(0).toInt();
            newestSha = newest.value(1).toString();
        }
        if (newestSha == sha) {
            result->snapshotUnchanged = true;
        } else {
            QSqlQuery q(m_db);
            q.prepare(QStringLiteral("INSERT INTO snapshots (site_id, version, run_id, taken, sha256, size, data) VALUES (?, ?, ?, ?, ?, ?, ?)"));
            q.addBindValue(r.siteId);
            q.addBindValue(version + 1);
            q.addBindValue(r.id);
            q.addBindValue(stamp(r.ended));
            q.addBindValue(sha);
            q.addBindValue(static_cast<qint64>(snapshot->size()));
            q.addBindValue(*snapshot);
            if (!run(q, &why))
                return fail(why);
            result->snapshotVersion = version + 1;
            if (keep > 0) {
                QSqlQuery prune(m_db);
                prune.prepare(QStringLiteral("DELETE FROM snapshots WHERE site_id = ? AND version <= ?"));
                prune.addBindValue(r.siteId);
                prune.addBindValue(version + 1 - keep);
                if (!run(prune, &why))
                    return fail(why);
            }
        }
    }
    if (needsAttention) {
        QSqlQuery q(m_db);
        q.prepare(QStringLiteral("UPDATE sites SET needs_attention = ?, attention_reason = ? WHERE id = ?"));
        q.addBindValue(*needsAttention ? 1 : 0);
        q.addBindValue(*needsAttention ? nn(r.errorText) : QStringLiteral(""));
        q.addBindValue(r.siteId);
        if (!run(q, &why))
            return fail(why);
    }
    if (!m_db.commit())
        return fail(m_db.lastError().text());
    return true;
}

int FleetDatabase::abandonRunning(const QString &runner)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("UPDATE runs SET result = 'aborted', ended = ?, error_text = ? WHERE result = 'running' AND runner = ?"));
    q.addBindValue(stamp(QDateTime::currentDateTimeUtc()));
    q.addBindValue(QLatin1String(kCutShort));
    q.addBindValue(runner);
    return q.exec() ? q.numRowsAffected() : 0;
}

QStringList FleetDatabase::runnersWithRunning() const
{
    QSqlQuery q(m_db);
    QStringList out;
    if (q.exec(QStringLiteral("SELECT DISTINCT runner FROM runs WHERE result = 'running'")))
        while (q.next())
            out << q.value(0).toString();
    return out;
}

std::vector<SiteStatus> FleetDatabase::status(const QStringList &patterns) const
{
    std::vector<SiteStatus> out;
    for (const Site &s : sites(patterns)) {
        SiteStatus st;
        st.site = s;
        const std::vector<RunRecord> last = runs(s.id, 1);
        if (!last.empty())
            st.lastRun = last.front();
        QSqlQuery q(m_db);
        // `result || ''` keeps the planner on the site's runs (runs_by_site): on the bare column it
        // takes runs_by_result and reads every successful run of the fleet for each site, which made
        // status over thousands of sites take minutes.
        q.prepare(QStringLiteral("SELECT (SELECT MAX(ended) FROM runs WHERE site_id = ? AND result || '' = 'success'), "
                                 "(SELECT error_text FROM runs WHERE site_id = ? AND result NOT IN ('success', 'running') "
                                 "ORDER BY id DESC LIMIT 1), (SELECT COUNT(*) FROM snapshots WHERE site_id = ?), "
                                 "(SELECT COUNT(*) FROM history WHERE site_id = ?)"));
        for (int i = 0; i < 4; ++i)
            q.addBindValue(s.id);
        if (q.exec() && q.next()) {
            if (!q.value(0).isNull())
                st.lastSuccess = fromStamp(q.value(0));
            st.lastError = q.value(1).toString();
            st.snapshots = q.value(2).toInt();
            st.historyRows = q.value(3).toInt();
        }
        out.push_back(st);
    }
    return out;
}

std::vector<RunRecord> FleetDatabase::runs(qint64 siteId, int limit) const
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT %1 FROM runs r WHERE r.site_id = ? ORDER BY r.id DESC LIMIT ?").arg(QLatin1String(kRunColumns)));
    q.addBindValue(siteId);
    q.addBindValue(limit);
    std::vector<RunRecord> out;
    if (!q.exec())
        return out;
    while (q.next())
        out.push_back(runFrom(q));
    return out;
}

std::vector<HistoryRow> FleetDatabase::history(qint64 siteId, int limit) const
{
    // The newest `limit` rows, oldest first.
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT fingerprint, valid, event, modifier, year, month, day, hour, minute, read_at, run_id FROM "
                             "(SELECT * FROM history WHERE site_id = ? ORDER BY id DESC LIMIT ?) h ORDER BY id"));
    q.addBindValue(siteId);
    q.addBindValue(limit > 0 ? limit : std::numeric_limits<int>::max());
    std::vector<HistoryRow> out;
    if (!q.exec())
        return out;
    const auto opt = [&](int i) { return q.value(i).isNull() ? std::optional<int>() : std::optional<int>(q.value(i).toInt()); };
    while (q.next()) {
        HistoryRow h;
        h.fingerprint = q.value(0).toString();
        h.valid = q.value(1).toInt() != 0;
        h.event = q.value(2).toString();
        h.modifier = q.value(3).toString();
        h.year = opt(4);
        h.month = opt(5);
        h.day = opt(6);
        h.hour = opt(7);
        h.minute = opt(8);
        h.readAt = q.value(9).toString();
        h.runId = q.value(10).toLongLong();
        out.push_back(h);
    }
    return out;
}

std::vector<EventRow> FleetDatabase::runEvents(qint64 runId) const
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT time, code, tag, data FROM run_events WHERE run_id = ? ORDER BY seq"));
    q.addBindValue(runId);
    std::vector<EventRow> out;
    if (!q.exec())
        return out;
    while (q.next())
        out.push_back(EventRow{q.value(0).toString(), q.value(1).toInt(), q.value(2).toString(), q.value(3).toString()});
    return out;
}

std::vector<SnapshotInfo> FleetDatabase::snapshots(qint64 siteId) const
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT version, taken, sha256, size, run_id FROM snapshots WHERE site_id = ? ORDER BY version DESC"));
    q.addBindValue(siteId);
    std::vector<SnapshotInfo> out;
    if (!q.exec())
        return out;
    while (q.next())
        out.push_back(SnapshotInfo{q.value(0).toInt(), fromStamp(q.value(1)), q.value(2).toString(), q.value(3).toLongLong(),
                                   q.value(4).toLongLong()});
    return out;
}

std::optional<QByteArray> FleetDatabase::snapshotData(qint64 siteId, int version, int *actualVersion) const
{
    QSqlQuery q(m_db);
    if (version > 0) {
        q.prepare(QStringLiteral("SELECT data, version FROM snapshots WHERE site_id = ? AND version = ?"));
        q.addBindValue(siteId);
        q.addBindValue(version);
    } else {
        q.prepare(QStringLiteral("SELECT data, version FROM snapshots WHERE site_id = ? ORDER BY version DESC LIMIT 1"));
        q.addBindValue(siteId);
    }
    if (!q.exec() || !q.next())
        return std::nullopt;
    if (actualVersion)
        *actualVersion = q.value(1).toInt();
    return q.value(0).toByteArray();
}

std::vector<ReportRun> FleetDatabase::reportRuns(const QStringList &patterns, const QDateTime &since) const
{
    QVariantList values;
    const QString sites = patternCondition(patterns, &values);
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT r.id, r.site_id, r.started, r.result, r.error_text, r.attempt FROM runs r JOIN sites s ON s.id = r.site_id "
                             "WHERE %1 AND r.started >= ? ORDER BY r.site_id, r.id")
                  .arg(sites));
    for (const QVariant &v : values)
        q.addBindValue(v);
    q.addBindValue(since.isValid() ? stamp(since) : QStringLiteral(""));
    std::vector<ReportRun> out;
    if (!q.exec())
        return out;
    // Most runs share a handful of result and error texts: one copy of each is kept.
    QHash<QString, QString> shared;
    const auto share = [&](const QString &text) {
        auto it = shared.constFind(text);
        if (it == shared.constEnd())
            it = shared.insert(text, text);
        return *it;
    };
    while (q.next()) {
        ReportRun r;
        r.id = q.value(0).toLongLong();
        r.siteId = q.value(1).toLongLong();
        r.startedMs = fromStamp(q.value(2)).toMSecsSinceEpoch();
        r.result = share(q.value(3).toString());
        r.errorText = share(q.value(4).toString());
        r.attempt = q.value(5).toInt();
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<std::pair<qint64, int>> FleetDatabase::historyCountsByRun(const QDateTime &since) const
{
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT h.run_id, COUNT(*) FROM history h JOIN runs r ON r.id = h.run_id WHERE r.started >= ? GROUP BY h.run_id"));
    q.addBindValue(since.isValid() ? stamp(since) : QStringLiteral(""));
    std::vector<std::pair<qint64, int>> out;
    if (!q.exec())
        return out;
    while (q.next())
        out.emplace_back(q.value(0).toLongLong(), q.value(1).toInt());
    return out;
}

std::vector<std::pair<qint64, HistoryRow>> FleetDatabase::recentHistory(int perSite) const
{
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT site_id, valid, event, modifier, year, month, day, hour, minute, read_at, run_id FROM "
                             "(SELECT h.*, ROW_NUMBER() OVER (PARTITION BY site_id ORDER BY id DESC) AS newest FROM history h) ranked "
                             "WHERE newest <= ? ORDER BY site_id, id"));
    q.addBindValue(perSite);
    std::vector<std::pair<qint64, HistoryRow>> out;
    if (!q.exec())
        return out;
    const auto opt = [&](int i) { return q.value(i).isNull() ? std::optional<int>() : std::optional<int>(q.value(i).toInt()); };
    while (q.next()) {
        HistoryRow h;
        h.valid = q.value(1).toInt() != 0;
        h.event = q.value(2).toString();
        h.modifier = q.value(3).toString();
        h.year = opt(4);
        h.month = opt(5);
        h.day = opt(6);
        h.hour = opt(7);
        h.minute = opt(8);
        h.readAt = q.value(9).toString();
        h.runId = q.value(10).toLongLong();
        out.emplace_back(q.value(0).toLongLong(), h);
    }
    return out;
}

void FleetDatabase::forEachSnapshot(const std::function<void(qint64, const SnapshotInfo &, const QByteArray &)> &visit) const
{
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT site_id, version, taken, sha256, size, run_id, data FROM snapshots ORDER BY site_id, version")))
        return;
    while (q.next())
        visit(q.value(0).toLongLong(),
              SnapshotInfo{q.value(1).toInt(), fromStamp(q.value(2)), q.value(3).toString(), q.value(4).toLongLong(), q.value(5).toLongLong()},
              q.value(6).toByteArray());
}

qint64 FleetDatabase::databaseNowMs()
{
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT %1").arg(QLatin1String(dialect().nowMs))) || !q.next())
        return 0;
    return q.value(0).toLongLong();
}

qint64 FleetDatabase::registerRunner(const QString &name, QString *error)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("INSERT INTO runners (name, started, heartbeat) VALUES (?, %1, %1) ON CONFLICT (name) DO UPDATE SET "
                             "started = excluded.started, heartbeat = excluded.heartbeat, ended = NULL")
                  .arg(QLatin1String(dialect().nowMs)));
    q.addBindValue(name);
    if (!run(q, error))
        return 0;
    QSqlQuery started(m_db);
    started.prepare(QStringLiteral("SELECT started FROM runners WHERE name = ?"));
    started.addBindValue(name);
    if (!run(started, error) || !started.next())
        return 0;
    return started.value(0).toLongLong();
}

bool FleetDatabase::renewLeases(const QString &runner, qint64 leaseMs, QString *error)
{
    if (!m_db.transaction()) {
        *error = m_db.lastError().text();
        return false;
    }
    QSqlQuery beat(m_db);
    beat.prepare(QStringLiteral("UPDATE runners SET heartbeat = %1 WHERE name = ?").arg(QLatin1String(dialect().nowMs)));
    beat.addBindValue(runner);
    QSqlQuery lease(m_db);
    lease.prepare(QStringLiteral("UPDATE sites SET lease_until = %1 + ? WHERE claimed_by = ? AND lease_until IS NOT NULL")
                      .arg(QLatin1String(dialect().nowMs)));
    lease.addBindValue(leaseMs);
    lease.addBindValue(runner);
    if (!run(beat, error) || !run(lease, error) || !m_db.commit()) {
        if (error->isEmpty())
            *error = m_db.lastError().text();
        m_db.rollback();
        return false;
    }
    return true;
}

void FleetDatabase::runnerEnded(const QString &runner)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("UPDATE runners SET heartbeat = %1, ended = %1 WHERE name = ?").arg(QLatin1String(dialect().nowMs)));
    q.addBindValue(runner);
    q.exec();
}

std::vector<Site> FleetDatabase::claimSites(const ClaimRequest &c, QString *error)
{
    // One statement takes the sites: the inner query picks due sites that nobody holds (or whose
    // holder's lease ran out) and that no runner finished since this one started; on PostgreSQL it
    // locks them and passes over rows another runner is claiming at this moment, so two runners
    // never take the same site and neither waits for the other. The token then finds what this
    // claim took.
    QVariantList values;
    const QString chosen = patternCondition(c.patterns, &values);
    const QString now = QLatin1String(dialect().nowMs);
    const QString token = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("UPDATE sites SET claimed_by = ?, claim_token = ?, lease_until = %1 + ? WHERE id IN (SELECT s.id FROM sites s "
                             "WHERE %2 AND s.needs_attention = 0 AND (s.lease_until IS NULL OR s.lease_until < %1) "
                             "AND (s.finished_at IS NULL OR s.finished_at < ?) AND NOT EXISTS (SELECT 1 FROM runs r WHERE "
                             "r.site_id = s.id AND r.result = 'success' AND r.ended >= ?) ORDER BY s.id LIMIT ?%3)")
                  .arg(now, chosen, QLatin1String(dialect().skipLocked)));
    q.addBindValue(c.runner);
    q.addBindValue(token);
    q.addBindValue(c.leaseMs);
    for (const QVariant &v : values)
        q.addBindValue(v);
    q.addBindValue(c.roundStartMs);
    q.addBindValue(stamp(c.succeededSince));
    q.addBindValue(c.count);
    std::vector<Site> out;
    if (!run(q, error))
        return out;
    QSqlQuery taken(m_db);
    taken.prepare(QStringLiteral("SELECT %1 FROM sites s WHERE s.claim_token = ? ORDER BY s.id").arg(QLatin1String(kSiteColumns)));
    taken.addBindValue(token);
    if (!run(taken, error))
        return out;
    while (taken.next())
        out.push_back(siteFrom(taken));
    // A run another runner left "running" on a site it no longer holds was cut short: that runner
    // died or lost the database, and its session ended with it.
    for (const Site &site : out) {
        QSqlQuery cut(m_db);
        cut.prepare(QStringLiteral("UPDATE runs SET result = 'aborted', ended = ?, error_text = ? WHERE site_id = ? AND result = 'running' "
                                   "AND runner <> ?"));
        cut.addBindValue(stamp(QDateTime::currentDateTimeUtc()));
        cut.addBindValue(QLatin1String(kCutShort));
        cut.addBindValue(site.id);
        cut.addBindValue(c.runner);
        cut.exec();
    }
    return out;
}

bool FleetDatabase::releaseSite(qint64 siteId, const QString &runner, bool finished, QString *error)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("UPDATE sites SET lease_until = NULL, finished_at = %1 WHERE id = ? AND claimed_by = ?")
                  .arg(finished ? QLatin1String(dialect().nowMs) : QLatin1String("finished_at")));
    q.addBindValue(siteId);
    q.addBindValue(runner);
    return run(q, error);
}

int FleetDatabase::releaseClaims(const QString &runner)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("UPDATE sites SET lease_until = NULL WHERE claimed_by = ? AND lease_until IS NOT NULL"));
    q.addBindValue(runner);
    return q.exec() ? q.numRowsAffected() : 0;
}

int FleetDatabase::heldByOthers(const QString &runner, const QStringList &patterns)
{
    QVariantList values;
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM sites s WHERE %1 AND s.lease_until >= %2 AND s.claimed_by <> ?")
                  .arg(patternCondition(patterns, &values), QLatin1String(dialect().nowMs)));
    for (const QVariant &v : values)
        q.addBindValue(v);
    q.addBindValue(runner);
    if (!q.exec() || !q.next())
        return -1;
    return q.value(0).toInt();
}

std::vector<RunnerInfo> FleetDatabase::runners()
{
    std::vector<RunnerInfo> out;
    const qint64 now = databaseNowMs();
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT name, started, heartbeat, ended FROM runners ORDER BY started, name")))
        return out;
    while (q.next()) {
        RunnerInfo r;
        r.name = q.value(0).toString();
        r.started = QDateTime::fromMSecsSinceEpoch(q.value(1).toLongLong(), Qt::UTC);
        r.heartbeat = QDateTime::fromMSecsSinceEpoch(q.value(2).toLongLong(), Qt::UTC);
        if (!q.value(3).isNull())
            r.ended = QDateTime::fromMSecsSinceEpoch(q.value(3).toLongLong(), Qt::UTC);
        r.heartbeatAgeMs = now - q.value(2).toLongLong();
        out.push_back(r);
    }
    QSqlQuery held(m_db);
    held.prepare(QStringLiteral("SELECT claimed_by, account, lease_until - %1 FROM sites WHERE lease_until IS NOT NULL ORDER BY account")
                     .arg(QLatin1String(dialect().nowMs)));
    if (held.exec())
        while (held.next())
            for (RunnerInfo &r : out)
                if (r.name == held.value(0).toString()) {
                    if (held.value(2).toLongLong() >= 0)
                        r.holds << held.value(1).toString();
                    else
                        r.expired << held.value(1).toString();
                }
    return out;
}

bool FleetDatabase::reconnect(QString *error)
{
    if (!m_postgres)
        return true;
    {
        QSqlQuery q(m_db);
        if (q.exec(QStringLiteral("SELECT 1")))
            return true;
    }
    m_db.close();
    if (!m_db.open()) {
        *error = m_db.lastError().text().trimmed();
        return false;
    }
    exec(QStringLiteral("SET client_min_messages TO warning"), nullptr);
    return true;
}

FleetSpool::FleetSpool() : m_connection(QStringLiteral("spool-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

FleetSpool::~FleetSpool()
{
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool FleetSpool::open(const QString &path, QString *error)
{
    if (!prepareFile(path, error))
        return false;
    m_path = QFileInfo(path).absoluteFilePath();
    m_db = QSqlDatabase::addDatabase(QLatin1String(kSqlite.driver), m_connection);
    m_db.setDatabaseName(m_path);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=15000"));
    QSqlQuery q(m_db);
    if (!m_db.open()
        || !q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS spool (id INTEGER PRIMARY KEY AUTOINCREMENT, run TEXT NOT NULL, "
                                  "events TEXT NOT NULL, history TEXT NOT NULL, snapshot BLOB, keep INTEGER NOT NULL, attention INTEGER)"))) {
        *error = QStringLiteral("the spool %1: %2").arg(m_path, m_db.isOpen() ? q.lastError().text() : m_db.lastError().text());
        return false;
    }
    return true;
}

bool FleetSpool::add(const RunRecord &r, const std::vector<EventRow> &events, const std::vector<HistoryRow> &history,
                     const std::optional<QByteArray> &snapshot, int keep, std::optional<bool> needsAttention, QString *error)
{
    QJsonObject record{{QStringLiteral("id"), r.id},          {QStringLiteral("site"), r.siteId},
                    {QStringLiteral("account"), r.account}, {QStringLiteral("ended"), stamp(r.ended)},
                    {QStringLiteral("result"), r.result},   {QStringLiteral("error_text"), r.errorText},
                    {QStringLiteral("attempt"), r.attempt}, {QStringLiteral("runner"), r.runner}};
    if (r.exitStatus)
        record.insert(QStringLiteral("exit_status"), *r.exitStatus);
    if (r.errorNumber)
        record.insert(QStringLiteral("error_number"), QString::number(*r.errorNumber));
    QJsonArray ev;
    for (const EventRow &e : events)
        ev.append(QJsonArray{e.time, e.code, e.tag, e.data});
    QJsonArray hi;
    const auto opt = [](const std::optional<int> &v) { return v ? QJsonValue(*v) : QJsonValue(); };
    for (const HistoryRow &h : history)
        hi.append(QJsonArray{h.fingerprint, h.valid, h.event, h.modifier, opt(h.year), opt(h.month), opt(h.day), opt(h.hour), opt(h.minute),
                             h.readAt});
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("INSERT INTO spool (run, events, history, snapshot, keep, attention) VALUES (?, ?, ?, ?, ?, ?)"));
    q.addBindValue(QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact)));
    q.addBindValue(QString::fromUtf8(QJsonDocument(ev).toJson(QJsonDocument::Compact)));
    q.addBindValue(QString::fromUtf8(QJsonDocument(hi).toJson(QJsonDocument::Compact)));
    q.addBindValue(snapshot ? QVariant(*snapshot) : QVariant(QMetaType(QMetaType::QByteArray)));
    q.addBindValue(keep);
    q.addBindValue(needsAttention ? QVariant(*needsAttention ? 1 : 0) : QVariant(QMetaType(QMetaType::Int)));
    return run(q, error);
}

int FleetSpool::count() const
{
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM spool")) || !q.next())
        return 0;
    return q.value(0).toInt();
}

int FleetSpool::handOver(FleetDatabase &db, QString *error)
{
    // Runners on this machine share the spool of a database: one hands it over at a time.
    QSqlQuery begin(m_db);
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        *error = begin.lastError().text();
        return -1;
    }
    const auto commit = [this](int handed) {
        QSqlQuery end(m_db);
        end.exec(QStringLiteral("COMMIT"));
        return handed;
    };
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT id, run, events, history, snapshot, keep, attention FROM spool ORDER BY id"))) {
        *error = q.lastError().text();
        return commit(-1);
    }
    struct Kept
    {
        qint64 id;
        RunRecord run;
        std::vector<EventRow> events;
        std::vector<HistoryRow> history;
        std::optional<QByteArray> snapshot;
        int keep;
        std::optional<bool> attention;
    };
    std::vector<Kept> kept;
    while (q.next()) {
        Kept k;
        k.id = q.value(0).toLongLong();
        const QJsonObject record = QJsonDocument::fromJson(q.value(1).toString().toUtf8()).object();
        k.run.id = record.value(QStringLiteral("id")).toInteger();
        k.run.siteId = record.value(QStringLiteral("site")).toInteger();
        k.run.account = record.value(QStringLiteral("account")).toString();
        k.run.ended = fromStamp(record.value(QStringLiteral("ended")).toString());
        k.run.result = record.value(QStringLiteral("result")).toString();
        k.run.errorText = record.value(QStringLiteral("error_text")).toString();
        k.run.attempt = record.value(QStringLiteral("attempt")).toInt();
        k.run.runner = record.value(QStringLiteral("runner")).toString();
        if (record.contains(QStringLiteral("exit_status")))
            k.run.exitStatus = record.value(QStringLiteral("exit_status")).toInt();
        if (record.contains(QStringLiteral("error_number")))
            k.run.errorNumber = record.value(QStringLiteral("error_number")).toString().toLongLong();
        for (const QJsonValue &v : QJsonDocument::fromJson(q.value(2).toString().toUtf8()).array()) {
            const QJsonArray e = v.toArray();
            k.events.push_back(EventRow{e.at(0).toString(), e.at(1).toInt(), e.at(2).toString(), e.at(3).toString()});
        }
        const auto opt = [](const QJsonValue &v) { return v.isNull() ? std::optional<int>() : std::optional<int>(v.toInt()); };
        for (const QJsonValue &v : QJsonDocument::fromJson(q.value(3).toString().toUtf8()).array()) {
            const QJsonArray h = v.toArray();
            HistoryRow row;
            row.fingerprint = h.at(0).toString();
            row.valid = h.at(1).toBool();
            row.event = h.at(2).toString();
            row.modifier = h.at(3).toString();
            row.year = opt(h.at(4));
            row.month = opt(h.at(5));
            row.day = opt(h.at(6));
            row.hour = opt(h.at(7));
            row.minute = opt(h.at(8));
            row.readAt = h.at(9).toString();
            k.history.push_back(row);
        }
        if (!q.value(4).isNull())
            k.snapshot = q.value(4).toByteArray();
        k.keep = q.value(5).toInt();
        if (!q.value(6).isNull())
            k.attention = q.value(6).toInt() != 0;
        kept.push_back(std::move(k));
    }
    q.finish();
    int handed = 0;
    for (const Kept &k : kept) {
        FinishResult stored;
        if (!db.finishRun(k.run, k.events, k.history, k.snapshot, k.keep, k.attention, &stored, error))
            return commit(-1); // what was delivered so far leaves the spool
        QSqlQuery remove(m_db);
        remove.prepare(QStringLiteral("DELETE FROM spool WHERE id = ?"));
        remove.addBindValue(k.id);
        if (!run(remove, error))
            return commit(-1);
        ++handed;
    }
    return commit(handed);
}
