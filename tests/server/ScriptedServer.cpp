// quarvo-server with an operator stand-in, for the checks that need someone at the server's windows
// (the bus starts it like the real server, from a service folder of the test build). The operator
// follows QUARVO_TEST_OPERATOR, comma-separated:
//   dialog=connect|cancel   what to do in "Panel Communication" (default connect, on the network link)
//   after=MS                how long the dialog stays open first (default 0)
//   sync=receive|send|none  the answer in "Panel Sync" (default receive)
#include "server/ServerApp.h"

#include "connection/frmCommInterface.h"
#include "core/SessionState.h"
#include "operations/frmPanelSyncro.h"
#include "queue/MessageQueue.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace {

class ScriptedOperator : public QObject
{
public:
    ScriptedOperator()
    {
        for (const QString &part : qEnvironmentVariable("QUARVO_TEST_OPERATOR").split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QString key = part.section(QLatin1Char('='), 0, 0).trimmed();
            const QString value = part.section(QLatin1Char('='), 1).trimmed();
            if (key == QLatin1String("dialog"))
                m_cancel = value == QLatin1String("cancel");
            else if (key == QLatin1String("after"))
                m_afterMs = value.toInt();
            else if (key == QLatin1String("sync"))
                m_sync = value;
        }
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, &ScriptedOperator::look);
        m_timer.start();
    }

private:
    void look()
    {
        frmCommInterface *dialog = sessionState().connectionDialog;
        if (dialog && dialog->isVisible() && dialog != m_dialog) {
            if (!m_shown.isValid())
                m_shown.start();
            if (m_shown.elapsed() < m_afterMs)
                return;
            m_dialog = dialog;
            m_shown.invalidate();
            if (m_cancel) {
                dialog->cmdCancel_Click();
                if (frmCommInterface *still = sessionState().connectionDialog)
                    still->hide();
            } else {
                dialog->cmbConnect->setCurrentIndex(frmCommInterface::TypeNetwork);
                dialog->cmbConnect_Click();
                QTimer::singleShot(0, dialog->cmdConnect, &QPushButton::click);
            }
            return;
        }
        MessageQueue *queue = sessionState().messageQueue;
        if (!queue)
            return;
        for (frmPanelSyncro *sync : queue->heldWindows<frmPanelSyncro>()) {
            if (sync->isUnloaded() || !sync->isVisible() || sync == m_syncWindow)
                continue;
            m_syncWindow = sync;
            (m_sync == QLatin1String("send")   ? sync->optSendPanel
             : m_sync == QLatin1String("none") ? sync->optNoUpdate
                                               : sync->optRecvPanel)->setChecked(true);
            QTimer::singleShot(0, sync->cmdOK, &QPushButton::click);
        }
    }

    bool m_cancel = false;
    int m_afterMs = 0;
    QString m_sync = QStringLiteral("receive");
    QTimer m_timer;
    QElapsedTimer m_shown;
    QPointer<frmCommInterface> m_dialog;
    QPointer<frmPanelSyncro> m_syncWindow;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    quarvobus::ServerApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quarvo-server"));
    QApplication::setQuitOnLastWindowClosed(false);
    ScriptedOperator standIn;
    return quarvobus::runServer(app);
}
