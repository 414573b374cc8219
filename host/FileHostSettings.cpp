#include "FileHostSettings.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

bool FileHostSettings::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.exists())
        return true; // defaults
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, parse.errorString());
        return false;
    }
    fromJson(doc.object());
    return true;
}

bool FileHostSettings::save(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(toJson()).toJson());
    return file.commit();
}

void FileHostSettings::fromJson(const QJsonObject &j)
{
    auto text = [&](const char *key, QString &field) {
        if (j.contains(QLatin1String(key)))
            field = j.value(QLatin1String(key)).toVariant().toString();
    };
    auto number = [&](const char *key, auto &field) {
        if (j.contains(QLatin1String(key)))
            field = static_cast<std::remove_reference_t<decltype(field)>>(j.value(QLatin1String(key)).toInt());
    };
    text("AccountName", m_accountName);
    text("LinkKey", m_linkKey);
    number("LinkKeyMode", m_linkKeyMode);
    text("RemoteHost", m_remoteHost);
    if (j.contains(QLatin1String("HostDataMode")))
        m_hostDataMode = j.value(QLatin1String("HostDataMode")).toBool();
    text("ResponseTimeout", m_responseTimeout);
    number("TimeOffsetHours", m_timeOffsetHours);
    number("PanelType", m_panelType);
    number("DataBits", m_dataBits);
    text("Parity", m_parity);
    number("StopBits", m_stopBits);
    text("PostDialString", m_postDialString);
    text("ResetCmd", m_resetCmd);
    text("PanelName", m_panelName);
    number("BaudRate", m_baudRate);
    number("ComPort", m_comPort);
    text("InitString", m_initString);
    text("PanelPhone", m_panelPhone);
    text("VoicePhone", m_voicePhone);
    text("Passcode", m_passcode);
    text("PanelPort", m_panelPort);
    number("ExpectedPanelStatus", m_expectedPanelStatus);
    if (j.contains(QLatin1String("DataLocks"))) {
        m_dataLocks.clear();
        m_primary.reset();
        int n = 0;
        for (const QJsonValue &v : j.value(QLatin1String("DataLocks")).toArray()) {
            const QJsonObject e = v.toObject();
            auto entry = std::make_shared<FileDataLockEntry>(e.value(QLatin1String("Value")).toInt(-1),
                                                             e.value(QLatin1String("DataLockType")).toInt(0),
                                                             e.value(QLatin1String("Name")).toString(),
                                                             e.value(QLatin1String("Number")).toInt(++n));
            if (e.value(QLatin1String("Key")).toString() == QLatin1String("PRIMARY"))
                m_primary = entry;
            m_dataLocks.push_back(entry);
        }
    }
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
    j.insert(QStringLiteral("TimeOffsetHours"), m_timeOffsetHours);
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
    return j;
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
