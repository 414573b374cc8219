// The component on the session bus: one object whose methods are the host-facing operations, in
// their order. It serves one client at a time (the first that hands over an object or starts an
// operation) until that client leaves the bus; a client that vanishes mid-session has its session
// ended as a forced shutdown ends it (goodbye to the panel, records freed). With no client and no
// session for the idle time, the service says so (idle()) and the program ends.
//
// Long operations (CommStartup, CommShutdown, CommSendReceive, HistoryStartup, DoUnattended) reply
// late: the call's reply goes out when the operation returns, which may be minutes later while the
// operator works in a window. Meanwhile the event loop keeps serving the bus, so the client's
// DataArrival, CommShutdown(Force) and property calls are served; a second long operation is
// refused with com.norvane.Quarvo.Error.OperationRunning.
#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QDBusServiceWatcher;

namespace Timing {
class Deadline;
}
class clsCommunication;

namespace quarvobus {

class ClientLink;

class ZelCommService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.norvane.Quarvo.ZelComm")

public:
    ZelCommService(QDBusConnection bus, int idleMs, QObject *parent = nullptr);
    ~ZelCommService() override;

    // Ends whatever session runs (the bus went away, or the program ends).
    void shutDown();

    QString client() const { return m_client; }

signals:
    // No client and no session for the idle time.
    void idle();

public slots:
    QString GetName();                                          // 1
    void SetName(const QString &Name);                          // 2
    QString GetDescription();                                   // 3
    void SetDescription(const QString &Description);            // 4
    QDBusObjectPath GetPif();                                   // 5
    void SetPif(const QDBusObjectPath &Pif);                    // 6
    QDBusObjectPath GetSettings();                              // 7
    void SetSettings(const QDBusObjectPath &Settings);          // 8
    QDBusObjectPath GetCommControl();                           // 9
    void SetCommControl(const QDBusObjectPath &CommControl);    // 10
    int CommStartup();                                          // 11
    int CommShutdown(bool Force);                               // 12
    int DiagStartup();                                          // 13
    void SetCallBack(const QDBusObjectPath &Callback);          // 14
    int CommSendReceive();                                      // 15
    int HistoryStartup();                                       // 16
    int DoUnattended(int JobMask);                              // 17
    void DataArrival(const QByteArray &Data);                   // 18

private:
    // Whether the caller may go on (it is the client served, or there is none yet and it becomes
    // it); refuses it on the bus otherwise. The name, description and control calls, which touch no
    // session, skip it and answer anyone.
    bool admit();
    // Runs a long operation with a late reply (or refuses it while another one runs).
    void runLong(const QString &name, const std::function<int()> &body);
    void clientGone();
    void finishEnding();
    void closeOperatorWindows();
    void releaseClient();
    void checkIdle();

    QDBusConnection m_bus;
    QString m_client;               // unique name of the client served, empty when none
    std::shared_ptr<ClientLink> m_link;
    std::unique_ptr<clsCommunication> m_component;
    QDBusServiceWatcher *m_watcher = nullptr;
    QString m_pifPath = QStringLiteral("/");
    QString m_settingsPath = QStringLiteral("/");
    QString m_running;              // the long operation under way, empty when none
    bool m_ending = false;          // the session of a vanished client is being ended
    QTimer m_idle;
    QTimer m_endWatch;
    std::unique_ptr<Timing::Deadline> m_goodbye; // the panel's goodbye after the client left
    std::unique_ptr<Timing::Deadline> m_closing; // the windows of a running operation
};

} // namespace quarvobus
