#include "HistoryRecords.h"

#include "operations/HistoryRetrieval.h"

#include <QJsonValue>

namespace history {

QList<QJsonObject> decodeBlock(const QByteArray &block, int firstSlot)
{
    QList<QJsonObject> out;
    const int slotCount = slotsOf(block);
    const auto slotAt = [&](int i) { return block.mid(static_cast<qsizetype>(i) * 4, 4); };
    int i = 0;
    while (i < slotCount) {
        const QByteArray main = slotAt(i);
        QJsonObject record;
        record.insert(QStringLiteral("slot"), firstSlot + i);
        record.insert(QStringLiteral("event"), QString::fromLatin1(main.toHex()));
        const QByteArray time = i + 1 < slotCount ? slotAt(i + 1) : QByteArray();
        if (time.isEmpty() || !HistoryRetrieval::IsValidMainEvent(main) || !HistoryRetrieval::IsValidTimeStamp(time)) {
            record.insert(QStringLiteral("valid"), false);
            out.append(record);
            ++i;
            continue;
        }
        const auto b = [&time](int k) { return static_cast<quint8>(time.at(k)); };
        record.insert(QStringLiteral("valid"), true);
        record.insert(QStringLiteral("month"), b(0) >> 4);
        record.insert(QStringLiteral("day"), ((b(0) & 0x0F) << 1) | (b(1) >> 7));
        record.insert(QStringLiteral("hour"), (b(1) >> 2) & 0x1F);
        record.insert(QStringLiteral("minute"), ((b(1) & 0x03) << 4) | (b(2) >> 4));
        const QByteArray next = i + 2 < slotCount ? slotAt(i + 2) : QByteArray();
        if (!next.isEmpty() && static_cast<quint8>(next.at(0)) >= 0xF0) {
            record.insert(QStringLiteral("modifier"), QString::fromLatin1(next.toHex()));
            i += 3;
        } else {
            record.insert(QStringLiteral("modifier"), QJsonValue::Null);
            i += 2;
        }
        out.append(record);
    }
    return out;
}

} // namespace history
