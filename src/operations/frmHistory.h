// "History Events": reads the panel's event log block by block and hands the raw event bytes to
// the host. The operator picks the range (the events since the panel's read pointer, or the whole
// log) and whether the read pointer is moved to the newest event afterwards; the unattended jobs
// set the same controls on a window that is never shown.
//
// The window is a state machine driven by the answers the queue hands to ResponseReceived:
//   "Request Event Index" -> plan -> "Request Event Log" (block after block; an "All Events"
//   read whose first slot is empty starts once more from slot 0) -> finish -> ("Set Event Index")
//   -> end.
// The host hears, in order: event 6 (window shown), "HISTORY_CURRENT" or "HISTORY_ALL", one event
// 13 per block (the consumed slots as they came, invalid ones included), "HISTORY_POINTER" (when
// the pointer was stored), "HISTORY_END" with the number of valid events, and event 7 on unload.
//
// The log is a ring of LogSize 4-byte slots numbered from 0. An event is a main slot (byte 0 < F0,
// byte 1 < 40), a time-stamp slot (month, day, hour and minute packed into the first 20 bits) and,
// when the slot after it starts with F0 or more, a modifier slot.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

#include "core/GuidRegistry.h"

class AnimationStrip;
class QCheckBox;
class QCloseEvent;
class QFrame;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class clsMessage;

class frmHistory : public QDialog, public GuidObjectBase, public ResponseReceiver
{
    Q_OBJECT
public:
    // Where the retrieval stands in the panel's ring. Every field is a signed 16-bit value; a value
    // that would not fit is an error (the retrieval fails and the session ends), never wrapped.
    struct HistoryPointers
    {
        std::int16_t StartIndex = 0;     // slot of the next block to request
        std::int16_t EndIndex = 0;       // slot at which the retrieval ends
        std::int16_t ProcessedSlots = 0; // slots consumed so far (drives the progress bar)
        std::int16_t LogSize = 0;        // slots in the panel's ring
        std::int16_t PanelPointer = 0;   // the panel's stored read pointer
        std::int16_t NewestIndex = 0;    // the newest index as the panel reports it
        bool Restarted = false;          // an "All Events" read has started again from slot 0
    };

    // RunState values.
    enum : std::int16_t { RunIdle = 0, RunDisplayed = 1, RunCancelled = 2 };

    // Builds the window (catalog captions, icon, centred, compact) and registers it in GuidRegistry.
    explicit frmHistory(QWidget *parent = nullptr);
    ~frmHistory() override;

    // The window's name: owner name of the messages it queues.
    QString Name() const { return QStringLiteral("frmHistory"); }

    // Tells the host a window opened (event 6), shows the window compact and modal, and unloads it
    // when the modal run ends. Returns 0 or the error number.
    std::int32_t Display();
    // Stops the animation, tells the host the window closed (event 7), drops the window's queued
    // requests and leaves the registry. Runs once.
    void Form_Unload();
    // Form_Unload, then the window goes (deleted once control returns to the event loop). The
    // retrieval of an unattended session ends this way.
    void Unload();

    // Control events.
    void optCurrent_Click();
    void optAll_Click();
    void cmdOK_Click();
    void cmdCancel_Click();

    // The retrieval's state machine.
    void ResponseReceived(clsMessage &msg) override;

    // Checks of a log block answer and of its slots.
    // True when every byte from index 3 (the payload) to the last one is 0.
    static bool IsEmptyHistory(const QByteArray &data);
    // A main slot: byte 0 below F0 and byte 1 below 40. False for fewer than two bytes.
    static bool IsValidMainEvent(const QByteArray &slot);
    // A time-stamp slot: month 1-12, day 1-31, hour 0-23, minute 0-59. False for fewer than three bytes.
    static bool IsValidTimeStamp(const QByteArray &slot);

    // One "Request Event Log" answer walked slot by slot, as the retrieval does, without the window.
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
    // before each slot is examined; when it returns false the walk stops where it is. The answer is the whole frame: the walk reads up to the
    // byte before its last.
    static BlockWalk WalkBlock(const QByteArray &data, int planned, int processedSlots, bool mayRestart,
                               const std::function<bool()> &beforeSlot = {});

    // Window fields.
    std::int16_t RunState = RunIdle;
    std::int16_t ValidEventCount = 0;
    const HistoryPointers &pointers() const { return m_pointers; }
    bool isExpanded() const { return m_expanded; }
    bool isUnloaded() const { return m_unloaded; }

    // Controls (objectName = the name below).
    AnimationStrip *aniHistory = nullptr;
    QFrame *fraHistory = nullptr;
    QGroupBox *fraRange = nullptr;
    QRadioButton *optCurrent = nullptr;
    QRadioButton *optAll = nullptr;
    QCheckBox *chkSetPointer = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
    QProgressBar *progressbar = nullptr;
    QLabel *lblStatus = nullptr;

protected:
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWindow();
    // Compact: range, pointer choice and buttons only; expanded: with the animation strip above and
    // the progress bar and status line below.
    void setExpanded(bool expanded);
    // Sets the status line and lets pending events run; false when the window went meanwhile.
    bool status(std::int16_t catalogNumber);

    // The steps of ResponseReceived. Each returns false when the window went while events ran.
    bool indexAnswer(const QByteArray &data);
    void plan();
    bool block(const QByteArray &data);
    bool next();
    bool finish();
    bool end();
    void requestBlock();

    HistoryPointers m_pointers;
    // An "All Events" plan whose start is its end covers the whole ring: its first block is
    // requested although the start index already equals the end index.
    bool m_wholeRing = false;
    bool m_expanded = false;
    bool m_unloaded = false;
    bool m_registered = false;
};

namespace modUnattended {

// Starts the history job of an unattended session on a window that is not shown: queues "Request
// Event Index" owned by `frm` with the priority `iPriority` (not automatic). The rest runs in the
// window's ResponseReceived, and the window unloads itself at the end. Returns 0 or the error
// number (reported as "UnattendedHistoryStartup()").
std::int32_t UnattendedHistoryStartup(frmHistory *frm, std::int16_t iPriority);

} // namespace modUnattended
