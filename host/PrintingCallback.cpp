#include "PrintingCallback.h"

#include "core/Variant.h"

namespace {
QString describeValue(const QVariant &v)
{
    if (isMissing(v))
        return QStringLiteral("<missing>");
    if (v.typeId() == QMetaType::QByteArray)
        return QStringLiteral("bytes[%1] %2").arg(v.toByteArray().size()).arg(QString::fromLatin1(v.toByteArray().toHex(' ')));
    if (v.typeId() == QMetaType::QVariantList) {
        QStringList parts;
        for (const QVariant &e : v.toList())
            parts << describeValue(e);
        return QLatin1Char('(') + parts.join(QStringLiteral(", ")) + QLatin1Char(')');
    }
    return v.toString();
}
} // namespace

void PrintingCallback::ZelCommEvent(qint32 &code, const QVariant &data, const std::optional<QString> &source)
{
    m_events.push_back({code, data, source});
    m_out << "host event " << describe(m_events.back()) << Qt::endl;
}

QString PrintingCallback::describe(const Event &event)
{
    QString text = QStringLiteral("%1: %2").arg(event.code).arg(describeValue(event.data));
    if (event.source)
        text += QStringLiteral(" (source %1)").arg(*event.source);
    return text;
}
