#include "platform/SignalBridge.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Both ends of the socket pair; [0] is written by the handler, [1] read by the notifier.
int g_pair[2] = {-1, -1};

extern "C" void forwardSignal(int signo)
{
    const int saved = errno;
    const char byte = static_cast<char>(signo);
    // A full socket means signals are pending already: dropping one more loses nothing.
    [[maybe_unused]] const ssize_t n = ::write(g_pair[0], &byte, 1);
    errno = saved;
}

// Takes over `signo` when it still has its default disposition.
bool takeOver(int signo)
{
    struct sigaction current {};
    if (::sigaction(signo, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL)
        return false;
    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(signo, &action, nullptr) == 0;
}

} // namespace

SignalBridge *SignalBridge::install()
{
    static SignalBridge *bridge = nullptr;
    if (bridge || !QCoreApplication::instance())
        return bridge;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pair) != 0)
        return nullptr;
    for (const int fd : g_pair)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    // Lives as long as the process: the handlers may fire until the very end.
    bridge = new SignalBridge();
    bridge->m_term = takeOver(SIGTERM);
    bridge->m_int = takeOver(SIGINT);
    return bridge;
}

SignalBridge::SignalBridge()
{
    m_notifier = new QSocketNotifier(g_pair[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalBridge::readPending);
}

SignalBridge::~SignalBridge() = default;

bool SignalBridge::handles(int signo) const
{
    return (signo == SIGTERM && m_term) || (signo == SIGINT && m_int);
}

void SignalBridge::restoreDefaults()
{
    for (const int signo : {SIGTERM, SIGINT}) {
        if (handles(signo))
            ::signal(signo, SIG_DFL);
    }
    m_term = m_int = false;
}

void SignalBridge::readPending()
{
    char bytes[16];
    for (;;) {
        const ssize_t n = ::read(g_pair[1], bytes, sizeof bytes);
        if (n <= 0)
            return;
        for (ssize_t i = 0; i < n; ++i)
            Q_EMIT received(static_cast<unsigned char>(bytes[i]));
    }
}
