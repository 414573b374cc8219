// "End Session": asks whether to hang up the current connection, optionally resetting the panel.
// Confirmed, it says goodbye to the panel (with a reset, the host hears "PANEL_RESET" first and the
// goodbye carries code 1); cancelled, the session goes on and an interactive host hears event 7
// (the modal window is gone). The host's CommShutdown(false) runs it.
//
// frmDisconnect is its window; without one (no display, no views) nobody can confirm, and the
// question takes the close box's answer: cancelled. Registered under its window's name,
// "frmDisconnect".
#pragma once

#include <QObject>

#include <cstdint>

#include "core/GuidRegistry.h"

class SessionClosing : public QObject, public GuidObjectBase
{
    Q_OBJECT
public:
    enum Answer : std::int16_t { NotAnswered = 0, Confirmed = 1, Cancelled = 2 };

    // Registers in GuidRegistry.
    explicit SessionClosing(QObject *parent = nullptr);
    ~SessionClosing() override;

    QString Name() const { return QStringLiteral("frmDisconnect"); }

    // Announces the modal window to an interactive host (event 6), asks (the window runs modally),
    // acts on the answer and unloads. Returns 0 or the error number.
    std::int32_t Display();

    // The answers: OK (with or without the panel reset) and Cancel.
    void confirm(bool panelReset);
    void cancel();
    // After a cancel in an interactive session: host event 7. Leaves the registry. Runs once.
    void unload();

    std::int16_t Answer() const { return m_answer; }
    bool panelReset() const { return m_panelReset; }

signals:
    // The question has its answer.
    void answered(std::int16_t answer);

private:
    std::int16_t m_answer = NotAnswered;
    bool m_panelReset = false;
    bool m_registered = false;
    bool m_unloaded = false;
};
