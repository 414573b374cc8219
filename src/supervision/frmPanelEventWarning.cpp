#include "supervision/frmPanelEventWarning.h"

#include "controls/ButtonKeys.h"
#include "core/modGlobals.h"
#include "diagnostics/SessionIcon.h"
#include "link/modToolbox.h"
#include "supervision/EventWarning.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// A choice label's text: the catalog text with "CRLF" written as a line break.
QString choiceText(std::int16_t number)
{
    return modGlobals::GetCatalogString(number).replace(QStringLiteral("CRLF"), QStringLiteral("\n"));
}
} // namespace

frmPanelEventWarning::frmPanelEventWarning(EventWarning *warning, QWidget *parent)
    : QDialog(parent), m_warning(warning)
{
    setObjectName(QStringLiteral("frmPanelEventWarning"));
    buildWindow();
    if (!warning)
        return;
    UpdatePanelEventForm(warning->newEventsPkt());
    if (warning->hasStarted()) {
        showLength(warning->length());
        pbCountDown->setValue(warning->remaining());
    }
    connect(warning, &EventWarning::levelsChanged, this, &frmPanelEventWarning::UpdatePanelEventForm);
    connect(warning, &EventWarning::countdownStarted, this, [this](int seconds) {
        showLength(seconds);
        pbCountDown->setValue(seconds);
    });
    connect(warning, &EventWarning::remainingChanged, this, [this](int seconds) {
        pbCountDown->setValue(seconds);
        lblMessage->setText(modGlobals::GetCatalogString(279));
    });
    connect(warning, &EventWarning::ticked, this, [this] {
        if (isVisible() && !isActiveWindow()) {
            raise();
            activateWindow();
        }
    });
    connect(warning, &EventWarning::ended, this, &QWidget::hide);
}

frmPanelEventWarning::~frmPanelEventWarning() = default;

void frmPanelEventWarning::buildWindow()
{
    setWindowTitle(modGlobals::GetCatalogString(287));
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    modGlobals::ApplySessionIcon(this);
    ButtonKeys::install(this);

    fraChoices = new QGroupBox(this);
    fraChoices->setObjectName(QStringLiteral("fraChoices"));
    auto choice = [this](const char *buttonName, QToolButton *&button, const char *labelName, QLabel *&label,
                         std::int16_t text, QStyle::StandardPixmap picture) {
        button = new QToolButton(fraChoices);
        button->setObjectName(QLatin1String(buttonName));
        button->setIcon(style()->standardIcon(picture));
        button->setIconSize(QSize(24, 24));
        button->setFocusPolicy(Qt::StrongFocus);
        label = new QLabel(choiceText(text), fraChoices);
        label->setObjectName(QLatin1String(labelName));
        label->setCursor(Qt::PointingHandCursor);
        // A click on the label answers as its button; the pointer on either gives the button focus.
        for (QWidget *watched : {static_cast<QWidget *>(button), static_cast<QWidget *>(label)})
            watched->installEventFilter(this);
    };
    choice("cmdContinue", cmdContinue, "lblContinue", lblContinue, 288, QStyle::SP_DialogApplyButton);
    choice("cmdIgnore", cmdIgnore, "lblIgnore", lblIgnore, 289, QStyle::SP_DialogNoButton);
    choice("cmdHangUp", cmdHangUp, "lblHangUp", lblHangUp, 290, QStyle::SP_DialogCloseButton);

    lblMessage = new QLabel(modGlobals::GetCatalogString(279), fraChoices);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblMessage->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    pbCountDown = new QProgressBar(fraChoices);
    pbCountDown->setObjectName(QStringLiteral("pbCountDown"));
    pbCountDown->setTextVisible(false);
    pbCountDown->setMinimumWidth(260);
    lblMinSec = new QLabel(modGlobals::GetCatalogString(277), fraChoices);
    lblMinSec->setObjectName(QStringLiteral("lblMinSec"));
    lblMaxSec = new QLabel(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(278), QStringLiteral("MAX"), QString()), fraChoices);
    lblMaxSec->setObjectName(QStringLiteral("lblMaxSec"));
    lblMaxSec->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (QWidget *watched : {static_cast<QWidget *>(lblMessage), static_cast<QWidget *>(pbCountDown)}) {
        watched->setMouseTracking(true);
        watched->installEventFilter(this);
    }

    auto *choices = new QGridLayout(fraChoices);
    choices->addWidget(cmdContinue, 0, 0);
    choices->addWidget(lblContinue, 0, 1);
    choices->addWidget(cmdIgnore, 1, 0);
    choices->addWidget(lblIgnore, 1, 1);
    choices->addWidget(cmdHangUp, 2, 0);
    choices->addWidget(lblHangUp, 2, 1);
    auto *countdown = new QGridLayout;
    countdown->addWidget(lblMessage, 0, 0, 1, 2);
    countdown->addWidget(pbCountDown, 1, 0, 1, 2);
    countdown->addWidget(lblMinSec, 2, 0);
    countdown->addWidget(lblMaxSec, 2, 1);
    choices->addLayout(countdown, 3, 0, 1, 2);

    // The levels: kept up to date, but in a frame that is not shown.
    fraLevels = new QGroupBox(this);
    fraLevels->setObjectName(QStringLiteral("fraLevels"));
    fraNewEvents = new QGroupBox(modGlobals::GetCatalogString(180), fraLevels);
    fraNewEvents->setObjectName(QStringLiteral("fraNewEvents"));
    auto *levels = new QVBoxLayout(fraNewEvents);
    static const std::int16_t captions[8] = {181, 188, 187, 186, 185, 184, 183, 182};
    for (int i = 0; i < 8; ++i) {
        auto *box = new QCheckBox(modGlobals::GetCatalogString(captions[i]), fraNewEvents);
        box->setObjectName(QStringLiteral("chkNewEventLevel%1").arg(i));
        chkNewEventLevel << box;
        levels->addWidget(box);
    }
    auto *levelFrame = new QVBoxLayout(fraLevels);
    levelFrame->addWidget(fraNewEvents);
    fraLevels->hide();

    auto *top = new QHBoxLayout(this);
    top->addWidget(fraChoices);
    top->addWidget(fraLevels);
    top->setSizeConstraint(QLayout::SetFixedSize);

    connect(cmdContinue, &QToolButton::clicked, this, [this] { cmdContinue_Click(); });
    connect(cmdIgnore, &QToolButton::clicked, this, [this] { cmdIgnore_Click(); });
    connect(cmdHangUp, &QToolButton::clicked, this, [this] { cmdHangUp_Click(); });
}

void frmPanelEventWarning::showLength(int seconds)
{
    pbCountDown->setRange(0, std::max(seconds, 1));
    lblMaxSec->setText(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(278), QStringLiteral("MAX"), QString::number(seconds)));
}

void frmPanelEventWarning::UpdatePanelEventForm(std::int32_t newEventsPkt)
{
    modToolbox::UpdatePanelEventForm(chkNewEventLevel, newEventsPkt);
}

void frmPanelEventWarning::cmdContinue_Click()
{
    if (m_warning)
        m_warning->continueSession();
    hide();
}

void frmPanelEventWarning::cmdIgnore_Click()
{
    if (m_warning)
        m_warning->ignoreFurtherEvents();
    hide();
}

void frmPanelEventWarning::cmdHangUp_Click()
{
    if (m_warning)
        m_warning->hangUp();
    hide();
}

QList<QWidget *> frmPanelEventWarning::windowsToHideUnderWarning()
{
    QList<QWidget *> found;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        const QString name = widget->objectName();
        if (widget->isVisible() && !widget->isMinimized() && (name == QLatin1String("frmPanelSyncro") || name == QLatin1String("frmWorkInProgress")))
            found << widget;
    }
    return found;
}

void frmPanelEventWarning::closeEvent(QCloseEvent *event)
{
    // Closed without an answer: hang up.
    if (m_warning)
        m_warning->unload();
    event->accept();
    hide();
}

void frmPanelEventWarning::reject()
{
    close();
}

bool frmPanelEventWarning::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    const struct
    {
        QToolButton *button;
        QLabel *label;
    } choices[] = {{cmdContinue, lblContinue}, {cmdIgnore, lblIgnore}, {cmdHangUp, lblHangUp}};
    for (const auto &c : choices) {
        if (watched != c.button && watched != c.label)
            continue;
        if (type == QEvent::Enter || type == QEvent::MouseMove)
            c.button->setFocus(Qt::MouseFocusReason);
        if (watched == c.label && type == QEvent::MouseButtonRelease
            && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            c.button->click();
            return true;
        }
    }
    if ((watched == lblMessage || watched == pbCountDown) && (type == QEvent::Enter || type == QEvent::MouseMove))
        lblMessage->setText(QString(16, QLatin1Char(' ')) + QString::number(pbCountDown->value()));
    return QDialog::eventFilter(watched, event);
}
