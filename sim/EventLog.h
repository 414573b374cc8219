// The panel's event log: a ring of 4-byte slots addressed by a 16-bit index. An event takes a main
// slot (byte 0 < F0, byte 1 < 40), a time-stamp slot and, optionally, a modifier slot (byte 0 >= F0).
// Empty slots are all zero.
//
// The panel reports two indexes: its read pointer, the first slot not read yet, and its newest
// index, the slot just after the newest event (where the next event will be written). Both are
// equal when nothing new has been logged since the pointer was last stored. Before the ring has
// filled, every slot from the newest index up to the end is empty; once it has wrapped, every
// slot is in use and the newest index points at the oldest data.
//
// Time-stamp packing (bit 7 = most significant): byte 0 = month (bits 7-4) and day bits 4-1 (bits
// 3-0); byte 1 = day bit 0 (bit 7), hour (bits 6-2), minute bits 5-4 (bits 1-0); byte 2 = minute
// bits 3-0 (bits 7-4); the rest is zero.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QtGlobal>

namespace panelsim {

struct EventTime
{
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
};

class EventLog
{
public:
    static constexpr int SlotSize = 4;

    explicit EventLog(int size = 256);

    static QByteArray packTimeStamp(const EventTime &t);
    // Unpacks a time-stamp slot; false when a field is out of range.
    static bool unpackTimeStamp(const QByteArray &slot, EventTime *t = nullptr);
    static bool isValidMainSlot(const QByteArray &slot);

    // A deterministic log: eventCount events written from firstSlot on, every third one with a
    // modifier slot, an invalid slot before every seventh; the read pointer left at the main slot of
    // the newEvents-th event before the newest index (at the newest index when newEvents is 0).
    static EventLog generate(int size, int eventCount, int newEvents, int firstSlot, quint32 seed, const QDateTime &newest);

    int size() const { return int(m_slots.size() / SlotSize); }
    QByteArray slot(int index) const;
    void setSlot(int index, const QByteArray &bytes);

    // Writes one event at the write position and makes it the newest (the newest index moves past
    // it); returns its main slot index.
    int appendEvent(quint8 code, quint8 area, const QDateTime &when, const QByteArray &modifier = {});
    // Writes one slot that fails the main-slot check (byte 1 >= 40); the newest index moves past it.
    int appendInvalidSlot(quint8 code);

    // count slots from start, wrapping at the end of the ring.
    QByteArray readSlots(int start, int count) const;

    quint16 panelPointer() const { return m_panelPointer; }
    void setPanelPointer(quint16 p) { m_panelPointer = p; }
    quint16 newestIndex() const { return m_newestIndex; }
    void setNewestIndex(quint16 i) { m_newestIndex = i; }
    int writeIndex() const { return m_writeIndex; }
    void setWriteIndex(int i);
    int eventCount() const { return m_events; }

private:
    int wrap(int index) const;

    QByteArray m_slots;
    quint16 m_panelPointer = 0;
    quint16 m_newestIndex = 0;
    int m_writeIndex = 0;
    int m_events = 0;
};

} // namespace panelsim
