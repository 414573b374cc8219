// quarvo-server: the component on the D-Bus session bus.
#include "server/ServerApp.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// The logs go next to the executable unless QUARVO_LOG_DIR names another folder. An installed server
// (/usr/bin) started by the bus cannot write there, and every log line would be lost: it then writes
// into the user's state folder (XDG_STATE_HOME, else ~/.local/state), log/quarvo, mode 0700 -- the
// folder its systemd user unit names too.
void chooseLogFolder()
{
    if (!qEnvironmentVariableIsEmpty("QUARVO_LOG_DIR"))
        return;
    const QFileInfo exeFolder(QCoreApplication::applicationDirPath());
    if (exeFolder.isDir() && exeFolder.isWritable())
        return;
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::home().filePath(QStringLiteral(".local/state"));
    const QString folder = QDir(state).filePath(QStringLiteral("log/quarvo"));
    if (!QDir().mkpath(folder))
        return; // the component reports each line it cannot write
    ::chmod(QFile::encodeName(folder).constData(), S_IRWXU);
    qputenv("QUARVO_LOG_DIR", QFile::encodeName(folder));
}

} // namespace

int main(int argc, char **argv)
{
    // With a display (or a platform named in QT_QPA_PLATFORM, such as offscreen) the server can show
    // an operator's windows. Without one it needs none: unattended jobs create no window, and the
    // calls that would open one are refused with an error that says so.
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                         || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!display) {
        quarvobus::HeadlessServerApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("quarvo-server"));
        chooseLogFolder();
        return quarvobus::runServer(app);
    }
    quarvobus::ServerApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quarvo-server"));
    chooseLogFolder();
    // Windows come and go with sessions; the last one closing does not end the server.
    QApplication::setQuitOnLastWindowClosed(false);
    return quarvobus::runServer(app);
}
