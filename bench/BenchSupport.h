// What the benchmarks share.
#pragma once

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <functional>

namespace bench {

// Sleeps in the event loop until `done` or `ms` pass; the loop wakes at least every 5 ms, so a
// measured pace is not stretched by the wait itself.
inline bool waitUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

// Runs the benchmark off screen (unless a platform is named) with its settings store and logs in
// `folder`, a fresh temporary one; false when that folder could not be made.
inline bool usePrivateFolders(const QTemporaryDir &folder)
{
    if (!folder.isValid())
        return false;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QUARVO_SETTINGS_DIR", folder.filePath(QStringLiteral("settings")).toLocal8Bit());
    qputenv("QUARVO_LOG_DIR", folder.filePath(QStringLiteral("logs")).toLocal8Bit());
    return true;
}

// Prints `usage` when the arguments ask for help (-h, --help); true then.
inline bool helpAsked(int argc, char **argv, const char *usage)
{
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
            std::fputs(usage, stdout);
            return true;
        }
    }
    return false;
}

} // namespace bench
