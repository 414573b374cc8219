// quarvo-host session: a session with an operator. The "Panel Communication" dialog opens (on the
// link type of the settings file); once the panel is admitted the synchronisation check runs (its
// window shows when panel and data file differ), and a small window offers the history, the panel
// clock, another synchronisation and the end of the session.
#include "Commands.h"
#include "HostSession.h"
#include "PanelTimeZone.h"
#include "ProgressReport.h"

#include "component/IZelComm.h"
#include "connection/frmCommInterface.h"
#include "controls/ButtonKeys.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "operations/frmDateTime.h"
#include "queue/MessageQueue.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The operator's window while the session runs. Closing it ends the session.
class OperatorWindow : public QWidget
{
public:
    OperatorWindow(HostSession &session, const QString &panel) : m_session(session), m_component(session.component())
    {
        setObjectName(QStringLiteral("quarvoHostSession"));
        setWindowTitle(QStringLiteral("Quarvo - %1").arg(panel));
        ButtonKeys::install(this); // Enter presses the focused button
        auto *layout = new QVBoxLayout(this);
        // Out of process the panel's revision stays with the server (it arrived as "GET_REV").
        const QString revision = session.outOfProcess() ? session.events().panelRevision() : sessionState().panelRevision;
        auto *label = new QLabel(QStringLiteral("Connected to %1 (revision %2)").arg(panel, revision), this);
        layout->addWidget(label);
        const auto button = [&](const QString &caption, auto action) {
            auto *b = new QPushButton(caption, this);
            b->setAutoDefault(false);
            connect(b, &QPushButton::clicked, this, action);
            layout->addWidget(b);
            return b;
        };
        button(QStringLiteral("&History..."), [this] { m_component.HistoryStartup(); });
        // The clock window is no operation of the component: it opens only where the session runs.
        if (!session.outOfProcess()) {
            button(QStringLiteral("Set Panel &Clock..."), [this] {
                QPointer<frmDateTime> window = new frmDateTime(this);
                window->Display();
                delete window.data();
            });
        }
        button(QStringLiteral("&Synchronise..."), [this] { m_component.CommSendReceive(); });
        button(QStringLiteral("&Disconnect"), [this] { disconnectPanel(); });
    }

    void disconnectPanel()
    {
        if (m_disconnecting || m_session.sessionOver())
            return;
        m_disconnecting = true; // the end-session dialog runs its own event loop meanwhile
        // The end-session dialog asks the operator, and says goodbye (with a reset if chosen).
        bool force = false;
        m_component.CommShutdown(force);
        m_disconnecting = false;
    }

protected:
    void closeEvent(QCloseEvent *event) override
    {
        if (!m_session.sessionOver()) {
            event->ignore(); // the session's end closes the window
            disconnectPanel();
            return;
        }
        QWidget::closeEvent(event);
    }

private:
    HostSession &m_session;
    IZelComm &m_component;
    bool m_disconnecting = false;
};

} // namespace

int runSession(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs a session with an operator: the \"Panel Communication\" dialog (filled from the settings\n"
        "file, on its LinkType), then the synchronisation check against the data file, and a window\n"
        "with History..., Set Panel Clock..., Synchronise... and Disconnect. Needs a display (or\n"
        "QT_QPA_PLATFORM=offscreen). Exit status 0 when the session ended normally (USERDISCONNECTING),\n"
        "1 FAILURE, 3 ABORTED (the dialog cancelled), 4 UNKNOWN."));
    const SessionOptions common(QStringLiteral("Run the session in quarvo-server on the D-Bus session bus (started by the bus when "
                                               "needed); its windows open there, and the panel clock window is not offered."));
    common.addTo(parser);
    if (const std::optional<int> done = parseCommandLine(parser, QStringLiteral("session"), arguments))
        return *done;
    if (!parser.positionalArguments().isEmpty()) {
        complain(QStringLiteral("session: unexpected argument \"%1\" (see quarvo-host session --help)").arg(parser.positionalArguments().first()));
        return hostexit::Usage;
    }

    HostSession::chooseFolders();
    HostSession session;
    const HostOptions options = common.read(parser);
    QString why;
    if (!session.prepare(options, &why)) {
        complain(why);
        return hostexit::Usage;
    }
    if (!session.settings().timeZone().isEmpty()) {
        const std::optional<QDateTime> moment = paneltime::offsetMoment(&why);
        if (!moment || !session.settings().applyTimeZone(*moment, &why))
            complain(QStringLiteral("warning: %1; the panel clock window uses this computer's time").arg(why));
    }
    if (!session.attach(&why)) {
        complain(QStringLiteral("session: ") + why);
        return hostexit::Failure;
    }

    // The dialog opens on the settings' link type, as the operator would pick it.
    QTimer preselect;
    preselect.setInterval(20);
    const int linkType = session.settings().linkTypeIndex();
    // (Out of process the dialog is the server's, and opens on the link type its settings store names.)
    QObject::connect(&preselect, &QTimer::timeout, [&] {
        frmCommInterface *dialog = sessionState().connectionDialog;
        if (!dialog || !dialog->isVisible())
            return;
        preselect.stop();
        dialog->cmbConnect->setCurrentIndex(linkType);
        dialog->cmbConnect_Click();
    });
    if (!session.outOfProcess())
        preselect.start();
    ProgressReport progress;
    session.events().beforeLine = [&progress] { progress.clear(); };
    progress.start();
    const std::int32_t started = session.component().CommStartup();
    preselect.stop();

    const SessionState &state = sessionState();
    const bool connected = session.outOfProcess()
                               ? started == 0 && !session.sessionOver()
                               : started == 0 && state.messageQueue && state.currentTransport && state.currentTransport->Connected();
    if (connected) {
        OperatorWindow window(session, session.settings().PanelName());
        window.show();
        session.waitForEnd(0);
        window.close();
    } else {
        session.waitForEnd(1);
    }
    progress.finish();
    session.events().beforeLine = nullptr; // the bar goes before the session does
    if (const int signalled = HostSession::terminationStatus()) {
        complain(QStringLiteral("session ended by signal %1").arg(signalled - 128));
        return signalled;
    }
    const QString ending = session.events().ending();
    int status = ending.isEmpty() ? hostexit::Unknown : HostSession::statusFor(ending);
    QString message = status == hostexit::Success ? QString() : session.failureReason();
    QString headline = ending.isEmpty() ? QStringLiteral("without a result (UNKNOWN)") : ending;
    if (session.data().saveFailed()) {
        // A normal end in which the received data were lost is a failure, and the line says so first.
        if (status == hostexit::Success)
            headline = QStringLiteral("%1 but FAILED").arg(headline);
        status = hostexit::Failure;
        message += (message.isEmpty() ? QString() : QStringLiteral("; ")) + QStringLiteral("the received data were not saved: ")
                   + session.data().saveError();
    }
    complain(QStringLiteral("session ended %1%2").arg(headline, message.isEmpty() ? QString() : QStringLiteral(": ") + message));
    session.close();
    return status;
}
