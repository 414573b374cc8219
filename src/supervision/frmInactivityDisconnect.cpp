#include "supervision/frmInactivityDisconnect.h"

#include "controls/ButtonKeys.h"
#include "core/Errors.h"
#include "core/SessionState.h"
#include "core/Variant.h"
#include "core/modGlobals.h"
#include "diagnostics/SessionIcon.h"
#include "supervision/Countdown.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace {
const QString kForm = QStringLiteral("frmInactivityDisconnect");
constexpr std::int16_t kKeep = 6;
constexpr std::int16_t kDisconnectNow = 3;
constexpr std::int16_t kExpired = 7;
} // namespace

frmInactivityDisconnect::frmInactivityDisconnect(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(kForm);
    buildWindow();
    m_registered = modGlobals::AddGUIDObjectUnowned(this);
}

frmInactivityDisconnect::~frmInactivityDisconnect()
{
    Form_Unload();
}

void frmInactivityDisconnect::buildWindow()
{
    setWindowTitle(modGlobals::GetCatalogString(275));
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    modGlobals::ApplySessionIcon(this);
    ButtonKeys::install(this);

    lblMessage = new QLabel(modGlobals::GetCatalogString(279), this);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblMessage->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    pbCountDown = new QProgressBar(this);
    pbCountDown->setObjectName(QStringLiteral("pbCountDown"));
    pbCountDown->setTextVisible(false);
    pbCountDown->setMinimumWidth(280);
    lblMinSec = new QLabel(modGlobals::GetCatalogString(277), this);
    lblMinSec->setObjectName(QStringLiteral("lblMinSec"));
    lblMaxSec = new QLabel(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(278), QStringLiteral("MAX"), QStringLiteral("120")), this);
    lblMaxSec->setObjectName(QStringLiteral("lblMaxSec"));
    lblMaxSec->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cmdDisconnectNow = new QPushButton(modGlobals::GetCatalogString(276), this);
    cmdDisconnectNow->setObjectName(QStringLiteral("cmdDisconnectNow"));
    cmdDisconnectNow->setAutoDefault(false);
    cmdCancel = new QPushButton(modGlobals::GetCatalogString(108), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setDefault(true);
    tmrCountDown = new QTimer(this);
    tmrCountDown->setObjectName(QStringLiteral("tmrCountDown"));

    // The remaining seconds show while the pointer rests on the message or the bar.
    for (QWidget *watched : {static_cast<QWidget *>(lblMessage), static_cast<QWidget *>(pbCountDown)}) {
        watched->setMouseTracking(true);
        watched->installEventFilter(this);
    }

    auto *grid = new QGridLayout(this);
    grid->addWidget(lblMessage, 0, 0, 1, 2);
    grid->addWidget(pbCountDown, 1, 0, 1, 2);
    grid->addWidget(lblMinSec, 2, 0);
    grid->addWidget(lblMaxSec, 2, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdDisconnectNow);
    buttons->addWidget(cmdCancel);
    grid->addLayout(buttons, 3, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(cmdDisconnectNow, &QPushButton::clicked, this, [this] { cmdDisconnectNow_Click(); });
    connect(tmrCountDown, &QTimer::timeout, this, [this] { tmrCountDown_Timer(); });
}

std::int16_t frmInactivityDisconnect::Display(std::int16_t &answer)
{
    QPointer<frmInactivityDisconnect> self(this);
    m_answer = kKeep;
    errors::guarded(kForm, QStringLiteral("Display()"), [&] {
        SessionState &state = sessionState();
        state.InactivityPromptShown = true;
        // A panel event during the beeps abandons the prompt before it shows.
        if (!supervision::announce(this, [this] { return !m_unloaded; }))
            return;
        const int length = supervision::countdownSeconds(QStringLiteral("InactivityDisconnectTimeout"), kForm);
        pbCountDown->setRange(0, std::max(length, 1));
        pbCountDown->setValue(length);
        lblMaxSec->setText(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(278), QStringLiteral("MAX"), QString::number(length)));
        m_tick = 0;
        tmrCountDown->setInterval(supervision::tickMs());
        tmrCountDown->start();
        m_answer = kKeep;
        exec();
    });
    // The window may have gone with the session meanwhile: the session then ends anyway.
    if (!self) {
        answer = kKeep;
        return answer;
    }
    answer = m_answer;
    Form_Unload();
    return answer;
}

void frmInactivityDisconnect::cmdCancel_Click()
{
    m_answer = kKeep;
    hide();
}

void frmInactivityDisconnect::cmdDisconnectNow_Click()
{
    m_answer = kDisconnectNow;
    hide();
}

void frmInactivityDisconnect::tmrCountDown_Timer()
{
    errors::guarded(kForm, QStringLiteral("tmrCountDown_Timer()"), [&] {
        ++m_tick;
        if (isVisible() && !isActiveWindow()) {
            raise();
            activateWindow();
        }
        const int remaining = pbCountDown->value();
        if (remaining != 0 && m_tick % 10 == 0) {
            pbCountDown->setValue(remaining - 1);
            lblMessage->setText(modGlobals::GetCatalogString(279));
            m_tick = 0;
            QApplication::beep();
        } else if (remaining == 0) {
            // Stopped first: a tick that comes before the modal run has ended must not answer twice.
            tmrCountDown->stop();
            modGlobals::MakeCallback(QStringLiteral("PANEL_INACTIVITY"), missingArgument());
            m_answer = kExpired;
            hide();
        }
    });
}

void frmInactivityDisconnect::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    tmrCountDown->stop();
    SessionState &state = sessionState();
    state.InactivityPromptShown = false;
    if (m_registered)
        modGlobals::ForgetGUIDObject(szGUID());
    m_registered = false;
}

void frmInactivityDisconnect::closeEvent(QCloseEvent *event)
{
    // Closed by the close box (the answer stays what it is) or abandoned for a panel event.
    Form_Unload();
    event->accept();
    hide();
}

bool frmInactivityDisconnect::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == lblMessage || watched == pbCountDown) && (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter))
        lblMessage->setText(QString::number(pbCountDown->value()) + QString(16, QLatin1Char(' ')));
    return QDialog::eventFilter(watched, event);
}
