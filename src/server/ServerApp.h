// The quarvo-server program: connects to the session bus, exports the component and owns its
// well-known name, and runs until it has been idle (no client, no session) for the idle time or
// the bus goes away.
#pragma once

#include <QApplication>

namespace quarvobus {

// The server's application object. Every handler of the component reports its own errors; should
// an exception still leave one (an event handler, a slot called by the bus), it is reported here
// and that one event is dropped, rather than ending the process without a goodbye to the panel and
// with the session's records left behind.
class ServerApplication : public QApplication
{
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override;
};

// Default idle time before the server ends (milliseconds); QUARVO_SERVER_IDLE_MS or
// --idle-timeout change it.
constexpr int kDefaultIdleMs = 5000;

// Runs the server in `app` (command line already in it); returns the exit status.
int runServer(QApplication &app);

} // namespace quarvobus
