// A site: one panel the station looks after, as the fleet database keeps it. Secrets (passcode, link
// key) are fields like the others here; what prints a site leaves them out unless asked.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

struct Site
{
    qint64 id = 0;
    QString account;       // the panel's account: the key by which an import updates a site
    QString name;
    QString address;       // host name or address of the panel's network link
    int port = 3001;       // its UDP port
    QString passcode;
    QString linkKey;       // 32 characters, or empty for a clear link
    QJsonArray dataLocks;  // entries as quarvo-host's settings take them ("DataLocks")
    int panelType = 1;
    QString timeZone;      // IANA name, or empty: the panel keeps this computer's time
    QString jobs;          // the jobs `run` gives this site when --jobs is not given

    // Status, kept by the runner.
    bool needsAttention = false;
    QString attentionReason;

    // The import fields the row gave (all when empty). An update by import changes only these, so
    // a file without, say, the passcode column leaves the stored passcodes alone.
    QStringList givenFields;

    // The settings file a quarvo-host child reads for this site (it holds the secrets).
    QJsonObject hostSettings(int responseTimeoutSeconds = 0) const;
};

// The columns of an import file, in the order export writes them.
namespace sitecolumns {
inline const QStringList &all()
{
    static const QStringList columns{QStringLiteral("account"),   QStringLiteral("name"),       QStringLiteral("address"),
                                     QStringLiteral("port"),      QStringLiteral("passcode"),   QStringLiteral("link_key"),
                                     QStringLiteral("data_locks"), QStringLiteral("panel_type"), QStringLiteral("time_zone"),
                                     QStringLiteral("jobs")};
    return columns;
}
// The status columns export adds after them; import passes them over, so an export with secrets
// imports again.
inline const QStringList &status()
{
    static const QStringList columns{QStringLiteral("last_run"),        QStringLiteral("result"),     QStringLiteral("last_success"),
                                     QStringLiteral("needs_attention"), QStringLiteral("last_error"), QStringLiteral("snapshots"),
                                     QStringLiteral("history_events")};
    return columns;
}
inline bool secret(const QString &column)
{
    return column == QLatin1String("passcode") || column == QLatin1String("link_key");
}
} // namespace sitecolumns
