#include "SessionOutcome.h"

#include "core/ErrorCodes.h"

#include <QJsonDocument>
#include <QMap>
#include <QRegularExpression>

namespace outcome {

std::optional<qint64> errorNumberIn(const QString &line)
{
    static const QRegularExpression number(QStringLiteral("\\b0x(8004[0-9a-fA-F]{4})\\b"));
    const QRegularExpressionMatch m = number.match(line);
    if (!m.hasMatch())
        return std::nullopt;
    return static_cast<qint64>(m.captured(1).toUInt(nullptr, 16));
}

Outcome classify(const ChildEnd &end)
{
    Outcome o;
    o.errorNumber = errorNumberIn(end.finalLine);
    o.errorText = end.finalLine;
    if (end.stoppedByRunner && !(end.exitStatus == 0 && !end.crashed)) {
        o.kind = end.overTime ? Kind::Retry : Kind::Aborted;
        o.result = end.overTime ? QStringLiteral("failed") : QStringLiteral("aborted");
        if (end.overTime)
            o.errorText = QStringLiteral("the session did not end in time and was stopped; ") + end.finalLine;
        else if (o.errorText.isEmpty())
            o.errorText = QStringLiteral("stopped when the runner was asked to end");
        return o;
    }
    if (end.crashed) {
        o.kind = Kind::Retry;
        o.result = QStringLiteral("failed");
        o.errorText = QStringLiteral("quarvo-host ended abnormally (no result); ") + end.finalLine;
        return o;
    }
    switch (end.exitStatus) {
    case 0:
        o.kind = Kind::Success;
        o.result = QStringLiteral("success");
        o.errorText.clear();
        return o;
    case 2:
        // Settings quarvo-host would not take (a time zone it cannot write, a bad data file...):
        // nothing reached the panel and another attempt would say the same.
        o.kind = Kind::Refused;
        o.result = QStringLiteral("refused");
        return o;
    case 3:
        // Aborted without the runner asking: quarvo-host's own time limit.
        o.kind = Kind::Retry;
        o.result = QStringLiteral("failed");
        return o;
    default:
        break;
    }
    if (end.exitStatus >= 128) {
        // quarvo-host was ended by a signal someone else sent; the panel had its goodbye.
        o.kind = Kind::Aborted;
        o.result = QStringLiteral("aborted");
        return o;
    }
    o.result = QStringLiteral("failed");
    o.kind = Kind::Retry;
    if (o.errorNumber) {
        switch (static_cast<std::int32_t>(static_cast<quint32>(*o.errorNumber))) {
        case ErrorCode::PasscodeFailed:
        case ErrorCode::DataLockMismatch:
        case ErrorCode::PanelStatusMismatch:
        case ErrorCode::SendRefused:
        case ErrorCode::Aborted: // in an unattended session: the panel refused a write
        case ErrorCode::AddressCheckFailed:
        case ErrorCode::CallbackRequested:
            o.kind = Kind::Refused;
            o.result = QStringLiteral("refused");
            break;
        default:
            break; // no answer, link lost, damaged answers: worth another attempt
        }
    }
    return o;
}

std::vector<EventRow> eventsFrom(const QByteArray &lines, QString *ending, QStringList *tags)
{
    std::vector<EventRow> out;
    for (const QByteArray &line : lines.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        QJsonObject e = QJsonDocument::fromJson(line).object();
        if (e.isEmpty())
            continue;
        EventRow row;
        row.time = e.value(QStringLiteral("time")).toString();
        row.code = e.value(QStringLiteral("code")).toInt();
        row.tag = e.value(QStringLiteral("tag")).toString();
        e.remove(QStringLiteral("time"));
        e.remove(QStringLiteral("code"));
        e.remove(QStringLiteral("bytes"));
        row.data = QString::fromUtf8(QJsonDocument(e).toJson(QJsonDocument::Compact));
        if (row.code == 3 && ending)
            *ending = e.value(QStringLiteral("data")).toString();
        if (!row.tag.isEmpty() && tags)
            *tags << row.tag;
        out.push_back(row);
    }
    return out;
}

std::vector<HistoryRow> historyFrom(const QByteArray &lines, const QDate &today, const QString &readAt)
{
    QList<QJsonObject> records;
    for (const QByteArray &line : lines.split('\n')) {
        const QJsonObject r = QJsonDocument::fromJson(line).object();
        if (!r.isEmpty())
            records << r;
    }
    std::vector<HistoryRow> rows;
    QMap<QString, int> seen;
    std::vector<QString> validKeyAt(records.size());
    // First the valid events, whose keys the invalid slots lean on.
    for (int i = 0; i < records.size(); ++i) {
        const QJsonObject &r = records.at(i);
        if (!r.value(QStringLiteral("valid")).toBool())
            continue;
        const int month = r.value(QStringLiteral("month")).toInt();
        const int day = r.value(QStringLiteral("day")).toInt();
        // The newest year in which month/day is not after today.
        int year = today.year();
        if (month > today.month() || (month == today.month() && day > today.day()))
            --year;
        const QString base = QStringLiteral("v|%1-%2-%3T%4:%5|%6|%7")
                                 .arg(year, 4, 10, QLatin1Char('0'))
                                 .arg(month, 2, 10, QLatin1Char('0'))
                                 .arg(day, 2, 10, QLatin1Char('0'))
                                 .arg(r.value(QStringLiteral("hour")).toInt(), 2, 10, QLatin1Char('0'))
                                 .arg(r.value(QStringLiteral("minute")).toInt(), 2, 10, QLatin1Char('0'))
                                 .arg(r.value(QStringLiteral("event")).toString(), r.value(QStringLiteral("modifier")).toString());
        validKeyAt[i] = base + QLatin1Char('|') + QString::number(seen[base]++);
    }
    QMap<QString, int> invalidSeen;
    for (int i = 0; i < records.size(); ++i) {
        const QJsonObject &r = records.at(i);
        HistoryRow h;
        h.readAt = readAt;
        h.event = r.value(QStringLiteral("event")).toString();
        h.valid = r.value(QStringLiteral("valid")).toBool();
        if (h.valid) {
            h.fingerprint = validKeyAt[i];
            h.modifier = r.value(QStringLiteral("modifier")).toString();
            h.month = r.value(QStringLiteral("month")).toInt();
            h.day = r.value(QStringLiteral("day")).toInt();
            h.hour = r.value(QStringLiteral("hour")).toInt();
            h.minute = r.value(QStringLiteral("minute")).toInt();
            h.year = validKeyAt[i].mid(2, 4).toInt();
        } else {
            QString anchor;
            for (int k = i + 1; k < records.size() && anchor.isEmpty(); ++k)
                if (!validKeyAt[k].isEmpty())
                    anchor = QStringLiteral("before ") + validKeyAt[k];
            for (int k = i - 1; k >= 0 && anchor.isEmpty(); --k)
                if (!validKeyAt[k].isEmpty())
                    anchor = QStringLiteral("after ") + validKeyAt[k];
            const QString base = QStringLiteral("i|%1|%2").arg(h.event, anchor);
            h.fingerprint = base + QLatin1Char('|') + QString::number(invalidSeen[base]++);
        }
        rows.push_back(h);
    }
    return rows;
}

} // namespace outcome
