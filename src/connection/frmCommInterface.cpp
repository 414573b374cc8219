// The connection dialog: layout, field groups, enabling rules, the host and port checks, the status
// pad, Cancel and the tests. The workflow behind Connect and Answer and the handshake are the
// PanelConnection's; the dialog hands it the fields and shows what it reports.
#include "connection/frmCommInterface.h"

#include "controls/ButtonKeys.h"
#include "diagnostics/SessionIcon.h"
#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "platform/Timing.h"
#include "transports/modICMP.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString kForm = QStringLiteral("frmCommInterface");

QString catalog(std::int16_t number)
{
    return modGlobals::GetCatalogString(number);
}

} // namespace

frmCommInterface::frmCommInterface(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(kForm);
    m_engine = new PanelConnection(this);
    buildWindow();
    connectEngine();
}

frmCommInterface::~frmCommInterface()
{
    // Closed from outside (the queue window ends the session) before Display could unload it:
    // the host still hears the outcome, and the registry loses the connection.
    if (!m_unloaded)
        Form_Unload();
}

QString frmCommInterface::szGUID() const
{
    return m_engine ? m_engine->szGUID() : QString();
}

void frmCommInterface::connectEngine()
{
    PanelConnection *engine = m_engine;
    connect(engine, &PanelConnection::statusAdded, this, &frmCommInterface::AddStatus);
    connect(engine, &PanelConnection::statusCleared, txtPad, &QPlainTextEdit::clear);
    connect(engine, &PanelConnection::netRingChanged, this, &frmCommInterface::showNetRing);
    connect(engine, &PanelConnection::netRingExpired, this, &frmCommInterface::tmrNetAnswer_Timer);
    connect(engine, &PanelConnection::attemptStarted, this, [this] {
        if (!sessionState().UnattendedFlag)
            ControlButtons(false, true); // busy until the attempt ends: Cancel aborts
    });
    connect(engine, &PanelConnection::addressRejected, this, [this] {
        // The operator corrects the address where it is.
        txtRemoteHost->selectAll();
        txtRemoteHost->setFocus();
    });
    connect(engine, &PanelConnection::closeRequested, this, &QWidget::hide);
    connect(engine, &PanelConnection::cancelRequested, this, &frmCommInterface::cmdCancel_Click);
    connect(engine, &PanelConnection::testFinished, this, &frmCommInterface::endAttempt);
    connect(engine, &PanelConnection::finished, this, [this](bool connected) {
        // Admitted: the session no longer refers to the dialog.
        if (connected && sessionState().connectionDialog == this)
            sessionState().connectionDialog = nullptr;
    });
    m_engine->setCallbackQuestion([this] {
        const QString app = QStringLiteral("Tamsel");
        return QMessageBox::question(this, modGlobals::ReplaceVariable(catalog(157), QStringLiteral("APP_NAME"), app),
                                     modGlobals::ReplaceVariable(catalog(155), QStringLiteral("APP_NAME"), app),
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
               == QMessageBox::Yes;
    });
}

void frmCommInterface::applyFields()
{
    PanelConnection::Link link;
    link.type = static_cast<PanelConnection::ConnectionType>(ConnectionType);
    link.baudRate = cmbBaudRate->currentText().toInt();
    link.comPort = static_cast<std::int16_t>(txtComPort->text().toInt());
    link.initString = txtInitString->text();
    link.dataPhone = txtDataPhone->text();
    link.passcode = txtPassCode->text();
    link.remoteHost = txtRemoteHost->text();
    link.remotePort = txtRemotePort->text();
    m_engine->setLink(link);
}

void frmCommInterface::buildWindow()
{
    setWindowTitle(catalog(150));
    modGlobals::ApplySessionIcon(this);
    ButtonKeys::install(this);

    auto label = [this](const char *name, std::int16_t caption) {
        auto *l = new QLabel(catalog(caption), this);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    auto edit = [this](const char *name) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        return e;
    };
    auto button = [this](const char *name, std::int16_t caption) {
        auto *b = new QPushButton(catalog(caption), this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };

    lblConnect = label("lblConnect", 141);
    cmbConnect = new QComboBox(this);
    cmbConnect->setObjectName(QStringLiteral("cmbConnect"));
    lblPassCode = label("lblPassCode", 148);
    txtPassCode = edit("txtPassCode");
    txtPassCode->setMaxLength(6);
    txtPassCode->setEchoMode(QLineEdit::Password);
    txtPassCode->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    lblComPort = label("lblComPort", 139);
    txtComPort = edit("txtComPort");
    lblBaudRate = label("lblBaudRate", 140);
    cmbBaudRate = new QComboBox(this);
    cmbBaudRate->setObjectName(QStringLiteral("cmbBaudRate"));
    cmbBaudRate->addItems({QStringLiteral("300"), QStringLiteral("1200"), QStringLiteral("2400"),
                           QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("14400")});
    lblInitString = label("lblInitString", 143);
    txtInitString = edit("txtInitString");
    lblPanelPhone = label("lblPanelPhone", 146);
    txtDataPhone = edit("txtDataPhone");
    lblVoicePhone = label("lblVoicePhone", 147);
    txtVoicePhone = edit("txtVoicePhone");
    lblRemoteHost = label("lblRemoteHost", 1352);
    txtRemoteHost = edit("txtRemoteHost");
    lblRemotePort = label("lblRemotePort", 1351);
    txtRemotePort = edit("txtRemotePort");
    lblNetRing = label("lblNetRing", 142);
    lblNetRing->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    lblStatus = label("lblStatus", 145);
    txtPad = new QPlainTextEdit(this);
    txtPad->setObjectName(QStringLiteral("txtPad"));
    txtPad->setReadOnly(true);
    txtPad->setMinimumSize(380, 110);
    txtPad->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    cmdTestPanel = button("cmdTestPanel", 134);
    cmdTestNetwork = button("cmdTestNetwork", 135);
    cmdAnswer = button("cmdAnswer", 136);
    cmdConnect = button("cmdConnect", 137);
    cmdConnect->setDefault(true);
    cmdCancel = button("cmdCancel", 125);
    tmrNetAnswer = m_engine->netAnswerTimer();

    // Mnemonics of the labels lead to their fields.
    lblConnect->setBuddy(cmbConnect);
    lblPassCode->setBuddy(txtPassCode);
    lblComPort->setBuddy(txtComPort);
    lblBaudRate->setBuddy(cmbBaudRate);
    lblInitString->setBuddy(txtInitString);
    lblPanelPhone->setBuddy(txtDataPhone);
    lblVoicePhone->setBuddy(txtVoicePhone);
    lblRemoteHost->setBuddy(txtRemoteHost);
    lblRemotePort->setBuddy(txtRemotePort);

    auto *fields = new QGridLayout;
    fields->setHorizontalSpacing(10);
    fields->setColumnStretch(1, 1);
    int row = 0;
    const auto addRow = [&](QLabel *l, QWidget *w) {
        fields->addWidget(l, row, 0, Qt::AlignRight | Qt::AlignVCenter);
        fields->addWidget(w, row, 1);
        ++row;
    };
    addRow(lblConnect, cmbConnect);
    addRow(lblPassCode, txtPassCode);
    addRow(lblComPort, txtComPort);
    addRow(lblBaudRate, cmbBaudRate);
    addRow(lblInitString, txtInitString);
    addRow(lblPanelPhone, txtDataPhone);
    addRow(lblVoicePhone, txtVoicePhone);
    addRow(lblRemoteHost, txtRemoteHost);
    addRow(lblRemotePort, txtRemotePort);
    fields->addWidget(lblNetRing, row++, 1);

    auto *tests = new QHBoxLayout;
    tests->addStretch(1);
    tests->addWidget(cmdTestPanel);
    tests->addWidget(cmdTestNetwork);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdAnswer);
    buttons->addStretch(1);
    buttons->addWidget(cmdConnect);
    buttons->addWidget(cmdCancel);

    auto *top = new QVBoxLayout(this);
    top->addLayout(fields);
    top->addLayout(tests);
    top->addWidget(lblStatus);
    top->addWidget(txtPad, 1);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);

    // Design state: the type-specific fields hidden, the network boxes disabled, Connect disabled.
    for (QWidget *w : {static_cast<QWidget *>(lblComPort), static_cast<QWidget *>(txtComPort),
                       static_cast<QWidget *>(lblBaudRate), static_cast<QWidget *>(cmbBaudRate),
                       static_cast<QWidget *>(lblInitString), static_cast<QWidget *>(txtInitString),
                       static_cast<QWidget *>(lblPanelPhone), static_cast<QWidget *>(txtDataPhone),
                       static_cast<QWidget *>(lblVoicePhone), static_cast<QWidget *>(txtVoicePhone),
                       static_cast<QWidget *>(lblRemoteHost), static_cast<QWidget *>(txtRemoteHost),
                       static_cast<QWidget *>(lblRemotePort), static_cast<QWidget *>(txtRemotePort),
                       static_cast<QWidget *>(lblNetRing), static_cast<QWidget *>(cmdTestPanel),
                       static_cast<QWidget *>(cmdTestNetwork)})
        w->setVisible(false);
    txtRemoteHost->setEnabled(false);
    txtRemotePort->setEnabled(false);
    cmdConnect->setEnabled(false);

    // Events.
    connect(cmbConnect, &QComboBox::activated, this, [this](int) { cmbConnect_Click(); });
    connect(cmbBaudRate, &QComboBox::activated, this, [this](int) { cmbBaudRate_Click(); });
    for (QLineEdit *e : {txtComPort, txtInitString, txtDataPhone, txtVoicePhone})
        connect(e, &QLineEdit::textChanged, this, [this] { CanIConnect(); });
    connect(txtPassCode, &QLineEdit::textChanged, this, [this](const QString &text) {
        sessionState().passcode = text;
        CanIConnect();
    });
    txtPassCode->installEventFilter(this);
    connect(txtRemoteHost, &QLineEdit::textChanged, this, [this] { txtRemoteHost_Change(); });
    connect(txtRemotePort, &QLineEdit::textChanged, this, [this] { txtRemotePort_Change(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(cmdConnect, &QPushButton::clicked, this, [this] { cmdConnect_Click(); });
    connect(cmdAnswer, &QPushButton::clicked, this, [this] { cmdAnswer_Click(); });
    connect(cmdTestPanel, &QPushButton::clicked, this, [this] { cmdTestPanel_Click(); });
    connect(cmdTestNetwork, &QPushButton::clicked, this, [this] { cmdTestNetwork_Click(); });

    adjustSize();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

bool frmCommInterface::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == txtPassCode) {
        switch (event->type()) {
        case QEvent::FocusIn:
            // Select the whole passcode once the focus has settled (a click would clear it).
            QTimer::singleShot(0, txtPassCode, [box = QPointer<QLineEdit>(txtPassCode)] {
                if (box)
                    box->selectAll();
            });
            break;
        case QEvent::KeyPress:
            // Readable while it is being typed ...
            txtPassCode->setEchoMode(QLineEdit::Normal);
            break;
        case QEvent::FocusOut:
            // ... and masked again once the operator moves on.
            txtPassCode->setEchoMode(QLineEdit::Password);
            break;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// Escape is the Cancel button.
void frmCommInterface::reject()
{
    cmdCancel_Click();
}

void frmCommInterface::closeEvent(QCloseEvent *event)
{
    if (event->spontaneous()) {
        // The window's close box: as the Cancel button.
        event->ignore();
        cmdCancel_Click();
        return;
    }
    // Closed by the component (the session ended): end the modal run.
    QDialog::done(QDialog::Rejected);
    event->accept();
}

// ---- Display -----------------------------------------------------------------------------------

std::int32_t frmCommInterface::Display(std::int16_t &result)
{
    QPointer<frmCommInterface> self(this);
    auto outcome = std::make_shared<std::int16_t>(result);
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("Display()"), [&] {
        SessionState &state = sessionState();
        const std::shared_ptr<HostSettings> settings = state.hostSettings;
        if (!settings)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no host settings"));

        setWindowTitle(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(150), QStringLiteral("PANEL"), settings->PanelName()));
        m_modemRate = QString::number(settings->BaudRate());
        m_externalRate = QStringLiteral("9600");
        m_enhancedRate = QStringLiteral("9600");
        txtComPort->setText(QString::number(settings->ComPort()));
        txtInitString->setText(settings->InitString());
        txtDataPhone->setText(settings->PanelPhone());
        txtVoicePhone->setText(settings->VoicePhone());
        txtPassCode->setText(settings->Passcode());
        txtRemotePort->setText(settings->PanelPort());
        txtRemoteHost->setText(settings->RemoteHost());
        LastGoodHost = txtRemoteHost->text();
        cmbConnect->clear();
        cmbConnect->addItems({catalog(151), catalog(1354), catalog(1355), catalog(360), catalog(1356)});

        if (state.UnattendedFlag) {
            // No operator: straight to the network link, nothing shown.
            cmbConnect->setCurrentIndex(TypeNetwork);
            ConnectionType = TypeNetwork;
            cmdConnect_Click();
            // The window stays (hidden) for the handshake; it unloads once the panel is admitted,
            // or with the session, reporting a failed attempt then.
            return;
        }

        // The network transport listens for a panel's net-ring while the dialog is open.
        applyFields();
        m_engine->openIdleTransport();
        cmbConnect->setCurrentIndex(TypeModem);
        ConnectionType = TypeModem;
        cmbConnect_Click();
        setRateBox(m_modemRate);
        ControlButtons(true, false);
        CanIConnect();
        txtPad->clear();

        m_resultSink = outcome;
        exec();
        if (!self)
            return; // destroyed while it ran: its unload left the result
        Timing::sleep(1000);
        if (self && !m_unloaded)
            Form_Unload();
    });
    if (self && m_engine)
        m_engine->setStartFailed(rc != 0);
    result = *outcome;
    return rc;
}

void frmCommInterface::setRateBox(const QString &rate)
{
    int index = cmbBaudRate->findText(rate);
    if (index < 0) {
        // A stored rate the list does not offer is added, so the box shows what will be used.
        cmbBaudRate->addItem(rate);
        index = cmbBaudRate->count() - 1;
    }
    cmbBaudRate->setCurrentIndex(index);
}

void frmCommInterface::AddStatus(const QString &text)
{
    errors::guarded(kForm, QStringLiteral("AddStatus"), [&] {
        txtPad->moveCursor(QTextCursor::End);
        txtPad->insertPlainText(text + QStringLiteral("\n"));
        txtPad->moveCursor(QTextCursor::End);
        txtPad->ensureCursorVisible();
    });
}

void frmCommInterface::ControlButtons(bool enable, bool busy)
{
    errors::guarded(kForm, QStringLiteral("ControlButtons"), [&] {
        for (QWidget *w : {static_cast<QWidget *>(cmdConnect), static_cast<QWidget *>(cmdAnswer),
                           static_cast<QWidget *>(cmdCancel), static_cast<QWidget *>(cmdTestNetwork),
                           static_cast<QWidget *>(cmdTestPanel), static_cast<QWidget *>(cmbConnect),
                           static_cast<QWidget *>(cmbBaudRate), static_cast<QWidget *>(txtPassCode),
                           static_cast<QWidget *>(txtComPort), static_cast<QWidget *>(txtInitString),
                           static_cast<QWidget *>(txtDataPhone), static_cast<QWidget *>(txtVoicePhone),
                           static_cast<QWidget *>(txtRemoteHost), static_cast<QWidget *>(txtRemotePort)})
            w->setEnabled(enable);
        if (busy) {
            cmdCancel->setText(catalog(149));
            cmdCancel->setEnabled(true);
        }
    });
}

// ---- Field groups ------------------------------------------------------------------------------

void frmCommInterface::HideAll()
{
    errors::guarded(kForm, QStringLiteral("HideAll"), [&] {
        ModemControl(false);
        NetworkControl(false);
    });
}

namespace {
void setShown(std::initializer_list<QWidget *> widgets, bool show)
{
    for (QWidget *w : widgets)
        w->setVisible(show);
}
} // namespace

void frmCommInterface::ModemControl(bool show)
{
    errors::guarded(kForm, QStringLiteral("ModemControl"), [&] {
        setShown({lblComPort, txtComPort, lblBaudRate, cmbBaudRate, lblInitString, txtInitString, lblPanelPhone,
                  txtDataPhone},
                 show);
        if (show || cmdAnswer->text() == catalog(1353))
            setRateBox(m_modemRate);
        else
            cmdAnswer->setEnabled(false);
    });
}

void frmCommInterface::ExternalModemControl(bool show)
{
    errors::guarded(kForm, QStringLiteral("ExternalModemControl"), [&] {
        setShown({lblComPort, txtComPort, lblBaudRate, cmbBaudRate, lblInitString, txtInitString, lblPanelPhone,
                  txtDataPhone},
                 show);
        if (show || cmdAnswer->text() == catalog(1353))
            setRateBox(m_externalRate);
        else
            cmdAnswer->setEnabled(false);
    });
}

void frmCommInterface::VoiceControlType(bool show)
{
    errors::guarded(kForm, QStringLiteral("VoiceControlType"), [&] {
        setShown({lblComPort, txtComPort, lblBaudRate, cmbBaudRate, lblInitString, txtInitString, lblVoicePhone,
                  txtVoicePhone},
                 show);
    });
}

void frmCommInterface::DirectControl(bool show)
{
    errors::guarded(kForm, QStringLiteral("DirectControl"), [&] { setShown({lblComPort, txtComPort}, show); });
}

void frmCommInterface::EnhancedDirectControl(bool show)
{
    errors::guarded(kForm, QStringLiteral("EnhancedDirectControl"), [&] {
        setShown({lblComPort, txtComPort, lblBaudRate, cmbBaudRate, cmdTestPanel}, show);
        if (show)
            setRateBox(m_enhancedRate);
    });
}

void frmCommInterface::NetworkControl(bool show)
{
    errors::guarded(kForm, QStringLiteral("NetworkControl"), [&] {
        setShown({lblRemoteHost, txtRemoteHost, lblRemotePort, txtRemotePort, cmdTestPanel, cmdTestNetwork}, show);
    });
}

// ---- Enabling rules and field events -----------------------------------------------------------

void frmCommInterface::CanIConnect()
{
    errors::guarded(kForm, QStringLiteral("CanIConnect"), [&] {
        const bool port = !txtComPort->text().isEmpty();
        const bool init = !txtInitString->text().isEmpty();
        const bool phone = !txtDataPhone->text().isEmpty();
        const bool pass = !txtPassCode->text().isEmpty();
        switch (ConnectionType) {
        case TypeModem:
        case TypeExternalModem:
            cmdConnect->setEnabled(port && init && phone && pass);
            cmdAnswer->setEnabled(port && init);
            break;
        case TypeDirect:
            cmdConnect->setEnabled(port && pass);
            break;
        case TypeEnhancedDirect:
            cmdConnect->setEnabled(port && pass);
            cmdTestPanel->setEnabled(port);
            break;
        case TypeNetwork:
            txtRemoteHost_Change();
            break;
        default:
            cmdConnect->setEnabled(false);
            break;
        }
    });
}

void frmCommInterface::cmbConnect_Click()
{
    errors::guarded(kForm, QStringLiteral("cmbConnect_Click"), [&] {
        const std::int16_t previous = ConnectionType;
        const int index = cmbConnect->currentIndex();
        ConnectionType = static_cast<std::int16_t>(index < 0 ? TypeModem : index);
        HideAll();
        CanIConnect();
        switch (ConnectionType) {
        case TypeModem:
            ModemControl(true);
            break;
        case TypeExternalModem:
            ExternalModemControl(true);
            break;
        case TypeDirect:
            DirectControl(true);
            setRateBox(QStringLiteral("9600"));
            break;
        case TypeEnhancedDirect:
            EnhancedDirectControl(true);
            break;
        case TypeNetwork:
            NetworkControl(true);
            break;
        case TypeVoice:
            VoiceControlType(true);
            break;
        default:
            break;
        }
        if (ConnectionType == TypeExternalModem && previous != TypeExternalModem) {
            // Ask the host whether this panel can be reached through an external modem at all.
            const std::shared_ptr<HostPif> pif = sessionState().hostPif;
            const std::optional<qint32> answer = pif ? pif->queryConnectionType(16, 20, 0) : std::nullopt;
            if (!answer)
                raiseError(ErrorCode::ConnectionQueryFailed, QStringLiteral("the host's connection-type query failed"));
            if (*answer == 4)
                QMessageBox::warning(this, catalog(263), catalog(1357));
        }
    });
}

void frmCommInterface::cmbBaudRate_Click()
{
    errors::guarded(kForm, QStringLiteral("cmbBaudRate_Click"), [&] {
        const QString rate = cmbBaudRate->currentText();
        switch (ConnectionType) {
        case TypeModem:
            m_modemRate = rate;
            break;
        case TypeExternalModem:
            m_externalRate = rate;
            break;
        case TypeEnhancedDirect:
            m_enhancedRate = rate;
            break;
        default:
            break;
        }
    });
}

void frmCommInterface::txtRemoteHost_Change()
{
    errors::guarded(kForm, QStringLiteral("txtRemoteHost_Change"), [&] {
        const QString text = txtRemoteHost->text();
        if (!PanelConnection::hostTextAcceptable(text)) {
            QApplication::beep();
            txtRemoteHost->setText(LastGoodHost); // runs this check again for the restored text
            txtRemoteHost->selectAll();
            return;
        }
        LastGoodHost = text;
        const bool host = !text.isEmpty();
        const bool port = !txtRemotePort->text().isEmpty();
        const bool anyAddress = text == QLatin1String("0.0.0.0");
        const bool pass = !txtPassCode->text().isEmpty();
        cmdConnect->setEnabled(host && port && !anyAddress && pass);
        cmdTestNetwork->setEnabled(host && !anyAddress);
        cmdTestPanel->setEnabled(host && port && !anyAddress);
    });
}

void frmCommInterface::txtRemotePort_Change()
{
    errors::guarded(kForm, QStringLiteral("txtRemotePort_Change"), [&] {
        const bool ready = !txtRemotePort->text().isEmpty() && !txtRemoteHost->text().isEmpty();
        cmdConnect->setEnabled(ready);
        cmdTestPanel->setEnabled(ready);
    });
}

// ---- Cancel, tests, net-ring timer -------------------------------------------------------------

void frmCommInterface::cmdCancel_Click()
{
    errors::guarded(kForm, QStringLiteral("cmdCancel_Click"), [&] {
        m_engine->noteOperatorAbort();
        if (cmdCancel->text() == catalog(125)) {
            hide(); // idle: the modal run ends, Display unloads the window
            return;
        }
        endAttempt();
    });
}

// The abort branch of Cancel: stop whatever runs, end the link, and go back to idle.
void frmCommInterface::endAttempt()
{
    QPointer<frmCommInterface> self(this);
    ControlButtons(false, false);
    m_engine->abortAttempt();
    if (!self)
        return;
    txtPad->clear();
    ControlButtons(true, false);
    cmdCancel->setText(catalog(125));
    cmbConnect_Click();
}

void frmCommInterface::cmdTestPanel_Click()
{
    std::int32_t started = 0; // the connection reports its own errors
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("cmdTestPanel_Click"), [&] {
        applyFields();
        m_engine->dropTransport();
        if (ConnectionType == TypeNetwork && CheckIP(true) != 0)
            return;
        started = m_engine->startPanelTest(ConnectionType == TypeEnhancedDirect ? PanelConnection::EnhancedDirect
                                                                                : PanelConnection::Network);
    });
    if ((rc != 0 || started != 0) && busy())
        endAttempt();
}

void frmCommInterface::cmdTestNetwork_Click()
{
    QPointer<frmCommInterface> self(this);
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("cmdTestNetwork_Click()"), [&] {
        if (cmdTestNetwork->text() == catalog(149)) {
            m_engine->setBusy(false); // the running test stops after its current echo
            return;
        }
        ControlButtons(false, false);
        cmdTestNetwork->setText(catalog(149));
        cmdTestNetwork->setEnabled(true);
        cmdTestNetwork->setFocus();
        m_engine->setBusy(true);
        txtPad->clear();
        if (CheckIP(false) != 0)
            raiseError(ErrorCode::AddressCheckFailed);
        for (int round = 0; round < 4; ++round) {
            QString host = sessionState().remoteHost;
            QString statusText;
            const std::int32_t echo = modICMP::PingHost(host, 255, 10, statusText);
            if (!self)
                return;
            AddStatus(statusText);
            QCoreApplication::processEvents();
            Timing::pauseWithEvents(500);
            if (!self)
                return;
            if (echo != 0) {
                Timing::pauseWithEvents(500);
                break;
            }
            if (!busy())
                break;
        }
        if (!self)
            return;
        txtPad->clear();
        m_engine->setBusy(false);
        cmdTestNetwork->setText(catalog(135));
        ControlButtons(true, false);
        cmbConnect_Click();
    });
    if (rc != 0 && self) {
        // A failed address check leaves the dialog usable again.
        m_engine->setBusy(false);
        cmdTestNetwork->setText(catalog(135));
        ControlButtons(true, false);
        cmbConnect_Click();
    }
}

// The net-ring went unanswered (the connection's answer timer): the dialog shows the chosen type.
void frmCommInterface::tmrNetAnswer_Timer()
{
    errors::guarded(kForm, QStringLiteral("tmrNetAnswer_Timer"), [&] { cmbConnect_Click(); });
}

void frmCommInterface::showNetRing(bool ringing)
{
    cmdAnswer->setText(ringing ? catalog(1353) : catalog(136));
    cmdAnswer->setEnabled(ringing);
    lblNetRing->setVisible(ringing);
}

// ---- Connect, Answer, address check ------------------------------------------------------------

std::int32_t frmCommInterface::cmdConnect_Click()
{
    applyFields();
    return m_engine->connectPanel();
}

std::int32_t frmCommInterface::cmdAnswer_Click()
{
    applyFields();
    return m_engine->answerPanel(cmdAnswer->text() != catalog(136));
}

std::int32_t frmCommInterface::CheckIP(bool bAllowName)
{
    applyFields();
    return m_engine->CheckIP(bAllowName);
}

// ---- Unload ------------------------------------------------------------------------------------

void frmCommInterface::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    const std::int16_t result = m_engine ? m_engine->unload() : std::int16_t(ResultNotConnected);
    m_result = result;
    if (m_resultSink)
        *m_resultSink = result;
}
