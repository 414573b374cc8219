#include "server/ServerApp.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "server/ServerNames.h"
#include "server/ZelCommService.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnectionInterface>
#include <QTextStream>
#include <QTimer>

namespace quarvobus {

namespace {

// How often the server looks whether its bus is still there (milliseconds).
constexpr int kBusCheckMs = 1000;

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

// The bus that started the server, or else the session bus.
QDBusConnection connectBus()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_STARTER_ADDRESS"))
        return QDBusConnection::connectToBus(QDBusConnection::ActivationBus, QStringLiteral("quarvo-server"));
    return QDBusConnection::sessionBus();
}

} // namespace

void reportEscapedError(const std::exception *e)
{
    if (e)
        errors::report(errors::numberOf(*e), QStringLiteral("quarvo-server"), QStringLiteral("notify()"),
                       QString::fromUtf8(e->what()));
    else
        errors::report(ErrorCode::ObjectRequired, QStringLiteral("quarvo-server"), QStringLiteral("notify()"),
                       QStringLiteral("an error of unknown kind"));
}

int runServer(QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Quarvo communication server on the D-Bus session bus.\n\n"
        "Owns the name %1 and exports the object %2 with the interface %3.\n"
        "The bus starts it on the first call (activation); it serves one client and its session, and\n"
        "ends once it has had no client for the idle time.")
                                         .arg(kServiceName, kObjectPath, kInterface));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("idle-timeout"),
                      QStringLiteral("End after this many milliseconds without a client (default %1, or "
                                     "QUARVO_SERVER_IDLE_MS).")
                          .arg(kDefaultIdleMs),
                      QStringLiteral("ms")});
    parser.process(app);

    int idleMs = kDefaultIdleMs;
    bool ok = true;
    if (parser.isSet(QStringLiteral("idle-timeout")))
        idleMs = parser.value(QStringLiteral("idle-timeout")).toInt(&ok);
    else if (!qEnvironmentVariableIsEmpty("QUARVO_SERVER_IDLE_MS"))
        idleMs = qEnvironmentVariable("QUARVO_SERVER_IDLE_MS").toInt(&ok);
    if (!ok || idleMs < 0) {
        err() << "quarvo-server: the idle time must be a number of milliseconds, 0 or more" << Qt::endl;
        return 2;
    }

    QDBusConnection bus = connectBus();
    if (!bus.isConnected()) {
        err() << "quarvo-server: no D-Bus session bus: " << bus.lastError().message() << Qt::endl;
        return 1;
    }
    ZelCommService service(bus, idleMs);
    if (!bus.registerObject(kObjectPath, &service, QDBusConnection::ExportAllSlots)) {
        err() << "quarvo-server: cannot export " << kObjectPath << Qt::endl;
        return 1;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> owned =
        bus.interface()->registerService(kServiceName, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!owned.isValid() || owned.value() != QDBusConnectionInterface::ServiceRegistered) {
        err() << "quarvo-server: the name " << kServiceName << " is owned by another process already" << Qt::endl;
        return 1;
    }
    QObject::connect(&service, &ZelCommService::idle, &app, [] { QCoreApplication::exit(0); });

    // Without its bus the server has no client: the session ends as if the client had left.
    QTimer busCheck;
    busCheck.setInterval(kBusCheckMs);
    QObject::connect(&busCheck, &QTimer::timeout, [&] {
        if (bus.isConnected())
            return;
        busCheck.stop();
        service.shutDown();
    });
    busCheck.start();

    const int status = app.exec();
    bus.unregisterService(kServiceName);
    bus.unregisterObject(kObjectPath);
    return status;
}

} // namespace quarvobus
