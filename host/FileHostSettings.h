// The reference host's settings object, kept in a JSON file: every member of HostSettings is a key of
// the same name, the data-lock entries a list ("DataLocks"), plus two keys of the host itself:
// "LinkType" (how the panel is reached) and "DataFile" (the panel data file). Missing keys take
// workable defaults; an unknown key, a value of the wrong kind or out of its range is an error
// naming the key, so a typing mistake never goes unnoticed. The README lists every key.
#pragma once

#include "core/HostObjects.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

class FileHostSettings : public HostSettings
{
public:
    // The link types of "LinkType", in the order of the connection dialog's list.
    static const QStringList &linkTypes();

    // No settings file is larger: a longer input is not read at all.
    static constexpr qint64 MaxFileBytes = 1024 * 1024;

    FileHostSettings() = default;
    // Loads `path`; false (with `error` set) when it cannot be read, is not a regular file of at
    // most MaxFileBytes bytes, is not a JSON object, or a key is unknown or has a bad value. The
    // settings are unchanged then.
    bool load(const QString &path, QString *error = nullptr);
    bool save(const QString &path) const;
    QJsonObject toJson() const;
    // Takes the keys of `json` (others keep their values); false with the first problem otherwise.
    bool fromJson(const QJsonObject &json, QString *error = nullptr);

    // "LinkType": one of linkTypes(); the index of the connection dialog's list.
    QString linkType() const { return m_linkType; }
    int linkTypeIndex() const { return static_cast<int>(linkTypes().indexOf(m_linkType)); }
    // "DataFile": the panel data file as written in the settings (empty: not given).
    QString dataFile() const { return m_dataFile; }
    // "TimeZone": the panel's IANA time zone (empty: not given; TimeOffsetHours stands then).
    QString timeZone() const { return m_timeZone; }
    // Turns TimeZone into the whole hours TimeOffsetHours() returns, for `moment`. False (with the
    // reason, and TimeOffsetHours() then 0) when the zone's difference is not whole hours then.
    bool applyTimeZone(const QDateTime &moment, QString *error = nullptr);

    QString AccountName() const override { return m_accountName; }
    QString LinkKey() const override { return m_linkKey; }
    qint32 LinkKeyMode() const override { return m_linkKeyMode; }
    QString RemoteHost() const override { return m_remoteHost; }
    void setRemoteHost(const QString &host) override { m_remoteHost = host; }
    bool HostDataMode() const override { return m_hostDataMode; }
    void setHostDataMode(bool remote) override { m_hostDataMode = remote; }
    QString ResponseTimeout() const override { return m_responseTimeout; }
    qint16 TimeOffsetHours() const override { return m_timeZone.isEmpty() ? m_timeOffsetHours : m_zoneOffsetHours; }
    qint32 PanelType() const override { return m_panelType; }
    int dataLockCount() const override { return static_cast<int>(m_dataLocks.size()); }
    std::shared_ptr<HostDataLockEntry> dataLock(int position) const override;
    std::shared_ptr<HostDataLockEntry> dataLockByKey(const QString &key) const override;
    qint16 DataBits() const override { return m_dataBits; }
    QString Parity() const override { return m_parity; }
    qint16 StopBits() const override { return m_stopBits; }
    QString PostDialString() const override { return m_postDialString; }
    QString ResetCmd() const override { return m_resetCmd; }
    QString PanelName() const override { return m_panelName; }
    qint32 BaudRate() const override { return m_baudRate; }
    qint16 ComPort() const override { return m_comPort; }
    QString InitString() const override { return m_initString; }
    QString PanelPhone() const override { return m_panelPhone; }
    QString VoicePhone() const override { return m_voicePhone; }
    QString Passcode() const override { return m_passcode; }
    QString PanelPort() const override { return m_panelPort; }
    qint16 ExpectedPanelStatus() const override { return m_expectedPanelStatus; }

private:
    QString m_accountName = QStringLiteral("1234");
    QString m_linkKey;
    qint32 m_linkKeyMode = 0;
    QString m_remoteHost = QStringLiteral("127.0.0.1");
    bool m_hostDataMode = true;
    QString m_responseTimeout = QStringLiteral("10");
    qint16 m_timeOffsetHours = 0;
    qint32 m_panelType = 1;
    std::vector<std::shared_ptr<HostDataLockValues>> m_dataLocks;
    std::shared_ptr<HostDataLockValues> m_primary;
    qint16 m_dataBits = 8;
    QString m_parity = QStringLiteral("N");
    qint16 m_stopBits = 1;
    QString m_postDialString;
    QString m_resetCmd = QStringLiteral("ATZ");
    QString m_panelName = QStringLiteral("Demo panel");
    qint32 m_baudRate = 9600;
    qint16 m_comPort = 1;
    QString m_initString = QStringLiteral("AT&F");
    QString m_panelPhone;
    QString m_voicePhone;
    QString m_passcode = QStringLiteral("123456");
    QString m_panelPort = QStringLiteral("3001");
    qint16 m_expectedPanelStatus = 0;
    QString m_linkType = QStringLiteral("network");
    QString m_dataFile;
    QString m_timeZone;
    qint16 m_zoneOffsetHours = 0;
};
