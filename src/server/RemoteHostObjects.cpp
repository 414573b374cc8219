#include "server/RemoteHostObjects.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "server/BusValues.h"
#include "server/ServerNames.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDBusVariant>

namespace quarvobus {

namespace {

const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// A number from whatever integer (or Boolean, or numeric text) the client sent.
qint64 number(const QVariant &value, const QString &what)
{
    bool ok = false;
    const qint64 n = value.toLongLong(&ok);
    if (!ok && value.metaType().id() != QMetaType::Bool)
        raiseError(ErrorCode::TypeMismatch, QStringLiteral("%1: not a number").arg(what));
    return value.metaType().id() == QMetaType::Bool ? (value.toBool() ? 1 : 0) : n;
}

QVariant argumentAt(const QVariantList &reply, int index, const QString &what)
{
    if (index >= reply.size())
        raiseError(ErrorCode::TypeMismatch, QStringLiteral("%1: the client's reply is short").arg(what));
    return fromBus(reply.at(index));
}

} // namespace

QVariantList ClientLink::call(const QString &path, const QString &interface, const QString &method, const QVariantList &args)
{
    const QString what = interface + QLatin1Char('.') + method;
    if (m_gone)
        raiseError(ErrorCode::ObjectRequired, QStringLiteral("%1: the client %2 has gone").arg(what, m_client));
    QDBusMessage message = QDBusMessage::createMethodCall(m_client, path, interface, method);
    message.setArguments(args);
    const QDBusMessage reply = m_bus.call(message, QDBus::Block, kHostCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage && !m_gone) {
        // A unique name that no longer exists is never given out again: the client has left the
        // bus (the bus's own notice of it may still be on its way). What the failed call says
        // does not decide it: a client that leaves while the call waits gives NoReply, one that
        // leaves before it arrives ServiceUnknown; the bus is asked whenever a call fails.
        m_gone = reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
                 || reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")
                 || !stillOnBus();
    }
    if (reply.type() != QDBusMessage::ReplyMessage)
        raiseError(ErrorCode::ObjectRequired,
                   QStringLiteral("%1 on %2%3: %4 (%5)").arg(what, m_client, path, reply.errorMessage(), reply.errorName()));
    return reply.arguments();
}

bool ClientLink::stillOnBus() const
{
    const QDBusConnectionInterface *bus = m_bus.interface();
    if (!bus)
        return false;
    const QDBusReply<bool> registered = bus->isServiceRegistered(m_client);
    // Without an answer from the bus itself there is no telling: the client is taken as present.
    return !registered.isValid() || registered.value();
}

QVariant ClientLink::property(const QString &path, const QString &interface, const QString &name)
{
    const QVariantList reply = call(path, kProperties, QStringLiteral("Get"), {interface, name});
    return argumentAt(reply, 0, interface + QLatin1Char('.') + name);
}

void ClientLink::setProperty(const QString &path, const QString &interface, const QString &name, const QVariant &value)
{
    call(path, kProperties, QStringLiteral("Set"), {interface, name, QVariant::fromValue(QDBusVariant(value))});
}

void RemoteCallback::ZelCommEvent(qint32 &code, const QVariant &data, const std::optional<QString> &source)
{
    const QStringList sources = source ? QStringList{*source} : QStringList{};
    m_link->call(m_path, kCallbackInterface, QStringLiteral("ZelCommEvent"),
                 {code, QVariant::fromValue(toBus(data)), sources});
}

QVariant RemoteSettings::value(const char *name) const
{
    const QString key = QString::fromLatin1(name);
    try {
        const QVariant v = m_link->property(m_path, kSettingsInterface, key);
        m_known.insert(key, v);
        return v;
    } catch (const QuarvoError &) {
        // Once the client has gone, the session still ends in order (the goodbye is addressed by
        // HostDataMode, for one): what the client last said stands.
        if (m_link->gone() && m_known.contains(key))
            return m_known.value(key);
        throw;
    }
}

QString RemoteSettings::text(const char *name) const
{
    return value(name).toString();
}

qint32 RemoteSettings::integer(const char *name) const
{
    return static_cast<qint32>(number(value(name), QString::fromLatin1(name)));
}

qint16 RemoteSettings::short16(const char *name) const
{
    return static_cast<qint16>(number(value(name), QString::fromLatin1(name)));
}

void RemoteSettings::setRemoteHost(const QString &host)
{
    m_known.insert(QStringLiteral("RemoteHost"), host);
    m_link->setProperty(m_path, kSettingsInterface, QStringLiteral("RemoteHost"), host);
}

bool RemoteSettings::HostDataMode() const
{
    return number(value("HostDataMode"), QStringLiteral("HostDataMode")) != 0;
}

void RemoteSettings::setHostDataMode(bool remote)
{
    m_known.insert(QStringLiteral("HostDataMode"), remote);
    m_link->setProperty(m_path, kSettingsInterface, QStringLiteral("HostDataMode"), remote);
}

std::shared_ptr<HostDataLockEntry> RemoteSettings::entry(const QVariantList &reply) const
{
    const QString what = QStringLiteral("DataLock");
    if (number(argumentAt(reply, 0, what), what) == 0)
        return nullptr;
    return std::make_shared<HostDataLockValues>(static_cast<qint32>(number(argumentAt(reply, 1, what), what)),
                                            static_cast<qint32>(number(argumentAt(reply, 2, what), what)),
                                            argumentAt(reply, 3, what).toString(),
                                            static_cast<qint32>(number(argumentAt(reply, 4, what), what)));
}

std::shared_ptr<HostDataLockEntry> RemoteSettings::dataLock(int position) const
{
    return entry(m_link->call(m_path, kSettingsInterface, QStringLiteral("DataLock"), {position}));
}

std::shared_ptr<HostDataLockEntry> RemoteSettings::dataLockByKey(const QString &key) const
{
    return entry(m_link->call(m_path, kSettingsInterface, QStringLiteral("DataLockByKey"), {key}));
}

QVariantList RemotePif::call(const char *method, const QVariantList &args) const
{
    return m_link->call(m_path, kPifInterface, QString::fromLatin1(method), args);
}

std::shared_ptr<HostPifItem> RemotePif::Item(const QString &key) const
{
    const QVariantList reply = call("Item", {key});
    const QString what = QStringLiteral("Item");
    if (number(argumentAt(reply, 0, what), what) == 0)
        return nullptr;
    return std::make_shared<HostPifItemValues>(static_cast<qint16>(number(argumentAt(reply, 1, what), what)),
                                           static_cast<qint16>(number(argumentAt(reply, 2, what), what)));
}

qint32 RemotePif::locate(qint16 item, qint32 startRecord) const
{
    const QString what = QStringLiteral("Locate");
    return static_cast<qint32>(number(argumentAt(call("Locate", {QVariant::fromValue<short>(item), startRecord}), 0, what), what));
}

void RemotePif::read(QByteArray &buffer, qint32 location) const
{
    // The buffer's size says how much to read; a shorter answer leaves the rest as it was, and a
    // longer one is cut to the buffer.
    const QByteArray data = argumentAt(call("Read", {location, static_cast<qint32>(buffer.size())}), 0,
                                       QStringLiteral("Read"))
                                .toByteArray();
    std::copy_n(data.constData(), std::min(data.size(), buffer.size()), buffer.data());
}

void RemotePif::write(const QByteArray &buffer, qint32 location)
{
    call("Write", {buffer, location});
}

std::optional<qint32> RemotePif::queryConnectionType(qint32 arg1, qint32 arg2, qint32 arg3) const
{
    // The host's query failing (an error reply) is the failure the component looks for.
    try {
        const QString what = QStringLiteral("QueryConnectionType");
        return static_cast<qint32>(number(argumentAt(call("QueryConnectionType", {arg1, arg2, arg3}), 0, what), what));
    } catch (const QuarvoError &) {
        return std::nullopt;
    }
}

qint32 RemotePif::acceptDataLock(qint32 &dataLock, qint32 arg1, qint32 arg2, qint32 arg3)
{
    const QVariantList reply = call("AcceptDataLock", {dataLock, arg1, arg2, arg3});
    const QString what = QStringLiteral("AcceptDataLock");
    const qint32 result = static_cast<qint32>(number(argumentAt(reply, 0, what), what));
    dataLock = static_cast<qint32>(number(argumentAt(reply, 1, what), what));
    return result;
}

void RemotePif::takeTransferFile(const QString &path)
{
    call("TakeTransferFile", {path});
}

void RemotePif::finishSend()
{
    call("FinishSend");
}

QString RemotePif::Passcode() const
{
    return argumentAt(call("Passcode"), 0, QStringLiteral("Passcode")).toString();
}

} // namespace quarvobus
