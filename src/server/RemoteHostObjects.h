// The host's objects as the server reaches them: each adapter implements the component's host
// interface by calling the object a client exported on its own connection. Every call blocks until
// the client answers (the component reads and writes host data synchronously, as in process, and
// the calls of one connection reach the client in the order they are made); a client that does not
// answer within kHostCallTimeoutMs, answers with an error, or has gone raises ObjectRequired, which
// the component's own error handling reports. A call that fails in any way while the client's name
// has left the bus marks the client gone.
#pragma once

#include "core/HostObjects.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QString>
#include <QVariantList>

#include <memory>

namespace quarvobus {

// Bounded wait for one call into the client (milliseconds).
constexpr int kHostCallTimeoutMs = 25000;

// The connection to one client: its unique bus name, and whether it is still there.
class ClientLink
{
public:
    ClientLink(QDBusConnection bus, QString client) : m_bus(std::move(bus)), m_client(std::move(client)) {}

    const QString &client() const { return m_client; }
    // After this every call fails at once, without traffic.
    void markGone() { m_gone = true; }
    bool gone() const { return m_gone; }

    // Calls `method` of `interface` on the client's object `path`; returns the reply's arguments.
    QVariantList call(const QString &path, const QString &interface, const QString &method, const QVariantList &args);

    // One property of the client's object (org.freedesktop.DBus.Properties).
    QVariant property(const QString &path, const QString &interface, const QString &name);
    void setProperty(const QString &path, const QString &interface, const QString &name, const QVariant &value);

private:
    // Whether the client's unique name is still on the bus (asked of the bus itself).
    bool stillOnBus() const;

    QDBusConnection m_bus;
    QString m_client;
    bool m_gone = false;
};

class RemoteCallback : public HostCallback
{
public:
    RemoteCallback(std::shared_ptr<ClientLink> link, QString path) : m_link(std::move(link)), m_path(std::move(path)) {}
    void ZelCommEvent(qint32 &code, const QVariant &data, const std::optional<QString> &source) override;

private:
    std::shared_ptr<ClientLink> m_link;
    QString m_path;
};

class RemoteSettings : public HostSettings
{
public:
    RemoteSettings(std::shared_ptr<ClientLink> link, QString path) : m_link(std::move(link)), m_path(std::move(path)) {}
    const QString &path() const { return m_path; }

    QString AccountName() const override { return text("AccountName"); }
    QString LinkKey() const override { return text("LinkKey"); }
    qint32 LinkKeyMode() const override { return integer("LinkKeyMode"); }
    QString RemoteHost() const override { return text("RemoteHost"); }
    void setRemoteHost(const QString &host) override;
    bool HostDataMode() const override;
    void setHostDataMode(bool remote) override;
    QString ResponseTimeout() const override { return text("ResponseTimeout"); }
    qint16 TimeOffsetHours() const override { return short16("TimeOffsetHours"); }
    qint32 PanelType() const override { return integer("PanelType"); }
    int dataLockCount() const override { return integer("DataLockCount"); }
    std::shared_ptr<HostDataLockEntry> dataLock(int position) const override;
    std::shared_ptr<HostDataLockEntry> dataLockByKey(const QString &key) const override;
    qint16 DataBits() const override { return short16("DataBits"); }
    QString Parity() const override { return text("Parity"); }
    qint16 StopBits() const override { return short16("StopBits"); }
    QString PostDialString() const override { return text("PostDialString"); }
    QString ResetCmd() const override { return text("ResetCmd"); }
    QString PanelName() const override { return text("PanelName"); }
    qint32 BaudRate() const override { return integer("BaudRate"); }
    qint16 ComPort() const override { return short16("ComPort"); }
    QString InitString() const override { return text("InitString"); }
    QString PanelPhone() const override { return text("PanelPhone"); }
    QString VoicePhone() const override { return text("VoicePhone"); }
    QString Passcode() const override { return text("Passcode"); }
    QString PanelPort() const override { return text("PanelPort"); }
    qint16 ExpectedPanelStatus() const override { return short16("ExpectedPanelStatus"); }

private:
    QVariant value(const char *name) const;
    QString text(const char *name) const;
    qint32 integer(const char *name) const;
    qint16 short16(const char *name) const;
    std::shared_ptr<HostDataLockEntry> entry(const QVariantList &reply) const;

    std::shared_ptr<ClientLink> m_link;
    QString m_path;
    mutable QHash<QString, QVariant> m_known; // the values the client gave last
};

class RemotePif : public HostPif
{
public:
    RemotePif(std::shared_ptr<ClientLink> link, QString path) : m_link(std::move(link)), m_path(std::move(path)) {}
    const QString &path() const { return m_path; }

    std::shared_ptr<HostPifItem> Item(const QString &key) const override;
    qint32 locate(qint16 item, qint32 startRecord) const override;
    void read(QByteArray &buffer, qint32 location) const override;
    void write(const QByteArray &buffer, qint32 location) override;
    std::optional<qint32> queryConnectionType(qint32 arg1, qint32 arg2, qint32 arg3) const override;
    qint32 acceptDataLock(qint32 &dataLock, qint32 arg1, qint32 arg2, qint32 arg3) override;
    void takeTransferFile(const QString &path) override;
    void finishSend() override;
    QString Passcode() const override;

private:
    QVariantList call(const char *method, const QVariantList &args = {}) const;

    std::shared_ptr<ClientLink> m_link;
    QString m_path;
};

} // namespace quarvobus
