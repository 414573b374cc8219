#include "supervision/InactivityCountdown.h"

#include "core/Errors.h"
#include "core/SessionState.h"
#include "core/Variant.h"
#include "core/modGlobals.h"
#include "supervision/Countdown.h"
#include "supervision/SupervisionWindows.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

namespace {
const QString kForm = QStringLiteral("frmInactivityDisconnect");
} // namespace

InactivityCountdown::InactivityCountdown(QObject *parent)
    : QObject(parent)
{
    setObjectName(kForm);
    tmrCountDown = new QTimer(this);
    tmrCountDown->setObjectName(QStringLiteral("tmrCountDown"));
    connect(tmrCountDown, &QTimer::timeout, this, [this] { tmrCountDown_Timer(); });
    m_registered = modGlobals::AddGUIDObjectUnowned(this);
}

InactivityCountdown::~InactivityCountdown()
{
    unload();
}

std::int16_t InactivityCountdown::Display(std::int16_t &answer)
{
    QPointer<InactivityCountdown> self(this);
    m_answer = Keep;
    errors::guarded(kForm, QStringLiteral("Display()"), [&] {
        sessionState().InactivityPromptShown = true;
        // A panel event during the beeps abandons the prompt before it shows.
        if (!supervision::announce(this, [this] { return !m_unloaded; }))
            return;
        startCountdown(supervision::countdownSeconds(QStringLiteral("InactivityDisconnectTimeout"), kForm));
        waitForEnd();
    });
    // The prompt may have gone with the session meanwhile: the session then ends anyway.
    if (!self) {
        answer = Keep;
        return answer;
    }
    answer = m_answer;
    unload();
    return answer;
}

void InactivityCountdown::startCountdown(int seconds)
{
    m_length = seconds;
    m_remaining = seconds;
    m_tick = 0;
    m_started = true;
    m_answer = Keep;
    emit countdownStarted(seconds);
    tmrCountDown->setInterval(supervision::tickMs());
    tmrCountDown->start();
}

void InactivityCountdown::waitForEnd()
{
    const QPointer<InactivityCountdown> self(this);
    if (m_ended)
        return;
    if (const auto window = supervisionWindows().inactivityPrompt; window && window(*this)) {
        // The window has closed: so has the prompt, with the answer as it stands.
        if (self && !m_ended)
            unload();
        return;
    }
    if (!self || m_ended)
        return;
    QEventLoop loop;
    connect(this, &InactivityCountdown::ended, &loop, &QEventLoop::quit);
    connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
}

void InactivityCountdown::end(std::int16_t answer)
{
    tmrCountDown->stop();
    if (m_ended)
        return;
    m_answer = answer;
    m_ended = true;
    emit ended(answer);
}

void InactivityCountdown::keep()
{
    end(Keep);
}

void InactivityCountdown::disconnectNow()
{
    end(DisconnectNow);
}

void InactivityCountdown::tmrCountDown_Timer()
{
    errors::guarded(kForm, QStringLiteral("tmrCountDown_Timer()"), [&] {
        if (m_ended)
            return;
        ++m_tick;
        emit ticked();
        if (m_remaining != 0 && m_tick % 10 == 0) {
            --m_remaining;
            m_tick = 0;
            emit remainingChanged(m_remaining);
            supervision::beep();
        } else if (m_remaining == 0) {
            // Stopped first: a tick that comes before the wait has ended must not answer twice.
            tmrCountDown->stop();
            modGlobals::MakeCallback(QStringLiteral("PANEL_INACTIVITY"), missingArgument());
            end(Expired);
        }
    });
}

void InactivityCountdown::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    sessionState().InactivityPromptShown = false;
    if (m_registered)
        modGlobals::ForgetGUIDObject(szGUID());
    m_registered = false;
    end(m_answer);
}
