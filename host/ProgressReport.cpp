#include "ProgressReport.h"

#include "core/SessionState.h"
#include "operations/DataTransfer.h"
#include "operations/HistoryRetrieval.h"
#include "queue/MessageQueue.h"

#include <unistd.h>

ProgressReport::ProgressReport(std::FILE *out, QObject *parent)
    : QObject(parent), m_out(out), m_terminal(::isatty(::fileno(out)) == 1)
{
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
}

void ProgressReport::start()
{
    m_timer.start();
}

void ProgressReport::finish()
{
    m_timer.stop();
    clear();
}

void ProgressReport::clear()
{
    if (m_barShown) {
        std::fputs("\r\033[K", m_out);
        std::fflush(m_out);
        m_barShown = false;
        m_lastBar.clear();
    }
}

void ProgressReport::poll()
{
    const SessionState &state = sessionState();
    MessageQueue *queue = state.messageQueue;
    if (!queue)
        return;
    for (DataTransfer *transfer : queue->findChildren<DataTransfer *>()) {
        if (transfer->isUnloaded() || transfer->direction() == DataTransfer::Aborted)
            continue;
        const bool receiving = transfer->direction() == DataTransfer::Receive;
        const int item = transfer->TransferState.currentItem;
        const QString what = QStringLiteral("%1 item %2 (%3% of the item)")
                                 .arg(receiving ? QStringLiteral("receiving") : QStringLiteral("sending"))
                                 .arg(item)
                                 .arg(transfer->itemPercent());
        show(what, transfer->percent(), QStringLiteral("%1:%2").arg(receiving).arg(item));
        return;
    }
    if (const auto *history = qobject_cast<const HistoryRetrieval *>(state.historyRetrieval.data())) {
        const int planned = history->plannedSlots(), done = history->progress();
        if (!history->isUnloaded() && planned > 0 && done > 0) {
            const int percent = qBound(0, done * 100 / planned, 100);
            show(QStringLiteral("history: %1 of %2 slots").arg(qMin(done, planned)).arg(planned), percent,
                 QStringLiteral("history:%1").arg(percent / 25));
        }
    }
}

void ProgressReport::show(const QString &what, int percent, const QString &stepKey)
{
    percent = qBound(0, percent, 100);
    if (m_terminal) {
        constexpr int kWidth = 30;
        const int filled = percent * kWidth / 100;
        const QString bar = QStringLiteral("\r\033[K[%1%2] %3% %4")
                                .arg(QString(filled, QLatin1Char('#')), QString(kWidth - filled, QLatin1Char('.')))
                                .arg(percent, 3)
                                .arg(what);
        if (bar != m_lastBar) {
            std::fputs(qPrintable(bar), m_out);
            std::fflush(m_out);
            m_lastBar = bar;
            m_barShown = true;
        }
        return;
    }
    if (stepKey == m_lastKey)
        return;
    m_lastKey = stepKey;
    std::fprintf(m_out, "progress: %s, %d%% in all\n", qPrintable(what), percent);
    std::fflush(m_out);
}
