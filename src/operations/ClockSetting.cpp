#include "operations/ClockSetting.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "external/DateConverter.h"
#include "link/modExecFunctions.h"
#include "operations/modDateTime.h"
#include "platform/Timing.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"
#include "queue/MessageQueue.h"

#include <QPointer>

namespace {

// Errors are reported under the owner name the requests carry.
const QString kOwner = QStringLiteral("frmDateTime");
const QString kRequestPanelDate = QStringLiteral("Request Panel Date");
const QString kChangePanelDate = QStringLiteral("Change Panel Date");

// Queue arguments of the requests.
constexpr std::int16_t kPriority = 5;
constexpr bool kAuto = false;

// The "Request Panel Date" answer holds the clock bytes at 3..8, followed by its checksum.
constexpr int kClockAnswerSize = 10;

} // namespace

ClockSetting::ClockSetting(QObject *parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("ClockSetting"));
    m_registered = modGlobals::AddGUIDObjectUnowned(this);
}

ClockSetting::~ClockSetting()
{
    unload();
}

std::int32_t ClockSetting::readPanelClock()
{
    const std::int32_t rc = errors::guarded(kOwner, QStringLiteral("cmdGetCurrentDateTimeFromPanel_Click()"), [&] {
        if (modExecFunctions::SMReqPanelDateTime(this, kPriority, kAuto) != 0)
            raiseError(ErrorCode::SendRefused, QStringLiteral("the clock read could not be queued"));
    });
    if (rc != 0)
        endSession();
    return rc;
}

std::int32_t ClockSetting::writePanelClock(std::int16_t adjustmentHours)
{
    const std::int32_t rc = errors::guarded(kOwner, QStringLiteral("cmdOK_Click()"), [&] {
        const modDateTime::PanelClockBytes b = modDateTime::panelClockFor(Timing::currentDateTime(), adjustmentHours);
        SentDateTime = b.moment;
        if (modExecFunctions::SMChangeDateTime(b.month, b.day, b.year, b.hour, b.minute, b.amPm, this, kPriority, kAuto)
            != 0)
            raiseError(ErrorCode::SendRefused, QStringLiteral("the clock write could not be queued"));
    });
    if (rc != 0)
        endSession();
    return rc;
}

bool ClockSetting::DecodePanelDateTime(const QByteArray &data, const QLocale &locale, QString &date, QString &time)
{
    date.clear();
    time.clear();
    if (data.size() < kClockAnswerSize)
        return false;
    const auto byte = [&data](int i) { return static_cast<std::uint8_t>(data.at(i)); };
    const DateConverter converter(locale);
    date = converter.BuildDate(byte(3), byte(4), byte(5));
    time = converter.BuildTimeString(byte(6), byte(7), 0, byte(8));
    return true;
}

void ClockSetting::ResponseReceived(clsMessage &msg)
{
    QPointer<ClockSetting> self(this);
    bool fatal = false;
    errors::guardedFatal(kOwner, QStringLiteral("ResponseReceived()"), fatal, [&] {
        if (msg.OwnerName() != Name())
            return;
        modGlobals::DebugPrint(QStringLiteral("Callback to ") + Name());
        const QByteArray data = msg.dataBytes();
        if (data.isEmpty())
            raiseError(ErrorCode::SendRefused, QStringLiteral("empty answer to %1").arg(msg.Name()));
        const QString name = msg.Name();
        if (name == kRequestPanelDate) {
            if (data.size() >= kClockAnswerSize) {
                emit panelClockRead(data);
            } else {
                // Nothing to show; the request is over, so the operator may ask again.
                modGlobals::DebugPrint(QStringLiteral("Panel date answer too short: ") + modGlobals::DebugConvert(data));
            }
            if (self)
                emit readEnded();
        } else if (name == kChangePanelDate) {
            if (data.size() < 3)
                raiseError(ErrorCode::SubscriptOutOfRange, QStringLiteral("short answer to the clock write"));
            if (static_cast<std::uint8_t>(data.at(2)) == 2)
                raiseError(ErrorCode::SendRefused, QStringLiteral("the panel refused the new date"));
            modGlobals::MakeCallback(QStringLiteral("SET_TIME"), SentDateTime);
            if (!self)
                return;
            // Nobody watches an unattended write end: the clock goes at once.
            if (sessionState().UnattendedFlag)
                unload();
            else
                emit written();
        }
    });
    if (fatal) {
        modGlobals::Disconnect(false, 5);
        if (self && sessionState().UnattendedFlag)
            unload();
        if (self)
            emit failed();
    }
}

void ClockSetting::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    errors::guarded(kOwner, QStringLiteral("Form_Unload()"), [&] {
        SessionState &state = sessionState();
        if (MessageQueue *queue = state.messageQueue)
            queue->AbortQueuedMsgOwnedBy(Name());
        if (m_registered)
            modGlobals::ForgetGUIDObject(szGUID());
        m_registered = false;
    });
    emit unloaded();
}

void ClockSetting::endSession()
{
    modGlobals::Disconnect(false, 5);
    emit failed();
}
