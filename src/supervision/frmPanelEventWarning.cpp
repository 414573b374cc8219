#include "supervision/frmPanelEventWarning.h"

#include "controls/ButtonKeys.h"
#include "core/Errors.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/SessionIcon.h"
#include "link/modToolbox.h"
#include "platform/Timing.h"
#include "supervision/Countdown.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {
const QString kForm = QStringLiteral("frmPanelEventWarning");
constexpr std::int16_t kContinue = 0;
constexpr std::int16_t kHangUp = 1;
constexpr std::int16_t kIgnore = 2;

// A choice label's text: the catalog text with "CRLF" written as a line break.
QString choiceText(std::int16_t number)
{
    return modGlobals::GetCatalogString(number).replace(QStringLiteral("CRLF"), QStringLiteral("\n"));
}
} // namespace

frmPanelEventWarning::frmPanelEventWarning(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(kForm);
    buildWindow();
    m_registered = modGlobals::AddGUIDObjectUnowned(this);
}

frmPanelEventWarning::~frmPanelEventWarning()
{
    Form_Unload();
}

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
    tmrCountDown = new QTimer(this);
    tmrCountDown->setObjectName(QStringLiteral("tmrCountDown"));

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
    connect(tmrCountDown, &QTimer::timeout, this, [this] { tmrCountDown_Timer(); });
}

std::int32_t frmPanelEventWarning::Display(std::int32_t newEventsPkt)
{
    QPointer<frmPanelEventWarning> self(this);
    QList<QPointer<QWidget>> hidden;
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("Display()"), [&] {
        SessionState &state = sessionState();
        state.PanelEventWarningShown = true;
        // The levels first: a newer value that comes during the beeps refreshes them and must not
        // be overwritten by this older one.
        UpdatePanelEventForm(newEventsPkt);
        if (!supervision::announce(this, [this] { return !m_unloaded; }))
            return;
        const int length = supervision::countdownSeconds(QStringLiteral("EventWarningTimeout"), kForm);
        pbCountDown->setRange(0, std::max(length, 1));
        pbCountDown->setValue(length);
        m_deadlineMs = Timing::nowMs() + Timing::scaled(static_cast<qint64>(length) * 1000);
        lblMaxSec->setText(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(278), QStringLiteral("MAX"), QString::number(length)));
        m_tick = 0;
        tmrCountDown->setInterval(supervision::tickMs());
        tmrCountDown->start();
        // The synchronisation and transfer windows stay on top of everything: out of sight while
        // the warning is up. They are minimised rather than hidden, so that one that unloads itself
        // meanwhile (it hides itself) is not brought back afterwards.
        for (QWidget *window : supervision::windowsToHideUnderWarning()) {
            hidden << QPointer<QWidget>(window);
            window->setWindowState(window->windowState() | Qt::WindowMinimized);
        }
        exec();
    });
    for (const QPointer<QWidget> &window : hidden) {
        if (window && window->isVisible() && window->isMinimized())
            window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    }
    if (self)
        Form_Unload();
    return rc;
}

void frmPanelEventWarning::UpdatePanelEventForm(std::int32_t newEventsPkt)
{
    modToolbox::UpdatePanelEventForm(chkNewEventLevel, newEventsPkt);
}

void frmPanelEventWarning::answer(std::int16_t choice)
{
    m_answered = true;
    m_choice = choice;
    tmrCountDown->stop();
    hide();
}

void frmPanelEventWarning::cmdContinue_Click()
{
    answer(kContinue);
}

void frmPanelEventWarning::cmdIgnore_Click()
{
    answer(kIgnore);
}

void frmPanelEventWarning::cmdHangUp_Click()
{
    answer(kHangUp);
}

qint64 frmPanelEventWarning::remainingMs() const
{
    return m_deadlineMs - Timing::nowMs();
}

void frmPanelEventWarning::tmrCountDown_Timer()
{
    errors::guarded(kForm, QStringLiteral("tmrCountDown_Timer()"), [&] {
        ++m_tick;
        if (isVisible() && !isActiveWindow()) {
            raise();
            activateWindow();
        }
        const qint64 left = remainingMs();
        if (m_tick % 10 == 0 && left > 0) {
            // Whole seconds of protocol time, rounded.
            const double seconds = static_cast<double>(left) / static_cast<double>(Timing::scaled(1000));
            pbCountDown->setValue(static_cast<int>(std::lround(seconds)));
            lblMessage->setText(modGlobals::GetCatalogString(279));
            m_tick = 0;
        } else if (left <= 0) {
            answer(kHangUp);
        }
    });
}

void frmPanelEventWarning::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    SessionState &state = sessionState();
    state.PanelEventWarningShown = false;
    if (!m_answered) {
        m_choice = kHangUp;
        tmrCountDown->stop();
    }
    if (m_registered)
        modGlobals::ForgetGUIDObject(szGUID());
    m_registered = false;
}

void frmPanelEventWarning::closeEvent(QCloseEvent *event)
{
    // Closed without an answer: hang up.
    Form_Unload();
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
