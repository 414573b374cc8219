// The client's half of the binding: the host's objects exported on the client's own connection,
// as the server's adapters (RemoteHostObjects.h) call them. A C++ client registers these with
// QDBusConnection::registerObject(path, object, QDBusConnection::ExportAllContents) and hands the
// paths to the server.
#pragma once

#include "core/HostObjects.h"

#include <QByteArray>
#include <QDBusContext>
#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace quarvobus {

class CallbackExport : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.norvane.Quarvo.Host.Callback")

public:
    explicit CallbackExport(std::shared_ptr<HostCallback> callback, QObject *parent = nullptr)
        : QObject(parent), m_callback(std::move(callback))
    {
    }

public slots:
    void ZelCommEvent(int code, const QDBusVariant &data, const QStringList &source);

private:
    std::shared_ptr<HostCallback> m_callback;
};

class SettingsExport : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.norvane.Quarvo.Host.Settings")
    Q_PROPERTY(QString AccountName READ AccountName)
    Q_PROPERTY(QString LinkKey READ LinkKey)
    Q_PROPERTY(int LinkKeyMode READ LinkKeyMode)
    Q_PROPERTY(QString RemoteHost READ RemoteHost WRITE setRemoteHost)
    Q_PROPERTY(bool HostDataMode READ HostDataMode WRITE setHostDataMode)
    Q_PROPERTY(QString ResponseTimeout READ ResponseTimeout)
    Q_PROPERTY(short TimeOffsetHours READ TimeOffsetHours)
    Q_PROPERTY(int PanelType READ PanelType)
    Q_PROPERTY(int DataLockCount READ DataLockCount)
    Q_PROPERTY(short DataBits READ DataBits)
    Q_PROPERTY(QString Parity READ Parity)
    Q_PROPERTY(short StopBits READ StopBits)
    Q_PROPERTY(QString PostDialString READ PostDialString)
    Q_PROPERTY(QString ResetCmd READ ResetCmd)
    Q_PROPERTY(QString PanelName READ PanelName)
    Q_PROPERTY(int BaudRate READ BaudRate)
    Q_PROPERTY(short ComPort READ ComPort)
    Q_PROPERTY(QString InitString READ InitString)
    Q_PROPERTY(QString PanelPhone READ PanelPhone)
    Q_PROPERTY(QString VoicePhone READ VoicePhone)
    Q_PROPERTY(QString Passcode READ Passcode)
    Q_PROPERTY(QString PanelPort READ PanelPort)
    Q_PROPERTY(short ExpectedPanelStatus READ ExpectedPanelStatus)

public:
    explicit SettingsExport(std::shared_ptr<HostSettings> settings, QObject *parent = nullptr)
        : QObject(parent), m_s(std::move(settings))
    {
    }

    QString AccountName() const { return m_s->AccountName(); }
    QString LinkKey() const { return m_s->LinkKey(); }
    int LinkKeyMode() const { return m_s->LinkKeyMode(); }
    QString RemoteHost() const { return m_s->RemoteHost(); }
    void setRemoteHost(const QString &host) { m_s->setRemoteHost(host); }
    bool HostDataMode() const { return m_s->HostDataMode(); }
    void setHostDataMode(bool remote) { m_s->setHostDataMode(remote); }
    QString ResponseTimeout() const { return m_s->ResponseTimeout(); }
    short TimeOffsetHours() const { return m_s->TimeOffsetHours(); }
    int PanelType() const { return m_s->PanelType(); }
    int DataLockCount() const { return m_s->dataLockCount(); }
    short DataBits() const { return m_s->DataBits(); }
    QString Parity() const { return m_s->Parity(); }
    short StopBits() const { return m_s->StopBits(); }
    QString PostDialString() const { return m_s->PostDialString(); }
    QString ResetCmd() const { return m_s->ResetCmd(); }
    QString PanelName() const { return m_s->PanelName(); }
    int BaudRate() const { return m_s->BaudRate(); }
    short ComPort() const { return m_s->ComPort(); }
    QString InitString() const { return m_s->InitString(); }
    QString PanelPhone() const { return m_s->PanelPhone(); }
    QString VoicePhone() const { return m_s->VoicePhone(); }
    QString Passcode() const { return m_s->Passcode(); }
    QString PanelPort() const { return m_s->PanelPort(); }
    short ExpectedPanelStatus() const { return m_s->ExpectedPanelStatus(); }

public slots:
    bool DataLock(int position, int &Value, int &DataLockType, QString &Name, int &Number);
    bool DataLockByKey(const QString &key, int &Value, int &DataLockType, QString &Name, int &Number);

private:
    std::shared_ptr<HostSettings> m_s;
};

class PifExport : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.norvane.Quarvo.Host.Pif")

public:
    explicit PifExport(std::shared_ptr<HostPif> pif, QObject *parent = nullptr) : QObject(parent), m_pif(std::move(pif)) {}

public slots:
    bool Item(const QString &key, short &SISize, short &NofSubItems);
    int Locate(short item, int startRecord);
    QByteArray Read(int location, int length);
    void Write(const QByteArray &data, int location);
    int QueryConnectionType(int arg1, int arg2, int arg3);
    int AcceptDataLock(int dataLock, int arg1, int arg2, int arg3, int &newDataLock);
    void TakeTransferFile(const QString &path);
    void FinishSend();
    QString Passcode();

private:
    std::shared_ptr<HostPif> m_pif;
};

} // namespace quarvobus
