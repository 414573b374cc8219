// Reads the panel's event log block by block and hands the raw event bytes to the host, with no
// window: the "History Events" window shows it and starts it, the unattended history job drives it
// alone.
//
// It is a state machine driven by the answers the queue hands to ResponseReceived:
//   "Request Event Index" -> plan -> "Request Event Log" (block after block; an "All Events"
//   read whose first slot is empty starts once more from slot 0) -> finish -> ("Set Event Index")
//   -> end.
// The host hears, in order: "HISTORY_CURRENT" or "HISTORY_ALL", one event 13 per block (the
// consumed slots as they came, invalid ones included), "HISTORY_POINTER" (when the pointer was
// stored), "HISTORY_END" with the number of valid events, and event 7 on unload. Its requests are
// filed under the owner name "frmHistory", as the queue console shows them.
//
// The log is a ring of LogSize 4-byte slots numbered from 0. An event is a main slot (byte 0 < F0,
// byte 1 < 40), a time-stamp slot (month, day, hour and minute packed into the first 20 bits) and,
// when the slot after it starts with F0 or more, a modifier slot.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

#include "core/GuidRegistry.h"

class clsMessage;

class HistoryRetrieval : public QObject, public GuidObjectBase, public ResponseReceiver
{
    Q_OBJECT
public:
    // Which events are read. None reads from slot 0 to the newest event and tells the host no range.
    enum class Range { None, Current, All };

    // Where the retrieval stands in the panel's ring. Every field is a signed 16-bit value; a value
    // that would not fit is an error (the retrieval fails and the session ends), never wrapped.
    struct HistoryPointers
    {
        std::int16_t StartIndex = 0;     // slot of the next block to request
        std::int16_t EndIndex = 0;       // slot at which the retrieval ends
        std::int16_t ProcessedSlots = 0; // slots consumed so far (drives the progress)
        std::int16_t LogSize = 0;        // slots in the panel's ring
        std::int16_t PanelPointer = 0;   // the panel's stored read pointer
        std::int16_t NewestIndex = 0;    // the newest index as the panel reports it
        bool Restarted = false;          // an "All Events" read has started again from slot 0
    };

    // Registers in GuidRegistry (the answers to its requests are routed to it by its szGUID).
    explicit HistoryRetrieval(QObject *parent = nullptr);
    // Unloads, when that has not happened yet.
    ~HistoryRetrieval() override;

    // Owner name of the requests: the queue drops them by this name, the console lists it.
    QString Name() const { return QStringLiteral("frmHistory"); }

    // Inputs; read when the answers come, so they are set before start().
    void setRange(Range range) { m_range = range; }
    Range range() const { return m_range; }
    // Store the panel's read pointer at the newest event when a "Current Events" read ends.
    void setSetPointer(bool on) { m_setPointer = on; }
    bool setPointer() const { return m_setPointer; }

    // Queues "Request Event Index" with priority `iPriority` (not automatic); the rest runs as the
    // answers come. Raises QuarvoError when the request cannot be queued.
    void start(std::int16_t iPriority);
    // The operator asks to stop. When one of this retrieval's requests is with the panel, its answer
    // is still handled completely and then cancelled() is emitted; true. Otherwise nothing is
    // waiting for the panel and false is returned: the caller ends at once.
    bool cancel();
    // Tells the host the owner closed (event 7), drops the requests still queued and leaves the
    // registry. Runs once.
    void unload();

    // The retrieval's state machine.
    void ResponseReceived(clsMessage &msg) override;

    // State.
    bool isStarted() const { return m_started; }
    bool isCancelled() const { return m_cancelled; }
    bool isUnloaded() const { return m_unloaded; }
    std::int16_t validEventCount() const { return m_validEventCount; }
    const HistoryPointers &pointers() const { return m_pointers; }
    // The plan's number of slots (0 before the index answer) and the slots of it consumed, at most
    // the plan.
    int plannedSlots() const { return m_planned; }
    int progress() const { return m_progress; }

    // Checks of a log block answer and of its slots.
    // True when every byte from index 3 (the payload) to the last one is 0.
    static bool IsEmptyHistory(const QByteArray &data);
    // A main slot: byte 0 below F0 and byte 1 below 40. False for fewer than two bytes.
    static bool IsValidMainEvent(const QByteArray &slot);
    // A time-stamp slot: month 1-12, day 1-31, hour 0-23, minute 0-59. False for fewer than three bytes.
    static bool IsValidTimeStamp(const QByteArray &slot);

    // One "Request Event Log" answer walked slot by slot, as the retrieval does.
    struct BlockWalk
    {
        int consumed = 0;       // slots consumed: their bytes (3 .. 3 + 4 * consumed - 1) go to the host
        int processedSlots = 0; // ProcessedSlots after the walk
        int validEvents = 0;    // events that passed both slot checks
        bool endOfLog = false;  // an empty slot, or the plan is done: the retrieval ends
        bool endOfBlock = false; // the answer ends before the next event: the rest comes in the next block
        bool restart = false;   // "All Events" found its first slot empty: read again from slot 0
        QStringList notes;      // the diagnostic lines, in order
    };
    // `planned` is the plan's number of slots, `processedSlots` the slots consumed before this
    // answer, `mayRestart` true for an "All Events" read that has not restarted yet (it restarts
    // when a slot is empty while nothing has been consumed). `beforeSlot` (may be empty) runs
    // before each slot is examined; when it returns false the walk stops where it is. The answer
    // is the whole frame: the walk reads up to the byte before its last.
    static BlockWalk WalkBlock(const QByteArray &data, int planned, int processedSlots, bool mayRestart,
                               const std::function<bool()> &beforeSlot = {});

signals:
    // The status line's text (a catalog text); pending events run after each.
    void statusChanged(const QString &text);
    // Slots consumed of the plan; `maximum` changes with each plan.
    void progressChanged(int value, int maximum);
    // "HISTORY_END" went to the host with `validEvents`. In an unattended session the retrieval
    // has unloaded itself already (its owner only lets it go); otherwise its owner ends the run.
    void finished(std::int16_t validEvents);
    // An answer was handled after cancel(): the owner ends the run.
    void cancelled();

private:
    // Emits the status text and lets pending events run; false when the retrieval went meanwhile.
    bool status(std::int16_t catalogNumber);
    void setProgress(int value);

    // The steps of ResponseReceived. Each returns false when the retrieval went while events ran.
    bool indexAnswer(const QByteArray &data);
    void plan();
    bool block(const QByteArray &data);
    bool next();
    bool finish();
    bool end();

    Range m_range = Range::Current;
    bool m_setPointer = false;
    HistoryPointers m_pointers;
    std::int16_t m_validEventCount = 0;
    int m_planned = 0;
    int m_progress = 0;
    // An "All Events" plan whose start is its end covers the whole ring: its first block is
    // requested although the start index already equals the end index.
    bool m_wholeRing = false;
    bool m_started = false;
    bool m_cancelled = false;
    bool m_unloaded = false;
    bool m_registered = false;
};

namespace modUnattended {

// Starts the history job of an unattended session: queues "Request Event Index" owned by
// `retrieval` with the priority `iPriority` (not automatic). The rest runs in its ResponseReceived,
// and it unloads itself at the end. Returns 0 or the error number (reported as
// "UnattendedHistoryStartup()").
std::int32_t UnattendedHistoryStartup(HistoryRetrieval *retrieval, std::int16_t iPriority);

} // namespace modUnattended
