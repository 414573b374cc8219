// The queue console: the lists of the session's message queue (queued messages, the current
// message, the last sent one), refilled as they change while the console is visible, and a details
// window for the selected message. It is made only when the "Debug" setting shows it, and goes
// when its queue unloads.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include "queue/MessageQueue.h"

class QListWidget;
class QPushButton;

class frmMsgQueue : public QWidget
{
    Q_OBJECT
public:
    explicit frmMsgQueue(MessageQueue *queue, QWidget *parent = nullptr);

    MessageQueue *queue() const { return m_queue; }

    // Refills a console list with the messages of one list (only while the window is visible).
    void RefreshQueue(const QString &headGUID, QListWidget *list);

    // A list's selection sets SelectedMsgGUID; Details (or a double click on a list) opens a details
    // window on the selected message, or only beeps when none is selected.
    void lstWorkQueue_Click();
    void lstCurrentMsg_Click();
    void lstLastSentMsg_Click();
    void cmdDetails_Click();
    QString SelectedMsgGUID;

    QListWidget *lstWorkQueue = nullptr;
    QListWidget *lstCurrentMsg = nullptr;
    QListWidget *lstLastSentMsg = nullptr;
    QPushButton *cmdDetails = nullptr;
    QPushButton *cmdRefresh = nullptr;

private:
    void refreshLists(bool work, bool current, bool lastSent);

    QPointer<MessageQueue> m_queue;
};
