// The reference host's settings object, kept in a JSON file (every member of HostSettings as a key
// of the same name; data-lock entries as a list). Missing keys take workable defaults.
#pragma once

#include "core/HostObjects.h"

#include <QJsonObject>
#include <QString>

#include <vector>

class FileDataLockEntry : public HostDataLockEntry
{
public:
    FileDataLockEntry(qint32 value, qint32 type, QString name, qint32 number)
        : m_value(value), m_type(type), m_name(std::move(name)), m_number(number)
    {
    }
    qint32 Value() const override { return m_value; }
    qint32 DataLockType() const override { return m_type; }
    QString Name() const override { return m_name; }
    qint32 Number() const override { return m_number; }

private:
    qint32 m_value;
    qint32 m_type;
    QString m_name;
    qint32 m_number;
};

class FileHostSettings : public HostSettings
{
public:
    FileHostSettings() = default;
    // Loads `path`; false (with `error` set) when the file exists but cannot be read as JSON.
    bool load(const QString &path, QString *error = nullptr);
    bool save(const QString &path) const;
    QJsonObject toJson() const;
    void fromJson(const QJsonObject &json);

    QString AccountName() const override { return m_accountName; }
    QString LinkKey() const override { return m_linkKey; }
    qint32 LinkKeyMode() const override { return m_linkKeyMode; }
    QString RemoteHost() const override { return m_remoteHost; }
    void setRemoteHost(const QString &host) override { m_remoteHost = host; }
    bool HostDataMode() const override { return m_hostDataMode; }
    void setHostDataMode(bool remote) override { m_hostDataMode = remote; }
    QString ResponseTimeout() const override { return m_responseTimeout; }
    qint16 TimeOffsetHours() const override { return m_timeOffsetHours; }
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
    std::vector<std::shared_ptr<FileDataLockEntry>> m_dataLocks;
    std::shared_ptr<FileDataLockEntry> m_primary;
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
};
