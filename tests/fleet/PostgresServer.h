// A throw-away PostgreSQL server for the fleet tests: a new cluster in a temporary folder (initdb),
// started with pg_ctl on a free port of 127.0.0.1 with its unix socket in that folder and trust
// authentication, stopped and removed when the object goes. The server refuses to run as root, so
// under root the cluster belongs to `nobody` and the commands run through runuser. Every wait is
// bounded.
#pragma once

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <memory>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fleettest {

class PostgresServer
{
public:
    // The folder with initdb and pg_ctl (the newest installed version), or empty.
    static QString binaries()
    {
        const QDir root(QStringLiteral("/usr/lib/postgresql"));
        QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        std::sort(versions.begin(), versions.end(), [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
        for (const QString &v : versions) {
            const QString bin = root.filePath(v + QStringLiteral("/bin"));
            if (QFileInfo(bin + QStringLiteral("/initdb")).isExecutable() && QFileInfo(bin + QStringLiteral("/pg_ctl")).isExecutable())
                return bin;
        }
        return QString();
    }

    static QString missingWhy()
    {
        return QStringLiteral("the PostgreSQL server programs (initdb, pg_ctl) are not installed: install the Debian package "
                              "postgresql (scripts/install-deps.sh does)");
    }

    // Under root the folder goes straight under /tmp, which the server's user can pass through (a
    // test's own TMPDIR is private to root).
    PostgresServer()
        : m_dir(::geteuid() == 0 ? QStringLiteral("/tmp/quarvo-fleet-pg-XXXXXX")
                                 : QDir(QDir::tempPath()).filePath(QStringLiteral("quarvo-fleet-pg-XXXXXX")))
    {
    }
    ~PostgresServer() { stop(); }
    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    // Makes and starts the cluster; false with the reason.
    bool start(QString *why)
    {
        m_bin = binaries();
        if (m_bin.isEmpty()) {
            *why = missingWhy();
            return false;
        }
        if (!m_dir.isValid()) {
            *why = QStringLiteral("no temporary folder");
            return false;
        }
        m_cluster = m_dir.filePath(QStringLiteral("pg"));
        QDir().mkpath(m_cluster);
        ::chmod(QFile::encodeName(m_cluster).constData(), 0700);
        if (::geteuid() == 0) {
            const passwd *nobody = ::getpwnam("nobody");
            if (!nobody) {
                *why = QStringLiteral("running as root, and there is no user nobody to run the server as");
                return false;
            }
            // The server's user reaches its folder through ours (search permission only).
            ::chmod(QFile::encodeName(m_dir.path()).constData(), 0711);
            if (::chown(QFile::encodeName(m_cluster).constData(), nobody->pw_uid, nobody->pw_gid) != 0) {
                *why = QStringLiteral("cannot give the cluster folder to nobody");
                return false;
            }
            m_asNobody = true;
        }
        if (!command(QStringLiteral("initdb"),
                     {QStringLiteral("-D"), data(), QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-U"), user(),
                      QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync")},
                     120000, why))
            return false;
        // A free port: the system picks one for a moment; another process may take it before the
        // server does, so a failed start tries again with a new one.
        for (int attempt = 0; attempt < 5; ++attempt) {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0))
                continue;
            m_port = probe.serverPort();
            probe.close();
            const QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off "
                                                   "-c full_page_writes=off -c max_connections=60 -c shared_buffers=16MB")
                                        .arg(m_port)
                                        .arg(m_cluster);
            if (command(QStringLiteral("pg_ctl"),
                        {QStringLiteral("-D"), data(), QStringLiteral("-l"), m_cluster + QStringLiteral("/server.log"), QStringLiteral("-w"),
                         QStringLiteral("-t"), QStringLiteral("90"), QStringLiteral("-o"), options, QStringLiteral("start")},
                        120000, why)) {
                m_running = true;
                return true;
            }
        }
        return false;
    }

    // Stops the server at once (the tests need none of its data) and removes the cluster.
    void stop()
    {
        if (m_running) {
            QString ignored;
            command(QStringLiteral("pg_ctl"),
                    {QStringLiteral("-D"), data(), QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("-w"),
                     QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("stop")},
                    90000, &ignored);
            m_running = false;
        }
    }

    // Stops the server as an administrator would (fast: sessions are cut), keeping its data.
    bool pause(QString *why)
    {
        const bool ok = command(QStringLiteral("pg_ctl"),
                                {QStringLiteral("-D"), data(), QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"),
                                 QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("stop")},
                                90000, why);
        if (ok)
            m_running = false;
        return ok;
    }

    // Starts a paused server again on the same port.
    bool resume(QString *why)
    {
        const QString options =
            QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=60").arg(m_port).arg(m_cluster);
        const bool ok = command(QStringLiteral("pg_ctl"),
                                {QStringLiteral("-D"), data(), QStringLiteral("-l"), m_cluster + QStringLiteral("/server.log"),
                                 QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("90"), QStringLiteral("-o"), options,
                                 QStringLiteral("start")},
                                120000, why);
        m_running = ok;
        return ok;
    }

    // Makes a new, empty database and returns its address for --db.
    QString newDatabase(QString *why)
    {
        const QString name = QStringLiteral("fleet_") + QUuid::createUuid().toString(QUuid::Id128).left(12);
        const QString connection = QStringLiteral("admin-") + name;
        bool ok = false;
        {
            QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
            admin.setHostName(QStringLiteral("127.0.0.1"));
            admin.setPort(m_port);
            admin.setUserName(user());
            admin.setDatabaseName(QStringLiteral("postgres"));
            admin.setConnectOptions(QStringLiteral("connect_timeout=30"));
            if (!admin.open()) {
                *why = admin.lastError().text();
            } else {
                QSqlQuery q(admin);
                ok = q.exec(QStringLiteral("CREATE DATABASE %1").arg(name));
                if (!ok)
                    *why = q.lastError().text();
                admin.close();
            }
        }
        QSqlDatabase::removeDatabase(connection);
        return ok ? url(name) : QString();
    }

    QString url(const QString &database) const
    {
        return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(user()).arg(m_port).arg(database);
    }

    int port() const { return m_port; }
    static QString user() { return QStringLiteral("fleet"); }

private:
    QString data() const { return m_cluster + QStringLiteral("/data"); }

    bool command(const QString &program, const QStringList &arguments, int timeoutMs, QString *why)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setWorkingDirectory(m_cluster);
        if (m_asNobody)
            p.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"),
                                                           m_bin + QLatin1Char('/') + program}
                                                   + arguments);
        else
            p.start(m_bin + QLatin1Char('/') + program, arguments);
        if (!p.waitForStarted(30000) || !p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished(5000);
            *why = QStringLiteral("%1 did not finish").arg(program);
            return false;
        }
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            *why = QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(p.readAll()).trimmed());
            return false;
        }
        return true;
    }

    QTemporaryDir m_dir;
    QString m_bin;
    QString m_cluster;
    int m_port = 0;
    bool m_asNobody = false;
    bool m_running = false;
};

// The database a fleet test works on: an SQLite file in `dir`, or, when QUARVO_FLEET_TEST_DB is
// "postgresql", a new database on this process's own throw-away server (started on first use,
// stopped when the process ends). Empty with the reason when there is none; `skip` is then set when
// the server programs are missing.
// This process's own throw-away server, started on first use and stopped when the process ends;
// null with the reason when it cannot start.
inline PostgresServer *sharedServer(QString *why)
{
    static std::unique_ptr<PostgresServer> server;
    static QString startError;
    if (!server && startError.isEmpty()) {
        server = std::make_unique<PostgresServer>();
        if (!server->start(&startError)) {
            server.reset();
            if (startError.isEmpty())
                startError = QStringLiteral("the server did not start");
        }
    }
    if (!server)
        *why = startError;
    return server.get();
}

// The database a fleet test works on: an SQLite file in `dir`, or, when QUARVO_FLEET_TEST_DB is
// "postgresql", a new database on this process's own throw-away server. Empty with the reason when
// there is none; `skip` is then set when the server programs are missing.
inline QString testDatabase(const QTemporaryDir &dir, const QString &fileName, QString *why, bool *skip)
{
    *skip = false;
    if (qEnvironmentVariable("QUARVO_FLEET_TEST_DB") != QLatin1String("postgresql"))
        return dir.filePath(fileName);
    if (PostgresServer::binaries().isEmpty()) {
        *skip = true;
        *why = PostgresServer::missingWhy();
        return QString();
    }
    PostgresServer *server = sharedServer(why);
    return server ? server->newDatabase(why) : QString();
}

inline bool usesServer()
{
    return qEnvironmentVariable("QUARVO_FLEET_TEST_DB") == QLatin1String("postgresql");
}

} // namespace fleettest
