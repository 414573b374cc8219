// The transfer window: follows a receive of panel data into the host, or a send of the host's data
// to the panel, on two progress bars (all items, and the current item), and owns the answers of the
// transfer. It counts the "Request Item Block" / "Write Item Block" answers item by item (a
// received block goes into the host's data at once), switches the queue to the exclusive poll rate
// while the panel is in exclusive mode, ends with a short signal and, on closing, reports the end
// to the host: a finished receive hands the host the transfer file ("tempdat.000" in the data
// folder), then event 10 and "RECV_END"; a finished send asks the host to finish it, then
// "SEND_END".
//
// Only a transfer that finished is reported. An aborted one (Abort, or closing the window), and one
// cut off (the link lost, the session ended, an error) ends without a transfer file and without an
// end notification: the host never takes part of the panel's data for all of it.
//
// The window is a child window of the queue window, so it goes with the session.
#pragma once

#include <QList>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <optional>

#include "core/GuidRegistry.h"

class AnimationStrip;
class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;
class clsMessage;

class frmWorkInProgress : public QWidget, public GuidObjectBase, public ResponseReceiver
{
    Q_OBJECT
public:
    enum Direction : std::int16_t { Aborted = 0, Receive = 1, Send = 2 };

    // Builds the window (Abort caption from the catalog, centred) and registers it in GuidRegistry.
    explicit frmWorkInProgress(QWidget *parent = nullptr);
    ~frmWorkInProgress() override;

    // The window's name: owner name of the messages it queues.
    QString Name() const { return QStringLiteral("frmWorkInProgress"); }

    // Takes the direction (1 receive, 2 send), the items that take part (index = item number) and
    // whether the transfer runs in exclusive mode; shows the window (topmost, not modal) unless the
    // session is unattended. Returns 0 or the error number.
    std::int32_t Display(std::int16_t direction, const QList<bool> &itemFlags, bool exclusive);
    // Overall progress in percent, and the description when given.
    std::int32_t UdpateProgress(std::int16_t percent, const std::optional<QString> &description = std::nullopt);
    std::int32_t UpdateForm();
    // Progress within the current item, in percent.
    std::int32_t UpdateHighRes(std::int16_t percent);
    // Tells the transport to stop the transfer; the next answer closes the window.
    void cmdAbort_Click();

    void ResponseReceived(clsMessage &msg) override;

    // The end report, the queue's clean-up and the session's next step; runs once. The window then
    // deletes itself.
    void Form_Unload();

    struct State
    {
        std::int16_t currentItem = 0;
        std::int16_t blocksDone = 0;  // blocks of the current item counted so far
        bool exclusiveEntered = false;
    };
    State TransferState;

    std::int16_t direction() const { return m_direction; }
    bool exclusive() const { return m_exclusive; }
    // True once every block (and, in exclusive mode, the exclusive-off answer) has come in.
    bool finished() const { return m_finished; }
    bool isUnloaded() const { return m_unloaded; }
    // Set while the synchronisation queues the transfer's requests: an abort then leaves the
    // transport's AbortWorkInProgress set for the block loop to see, even once the window closed.
    void setQueueing(bool queueing) { m_queueing = queueing; }

    // Controls (objectName = the name below).
    AnimationStrip *aniSync = nullptr;
    QLabel *lblDescription = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QProgressBar *PBarHighRes = nullptr;
    QPushButton *cmdAbort = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Counts one block answer of `item`; true when the transfer is complete.
    bool countBlock(std::int16_t item);
    // Description 306, full bars, five beeps 475 ms apart, two seconds, then Form_Unload; driven
    // by a timer so the queue goes on meanwhile.
    void startEndSequence();
    void endSequenceStep();
    // Exclusive mode entered and not left (an abort, a cut-off): the standard poll rate, the
    // heartbeat and diagnostics refresh come back, and the panel is asked to leave exclusive mode.
    void leaveExclusiveMode();

    std::int16_t m_direction = Receive;
    QList<bool> m_itemFlags;
    std::int16_t m_lastItem = 0;
    bool m_exclusive = false;
    bool m_exclusiveLeft = false;
    QString m_caption;
    QString m_description;
    std::int16_t m_percent = 0;
    bool m_blocksComplete = false; // the last block of the last item came in
    bool m_finished = false;
    bool m_queueing = false;
    bool m_unloaded = false;
    bool m_registered = false;
    QTimer m_endTimer;
    int m_beeps = 0;
};
