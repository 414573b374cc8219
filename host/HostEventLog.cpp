#include "HostEventLog.h"

#include "HistoryRecords.h"

#include "core/Variant.h"

#include <QDateTime>
#include <QFileDevice>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

QJsonValue jsonOf(const QVariant &v)
{
    if (isMissing(v) || !v.isValid() || v.isNull())
        return QJsonValue::Null;
    switch (v.typeId()) {
    case QMetaType::QByteArray:
        return QString::fromLatin1(v.toByteArray().toHex());
    case QMetaType::QVariantList: {
        QJsonArray out;
        for (const QVariant &e : v.toList())
            out.append(jsonOf(e));
        return out;
    }
    case QMetaType::QDateTime:
        return v.toDateTime().toString(Qt::ISODate);
    case QMetaType::QDate:
        return v.toDate().toString(Qt::ISODate);
    case QMetaType::Bool:
        return v.toBool();
    case QMetaType::QString:
        return v.toString();
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return v.toDouble();
    default:
        break;
    }
    return v.toString();
}

} // namespace

QJsonObject HostEventLog::toJson(const Event &event)
{
    QJsonObject o;
    o.insert(QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    o.insert(QStringLiteral("code"), event.code);
    if (event.code == 13 && event.data.typeId() == QMetaType::QByteArray) {
        const QByteArray block = event.data.toByteArray();
        o.insert(QStringLiteral("bytes"), QString::fromLatin1(block.toHex()));
        o.insert(QStringLiteral("slots"), history::slotsOf(block));
    } else {
        const QJsonValue data = jsonOf(event.data);
        o.insert(QStringLiteral("data"), data);
        if (event.code == 5 && data.isArray())
            o.insert(QStringLiteral("tag"), data.toArray().at(0));
    }
    o.insert(QStringLiteral("source"), event.source ? QJsonValue(*event.source) : QJsonValue(QJsonValue::Null));
    return o;
}

void HostEventLog::writeLine(QIODevice *device, const QJsonObject &object)
{
    if (!device)
        return;
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    if (device->write(line) != line.size())
        m_writeFailed = true;
    if (auto *file = qobject_cast<QFileDevice *>(device); file && !file->flush())
        m_writeFailed = true;
}

void HostEventLog::ZelCommEvent(qint32 &code, const QVariant &data, const std::optional<QString> &source)
{
    m_events.push_back({code, data, source});
    const Event &event = m_events.back();
    if (beforeLine)
        beforeLine();
    writeLine(m_out, toJson(event));
    if (code == 3)
        m_ending = data.toString();
    if (code == 5) {
        const QVariantList list = data.toList();
        if (list.value(0).toString() == QLatin1String("HISTORY_END"))
            m_historyEnd = list.value(1).toInt();
        else if (list.value(0).toString() == QLatin1String("HISTORY_CURRENT") || list.value(0).toString() == QLatin1String("HISTORY_ALL"))
            m_historySlots = 0; // a new retrieval counts its slots afresh
    }
    if (code == 13 && data.typeId() == QMetaType::QByteArray) {
        const QByteArray block = data.toByteArray();
        const QString when = QDateTime::currentDateTime().toString(Qt::ISODate);
        for (QJsonObject record : history::decodeBlock(block, m_historySlots)) {
            record.insert(QStringLiteral("time"), when);
            if (source)
                record.insert(QStringLiteral("account"), *source);
            writeLine(m_history, record);
            ++m_historyRecords;
        }
        m_historySlots += history::slotsOf(block);
        ++m_historyBlocks;
    }
    if (onEvent)
        onEvent(event);
}

QStringList HostEventLog::tags() const
{
    QStringList out;
    for (const Event &e : m_events)
        if (e.code == 5)
            out << e.data.toList().value(0).toString();
    return out;
}

QString HostEventLog::panelRevision() const
{
    for (auto it = m_events.rbegin(); it != m_events.rend(); ++it) {
        const QVariantList list = it->data.toList();
        if (it->code == 5 && list.value(0).toString() == QLatin1String("GET_REV"))
            return list.value(1).toString();
    }
    return QString();
}
