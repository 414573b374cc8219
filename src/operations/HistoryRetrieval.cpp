#include "operations/HistoryRetrieval.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/SessionState.h"
#include "core/Variant.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "link/modExecFunctions.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"
#include "queue/MessageQueue.h"

#include <QCoreApplication>
#include <QPointer>

#include <limits>

namespace {

// Errors are reported under the owner name the requests carry.
const QString kOwner = QStringLiteral("frmHistory");

// Requests after the first go out with priority 5, not automatic.
constexpr std::int16_t kPriority = 5;
// A block examines at most this many slots of an answer.
constexpr int kSlotsPerBlock = 30;
// Byte 0 of a modifier slot (and of a main slot that is none) starts here.
constexpr std::uint8_t kModifierMark = 0xF0;

// A value for one of the 16-bit fields: one that does not fit is an overflow error.
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

HistoryRetrieval::HistoryRetrieval(QObject *parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("HistoryRetrieval"));
    m_registered = modGlobals::AddGUIDObjectUnowned(this);
    sessionState().historyRetrieval = this;
}

HistoryRetrieval::~HistoryRetrieval()
{
    // Let go before the retrieval could unload itself (its owner, or the session, ended).
    if (!m_unloaded)
        unload();
    SessionState &state = sessionState();
    if (state.historyRetrieval == this)
        state.historyRetrieval = nullptr;
}

void HistoryRetrieval::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    errors::guarded(kOwner, QStringLiteral("Form_Unload()"), [&] {
        modGlobals::ZelCommEvent(7, 0);
        // Requests of this retrieval still waiting in the queue are of no use any more.
        if (MessageQueue *queue = sessionState().messageQueue)
            queue->AbortQueuedMsgOwnedBy(Name());
        if (m_registered) {
            m_registered = false;
            SessionState &state = sessionState();
            // The queue window empties the registry when it unloads: the retrieval may be gone from it.
            if (state.guidRegistry && state.guidRegistry->contains(szGUID()))
                modGlobals::RemoveGUIDObject(szGUID());
        }
    });
}

void HistoryRetrieval::start(std::int16_t iPriority)
{
    m_started = true;
    submitted(modExecFunctions::SMReqEventIndex(this, iPriority, false));
}

bool HistoryRetrieval::cancel()
{
    // While one of this retrieval's requests is with the panel, it stops once its answer has been
    // handled; otherwise there is nothing to wait for.
    MessageQueue *queue = sessionState().messageQueue;
    if (!queue || !m_started)
        return false;
    const std::shared_ptr<clsMessage> current = queue->CurrentMessage();
    if (!current || current->OwnerName() != Name())
        return false;
    m_cancelled = true;
    return true;
}

bool HistoryRetrieval::status(std::int16_t catalogNumber)
{
    QPointer<HistoryRetrieval> self(this);
    emit statusChanged(modGlobals::GetCatalogString(catalogNumber));
    QCoreApplication::processEvents();
    return !self.isNull();
}

void HistoryRetrieval::setProgress(int value)
{
    m_progress = value;
    emit progressChanged(m_progress, m_planned);
}

// ---- Slot checks -------------------------------------------------------------------------------

bool HistoryRetrieval::IsEmptyHistory(const QByteArray &data)
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

bool HistoryRetrieval::IsValidMainEvent(const QByteArray &slot)
{
    return slot.size() >= 2 && static_cast<std::uint8_t>(slot.at(0)) < kModifierMark
           && static_cast<std::uint8_t>(slot.at(1)) < 0x40;
}

bool HistoryRetrieval::IsValidTimeStamp(const QByteArray &slot)
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

void HistoryRetrieval::ResponseReceived(clsMessage &msg)
{
    QPointer<HistoryRetrieval> self(this);
    bool ours = false;
    bool failed = false;
    errors::guardedFatal(kOwner, QStringLiteral("ResponseReceived()"), failed, [&] {
        if (msg.OwnerName() != Name())
            return; // an answer for another owner: nothing to do here
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
    if (ours && self && !m_unloaded && m_cancelled)
        emit cancelled();
}

bool HistoryRetrieval::indexAnswer(const QByteArray &data)
{
    // Bytes 3-8: read pointer, newest index and ring size, each high byte first.
    const int pointer = answerWord(data, 3);
    const int newest = answerWord(data, 5);
    const int size = answerWord(data, 7);
    HistoryPointers &p = m_pointers;
    p = HistoryPointers{};
    m_wholeRing = false;
    m_validEventCount = 0;
    p.PanelPointer = fit16(pointer, "PanelPointer");
    p.NewestIndex = fit16(newest, "NewestIndex");
    p.LogSize = fit16(size, "LogSize");
    // Slots are numbered 0 .. LogSize - 1: an index outside the ring cannot be read from.
    if (p.LogSize <= 0 || p.PanelPointer >= p.LogSize || p.NewestIndex >= p.LogSize)
        raiseError(ErrorCode::SendRefused, QStringLiteral("event index answer outside the ring: pointer %1, newest %2, size %3")
                                               .arg(pointer).arg(newest).arg(size));

    switch (m_range) {
    case Range::Current:
        modGlobals::MakeCallback(QStringLiteral("HISTORY_CURRENT"), missingArgument());
        p.StartIndex = p.PanelPointer;
        p.EndIndex = p.NewestIndex;
        break;
    case Range::All:
        modGlobals::MakeCallback(QStringLiteral("HISTORY_ALL"), missingArgument());
        // From the slot after the newest index round the ring back to it.
        p.StartIndex = fit16((p.NewestIndex + 1) % p.LogSize, "StartIndex");
        p.EndIndex = p.NewestIndex;
        break;
    case Range::None:
        p.Restarted = true;
        p.StartIndex = 0;
        p.EndIndex = p.NewestIndex;
        break;
    }
    plan();
    return next();
}

void HistoryRetrieval::plan()
{
    HistoryPointers &p = m_pointers;
    // From the start index up to the end index, round the end of the ring when the end lies
    // before the start; start = end is the whole ring.
    const int planned = p.EndIndex > p.StartIndex ? p.EndIndex - p.StartIndex : p.LogSize - p.StartIndex + p.EndIndex;
    fit16(planned, "planned slots");
    m_wholeRing = m_range == Range::All && p.StartIndex == p.EndIndex;
    m_planned = planned;
    setProgress(0);
}

HistoryRetrieval::BlockWalk HistoryRetrieval::WalkBlock(const QByteArray &data, int planned, int processedSlots,
                                                        bool mayRestart, const std::function<bool()> &beforeSlot)
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

bool HistoryRetrieval::block(const QByteArray &data)
{
    if (IsEmptyHistory(data))
        return finish();

    HistoryPointers &p = m_pointers;
    const int planned = m_planned;
    bool gone = false;
    const BlockWalk walk = WalkBlock(data, planned, p.ProcessedSlots, m_range == Range::All && !p.Restarted, [&] {
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
    m_validEventCount = fit16(m_validEventCount + walk.validEvents, "ValidEventCount");
    p.ProcessedSlots = fit16(walk.processedSlots, "ProcessedSlots");
    // The last event of a plan may run a slot or two past it: the progress stops at full.
    setProgress(qMin<int>(p.ProcessedSlots, planned));
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

bool HistoryRetrieval::next()
{
    const HistoryPointers &p = m_pointers;
    if (p.StartIndex != p.EndIndex || m_wholeRing) {
        m_wholeRing = false;
        if (!status(532))
            return false;
        submitted(modExecFunctions::SMReqEventLog(static_cast<std::uint16_t>(p.StartIndex), this, kPriority, false));
        return true;
    }
    return finish();
}

bool HistoryRetrieval::finish()
{
    setProgress(m_planned);
    if (m_range == Range::Current && m_setPointer) {
        if (!status(535))
            return false;
        submitted(modExecFunctions::SMSetEventIndex(static_cast<std::uint16_t>(m_pointers.EndIndex), this, kPriority, false));
        return true;
    }
    return end();
}

bool HistoryRetrieval::end()
{
    QPointer<HistoryRetrieval> self(this);
    modGlobals::MakeCallback(QStringLiteral("HISTORY_END"), QVariant::fromValue<qint16>(m_validEventCount));
    if (!self)
        return false;
    // Nobody watches an unattended retrieval end: it goes at once.
    if (sessionState().UnattendedFlag)
        unload();
    emit finished(m_validEventCount);
    return self && !m_unloaded;
}

// ---- Unattended --------------------------------------------------------------------------------

namespace modUnattended {

std::int32_t UnattendedHistoryStartup(HistoryRetrieval *retrieval, std::int16_t iPriority)
{
    return errors::guarded(QStringLiteral("modUnattended"), QStringLiteral("UnattendedHistoryStartup()"), [&] {
        if (!retrieval)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no history retrieval"));
        retrieval->start(iPriority);
    });
}

} // namespace modUnattended
