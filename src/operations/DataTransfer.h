// A transfer of panel data, without a window: a receive of the panel's data into the host, or a
// send of the host's data to the panel. The synchronisation queues one block request per block of
// every item taking part, owned by the transfer; the transfer counts the "Request Item Block" /
// "Write Item Block" answers item by item (a received block goes into the host's data at once),
// switches the queue to the exclusive poll rate while the panel is in exclusive mode, ends with a
// short signal (five beeps, then a pause) when an operator watches, and on its unload reports the
// end to the host: a finished receive hands the host the transfer file ("tempdat.000" in the data
// folder), then event 10 and "RECV_END"; a finished send asks the host to finish it, then
// "SEND_END".
//
// Only a transfer that finished is reported. An aborted one, and one cut off (the link lost, the
// session ended, an error) ends without a transfer file and without an end notification: the host
// never takes part of the panel's data for all of it.
//
// The transfer window (frmWorkInProgress) shows it: progress over all items and within the
// current one, and Abort. Its requests are filed under the owner name "frmWorkInProgress".
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>

#include "core/GuidRegistry.h"

class clsMessage;

class DataTransfer : public QObject, public GuidObjectBase, public ResponseReceiver
{
    Q_OBJECT
public:
    enum Direction : std::int16_t { Aborted = 0, Receive = 1, Send = 2 };

    // Registers in GuidRegistry.
    explicit DataTransfer(QObject *parent = nullptr);
    ~DataTransfer() override;

    // Owner name of the requests.
    QString Name() const { return QStringLiteral("frmWorkInProgress"); }

    // Takes the direction (1 receive, 2 send), the items that take part (index = item number) and
    // whether the transfer runs in exclusive mode. Unless the session is unattended its window is
    // told (begun) and the first progress is shown. Returns 0 or the error number.
    std::int32_t begin(std::int16_t direction, const QList<bool> &itemFlags, bool exclusive);
    // Overall progress in percent, and the description when given; pending events run after it.
    std::int32_t UdpateProgress(std::int16_t percent, const std::optional<QString> &description = std::nullopt);
    // Progress within the current item, in percent.
    std::int32_t UpdateHighRes(std::int16_t percent);
    // Tells the transport to stop the transfer; the next answer unloads the transfer.
    void abort();

    void ResponseReceived(clsMessage &msg) override;

    // The end report, the queue's clean-up and the session's next step; runs once. Then emits
    // unloaded() and deletes itself once control returns to the event loop.
    void unload();

    struct State
    {
        std::int16_t currentItem = 0;
        std::int16_t blocksDone = 0; // blocks of the current item counted so far
        bool exclusiveEntered = false;
    };
    State TransferState;

    std::int16_t direction() const { return m_direction; }
    bool exclusive() const { return m_exclusive; }
    // True once every block (and, in exclusive mode, the exclusive-off answer) has come in.
    bool finished() const { return m_finished; }
    bool isUnloaded() const { return m_unloaded; }
    // Progress shown: over all items, within the current item (both 0-100), and the description.
    int percent() const { return m_percent; }
    int itemPercent() const { return m_itemPercent; }
    QString description() const { return m_description; }
    // Set while the synchronisation queues the transfer's requests: an abort then leaves the
    // transport's AbortWorkInProgress set for the block loop to see, even once the transfer unloaded.
    void setQueueing(bool queueing) { m_queueing = queueing; }

    // Supplied by the window: whether it is the active window. A finished receive tells the host
    // event 10 at once in an unattended session or when it is; otherwise the queue raises it later.
    std::function<bool()> windowActive;

signals:
    // The transfer started with an operator watching.
    void begun(std::int16_t direction);
    void progressChanged(int percent, const QString &description);
    void itemProgressChanged(int percent);
    // One beep of the end signal.
    void beep();
    // The transfer stopped on an error; the session is ending.
    void cutOff();
    void unloaded();

private:
    std::int32_t updateForm();
    // Counts one block answer of `item`; true when the transfer is complete.
    bool countBlock(std::int16_t item);
    // Description 306, full progress, five beeps 475 ms apart, two seconds, then unload; driven by
    // a timer so the queue goes on meanwhile.
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
    QString m_description;
    int m_percent = 0;
    int m_itemPercent = 0;
    bool m_blocksComplete = false; // the last block of the last item came in
    bool m_finished = false;
    bool m_queueing = false;
    bool m_unloaded = false;
    bool m_registered = false;
    QTimer m_endTimer;
    int m_beeps = 0;
};
