// The quarvo-server program: connects to the session bus, exports the component and owns its
// well-known name, and runs until it has been idle (no client, no session) for the idle time or
// the bus goes away.
#pragma once

#include <QApplication>
#include <QCoreApplication>

namespace quarvobus {

// Reports an exception that left an event handler (what, or null for one of unknown kind).
void reportEscapedError(const std::exception *e);

// The server's application object. Every handler of the component reports its own errors; should
// an exception still leave one (an event handler, a slot called by the bus), it is reported here
// and that one event is dropped, rather than ending the process without a goodbye to the panel and
// with the session's records left behind.
template <typename Base>
class GuardedApplication : public Base
{
public:
    using Base::Base;
    bool notify(QObject *receiver, QEvent *event) override
    {
        try {
            return Base::notify(receiver, event);
        } catch (const std::exception &e) {
            reportEscapedError(&e);
        } catch (...) {
            reportEscapedError(nullptr);
        }
        return false;
    }
};

// With a display the server can show an operator's windows; without one (no DISPLAY, no
// WAYLAND_DISPLAY, no QT_QPA_PLATFORM) it runs on a core application: unattended jobs work, and
// the calls that would open a window are refused.
using ServerApplication = GuardedApplication<QApplication>;
using HeadlessServerApplication = GuardedApplication<QCoreApplication>;

// Default idle time before the server ends (milliseconds); QUARVO_SERVER_IDLE_MS or
// --idle-timeout change it.
constexpr int kDefaultIdleMs = 5000;

// Runs the server in `app` (command line already in it); returns the exit status.
int runServer(QCoreApplication &app);

} // namespace quarvobus
