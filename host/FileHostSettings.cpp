#include "FileHostSettings.h"
#include "PanelTimeZone.h"

#include "HostFiles.h"
#include "Printable.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>

#include <cmath>
#include <optional>

const QStringList &FileHostSettings::linkTypes()
{
    static const QStringList types{QStringLiteral("modem"), QStringLiteral("external-modem"), QStringLiteral("direct"),
                                   QStringLiteral("enhanced-direct"), QStringLiteral("network")};
    return types;
}

bool FileHostSettings::load(const QString &path, QString *error)
{
    QByteArray bytes;
    if (!hostfiles::readBounded(path, MaxFileBytes, &bytes, error))
        return false;
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        if (error)
            *error = parse.error != QJsonParseError::NoError
                         ? QStringLiteral("%1: %2 at byte %3").arg(path, parse.errorString()).arg(parse.offset)
                         : QStringLiteral("%1: not a JSON object").arg(path);
        return false;
    }
    QString why;
    if (!fromJson(doc.object(), &why)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    }
    return true;
}

bool FileHostSettings::save(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The file holds the passcode and the link key.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(QJsonDocument(toJson()).toJson());
    return file.commit();
}

namespace {

// A JSON number that is a whole number a qint64 holds; none for a fraction, an infinity or a
// number beyond that range (whose conversion would be undefined).
std::optional<qint64> wholeNumber(const QJsonValue &v)
{
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || d < -9.0e18 || d > 9.0e18)
        return std::nullopt;
    return static_cast<qint64>(d);
}

// Reads the keys of one JSON object into fields, stopping at the first problem.
class Reader
{
public:
    Reader(const QJsonObject &json, QString prefix) : m_json(json), m_prefix(std::move(prefix)) {}

    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }

    // A text; numbers are taken as their decimal text (a port may be written either way).
    void text(const char *key, QString &field, int maxLength = -1)
    {
        const QJsonValue v = value(key);
        if (v.isUndefined())
            return;
        QString t;
        if (v.isString())
            t = v.toString();
        else if (const std::optional<qint64> n = wholeNumber(v))
            t = QString::number(*n);
        else
            return fail(key, QStringLiteral("must be a text"));
        if (maxLength >= 0 && t.size() > maxLength)
            return fail(key, QStringLiteral("must be at most %1 characters").arg(maxLength));
        field = t;
    }

    template <typename T>
    void number(const char *key, T &field, qint64 min, qint64 max)
    {
        const QJsonValue v = value(key);
        if (v.isUndefined())
            return;
        const std::optional<qint64> whole = wholeNumber(v);
        bool ok = whole.has_value();
        qint64 n = whole.value_or(0);
        if (!ok && v.isString()) {
            const QString t = v.toString().trimmed();
            n = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? t.mid(2).toLongLong(&ok, 16) : t.toLongLong(&ok);
        }
        if (!ok)
            return fail(key, QStringLiteral("must be a whole number"));
        if (n < min || n > max)
            return fail(key, QStringLiteral("must be from %1 to %2").arg(min).arg(max));
        field = static_cast<T>(n);
    }

    void boolean(const char *key, bool &field)
    {
        const QJsonValue v = value(key);
        if (v.isUndefined())
            return;
        if (!v.isBool())
            return fail(key, QStringLiteral("must be true or false"));
        field = v.toBool();
    }

    void fail(const char *key, const QString &why)
    {
        if (m_error.isEmpty())
            m_error = QStringLiteral("\"%1%2\" %3").arg(m_prefix, QLatin1String(key), why);
    }

    // Keys of the object that were never asked for; the message shows the key cut short and with
    // its control characters escaped, as a file from anywhere may hold anything there.
    void rejectOthers(const QStringList &known)
    {
        for (const QString &key : m_json.keys())
            if (!known.contains(key) && m_error.isEmpty())
                m_error = QStringLiteral("unknown key \"%1%2\"").arg(m_prefix, printable(key));
    }

private:
    QJsonValue value(const char *key) const { return m_json.value(QLatin1String(key)); }

    const QJsonObject &m_json;
    QString m_prefix;
    QString m_error;
};

const QStringList kKeys{
    QStringLiteral("AccountName"), QStringLiteral("LinkKey"), QStringLiteral("LinkKeyMode"), QStringLiteral("RemoteHost"),
    QStringLiteral("HostDataMode"), QStringLiteral("ResponseTimeout"), QStringLiteral("TimeOffsetHours"),
    QStringLiteral("PanelType"), QStringLiteral("DataBits"), QStringLiteral("Parity"), QStringLiteral("StopBits"),
    QStringLiteral("PostDialString"), QStringLiteral("ResetCmd"), QStringLiteral("PanelName"), QStringLiteral("BaudRate"),
    QStringLiteral("ComPort"), QStringLiteral("InitString"), QStringLiteral("PanelPhone"), QStringLiteral("VoicePhone"),
    QStringLiteral("Passcode"), QStringLiteral("PanelPort"), QStringLiteral("ExpectedPanelStatus"),
    QStringLiteral("DataLocks"), QStringLiteral("LinkType"), QStringLiteral("DataFile"), QStringLiteral("TimeZone")};

// Why `host` cannot be RemoteHost, or nothing. The network link takes an IPv4 address or a host
// name; a port written after it (as "127.0.0.1:3001") belongs in PanelPort.
std::optional<QString> remoteHostProblem(const QString &host)
{
    const QString text = host.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    static const QRegularExpression withPort(QStringLiteral("^([^:]+):(\\d{1,5})$"));
    if (const QRegularExpressionMatch m = withPort.match(text); m.hasMatch())
        return QStringLiteral("must be the address or host name alone: the port belongs in PanelPort (\"RemoteHost\": \"%1\", "
                              "\"PanelPort\": %2)")
            .arg(printable(m.captured(1)), m.captured(2));
    static const QRegularExpression name(
        QStringLiteral("^[A-Za-z0-9_]([A-Za-z0-9_-]{0,61}[A-Za-z0-9_])?(\\.[A-Za-z0-9_]([A-Za-z0-9_-]{0,61}[A-Za-z0-9_])?)*\\.?$"));
    if (text.size() > 253 || !name.match(text).hasMatch())
        return QStringLiteral("must be an IPv4 address or a host name (letters, digits, '-', '.'), not \"%1\"").arg(printable(text));
    return std::nullopt;
}

bool knownPanelType(qint32 type)
{
    return (type >= 1 && type <= 6) || (type >= 37 && type <= 39) || (type >= 49 && type <= 51);
}

} // namespace

bool FileHostSettings::fromJson(const QJsonObject &j, QString *error)
{
    FileHostSettings next = *this;
    Reader r(j, QString());
    r.rejectOthers(kKeys);
    r.text("AccountName", next.m_accountName);
    r.text("LinkKey", next.m_linkKey);
    r.number("LinkKeyMode", next.m_linkKeyMode, 0, 1);
    r.text("RemoteHost", next.m_remoteHost);
    r.boolean("HostDataMode", next.m_hostDataMode);
    qint32 timeout = next.m_responseTimeout.toInt();
    r.number("ResponseTimeout", timeout, 1, 255);
    if (j.contains(QLatin1String("ResponseTimeout")))
        next.m_responseTimeout = QString::number(timeout);
    r.number("TimeOffsetHours", next.m_timeOffsetHours, -24, 24);
    r.number("PanelType", next.m_panelType, 0, 255);
    r.number("DataBits", next.m_dataBits, 5, 8);
    r.text("Parity", next.m_parity, 1);
    r.number("StopBits", next.m_stopBits, 1, 2);
    r.text("PostDialString", next.m_postDialString);
    r.text("ResetCmd", next.m_resetCmd);
    r.text("PanelName", next.m_panelName);
    r.number("BaudRate", next.m_baudRate, 1, 1000000);
    r.number("ComPort", next.m_comPort, 1, 255);
    r.text("InitString", next.m_initString);
    r.text("PanelPhone", next.m_panelPhone);
    r.text("VoicePhone", next.m_voicePhone);
    r.text("Passcode", next.m_passcode, 6);
    r.text("PanelPort", next.m_panelPort);
    r.number("ExpectedPanelStatus", next.m_expectedPanelStatus, 0, 255);
    r.text("LinkType", next.m_linkType);
    r.text("DataFile", next.m_dataFile);
    r.text("TimeZone", next.m_timeZone);
    if (r.ok() && j.contains(QLatin1String("TimeZone")) && j.contains(QLatin1String("TimeOffsetHours")) && !next.m_timeZone.isEmpty())
        r.fail("TimeZone", QStringLiteral("and \"TimeOffsetHours\" exclude each other: the zone decides the hours"));
    if (r.ok() && !next.m_timeZone.isEmpty() && !paneltime::knownZone(next.m_timeZone))
        r.fail("TimeZone", QStringLiteral("must be a time zone this computer knows (an IANA name such as Europe/Berlin)"));
    if (r.ok() && !next.m_linkKey.isEmpty() && next.m_linkKey.size() != 32)
        r.fail("LinkKey", QStringLiteral("must be 32 characters (or empty for a link without encryption)"));
    if (r.ok()) {
        if (const std::optional<QString> problem = remoteHostProblem(next.m_remoteHost))
            r.fail("RemoteHost", *problem);
    }
    if (r.ok() && !knownPanelType(next.m_panelType))
        r.fail("PanelType", QStringLiteral("must be a panel type with a known item layout: 1-6, 37-39 or 49-51"));
    if (r.ok() && !QStringLiteral("NEOMS").contains(next.m_parity))
        r.fail("Parity", QStringLiteral("must be one of N, E, O, M, S"));
    if (r.ok() && !linkTypes().contains(next.m_linkType))
        r.fail("LinkType", QStringLiteral("must be one of ") + linkTypes().join(QStringLiteral(", ")));
    if (r.ok() && j.contains(QLatin1String("PanelPort"))) {
        bool ok = false;
        const int port = next.m_panelPort.toInt(&ok);
        if (!ok || port < 1 || port > 65535)
            r.fail("PanelPort", QStringLiteral("must be a UDP port from 1 to 65535"));
    }
    if (r.ok() && j.contains(QLatin1String("AccountName"))) {
        // The session log of an unattended session is named after the account: a plain file name.
        static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]*$"));
        if (!plain.match(next.m_accountName).hasMatch())
            r.fail("AccountName", QStringLiteral("must be letters, digits, '_', '.' or '-' (it names the session log)"));
    }
    if (r.ok() && j.contains(QLatin1String("DataLocks"))) {
        const QJsonValue locks = j.value(QLatin1String("DataLocks"));
        if (!locks.isArray())
            r.fail("DataLocks", QStringLiteral("must be a list of entries"));
        next.m_dataLocks.clear();
        next.m_primary.reset();
        int n = 0;
        for (const QJsonValue &v : locks.toArray()) {
            if (!r.ok())
                break;
            ++n;
            const QString prefix = QStringLiteral("DataLocks[%1].").arg(n - 1);
            if (!v.isObject()) {
                r.fail("DataLocks", QStringLiteral("entry %1 must be an object").arg(n - 1));
                break;
            }
            const QJsonObject e = v.toObject();
            Reader entry(e, prefix);
            entry.rejectOthers({QStringLiteral("Value"), QStringLiteral("DataLockType"), QStringLiteral("Name"),
                                QStringLiteral("Number"), QStringLiteral("Key")});
            qint32 value = -1, type = 0, number = n;
            QString name, key;
            entry.number("Value", value, -1, 65535);
            entry.number("DataLockType", type, 0, 255);
            entry.text("Name", name);
            entry.number("Number", number, 0, 65535);
            entry.text("Key", key);
            if (entry.ok() && !key.isEmpty() && key != QLatin1String("PRIMARY"))
                entry.fail("Key", QStringLiteral("must be \"PRIMARY\" or left out"));
            if (!entry.ok()) {
                if (error)
                    *error = entry.error();
                return false;
            }
            auto lock = std::make_shared<HostDataLockValues>(value, type, name, number);
            if (key == QLatin1String("PRIMARY"))
                next.m_primary = lock;
            next.m_dataLocks.push_back(lock);
        }
    }
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return false;
    }
    *this = next;
    return true;
}

QJsonObject FileHostSettings::toJson() const
{
    QJsonObject j;
    j.insert(QStringLiteral("AccountName"), m_accountName);
    j.insert(QStringLiteral("LinkKey"), m_linkKey);
    j.insert(QStringLiteral("LinkKeyMode"), m_linkKeyMode);
    j.insert(QStringLiteral("RemoteHost"), m_remoteHost);
    j.insert(QStringLiteral("HostDataMode"), m_hostDataMode);
    j.insert(QStringLiteral("ResponseTimeout"), m_responseTimeout);
    if (m_timeZone.isEmpty())
        j.insert(QStringLiteral("TimeOffsetHours"), m_timeOffsetHours);
    else
        j.insert(QStringLiteral("TimeZone"), m_timeZone);
    j.insert(QStringLiteral("PanelType"), m_panelType);
    j.insert(QStringLiteral("DataBits"), m_dataBits);
    j.insert(QStringLiteral("Parity"), m_parity);
    j.insert(QStringLiteral("StopBits"), m_stopBits);
    j.insert(QStringLiteral("PostDialString"), m_postDialString);
    j.insert(QStringLiteral("ResetCmd"), m_resetCmd);
    j.insert(QStringLiteral("PanelName"), m_panelName);
    j.insert(QStringLiteral("BaudRate"), m_baudRate);
    j.insert(QStringLiteral("ComPort"), m_comPort);
    j.insert(QStringLiteral("InitString"), m_initString);
    j.insert(QStringLiteral("PanelPhone"), m_panelPhone);
    j.insert(QStringLiteral("VoicePhone"), m_voicePhone);
    j.insert(QStringLiteral("Passcode"), m_passcode);
    j.insert(QStringLiteral("PanelPort"), m_panelPort);
    j.insert(QStringLiteral("ExpectedPanelStatus"), m_expectedPanelStatus);
    QJsonArray locks;
    for (const auto &e : m_dataLocks) {
        QJsonObject o;
        o.insert(QStringLiteral("Value"), e->Value());
        o.insert(QStringLiteral("DataLockType"), e->DataLockType());
        o.insert(QStringLiteral("Name"), e->Name());
        o.insert(QStringLiteral("Number"), e->Number());
        if (e == m_primary)
            o.insert(QStringLiteral("Key"), QStringLiteral("PRIMARY"));
        locks.append(o);
    }
    j.insert(QStringLiteral("DataLocks"), locks);
    j.insert(QStringLiteral("LinkType"), m_linkType);
    if (!m_dataFile.isEmpty())
        j.insert(QStringLiteral("DataFile"), m_dataFile);
    return j;
}

bool FileHostSettings::applyTimeZone(const QDateTime &moment, QString *error)
{
    m_zoneOffsetHours = 0;
    if (m_timeZone.isEmpty())
        return true;
    const std::optional<int> hours = paneltime::hoursFor(m_timeZone, moment, error);
    if (!hours)
        return false;
    m_zoneOffsetHours = static_cast<qint16>(*hours);
    return true;
}

std::shared_ptr<HostDataLockEntry> FileHostSettings::dataLock(int position) const
{
    if (position < 1 || position > static_cast<int>(m_dataLocks.size()))
        return nullptr;
    return m_dataLocks.at(static_cast<size_t>(position - 1));
}

std::shared_ptr<HostDataLockEntry> FileHostSettings::dataLockByKey(const QString &key) const
{
    return key == QLatin1String("PRIMARY") ? m_primary : nullptr;
}
