#include "supervision/frmInactivityDisconnect.h"

#include "controls/ButtonKeys.h"
#include "diagnostics/SessionIcon.h"
#include "core/modGlobals.h"
#include "supervision/InactivityCountdown.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

frmInactivityDisconnect::frmInactivityDisconnect(InactivityCountdown *prompt, QWidget *parent)
    : QDialog(parent), m_prompt(prompt)
{
    setObjectName(QStringLiteral("frmInactivityDisconnect"));
    buildWindow();
    if (!prompt)
        return;
    if (prompt->hasStarted()) {
        showLength(prompt->length());
        showRemaining(prompt->remaining());
    }
    connect(prompt, &InactivityCountdown::countdownStarted, this, [this](int seconds) {
        showLength(seconds);
        showRemaining(seconds);
    });
    connect(prompt, &InactivityCountdown::remainingChanged, this, [this](int seconds) {
        showRemaining(seconds);
        lblMessage->setText(modGlobals::GetCatalogString(279));
    });
    connect(prompt, &InactivityCountdown::ticked, this, [this] {
        if (isVisible() && !isActiveWindow()) {
            raise();
            activateWindow();
        }
    });
    connect(prompt, &InactivityCountdown::ended, this, &QWidget::hide);
}

frmInactivityDisconnect::~frmInactivityDisconnect() = default;

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
}

void frmInactivityDisconnect::showLength(int seconds)
{
    pbCountDown->setRange(0, std::max(seconds, 1));
    lblMaxSec->setText(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(278), QStringLiteral("MAX"), QString::number(seconds)));
}

void frmInactivityDisconnect::showRemaining(int seconds)
{
    pbCountDown->setValue(seconds);
}

void frmInactivityDisconnect::cmdCancel_Click()
{
    if (m_prompt)
        m_prompt->keep();
    hide();
}

void frmInactivityDisconnect::cmdDisconnectNow_Click()
{
    if (m_prompt)
        m_prompt->disconnectNow();
    hide();
}

void frmInactivityDisconnect::closeEvent(QCloseEvent *event)
{
    // Closed by the close box (the answer stays what it is) or with the session.
    if (m_prompt)
        m_prompt->unload();
    event->accept();
    hide();
}

bool frmInactivityDisconnect::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == lblMessage || watched == pbCountDown) && (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter))
        lblMessage->setText(QString::number(pbCountDown->value()) + QString(16, QLatin1Char(' ')));
    return QDialog::eventFilter(watched, event);
}
