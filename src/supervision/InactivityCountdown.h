// The inactivity prompt: asked when a session has been idle for the configured time. It beeps,
// counts down "InactivityDisconnectTimeout" seconds (one step and one beep per second on a 100 ms
// tick) and answers: 6 keep the session (also the starting answer), 3 disconnect now, 7 the
// count-down ran out (the host then hears "PANEL_INACTIVITY"). The queue acts on the answer.
//
// frmInactivityDisconnect is its window; without one (no display, no views) the count-down runs
// alone and expires. A new panel event abandons the prompt (closePrompt): Display then returns 6
// and the session goes on. Registered under its window's name, "frmInactivityDisconnect".
#pragma once

#include <QObject>

#include <cstdint>

#include "core/GuidRegistry.h"
#include "core/SessionPrompt.h"

class QTimer;

class InactivityCountdown : public QObject, public GuidObjectBase, public SessionPrompt
{
    Q_OBJECT
public:
    enum Answer : std::int16_t { Keep = 6, DisconnectNow = 3, Expired = 7 };

    // Registers in GuidRegistry.
    explicit InactivityCountdown(QObject *parent = nullptr);
    ~InactivityCountdown() override;

    QString Name() const { return QStringLiteral("frmInactivityDisconnect"); }

    // Sets InactivityPromptShown, beeps, starts the count-down and waits (its window runs modally
    // meanwhile, when there is one) until it ends; returns the answer (also in `answer`), unloaded.
    std::int16_t Display(std::int16_t &answer);
    // Starts counting down `seconds` (the length and the remaining seconds).
    void startCountdown(int seconds);

    // The operator's answers (Cancel, Disconnect Now): the count-down ends.
    void keep();
    void disconnectNow();
    // One 100 ms tick: a step and a beep every tenth tick while seconds remain; at 0, the host hears
    // "PANEL_INACTIVITY" and the answer is 7.
    void tmrCountDown_Timer();
    // Stops the count-down, clears InactivityPromptShown and leaves the registry; runs once.
    void unload();
    void closePrompt() override { unload(); }

    std::int16_t answer() const { return m_answer; }
    int length() const { return m_length; }
    int remaining() const { return m_remaining; }
    // The count-down has started (startCountdown); it has ended (answered, expired or unloaded).
    bool hasStarted() const { return m_started; }
    bool hasEnded() const { return m_ended; }
    bool isUnloaded() const { return m_unloaded; }

    QTimer *tmrCountDown = nullptr;

signals:
    // The count-down starts with `seconds`.
    void countdownStarted(int seconds);
    // A whole second has passed; `seconds` remain.
    void remainingChanged(int seconds);
    // Every tick: a window brings itself to the front.
    void ticked();
    // The count-down has ended with `answer`; emitted once.
    void ended(std::int16_t answer);

private:
    void end(std::int16_t answer);
    // Runs the window, or an event loop of its own when there is none, until the count-down ends.
    void waitForEnd();

    std::int16_t m_answer = Keep;
    std::int16_t m_tick = 0;
    int m_length = 0;
    int m_remaining = 0;
    bool m_started = false;
    bool m_ended = false;
    bool m_registered = false;
    bool m_unloaded = false;
};
