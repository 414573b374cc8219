// quarvo-server: the component on the D-Bus session bus.
#include "server/ServerApp.h"

int main(int argc, char **argv)
{
    // Without a display the windows are drawn off screen, so the server also runs where no one sees it.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    quarvobus::ServerApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quarvo-server"));
    // Windows come and go with sessions; the last one closing does not end the server.
    QApplication::setQuitOnLastWindowClosed(false);
    return quarvobus::runServer(app);
}
