#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWidget>

#include <memory>

namespace testsupport {

namespace {
std::unique_ptr<QTemporaryDir> g_root;
int g_counter = 0;

QString makeSub(const char *prefix)
{
    const QString path = g_root->filePath(QStringLiteral("%1-%2").arg(QLatin1String(prefix)).arg(++g_counter));
    QDir().mkpath(path);
    return path;
}
} // namespace

void preparePrivateFolders()
{
    g_root = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/quarvo-test-XXXXXX"));
    freshSettingsDir();
    freshLogDir();
}

void removePrivateFolders()
{
    g_root.reset();
}

QString privateRoot()
{
    return g_root ? g_root->path() : QString();
}

QString freshSettingsDir()
{
    const QString dir = makeSub("settings");
    qputenv("QUARVO_SETTINGS_DIR", dir.toLocal8Bit());
    return dir;
}

QString freshLogDir()
{
    const QString dir = makeSub("logs");
    qputenv("QUARVO_LOG_DIR", dir.toLocal8Bit());
    return dir;
}

bool waitFor(const std::function<bool()> &predicate, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return predicate();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

QString screenshotFolder()
{
    if (!qEnvironmentVariableIsSet("QUARVO_SCREENSHOTS"))
        return {};
    const QString folder = QStringLiteral(QUARVO_SOURCE_DIR "/docs/screenshots");
    QDir().mkpath(folder);
    return folder;
}

void pressKeyOn(QWidget *widget, Qt::Key key)
{
    widget->setFocus(Qt::TabFocusReason);
    // A widget with a focus proxy (a spin box's field) hands the focus on: the key goes there.
    QWidget *receiver = widget->window()->focusWidget();
    QTest::keyClick(receiver ? receiver : widget, key);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace testsupport
