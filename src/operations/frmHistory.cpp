#include "operations/frmHistory.h"

#include "controls/AnimationStrip.h"
#include "controls/ButtonKeys.h"
#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/SessionState.h"
#include "core/Variant.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "link/modExecFunctions.h"
#include "platform/Timing.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"
#include "queue/frmMsgQueue.h"

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

#include <limits>

namespace {

const QString kForm = QStringLiteral("frmHistory");

// Requests of the window go out with priority 5, not automatic.
constexpr std::int16_t kPriority = 5;
// A block examines at most this many slots of an answer.
constexpr int kSlotsPerBlock = 30;
// Byte 0 of a modifier slot (and of a main slot that is none) starts here.
constexpr std::uint8_t kModifierMark = 0xF0;
// Pause before the window closes itself after an interactive retrieval, milliseconds.
constexpr qint64 kEndPauseMs = 2000;

QString catalog(std::int16_t number)
{
    return modGlobals::GetCatalogString(number);
}

// A value for one of the window's 16-bit fields: one that does not fit is an overflow error.
std::int16_t fit16(qint64 value, const char *field)
{
    if (value < std::numeric_limits<std::int16_t>::min() || value > std::numeric_limits<std::int16_t>::max())
        raiseError(ErrorCode::Overflow, QStringLiteral("%1 = %2 does not fit 16 bits").arg(QLatin1String(field)).arg(value));
    return static_cast<std::int16_t>(value);
}

// Answer byte `index` of the frame; an answer too short to carry it before its checksum is a failed
// answer: never a read past its end, and never the checksum read as data.
std::uint8_t answerByte(const QByteArray &data, qsizetype index)
{
    if (index < 0 || index >= data.size() - 1)
        raiseError(ErrorCode::SendRefused, QStringLiteral("answer of %1 bytes has no byte %2").arg(data.size()).arg(index));
    return static_cast<std::uint8_t>(data.at(index));
}

// A big-endian 16-bit word of the answer.
int answerWord(const QByteArray &data, qsizetype index)
{
    return answerByte(data, index) * 256 + answerByte(data, index + 1);
}

void submitted(std::int32_t rc)
{
    if (rc != 0)
        raiseError(ErrorCode::SendRefused);
}

} // namespace

// ---- Window ------------------------------------------------------------------------------------

frmHistory::frmHistory(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(kForm);
    buildWindow();
    m_registered = modGlobals::AddGUIDObjectUnowned(this);
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
    // A range chosen in code (the unattended jobs) has the effect of a click.
    connect(optCurrent, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            optCurrent_Click();
    });
    connect(optAll, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            optAll_Click();
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

bool frmHistory::status(std::int16_t catalogNumber)
{
    QPointer<frmHistory> self(this);
    lblStatus->setText(catalog(catalogNumber));
    QCoreApplication::processEvents();
    return !self.isNull();
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
        ValidEventCount = 0;
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
    errors::guarded(kForm, QStringLiteral("Form_Unload()"), [&] {
        aniHistory->stop();
        modGlobals::ZelCommEvent(7, 0);
        // Requests of this window still waiting in the queue are of no use any more.
        if (frmMsgQueue *queue = sessionState().queueWindow)
            queue->AbortQueuedMsgOwnedBy(Name());
        if (m_registered) {
            m_registered = false;
            SessionState &state = sessionState();
            // The queue window empties the registry when it unloads: the window may be gone from it.
            if (state.guidRegistry && state.guidRegistry->contains(szGUID()))
                modGlobals::RemoveGUIDObject(szGUID());
        }
    });
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
        submitted(modExecFunctions::SMReqEventIndex(this, kPriority, false));
    });
}

void frmHistory::cmdCancel_Click()
{
    errors::guarded(kForm, QStringLiteral("cmdCancel_Click"), [&] {
        // While one of this window's requests is with the panel, the retrieval stops once its
        // answer has been handled; otherwise the window goes at once (and its unload drops any
        // request still queued).
        if (frmMsgQueue *queue = sessionState().queueWindow; queue && cmdCancel->text() != catalog(108)) {
            const std::shared_ptr<clsMessage> current = queue->CurrentMessage();
            if (current && current->OwnerName() == Name()) {
                RunState = RunCancelled;
                cmdCancel->setEnabled(false);
                return;
            }
        }
        hide();
    });
}

// ---- Slot checks -------------------------------------------------------------------------------

bool frmHistory::IsEmptyHistory(const QByteArray &data)
{
    // Every byte from the payload on, the closing checksum byte of the answer included: a block
    // of empty slots is no empty answer, it ends the read slot by slot (which lets "All Events"
    // start again from slot 0).
    for (qsizetype i = 3; i < data.size(); ++i) {
        if (data.at(i) != 0)
            return false;
    }
    return true;
}

bool frmHistory::IsValidMainEvent(const QByteArray &slot)
{
    return slot.size() >= 2 && static_cast<std::uint8_t>(slot.at(0)) < kModifierMark
           && static_cast<std::uint8_t>(slot.at(1)) < 0x40;
}

bool frmHistory::IsValidTimeStamp(const QByteArray &slot)
{
    if (slot.size() < 3)
        return false;
    const int b0 = static_cast<std::uint8_t>(slot.at(0));
    const int b1 = static_cast<std::uint8_t>(slot.at(1));
    const int b2 = static_cast<std::uint8_t>(slot.at(2));
    const int month = b0 >> 4;
    const int day = ((b0 & 0x0F) << 1) | (b1 >> 7);
    const int hour = (b1 >> 2) & 0x1F;
    const int minute = ((b1 & 0x03) << 4) | (b2 >> 4);
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59;
}

// ---- The retrieval -----------------------------------------------------------------------------

void frmHistory::ResponseReceived(clsMessage &msg)
{
    QPointer<frmHistory> self(this);
    bool ours = false;
    bool failed = false;
    errors::guardedFatal(kForm, QStringLiteral("ResponseReceived()"), failed, [&] {
        if (msg.OwnerName() != Name())
            return; // an answer for another window: nothing to do here
        ours = true;
        modGlobals::DebugPrint(QStringLiteral("Callback to ") + Name());
        const QByteArray data = msg.dataBytes();
        if (data.isEmpty())
            raiseError(ErrorCode::SendRefused, QStringLiteral("empty answer to %1").arg(msg.Name()));
        const QString name = msg.Name();
        if (name == QLatin1String("Request Event Index")) {
            indexAnswer(data);
        } else if (name == QLatin1String("Request Event Log")) {
            block(data);
        } else if (name == QLatin1String("Set Event Index")) {
            if (answerByte(data, 2) == 2)
                raiseError(ErrorCode::SendRefused, QStringLiteral("the panel refused the event pointer"));
            modGlobals::MakeCallback(QStringLiteral("HISTORY_POINTER"), missingArgument());
            end();
        }
    });
    if (failed) {
        modGlobals::Disconnect(false, 5);
        return;
    }
    if (ours && self && !m_unloaded && RunState == RunCancelled)
        hide();
}

bool frmHistory::indexAnswer(const QByteArray &data)
{
    // Bytes 3-8: read pointer, newest index and ring size, each high byte first.
    const int pointer = answerWord(data, 3);
    const int newest = answerWord(data, 5);
    const int size = answerWord(data, 7);
    HistoryPointers &p = m_pointers;
    p = HistoryPointers{};
    m_wholeRing = false;
    ValidEventCount = 0;
    p.PanelPointer = fit16(pointer, "PanelPointer");
    p.NewestIndex = fit16(newest, "NewestIndex");
    p.LogSize = fit16(size, "LogSize");
    // Slots are numbered 0 .. LogSize - 1: an index outside the ring cannot be read from.
    if (p.LogSize <= 0 || p.PanelPointer >= p.LogSize || p.NewestIndex >= p.LogSize)
        raiseError(ErrorCode::SendRefused, QStringLiteral("event index answer outside the ring: pointer %1, newest %2, size %3")
                                               .arg(pointer).arg(newest).arg(size));

    if (optCurrent->isChecked()) {
        modGlobals::MakeCallback(QStringLiteral("HISTORY_CURRENT"), missingArgument());
        p.StartIndex = p.PanelPointer;
        p.EndIndex = p.NewestIndex;
    } else if (optAll->isChecked()) {
        modGlobals::MakeCallback(QStringLiteral("HISTORY_ALL"), missingArgument());
        // From the slot after the newest index round the ring back to it.
        p.StartIndex = fit16((p.NewestIndex + 1) % p.LogSize, "StartIndex");
        p.EndIndex = p.NewestIndex;
    } else {
        p.Restarted = true;
        p.StartIndex = 0;
        p.EndIndex = p.NewestIndex;
    }
    plan();
    return next();
}

void frmHistory::plan()
{
    HistoryPointers &p = m_pointers;
    // From the start index up to the end index, round the end of the ring when the end lies
    // before the start; start = end is the whole ring.
    const int planned = p.EndIndex > p.StartIndex ? p.EndIndex - p.StartIndex : p.LogSize - p.StartIndex + p.EndIndex;
    fit16(planned, "planned slots");
    m_wholeRing = optAll->isChecked() && p.StartIndex == p.EndIndex;
    progressbar->setMinimum(0);
    progressbar->setMaximum(planned);
    progressbar->setValue(0);
}

frmHistory::BlockWalk frmHistory::WalkBlock(const QByteArray &data, int planned, int processedSlots, bool mayRestart,
                                            const std::function<bool()> &beforeSlot)
{
    BlockWalk walk;
    walk.processedSlots = processedSlots;
    const qsizetype last = data.size() - 1;
    int &i = walk.consumed;
    while (i < kSlotsPerBlock && !walk.endOfLog && !walk.endOfBlock) {
        if (beforeSlot && !beforeSlot())
            break;
        // Slot i of the answer, the time-stamp slot after it and byte 0 of the slot after that.
        const qsizetype base = 4 * qsizetype(i) + 3;
        if (last <= base + 8) {
            walk.notes << QStringLiteral("End of Event Block");
            walk.endOfBlock = true;
            break;
        }
        const QByteArray main = data.mid(base, 4);
        const QByteArray stamp = data.mid(base + 4, 4);
        int sum = 0;
        for (char b : main)
            sum += static_cast<std::uint8_t>(b);

        if (planned <= walk.processedSlots || sum == 0) {
            if (mayRestart && walk.processedSlots == 0) {
                // The slot after the newest is empty: the ring has not been filled yet, so the log
                // runs from slot 0 to the newest. Nothing of this answer goes to the host.
                walk.restart = true;
                return walk;
            }
            walk.notes << (planned <= walk.processedSlots && sum != 0 ? QStringLiteral("End of Event Log with new events")
                                                                       : QStringLiteral("End of Event Log"));
            walk.endOfLog = true;
            walk.processedSlots = planned;
        } else if (IsValidMainEvent(main) && IsValidTimeStamp(stamp)) {
            ++walk.validEvents;
            if (static_cast<std::uint8_t>(data.at(base + 8)) >= kModifierMark) {
                i += 3;
                walk.processedSlots += 3;
                walk.notes << QStringLiteral("Event with Modifier");
            } else {
                i += 2;
                walk.processedSlots += 2;
                walk.notes << QStringLiteral("Event without Modifier");
            }
        } else {
            i += 1;
            walk.processedSlots += 1;
            walk.notes << QStringLiteral("Invalid Event");
        }
    }
    return walk;
}

bool frmHistory::block(const QByteArray &data)
{
    if (IsEmptyHistory(data))
        return finish();

    HistoryPointers &p = m_pointers;
    const int planned = progressbar->maximum();
    bool gone = false;
    const BlockWalk walk = WalkBlock(data, planned, p.ProcessedSlots, optAll->isChecked() && !p.Restarted, [&] {
        gone = !status(534);
        return !gone;
    });
    if (gone)
        return false;
    for (const QString &note : walk.notes)
        modGlobals::DebugPrint(note);
    if (walk.restart) {
        p.Restarted = true;
        p.StartIndex = 0;
        p.EndIndex = p.NewestIndex;
        plan();
        return next();
    }
    ValidEventCount = fit16(ValidEventCount + walk.validEvents, "ValidEventCount");
    p.ProcessedSlots = fit16(walk.processedSlots, "ProcessedSlots");
    // The last event of a plan may run a slot or two past it: the bar stops at full.
    progressbar->setValue(qMin<int>(p.ProcessedSlots, planned));
    const int i = walk.consumed;

    // An answer too short to hold even the first event is a failed answer: finishing on it would
    // move the panel's pointer past events that were never read.
    if (walk.endOfBlock && i == 0)
        raiseError(ErrorCode::SendRefused, QStringLiteral("event log answer of %1 bytes holds no event").arg(data.size()));

    // The next block starts after the slots consumed, inside the ring (slots 0 .. LogSize - 1).
    p.StartIndex = walk.endOfLog ? p.EndIndex : fit16((p.StartIndex + i) % p.LogSize, "StartIndex");
    if (i == 0)
        return finish();

    if (!status(536))
        return false;
    // The consumed slots end before the answer's checksum: a slot cut short by it is no slot.
    const qsizetype bytes = 4 * qsizetype(i);
    if (3 + bytes > data.size() - 1)
        raiseError(ErrorCode::SendRefused,
                   QStringLiteral("event log answer of %1 bytes ends inside slot %2").arg(data.size()).arg(i - 1));
    modGlobals::ZelCommEvent(13, data.mid(3, bytes));
    return next();
}

bool frmHistory::next()
{
    const HistoryPointers &p = m_pointers;
    if (p.StartIndex != p.EndIndex || m_wholeRing) {
        m_wholeRing = false;
        if (!status(532))
            return false;
        requestBlock();
        return true;
    }
    return finish();
}

void frmHistory::requestBlock()
{
    submitted(modExecFunctions::SMReqEventLog(static_cast<std::uint16_t>(m_pointers.StartIndex), this, kPriority, false));
}

bool frmHistory::finish()
{
    progressbar->setValue(progressbar->maximum());
    if (optCurrent->isChecked() && chkSetPointer->isChecked()) {
        if (!status(535))
            return false;
        submitted(modExecFunctions::SMSetEventIndex(static_cast<std::uint16_t>(m_pointers.EndIndex), this, kPriority, false));
        return true;
    }
    return end();
}

bool frmHistory::end()
{
    QPointer<frmHistory> self(this);
    modGlobals::MakeCallback(QStringLiteral("HISTORY_END"), QVariant::fromValue<qint16>(ValidEventCount));
    if (!self)
        return false;
    if (sessionState().UnattendedFlag) {
        Unload();
        return false;
    }
    aniHistory->stop();
    if (!status(537))
        return false;
    Timing::pauseWithEvents(kEndPauseMs);
    if (!self)
        return false;
    hide();
    return true;
}

// ---- Unattended --------------------------------------------------------------------------------

namespace modUnattended {

std::int32_t UnattendedHistoryStartup(frmHistory *frm, std::int16_t iPriority)
{
    return errors::guarded(QStringLiteral("modUnattended"), QStringLiteral("UnattendedHistoryStartup()"), [&] {
        if (!frm)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no history window"));
        submitted(modExecFunctions::SMReqEventIndex(frm, iPriority, false));
    });
}

} // namespace modUnattended
