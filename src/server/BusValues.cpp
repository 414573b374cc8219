#include "server/BusValues.h"

#include "core/Variant.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDateTime>

namespace quarvobus {

namespace {

QVariant plain(const QVariant &value)
{
    if (isMissing(value))
        return QVariant::fromValue(QVariantList{});
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Bool:
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return value;
    case QMetaType::UShort:
        return QVariant::fromValue<int>(value.toInt());
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return QVariant::fromValue<short>(static_cast<short>(value.toInt()));
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return QVariant::fromValue<qlonglong>(value.toLongLong());
    case QMetaType::QDateTime:
        return value.toDateTime().toString(Qt::ISODate);
    case QMetaType::QVariantList: {
        QVariantList out;
        for (const QVariant &element : value.toList())
            out.append(plain(element));
        return QVariant::fromValue(out);
    }
    default:
        break;
    }
    if (!value.isValid())
        return QVariant::fromValue(QVariantList{});
    return value.toString();
}

} // namespace

QDBusVariant toBus(const QVariant &value)
{
    return QDBusVariant(plain(value));
}

QVariant fromBus(const QVariant &received)
{
    QVariant value = received;
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = qvariant_cast<QDBusVariant>(value).variant();
    if (value.metaType() != QMetaType::fromType<QDBusArgument>())
        return value;
    const QDBusArgument argument = qvariant_cast<QDBusArgument>(value);
    if (argument.currentSignature() == QLatin1String("av")) {
        QVariantList list;
        argument.beginArray();
        while (!argument.atEnd()) {
            QDBusVariant element;
            argument >> element;
            list.append(fromBus(element.variant()));
        }
        argument.endArray();
        return list.isEmpty() ? missingArgument() : QVariant(list);
    }
    if (argument.currentSignature() == QLatin1String("ay")) {
        QByteArray bytes;
        argument >> bytes;
        return bytes;
    }
    return value;
}

} // namespace quarvobus
