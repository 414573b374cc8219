#include "supervision/EventWarning.h"

#include "core/Errors.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "platform/Timing.h"
#include "supervision/Countdown.h"
#include "supervision/SupervisionWindows.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <cmath>

namespace {
const QString kForm = QStringLiteral("frmPanelEventWarning");
} // namespace

EventWarning::EventWarning(QObject *parent)
    : QObject(parent)
{
    setObjectName(kForm);
    tmrCountDown = new QTimer(this);
    tmrCountDown->setObjectName(QStringLiteral("tmrCountDown"));
    connect(tmrCountDown, &QTimer::timeout, this, [this] { tmrCountDown_Timer(); });
    m_registered = modGlobals::AddGUIDObjectUnowned(this);
}

EventWarning::~EventWarning()
{
    unload();
}

std::int32_t EventWarning::Display(std::int32_t newEventsPkt)
{
    QPointer<EventWarning> self(this);
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("Display()"), [&] {
        sessionState().PanelEventWarningShown = true;
        // The levels first: a newer value that comes during the beeps refreshes them and must not
        // be overwritten by this older one.
        UpdatePanelEventForm(newEventsPkt);
        if (!supervision::announce(this, [this] { return !m_unloaded; }))
            return;
        startCountdown(supervision::countdownSeconds(QStringLiteral("EventWarningTimeout"), kForm));
        waitForEnd();
    });
    if (self)
        unload();
    return rc;
}

void EventWarning::startCountdown(int seconds)
{
    m_length = seconds;
    m_remaining = seconds;
    m_deadlineMs = Timing::nowMs() + Timing::scaled(static_cast<qint64>(seconds) * 1000);
    m_tick = 0;
    m_started = true;
    emit countdownStarted(seconds);
    tmrCountDown->setInterval(supervision::tickMs());
    tmrCountDown->start();
}

void EventWarning::waitForEnd()
{
    const QPointer<EventWarning> self(this);
    if (m_ended)
        return;
    if (const auto window = supervisionWindows().eventWarning; window && window(*this)) {
        // The window has closed: so has the warning (without an answer it hangs up).
        if (self && !m_ended)
            unload();
        return;
    }
    if (!self || m_ended)
        return;
    QEventLoop loop;
    connect(this, &EventWarning::ended, &loop, &QEventLoop::quit);
    connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
}

void EventWarning::UpdatePanelEventForm(std::int32_t newEventsPkt)
{
    m_newEventsPkt = newEventsPkt;
    emit levelsChanged(newEventsPkt);
}

void EventWarning::answer(std::int16_t choice)
{
    if (m_ended)
        return;
    m_answered = true;
    m_choice = choice;
    end();
}

void EventWarning::end()
{
    tmrCountDown->stop();
    if (m_ended)
        return;
    m_ended = true;
    emit ended(m_choice);
}

void EventWarning::continueSession()
{
    answer(Continue);
}

void EventWarning::ignoreFurtherEvents()
{
    answer(Ignore);
}

void EventWarning::hangUp()
{
    answer(HangUp);
}

void EventWarning::tmrCountDown_Timer()
{
    errors::guarded(kForm, QStringLiteral("tmrCountDown_Timer()"), [&] {
        if (m_ended)
            return;
        ++m_tick;
        emit ticked();
        const qint64 left = m_deadlineMs - Timing::nowMs();
        if (m_tick % 10 == 0 && left > 0) {
            // Whole seconds of protocol time, rounded.
            const double seconds = static_cast<double>(left) / static_cast<double>(Timing::scaled(1000));
            m_remaining = static_cast<int>(std::lround(seconds));
            m_tick = 0;
            emit remainingChanged(m_remaining);
        } else if (left <= 0) {
            answer(HangUp);
        }
    });
}

void EventWarning::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    sessionState().PanelEventWarningShown = false;
    if (!m_answered)
        m_choice = HangUp;
    if (m_registered)
        modGlobals::ForgetGUIDObject(szGUID());
    m_registered = false;
    end();
}
