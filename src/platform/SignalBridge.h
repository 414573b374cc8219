// Carries SIGTERM and SIGINT into the Qt event loop. The signal handler only writes the signal's
// number into one end of a socket pair (a write is safe in a handler); a QSocketNotifier on the
// other end emits received() from the event loop, where any code may run.
//
// install() takes over a signal only while its disposition is the default one (which would end
// the process on the spot): a program that handles or ignores the signal itself keeps its own
// handling.
#pragma once

#include <QObject>

class QSocketNotifier;

class SignalBridge : public QObject
{
    Q_OBJECT
public:
    // The bridge of the process, created on first use; null without a QCoreApplication. Installs
    // the handlers of SIGTERM and SIGINT (each only when it still has its default disposition).
    static SignalBridge *install();

    // True when the bridge handles `signo`.
    bool handles(int signo) const;
    // Gives the signals the bridge took back their default disposition: the next one ends the
    // process on the spot.
    void restoreDefaults();

Q_SIGNALS:
    void received(int signo);

private:
    SignalBridge();
    ~SignalBridge() override;
    void readPending();

    QSocketNotifier *m_notifier = nullptr;
    bool m_term = false;
    bool m_int = false;
};
