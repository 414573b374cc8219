#include "PanelTimeZone.h"

#include <QTimeZone>

namespace paneltime {

namespace {

QString offsetText(int seconds)
{
    const int minutes = std::abs(seconds) / 60;
    return QStringLiteral("UTC%1%2:%3")
        .arg(seconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

bool knownZone(const QString &name)
{
    return !name.isEmpty() && QTimeZone::isTimeZoneIdAvailable(name.toUtf8());
}

std::optional<QDateTime> offsetMoment(QString *error)
{
    const QString text = qEnvironmentVariable("QUARVO_CLOCK_MOMENT").trimmed();
    if (text.isEmpty())
        return QDateTime::currentDateTimeUtc();
    const QDateTime moment = QDateTime::fromString(text, Qt::ISODate);
    if (!moment.isValid() || moment.timeSpec() == Qt::LocalTime) {
        if (error)
            *error = QStringLiteral("QUARVO_CLOCK_MOMENT \"%1\" is not an ISO 8601 moment with a zone (e.g. 2026-03-08T06:30:00Z)")
                         .arg(text);
        return std::nullopt;
    }
    return moment.toUTC();
}

std::optional<int> hoursFor(const QString &zone, const QDateTime &moment, QString *error)
{
    if (!knownZone(zone)) {
        if (error)
            *error = QStringLiteral("TimeZone \"%1\" is not a time zone this computer knows (an IANA name such as Europe/Berlin)")
                         .arg(zone);
        return std::nullopt;
    }
    const QTimeZone panelZone(zone.toUtf8());
    const int panelOffset = panelZone.offsetFromUtc(moment);
    const int localOffset = moment.toLocalTime().offsetFromUtc();
    const int difference = panelOffset - localOffset;
    if (difference % 3600 != 0) {
        if (error)
            *error = QStringLiteral("TimeZone \"%1\" is %2 at %3 and this computer's time %4: the panel clock can only be "
                                    "shifted by whole hours, so the clock job cannot set it")
                         .arg(zone, offsetText(panelOffset), moment.toUTC().toString(Qt::ISODate), offsetText(localOffset));
        return std::nullopt;
    }
    return difference / 3600;
}

} // namespace paneltime
