#include "SiteImport.h"

#include "FileHostSettings.h"
#include "HostSession.h"
#include "PanelTimeZone.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

namespace siteimport {

QString Problem::text() const
{
    return field.isEmpty() ? QStringLiteral("line %1: %2").arg(line).arg(why)
                           : QStringLiteral("line %1, field \"%2\": %3").arg(line).arg(field, why);
}

bool splitCsvLine(const QString &line, QStringList *fields)
{
    fields->clear();
    QString current;
    bool quoted = false;
    bool wasQuoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"')) {
                    current += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                current += c;
            }
        } else if (c == QLatin1Char('"') && current.trimmed().isEmpty() && !wasQuoted) {
            current.clear();
            quoted = wasQuoted = true;
        } else if (c == QLatin1Char(',')) {
            *fields << (wasQuoted ? current : current.trimmed());
            current.clear();
            wasQuoted = false;
        } else {
            current += c;
        }
    }
    if (quoted)
        return false;
    *fields << (wasQuoted ? current : current.trimmed());
    return true;
}

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && text.trimmed() == text)
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool dataLocksFromText(const QString &text, QJsonArray *locks, QString *why)
{
    *locks = QJsonArray();
    int number = 0;
    for (const QString &part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString entry = part.trimmed();
        if (entry.isEmpty())
            continue;
        ++number;
        const qsizetype colon = entry.indexOf(QLatin1Char(':'));
        const QString valueText = (colon < 0 ? entry : entry.left(colon)).trimmed();
        bool ok = false;
        const int value = valueText.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? valueText.mid(2).toInt(&ok, 16)
                                                                                         : valueText.toInt(&ok);
        if (!ok || value < -1 || value > 65535) {
            *why = QStringLiteral("entry %1 (\"%2\") must be a data-lock code 0-65535 (or -1), optionally followed by :name")
                       .arg(number)
                       .arg(entry);
            return false;
        }
        QJsonObject lock{{QStringLiteral("Value"), value}, {QStringLiteral("Number"), number}};
        if (colon >= 0)
            lock.insert(QStringLiteral("Name"), entry.mid(colon + 1).trimmed());
        if (number == 1)
            lock.insert(QStringLiteral("Key"), QStringLiteral("PRIMARY"));
        locks->append(lock);
    }
    return true;
}

QString dataLocksToText(const QJsonArray &locks)
{
    QStringList parts;
    for (const QJsonValue &v : locks) {
        const QJsonObject lock = v.toObject();
        QString part = QString::number(lock.value(QStringLiteral("Value")).toInt());
        const QString name = lock.value(QStringLiteral("Name")).toString();
        if (!name.isEmpty())
            part += QLatin1Char(':') + name;
        parts << part;
    }
    return parts.join(QLatin1Char(';'));
}

bool check(const Site &site, QString *field, QString *why)
{
    const auto fail = [&](const QString &f, const QString &w) {
        *field = f;
        *why = w;
        return false;
    };
    if (site.account.isEmpty())
        return fail(QStringLiteral("account"), QStringLiteral("is missing"));
    if (site.address.trimmed().isEmpty())
        return fail(QStringLiteral("address"), QStringLiteral("is missing (the panel's host name or address)"));
    if (site.port < 1 || site.port > 65535)
        return fail(QStringLiteral("port"), QStringLiteral("must be a UDP port from 1 to 65535"));
    if (!site.timeZone.isEmpty() && !paneltime::knownZone(site.timeZone))
        return fail(QStringLiteral("time_zone"), QStringLiteral("\"%1\" is not a time zone this computer knows (an IANA name such "
                                                                "as Europe/Berlin)")
                                                     .arg(site.timeZone));
    if (!site.jobs.isEmpty()) {
        QString jobWhy;
        if (!jobMaskFor(site.jobs, &jobWhy))
            return fail(QStringLiteral("jobs"), jobWhy);
    }
    // The rest as quarvo-host checks its settings: the same rules, the same words.
    FileHostSettings settings;
    QString settingsWhy;
    if (!settings.fromJson(site.hostSettings(), &settingsWhy)) {
        static const QMap<QString, QString> columnOf{
            {QStringLiteral("AccountName"), QStringLiteral("account")}, {QStringLiteral("PanelName"), QStringLiteral("name")},
            {QStringLiteral("RemoteHost"), QStringLiteral("address")},  {QStringLiteral("PanelPort"), QStringLiteral("port")},
            {QStringLiteral("Passcode"), QStringLiteral("passcode")},    {QStringLiteral("LinkKey"), QStringLiteral("link_key")},
            {QStringLiteral("DataLocks"), QStringLiteral("data_locks")}, {QStringLiteral("PanelType"), QStringLiteral("panel_type")},
            {QStringLiteral("TimeZone"), QStringLiteral("time_zone")}};
        static const QRegularExpression keyOf(QStringLiteral("\"([A-Za-z]+)"));
        const QString key = keyOf.match(settingsWhy).captured(1);
        return fail(columnOf.value(key, key), settingsWhy);
    }
    return true;
}

namespace {

// A site from the fields of one row, by column name; false with the field and reason.
bool siteFrom(const QMap<QString, QString> &row, const QJsonObject *json, Site *site, QString *field, QString *why)
{
    const auto fail = [&](const QString &f, const QString &w) {
        *field = f;
        *why = w;
        return false;
    };
    site->account = row.value(QStringLiteral("account")).trimmed();
    site->name = row.value(QStringLiteral("name")).trimmed();
    site->address = row.value(QStringLiteral("address")).trimmed();
    site->passcode = row.value(QStringLiteral("passcode"));
    site->linkKey = row.value(QStringLiteral("link_key")).trimmed();
    site->timeZone = row.value(QStringLiteral("time_zone")).trimmed();
    site->jobs = row.value(QStringLiteral("jobs")).trimmed();
    const auto number = [&](const QString &column, int fallback, int *out) {
        const QString text = row.value(column).trimmed();
        if (text.isEmpty()) {
            *out = fallback;
            return true;
        }
        bool ok = false;
        *out = text.toInt(&ok);
        return ok;
    };
    if (!row.contains(QStringLiteral("port")) || row.value(QStringLiteral("port")).trimmed().isEmpty())
        return fail(QStringLiteral("port"), QStringLiteral("is missing (the panel's UDP port)"));
    if (!number(QStringLiteral("port"), 0, &site->port))
        return fail(QStringLiteral("port"), QStringLiteral("must be a whole number"));
    if (!number(QStringLiteral("panel_type"), 1, &site->panelType))
        return fail(QStringLiteral("panel_type"), QStringLiteral("must be a whole number"));
    const QJsonValue locks = json ? json->value(QStringLiteral("data_locks")) : QJsonValue();
    if (locks.isArray()) {
        // JSON lines may give the entries as quarvo-host's settings do, or as plain codes.
        QJsonArray entries;
        int n = 0;
        for (const QJsonValue &v : locks.toArray()) {
            ++n;
            QJsonObject lock;
            if (v.isDouble())
                lock = QJsonObject{{QStringLiteral("Value"), v.toInt()}, {QStringLiteral("Number"), n}};
            else if (v.isObject())
                lock = v.toObject();
            else
                return fail(QStringLiteral("data_locks"), QStringLiteral("entry %1 must be a code or an object").arg(n));
            if (n == 1 && !lock.contains(QStringLiteral("Key")))
                lock.insert(QStringLiteral("Key"), QStringLiteral("PRIMARY"));
            entries.append(lock);
        }
        site->dataLocks = entries;
    } else {
        QString lockWhy;
        if (!dataLocksFromText(row.value(QStringLiteral("data_locks")), &site->dataLocks, &lockWhy))
            return fail(QStringLiteral("data_locks"), lockWhy);
    }
    return check(*site, field, why);
}

// An account names one site: twice in one file is a mistake, not an update.
bool firstOf(const Site &site, Problem *problem, QMap<QString, int> &seen)
{
    if (seen.contains(site.account)) {
        problem->field = QStringLiteral("account");
        problem->why = QStringLiteral("\"%1\" is already the account of line %2").arg(site.account).arg(seen.value(site.account));
        return false;
    }
    seen.insert(site.account, problem->line);
    return true;
}

bool parseJsonLines(const QList<QByteArray> &lines, std::vector<Site> *sites, Problem *problem)
{
    QMap<QString, int> seen;
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.isEmpty())
            continue;
        problem->line = i + 1;
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            problem->why = error.error != QJsonParseError::NoError ? QStringLiteral("not JSON: %1").arg(error.errorString())
                                                                     : QStringLiteral("not a JSON object");
            return false;
        }
        const QJsonObject object = doc.object();
        QMap<QString, QString> row;
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (sitecolumns::status().contains(it.key()))
                continue;
            if (!sitecolumns::all().contains(it.key())) {
                problem->field = it.key();
                problem->why = QStringLiteral("unknown field (fields: %1)").arg(sitecolumns::all().join(QStringLiteral(", ")));
                return false;
            }
            const QJsonValue v = it.value();
            if (v.isString())
                row.insert(it.key(), v.toString());
            else if (v.isDouble())
                row.insert(it.key(), QString::number(v.toDouble(), 'g', 12));
            else if (!(v.isArray() && it.key() == QLatin1String("data_locks")) && !v.isNull()) {
                problem->field = it.key();
                problem->why = QStringLiteral("must be a text or a number");
                return false;
            }
        }
        Site site;
        site.givenFields = row.keys();
        if (object.value(QStringLiteral("data_locks")).isArray() && !site.givenFields.contains(QStringLiteral("data_locks")))
            site.givenFields << QStringLiteral("data_locks");
        if (!siteFrom(row, &object, &site, &problem->field, &problem->why) || !firstOf(site, problem, seen))
            return false;
        sites->push_back(site);
    }
    return true;
}

bool parseCsv(const QList<QByteArray> &lines, std::vector<Site> *sites, Problem *problem)
{
    QMap<QString, int> seen;
    QStringList header;
    int headerLine = 0;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines.at(i)).remove(QLatin1Char('\r'));
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(QLatin1Char('#')))
            continue;
        problem->line = i + 1;
        QStringList fields;
        if (!splitCsvLine(line, &fields)) {
            problem->why = QStringLiteral("a quoted field is not closed on its line");
            return false;
        }
        if (header.isEmpty()) {
            headerLine = i + 1;
            for (QString &f : fields)
                f = f.trimmed().toLower();
            for (const QString &f : fields) {
                if (!sitecolumns::all().contains(f) && !sitecolumns::status().contains(f)) {
                    problem->field = f;
                    problem->why = QStringLiteral("unknown column in the header line (columns: %1)")
                                       .arg(sitecolumns::all().join(QStringLiteral(", ")));
                    return false;
                }
                if (fields.count(f) > 1) {
                    problem->field = f;
                    problem->why = QStringLiteral("column named twice in the header line");
                    return false;
                }
            }
            for (const QString &needed : {QStringLiteral("account"), QStringLiteral("address"), QStringLiteral("port")})
                if (!fields.contains(needed)) {
                    problem->field = needed;
                    problem->why = QStringLiteral("the header line has no such column, and every site needs it");
                    return false;
                }
            header = fields;
            continue;
        }
        if (fields.size() != header.size()) {
            problem->why = QStringLiteral("%1 fields, the header line (line %2) has %3").arg(fields.size()).arg(headerLine).arg(header.size());
            return false;
        }
        QMap<QString, QString> row;
        for (int c = 0; c < header.size(); ++c)
            row.insert(header.at(c), fields.at(c));
        Site site;
        site.givenFields = header;
        if (!siteFrom(row, nullptr, &site, &problem->field, &problem->why) || !firstOf(site, problem, seen))
            return false;
        sites->push_back(site);
    }
    if (header.isEmpty()) {
        problem->line = 1;
        problem->why = QStringLiteral("the file is empty (a CSV file starts with a header line)");
        return false;
    }
    return true;
}

} // namespace

bool parse(const QByteArray &bytes, std::vector<Site> *sites, Problem *problem)
{
    std::vector<Site> read;
    *problem = Problem();
    const QList<QByteArray> lines = bytes.split('\n');
    const bool json = bytes.trimmed().startsWith('{');
    if (!(json ? parseJsonLines(lines, &read, problem) : parseCsv(lines, &read, problem)))
        return false;
    *sites = std::move(read);
    return true;
}

} // namespace siteimport
