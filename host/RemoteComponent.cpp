#include "RemoteComponent.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "server/HostExports.h"
#include "server/ServerNames.h"

#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QEventLoop>

#include <limits>

namespace {

const QString kClass = QStringLiteral("RemoteComponent");
const QString kCallbackPath = QStringLiteral("/com/norvane/Quarvo/Host/Callback");
const QString kSettingsPath = QStringLiteral("/com/norvane/Quarvo/Host/Settings");
const QString kPifPath = QStringLiteral("/com/norvane/Quarvo/Host/Pif");

// libdbus's "no time-out": a long operation replies when the operator is done.
constexpr int kNoTimeout = std::numeric_limits<int>::max();

} // namespace

RemoteComponent::RemoteComponent(QDBusConnection bus) : m_bus(std::move(bus)) {}

RemoteComponent::~RemoteComponent()
{
    for (const QString &path : {kCallbackPath, kSettingsPath, kPifPath})
        m_bus.unregisterObject(path);
}

bool RemoteComponent::connectServer(QString *why)
{
    if (!m_bus.isConnected()) {
        m_lastError = QStringLiteral("no D-Bus session bus: %1").arg(m_bus.lastError().message());
    } else {
        // Watched before the first call, so that a server which ends right after it is seen to go.
        m_serverGone = false;
        m_watcher = std::make_unique<QDBusServiceWatcher>(quarvobus::kServiceName, m_bus,
                                                          QDBusServiceWatcher::WatchForUnregistration);
        QObject::connect(m_watcher.get(), &QDBusServiceWatcher::serviceUnregistered, m_watcher.get(),
                         [this] { m_serverGone = true; });
        const QDBusMessage reply = call(QStringLiteral("GetName"));
        if (reply.type() == QDBusMessage::ReplyMessage)
            return true;
    }
    if (why)
        *why = m_lastError;
    return false;
}

QDBusMessage RemoteComponent::call(const QString &method, const QVariantList &args) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(quarvobus::kServiceName, quarvobus::kObjectPath,
                                                          quarvobus::kInterface, method);
    message.setArguments(args);
    // The server calls this process's objects before it replies: wait in the event loop.
    QDBusPendingCallWatcher watcher(m_bus.asyncCall(message, kNoTimeout));
    if (!watcher.isFinished()) {
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const QDBusMessage reply = watcher.reply();
    m_lastError = reply.type() == QDBusMessage::ReplyMessage
                      ? QString()
                      : QStringLiteral("%1: %2 (%3)").arg(method, reply.errorMessage(), reply.errorName());
    if (!m_lastError.isEmpty())
        errors::report(ErrorCode::ObjectRequired, kClass, method + QStringLiteral("()"), m_lastError);
    return reply;
}

std::int32_t RemoteComponent::result(const QString &method, const QVariantList &args)
{
    const QDBusMessage reply = call(method, args);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return ErrorCode::ObjectRequired;
    return reply.arguments().constFirst().toInt();
}

QString RemoteComponent::exportObject(const QString &path, QObject *object)
{
    m_bus.unregisterObject(path);
    if (!object)
        return quarvobus::kNoObject;
    if (!m_bus.registerObject(path, object, QDBusConnection::ExportAllContents)) {
        errors::report(ErrorCode::ObjectRequired, kClass, QStringLiteral("exportObject()"),
                       QStringLiteral("cannot export %1 on the bus").arg(path));
        return quarvobus::kNoObject;
    }
    return path;
}

QString RemoteComponent::Name() const
{
    const QDBusMessage reply = call(QStringLiteral("GetName"));
    return reply.arguments().value(0).toString();
}

void RemoteComponent::setName(const QString &name)
{
    call(QStringLiteral("SetName"), {name});
}

QString RemoteComponent::Description() const
{
    const QDBusMessage reply = call(QStringLiteral("GetDescription"));
    return reply.arguments().value(0).toString();
}

void RemoteComponent::setDescription(const QString &description)
{
    call(QStringLiteral("SetDescription"), {description});
}

std::shared_ptr<HostPif> RemoteComponent::Pif() const
{
    // The server holds the path of the object this process exported: the object is ours.
    const QDBusMessage reply = call(QStringLiteral("GetPif"));
    const QString path = qvariant_cast<QDBusObjectPath>(reply.arguments().value(0)).path();
    return path == kPifPath ? m_pif : nullptr;
}

void RemoteComponent::setPif(std::shared_ptr<HostPif> pif)
{
    m_pif = std::move(pif);
    m_pifExport.reset(m_pif ? new quarvobus::PifExport(m_pif) : nullptr);
    call(QStringLiteral("SetPif"), {QVariant::fromValue(QDBusObjectPath(exportObject(kPifPath, m_pifExport.get())))});
}

std::shared_ptr<HostSettings> RemoteComponent::Settings() const
{
    const QDBusMessage reply = call(QStringLiteral("GetSettings"));
    const QString path = qvariant_cast<QDBusObjectPath>(reply.arguments().value(0)).path();
    return path == kSettingsPath ? m_settings : nullptr;
}

void RemoteComponent::setSettings(std::shared_ptr<HostSettings> settings)
{
    m_settings = std::move(settings);
    m_settingsExport.reset(m_settings ? new quarvobus::SettingsExport(m_settings) : nullptr);
    call(QStringLiteral("SetSettings"),
         {QVariant::fromValue(QDBusObjectPath(exportObject(kSettingsPath, m_settingsExport.get())))});
}

QObject *RemoteComponent::CommControl() const
{
    call(QStringLiteral("GetCommControl"));
    return nullptr;
}

void RemoteComponent::setCommControl(QObject *)
{
    call(QStringLiteral("SetCommControl"), {QVariant::fromValue(QDBusObjectPath(quarvobus::kNoObject))});
}

std::int32_t RemoteComponent::CommStartup()
{
    return result(QStringLiteral("CommStartup"));
}

std::int32_t RemoteComponent::CommShutdown(bool &Force)
{
    return result(QStringLiteral("CommShutdown"), {Force});
}

std::int32_t RemoteComponent::DiagStartup()
{
    return result(QStringLiteral("DiagStartup"));
}

void RemoteComponent::SetCallBack(std::shared_ptr<HostCallback> &Callback)
{
    m_callback = Callback;
    m_callbackExport.reset(m_callback ? new quarvobus::CallbackExport(m_callback) : nullptr);
    call(QStringLiteral("SetCallBack"),
         {QVariant::fromValue(QDBusObjectPath(exportObject(kCallbackPath, m_callbackExport.get())))});
}

std::int32_t RemoteComponent::CommSendReceive()
{
    return result(QStringLiteral("CommSendReceive"));
}

std::int32_t RemoteComponent::HistoryStartup()
{
    return result(QStringLiteral("HistoryStartup"));
}

std::int32_t RemoteComponent::DoUnattended(std::int32_t &JobMask)
{
    return result(QStringLiteral("DoUnattended"), {JobMask});
}

void RemoteComponent::DataArrival(QByteArray &Data)
{
    call(QStringLiteral("DataArrival"), {Data});
}
