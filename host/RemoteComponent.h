// The component in another process: an IZelComm whose operations are calls to quarvo-server on the
// session bus. The host objects handed to it are exported on this process's own connection and the
// server reaches them there; every call waits for its reply in a local event loop, so those objects
// are served meanwhile, and without a time-out, since a long operation replies when the operator is
// done. A call the server refuses (another client, an operation still running) or cannot take
// (no server) returns ErrorCode::ObjectRequired; lastError() says why.
#pragma once

#include "component/IZelComm.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariantList>

#include <memory>

class QDBusServiceWatcher;
class QObject;

class RemoteComponent : public IZelComm
{
public:
    explicit RemoteComponent(QDBusConnection bus = QDBusConnection::sessionBus());
    ~RemoteComponent() override;

    // Starts the server if needed and checks that it answers; false with the reason otherwise.
    bool connectServer(QString *why = nullptr);
    // The last binding error (empty after a call that went through).
    QString lastError() const { return m_lastError; }
    // Whether the server reached by connectServer() has left the bus since (it ended, or crashed).
    bool serverGone() const { return m_serverGone; }

    QString Name() const override;
    void setName(const QString &name) override;
    QString Description() const override;
    void setDescription(const QString &description) override;
    std::shared_ptr<HostPif> Pif() const override;
    void setPif(std::shared_ptr<HostPif> pif) override;
    std::shared_ptr<HostSettings> Settings() const override;
    void setSettings(std::shared_ptr<HostSettings> settings) override;
    QObject *CommControl() const override;
    void setCommControl(QObject *control) override;
    std::int32_t CommStartup() override;
    std::int32_t CommShutdown(bool &Force) override;
    std::int32_t DiagStartup() override;
    void SetCallBack(std::shared_ptr<HostCallback> &Callback) override;
    std::int32_t CommSendReceive() override;
    std::int32_t HistoryStartup() override;
    std::int32_t DoUnattended(std::int32_t &JobMask) override;
    void DataArrival(QByteArray &Data) override;

private:
    // One call to the server; the reply, or an error message (also kept in lastError()).
    QDBusMessage call(const QString &method, const QVariantList &args = {}) const;
    std::int32_t result(const QString &method, const QVariantList &args = {});
    // Exports `object` at `path` (replacing what was there) and returns the path to hand over.
    QString exportObject(const QString &path, QObject *object);

    QDBusConnection m_bus;
    mutable QString m_lastError;
    std::shared_ptr<HostPif> m_pif;
    std::shared_ptr<HostSettings> m_settings;
    std::shared_ptr<HostCallback> m_callback;
    std::unique_ptr<QObject> m_pifExport;
    std::unique_ptr<QObject> m_settingsExport;
    std::unique_ptr<QObject> m_callbackExport;
    std::unique_ptr<QDBusServiceWatcher> m_watcher;
    bool m_serverGone = false;
};
