// The panel event warning: opened when a keep-alive answer reports a new panel event value. It
// beeps, counts down "EventWarningTimeout" seconds against a deadline and takes one of three
// choices: continue and show the new events (0), continue and ignore further new events (2), hang
// up now (1). No answer in time, and an end without an answer (the close box), hang up. While it
// runs, a newer value only refreshes the levels.
//
// frmPanelEventWarning is its window; without one (no display, no views) the count-down runs alone
// and hangs up when it expires. Registered under its window's name, "frmPanelEventWarning".
#pragma once

#include <QObject>

#include <cstdint>

#include "core/GuidRegistry.h"
#include "core/SessionPrompt.h"

class QTimer;

class EventWarning : public QObject, public GuidObjectBase, public SessionPrompt
{
    Q_OBJECT
public:
    enum Choice : std::int16_t { Continue = 0, HangUp = 1, Ignore = 2 };

    // Registers in GuidRegistry.
    explicit EventWarning(QObject *parent = nullptr);
    ~EventWarning() override;

    QString Name() const { return QStringLiteral("frmPanelEventWarning"); }

    // Sets PanelEventWarningShown, takes the levels of `newEventsPkt`, beeps, starts the count-down
    // and waits (its window runs modally meanwhile, when there is one) until it ends, unloaded. The
    // choice is UsersChoice() afterwards. Returns 0 or the error number.
    std::int32_t Display(std::int32_t newEventsPkt);
    // Starts counting down `seconds`: the deadline is now plus that much protocol time.
    void startCountdown(int seconds);
    // A newer value while the warning runs: its levels are shown.
    void UpdatePanelEventForm(std::int32_t newEventsPkt);

    // The operator's choices: the count-down ends.
    void continueSession();
    void ignoreFurtherEvents();
    void hangUp();
    // One 100 ms tick: every tenth tick the remaining whole seconds (rounded) are shown; at the
    // deadline the warning hangs up.
    void tmrCountDown_Timer();
    // Clears PanelEventWarningShown; without an answer the choice becomes 1 (hang up). Runs once.
    void unload();
    void closePrompt() override { unload(); }

    // 0 continue and show, 1 hang up, 2 continue and ignore further events.
    std::int16_t UsersChoice() const { return m_choice; }
    bool Answered() const { return m_answered; }
    // The last value given: bits 8 + k stand for level k + 1 (bits 0 to 7 are not shown).
    std::int32_t newEventsPkt() const { return m_newEventsPkt; }
    int length() const { return m_length; }
    int remaining() const { return m_remaining; }
    // The count-down has started (startCountdown); the warning has ended (answered or unloaded).
    bool hasStarted() const { return m_started; }
    bool hasEnded() const { return m_ended; }
    bool isUnloaded() const { return m_unloaded; }

    QTimer *tmrCountDown = nullptr;

signals:
    void levelsChanged(std::int32_t newEventsPkt);
    void countdownStarted(int seconds);
    void remainingChanged(int seconds);
    // Every tick: a window brings itself to the front.
    void ticked();
    // The warning has ended with `choice`; emitted once.
    void ended(std::int16_t choice);

private:
    void answer(std::int16_t choice);
    void end();
    void waitForEnd();

    std::int32_t m_newEventsPkt = 0;
    std::int16_t m_choice = HangUp;
    bool m_answered = false;
    std::int16_t m_tick = 0;
    int m_length = 0;
    int m_remaining = 0;
    qint64 m_deadlineMs = 0; // monotonic
    bool m_started = false;
    bool m_ended = false;
    bool m_registered = false;
    bool m_unloaded = false;
};
