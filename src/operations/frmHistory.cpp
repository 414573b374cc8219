#include "operations/frmHistory.h"

#include "controls/AnimationStrip.h"
#include "controls/ButtonKeys.h"
#include "core/Errors.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/SessionIcon.h"
#include "platform/Timing.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

const QString kForm = QStringLiteral("frmHistory");

// The first request of a retrieval the operator starts goes out with priority 5, not automatic.
constexpr std::int16_t kPriority = 5;
// Pause before the window closes itself after an interactive retrieval, milliseconds.
constexpr qint64 kEndPauseMs = 2000;

QString catalog(std::int16_t number)
{
    return modGlobals::GetCatalogString(number);
}

} // namespace

// ---- Window ------------------------------------------------------------------------------------

frmHistory::frmHistory(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(kForm);
    m_retrieval = new HistoryRetrieval(this);
    buildWindow();
    SessionState &state = sessionState();
    state.historyWindow = this;
}

frmHistory::~frmHistory()
{
    // Closed from outside (the session ended) before Display or the retrieval could unload it.
    if (!m_unloaded)
        Form_Unload();
    SessionState &state = sessionState();
    if (state.historyWindow == this)
        state.historyWindow = nullptr;
}

void frmHistory::buildWindow()
{
    setWindowTitle(catalog(269));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    modGlobals::ApplySessionIcon(this);
    ButtonKeys::install(this);

    aniHistory = new AnimationStrip(this);
    aniHistory->setObjectName(QStringLiteral("aniHistory"));
    fraHistory = new QFrame(this);
    fraHistory->setObjectName(QStringLiteral("fraHistory"));
    fraRange = new QGroupBox(catalog(270), fraHistory);
    fraRange->setObjectName(QStringLiteral("fraRange"));
    optCurrent = new QRadioButton(catalog(271), fraRange);
    optCurrent->setObjectName(QStringLiteral("optCurrent"));
    optAll = new QRadioButton(catalog(272), fraRange);
    optAll->setObjectName(QStringLiteral("optAll"));
    chkSetPointer = new QCheckBox(catalog(273), fraHistory);
    chkSetPointer->setObjectName(QStringLiteral("chkSetPointer"));
    cmdOK = new QPushButton(catalog(109), fraHistory);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(catalog(108), fraHistory);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setAutoDefault(false);
    progressbar = new QProgressBar(fraHistory);
    progressbar->setObjectName(QStringLiteral("progressbar"));
    progressbar->setRange(0, 100);
    progressbar->setValue(0);
    lblStatus = new QLabel(catalog(274), fraHistory);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));

    auto *range = new QVBoxLayout(fraRange);
    range->addWidget(optCurrent);
    range->addWidget(optAll);

    auto *buttons = new QVBoxLayout;
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    buttons->addStretch(1);

    auto *grid = new QGridLayout(fraHistory);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(fraRange, 0, 0);
    grid->addLayout(buttons, 0, 1);
    grid->addWidget(chkSetPointer, 1, 0, 1, 2);
    grid->addWidget(progressbar, 2, 0, 1, 2);
    grid->addWidget(lblStatus, 3, 0, 1, 2);
    grid->setColumnStretch(0, 1);

    auto *top = new QVBoxLayout(this);
    top->addWidget(aniHistory);
    top->addWidget(fraHistory);
    top->setSizeConstraint(QLayout::SetFixedSize);

    // Design state: current events, pointer not stored.
    optCurrent->setChecked(true);
    chkSetPointer->setChecked(false);
    // A range chosen in code has the effect of a click; the retrieval follows the controls.
    connect(optCurrent, &QRadioButton::toggled, this, [this](bool on) {
        rangeChosen();
        if (on)
            optCurrent_Click();
    });
    connect(optAll, &QRadioButton::toggled, this, [this](bool on) {
        rangeChosen();
        if (on)
            optAll_Click();
    });
    connect(chkSetPointer, &QCheckBox::toggled, m_retrieval, &HistoryRetrieval::setSetPointer);
    rangeChosen();
    m_retrieval->setSetPointer(chkSetPointer->isChecked());

    // The retrieval's state as the operator sees it.
    connect(m_retrieval, &HistoryRetrieval::statusChanged, lblStatus, &QLabel::setText);
    connect(m_retrieval, &HistoryRetrieval::progressChanged, progressbar, [this](int value, int maximum) {
        progressbar->setMinimum(0);
        progressbar->setMaximum(maximum);
        progressbar->setValue(value);
    });
    connect(m_retrieval, &HistoryRetrieval::finished, this, [this] { retrievalFinished(); });
    connect(m_retrieval, &HistoryRetrieval::cancelled, this, [this] {
        if (!m_unloaded)
            hide();
    });
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });

    setExpanded(false);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmHistory::setExpanded(bool expanded)
{
    m_expanded = expanded;
    aniHistory->setVisible(expanded);
    progressbar->setVisible(expanded);
    lblStatus->setVisible(expanded);
    adjustSize();
}

void frmHistory::rangeChosen()
{
    using Range = HistoryRetrieval::Range;
    m_retrieval->setRange(optCurrent->isChecked() ? Range::Current : optAll->isChecked() ? Range::All : Range::None);
}

void frmHistory::retrievalFinished()
{
    // An unattended retrieval has unloaded itself: the window goes with it.
    if (m_retrieval->isUnloaded()) {
        Unload();
        return;
    }
    QPointer<frmHistory> self(this);
    aniHistory->stop();
    lblStatus->setText(catalog(537));
    QCoreApplication::processEvents();
    if (!self)
        return;
    Timing::pauseWithEvents(kEndPauseMs);
    if (!self)
        return;
    hide();
}

// Escape is the Cancel button.
void frmHistory::reject()
{
    cmdCancel_Click();
}

void frmHistory::closeEvent(QCloseEvent *event)
{
    if (event->spontaneous()) {
        // The window's close box: as the Cancel button.
        event->ignore();
        cmdCancel_Click();
        return;
    }
    // Closed by the component (the session ended): the modal run ends.
    QDialog::done(QDialog::Rejected);
    event->accept();
}

// ---- Display and unload ------------------------------------------------------------------------

std::int32_t frmHistory::Display()
{
    QPointer<frmHistory> self(this);
    return errors::guarded(kForm, QStringLiteral("Display()"), [&] {
        modGlobals::ZelCommEvent(6, 0);
        aniHistory->open(QDir(sessionState().config.tamselPath).filePath(QStringLiteral("RtoL.avi")));
        RunState = RunDisplayed;
        setExpanded(false);
        exec();
        if (self && !m_unloaded)
            Form_Unload();
    });
}

void frmHistory::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    errors::guarded(kForm, QStringLiteral("Form_Unload()"), [&] { aniHistory->stop(); });
    m_retrieval->unload();
}

void frmHistory::Unload()
{
    Form_Unload();
    hide();
    deleteLater();
}

// ---- Controls ----------------------------------------------------------------------------------

// The pointer can only be stored after a "Current Events" read.
void frmHistory::optCurrent_Click()
{
    errors::guarded(kForm, QStringLiteral("optCurrent_Click"), [&] { chkSetPointer->setEnabled(true); });
}

void frmHistory::optAll_Click()
{
    errors::guarded(kForm, QStringLiteral("optAll_Click"), [&] { chkSetPointer->setEnabled(false); });
}

void frmHistory::cmdOK_Click()
{
    errors::guarded(kForm, QStringLiteral("cmdOK_Click"), [&] {
        aniHistory->play();
        cmdOK->setEnabled(false);
        cmdCancel->setText(catalog(302));
        fraRange->setEnabled(false);
        chkSetPointer->setEnabled(false);
        setExpanded(true);
        lblStatus->setText(catalog(982));
        m_retrieval->start(kPriority);
    });
}

void frmHistory::cmdCancel_Click()
{
    errors::guarded(kForm, QStringLiteral("cmdCancel_Click"), [&] {
        // While one of the retrieval's requests is with the panel, the retrieval stops once its
        // answer has been handled; otherwise the window goes at once (and its unload drops any
        // request still queued).
        if (m_retrieval->cancel()) {
            RunState = RunCancelled;
            cmdCancel->setEnabled(false);
            return;
        }
        hide();
    });
}
