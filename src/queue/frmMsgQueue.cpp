#include "queue/frmMsgQueue.h"

#include "controls/ButtonKeys.h"
#include "core/Errors.h"
#include "queue/MessageQueue.h"
#include "queue/clsMessage.h"
#include "queue/frmMsgDetail.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>

namespace {
const QString kModule = QStringLiteral("frmMsgQueue");
} // namespace

frmMsgQueue::frmMsgQueue(MessageQueue *queue, QWidget *parent)
    : QWidget(parent), m_queue(queue)
{
    setObjectName(QStringLiteral("frmMsgQueue"));
    setWindowTitle(QStringLiteral("Message Queue Console"));
    ButtonKeys::install(this);

    auto *layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Queued Messages"), this), 0, 0);
    lstWorkQueue = new QListWidget(this);
    layout->addWidget(lstWorkQueue, 1, 0, 1, 2);
    layout->addWidget(new QLabel(QStringLiteral("Current Message"), this), 2, 0);
    lstCurrentMsg = new QListWidget(this);
    layout->addWidget(lstCurrentMsg, 3, 0, 1, 2);
    layout->addWidget(new QLabel(QStringLiteral("Last Sent Message"), this), 4, 0);
    lstLastSentMsg = new QListWidget(this);
    layout->addWidget(lstLastSentMsg, 5, 0, 1, 2);
    cmdDetails = new QPushButton(QStringLiteral("Details"), this);
    cmdRefresh = new QPushButton(QStringLiteral("Refresh"), this);
    layout->addWidget(cmdDetails, 6, 0);
    layout->addWidget(cmdRefresh, 6, 1);
    connect(cmdRefresh, &QPushButton::clicked, this, [this] { refreshLists(true, true, true); });
    connect(cmdDetails, &QPushButton::clicked, this, [this] { cmdDetails_Click(); });
    connect(lstWorkQueue, &QListWidget::currentRowChanged, this, [this] { lstWorkQueue_Click(); });
    connect(lstCurrentMsg, &QListWidget::currentRowChanged, this, [this] { lstCurrentMsg_Click(); });
    connect(lstLastSentMsg, &QListWidget::currentRowChanged, this, [this] { lstLastSentMsg_Click(); });
    for (QListWidget *list : {lstWorkQueue, lstCurrentMsg, lstLastSentMsg})
        connect(list, &QListWidget::itemDoubleClicked, this, [this] { cmdDetails_Click(); });

    if (queue) {
        connect(queue, &MessageQueue::listsChanged, this, &frmMsgQueue::refreshLists);
        // The console (and the details windows it opened) go with the queue.
        connect(queue, &MessageQueue::unloading, this, [this] {
            hide();
            deleteLater();
        });
        connect(queue, &QObject::destroyed, this, &QObject::deleteLater);
    }
}

void frmMsgQueue::refreshLists(bool work, bool current, bool lastSent)
{
    if (!m_queue)
        return;
    if (work)
        RefreshQueue(m_queue->WorkQueueGUID(), lstWorkQueue);
    if (current)
        RefreshQueue(m_queue->CurrentMsgGUID(), lstCurrentMsg);
    if (lastSent)
        RefreshQueue(m_queue->LastSentMsgGUID(), lstLastSentMsg);
}

void frmMsgQueue::RefreshQueue(const QString &headGUID, QListWidget *list)
{
    if (!list || !isVisible() || !m_queue || !m_queue->listsReadable())
        return;
    errors::guarded(kModule, QStringLiteral("RefreshQueue()"), [&] {
        clsMessages head;
        if (head.Load(headGUID) != 0 || !head.isLoaded())
            return;
        {
            // Refilling is no selection by the operator; selecting the last item below is.
            const QSignalBlocker quiet(list);
            list->clear();
            msgrecord::ListWalk walk;
            for (std::shared_ptr<clsMessage> msg = head.FirstMsg(); msg; msg = msg->NextMessage()) {
                walk.visit(*msg);
                list->addItem(msg->Name() + QStringLiteral("  ") + msg->szGUID());
            }
        }
        if (list->count() > 0)
            list->setCurrentRow(list->count() - 1);
    });
}

void frmMsgQueue::lstWorkQueue_Click()
{
    // The GUID is the end of the item text, from its first brace.
    const QListWidgetItem *item = lstWorkQueue->currentItem();
    const QString text = item ? item->text() : QString();
    const qsizetype brace = text.indexOf(QLatin1Char('{'));
    SelectedMsgGUID = brace < 0 ? QString() : text.mid(brace);
}

void frmMsgQueue::lstCurrentMsg_Click()
{
    const std::shared_ptr<clsMessage> msg = m_queue ? m_queue->CurrentMessage() : nullptr;
    SelectedMsgGUID = msg ? msg->szGUID() : QString();
}

void frmMsgQueue::lstLastSentMsg_Click()
{
    const std::shared_ptr<clsMessage> msg = m_queue ? m_queue->LastSentMessage() : nullptr;
    SelectedMsgGUID = msg ? msg->szGUID() : QString();
}

void frmMsgQueue::cmdDetails_Click()
{
    if (SelectedMsgGUID.isEmpty()) {
        QApplication::beep();
        return;
    }
    // A child window of the console: it goes when the console goes.
    auto *details = new frmMsgDetail(this);
    details->ShowMessage(SelectedMsgGUID);
    details->show();
}
