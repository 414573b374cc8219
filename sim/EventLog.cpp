#include "EventLog.h"

#include <random>

namespace panelsim {

EventLog::EventLog(int size)
    : m_slots(qBound(1, size, 0xFFFF) * SlotSize, '\0')
{
}

int EventLog::wrap(int index) const
{
    const int n = size();
    return ((index % n) + n) % n;
}

void EventLog::setWriteIndex(int i)
{
    m_writeIndex = wrap(i);
}

QByteArray EventLog::packTimeStamp(const EventTime &t)
{
    QByteArray s(SlotSize, '\0');
    s[0] = static_cast<char>(((t.month & 0x0F) << 4) | ((t.day >> 1) & 0x0F));
    s[1] = static_cast<char>(((t.day & 0x01) << 7) | ((t.hour & 0x1F) << 2) | ((t.minute >> 4) & 0x03));
    s[2] = static_cast<char>((t.minute & 0x0F) << 4);
    return s;
}

bool EventLog::unpackTimeStamp(const QByteArray &slot, EventTime *t)
{
    if (slot.size() < 3)
        return false;
    const quint8 b0 = static_cast<quint8>(slot[0]);
    const quint8 b1 = static_cast<quint8>(slot[1]);
    const quint8 b2 = static_cast<quint8>(slot[2]);
    EventTime r;
    r.month = b0 >> 4;
    r.day = ((b0 & 0x0F) << 1) | (b1 >> 7);
    r.hour = (b1 >> 2) & 0x1F;
    r.minute = ((b1 & 0x03) << 4) | (b2 >> 4);
    if (t)
        *t = r;
    return r.month >= 1 && r.month <= 12 && r.day >= 1 && r.day <= 31 && r.hour <= 23 && r.minute <= 59;
}

bool EventLog::isValidMainSlot(const QByteArray &slot)
{
    return slot.size() >= 2 && static_cast<quint8>(slot[0]) < 0xF0 && static_cast<quint8>(slot[1]) < 0x40;
}

QByteArray EventLog::slot(int index) const
{
    return m_slots.mid(qsizetype(wrap(index)) * SlotSize, SlotSize);
}

void EventLog::setSlot(int index, const QByteArray &bytes)
{
    QByteArray s = bytes.left(SlotSize);
    s.append(QByteArray(SlotSize - s.size(), '\0'));
    m_slots.replace(qsizetype(wrap(index)) * SlotSize, SlotSize, s);
}

int EventLog::appendEvent(quint8 code, quint8 area, const QDateTime &when, const QByteArray &modifier)
{
    const int main = m_writeIndex;
    QByteArray mainSlot(SlotSize, '\0');
    mainSlot[0] = static_cast<char>(qMin<int>(code, 0xEF));
    mainSlot[1] = static_cast<char>(area & 0x3F);
    mainSlot[2] = static_cast<char>(m_events & 0xFF);
    mainSlot[3] = static_cast<char>((m_events >> 8) & 0xFF);
    setSlot(main, mainSlot);
    const EventTime t{when.date().month(), when.date().day(), when.time().hour(), when.time().minute()};
    setSlot(main + 1, packTimeStamp(t));
    int next = main + 2;
    if (!modifier.isEmpty()) {
        QByteArray m = modifier.left(SlotSize);
        if (static_cast<quint8>(m[0]) < 0xF0)
            m[0] = static_cast<char>(0xF0 | (static_cast<quint8>(m[0]) & 0x0F));
        setSlot(next, m);
        ++next;
    }
    m_writeIndex = wrap(next);
    m_newestIndex = static_cast<quint16>(m_writeIndex);
    ++m_events;
    return main;
}

int EventLog::appendInvalidSlot(quint8 code)
{
    const int at = m_writeIndex;
    QByteArray s(SlotSize, '\0');
    s[0] = static_cast<char>(qMin<int>(code, 0xEF));
    s[1] = static_cast<char>(0x40 | (code & 0x3F));
    setSlot(at, s);
    m_writeIndex = wrap(at + 1);
    m_newestIndex = static_cast<quint16>(m_writeIndex);
    return at;
}

QByteArray EventLog::readSlots(int start, int count) const
{
    QByteArray out;
    out.reserve(qsizetype(count) * SlotSize);
    for (int i = 0; i < count; ++i)
        out.append(slot(start + i));
    return out;
}

EventLog EventLog::generate(int size, int eventCount, int newEvents, int firstSlot, quint32 seed, const QDateTime &newest)
{
    EventLog log(size);
    log.setWriteIndex(firstSlot);
    std::mt19937 rng(seed ^ 0x5EEDu);
    QList<int> mains;
    // Oldest first, one to three hours apart, ending at the newest time.
    QList<QDateTime> times;
    QDateTime t = newest;
    for (int i = 0; i < eventCount; ++i) {
        times.prepend(t);
        t = t.addSecs(-60 * qint64(60 + rng() % 120));
    }
    for (int i = 0; i < eventCount; ++i) {
        const quint8 code = static_cast<quint8>(1 + rng() % 0xE0);
        const quint8 area = static_cast<quint8>(rng() % 0x40);
        QByteArray modifier;
        if (i % 3 == 2) {
            modifier = QByteArray(SlotSize, '\0');
            modifier[0] = static_cast<char>(0xF0 | (rng() % 16));
            modifier[1] = static_cast<char>(rng() & 0xFF);
        }
        if (i % 7 == 6)
            log.appendInvalidSlot(static_cast<quint8>(rng() % 0xE0));
        mains.append(log.appendEvent(code, area, times[i], modifier));
    }
    if (!mains.isEmpty()) {
        const int keep = qBound(0, newEvents, int(mains.size()));
        // The pointer marks where the panel's unread events start: the newest index when none are new.
        log.setPanelPointer(static_cast<quint16>(keep == 0 ? log.newestIndex() : mains[mains.size() - keep]));
    } else {
        log.setPanelPointer(static_cast<quint16>(log.wrap(firstSlot)));
        log.setNewestIndex(static_cast<quint16>(log.wrap(firstSlot)));
    }
    return log;
}

} // namespace panelsim
