#include "component/SessionSignals.h"

#include "core/IControlType.h"
#include "core/SessionState.h"
#include "platform/SignalBridge.h"
#include "platform/Timing.h"
#include "queue/MessageQueue.h"
#include "queue/SessionEnd.h"

#include <QCoreApplication>
#include <QTimer>

namespace SessionSignals {

namespace {

// Time the panel gets to answer the goodbye (protocol milliseconds).
constexpr qint64 kGoodbyeMs = 5000;
// How often the end of the session is looked for meanwhile (real milliseconds).
constexpr int kPollMs = 20;

int g_signal = 0;     // the signal being handled
bool g_ended = false; // its end of the session is complete

bool sessionOver()
{
    const SessionState &state = sessionState();
    if (!state.messageQueue)
        return true;
    // Answered (or failed) goodbye: the transport has closed the link.
    return !state.currentTransport || !state.currentTransport->Connected();
}

void finish()
{
    // Whatever is left of the session goes now: the message queue's unload unlinks its records.
    SessionState &state = sessionState();
    if (MessageQueue *queue = state.messageQueue)
        queue->Unload();
    // A program that does not leave its loop can still be stopped by the next signal.
    if (SignalBridge *bridge = SignalBridge::install())
        bridge->restoreDefaults();
    g_ended = true;
    QCoreApplication::exit(128 + g_signal);
}

void onSignal(int signo)
{
    static QTimer *watch = nullptr;
    if (g_signal != 0) {
        // A second signal: no more waiting.
        if (watch)
            watch->stop();
        finish();
        return;
    }
    g_signal = signo;
    endSessionForcibly();
    if (sessionOver()) {
        finish();
        return;
    }
    // The goodbye is under way: its answer (or the deadline) ends the wait.
    const Timing::Deadline deadline(kGoodbyeMs);
    watch = new QTimer(QCoreApplication::instance());
    watch->setInterval(kPollMs);
    QObject::connect(watch, &QTimer::timeout, [deadline] {
        if (!sessionOver() && !deadline.expired())
            return;
        watch->stop();
        finish();
    });
    watch->start();
}

} // namespace

void install()
{
    static bool connected = false;
    if (connected)
        return;
    if (SignalBridge *bridge = SignalBridge::install()) {
        QObject::connect(bridge, &SignalBridge::received, bridge, &onSignal);
        connected = true;
    }
}

void endSessionForcibly()
{
    SessionState &state = sessionState();
    state.abortRequested = true;
    if (state.currentTransport)
        state.currentTransport->setAbortWorkInProgress(true);
    modGlobals::Disconnect(false, 10);
    if (state.currentTransport)
        state.currentTransport->setAbortPending(true);
}

int terminationSignal()
{
    return g_ended ? g_signal : 0;
}

} // namespace SessionSignals
