#include "supervision/Countdown.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/modRegistry.h"
#include "diagnostics/Logging.h"
#include "platform/Timing.h"
#include "supervision/SupervisionWindows.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

namespace supervision {

namespace {
constexpr int kDefaultSeconds = 30;
constexpr int kBeeps = 5;
constexpr int kBeepPauseMs = 475;
constexpr int kTickMs = 100;
} // namespace

int countdownSeconds(const QString &key, const QString &module)
{
    const QString app = QStringLiteral("Tamsel");
    const QString section = QStringLiteral("Communications");
    const QString text = modRegistry::GetRegSetting(app, section, key, QStringLiteral("-1")).trimmed();
    if (text == QLatin1String("-1")) {
        modRegistry::SaveRegSetting(app, section, key, QString::number(kDefaultSeconds));
        return kDefaultSeconds;
    }
    bool ok = false;
    const int seconds = text.toInt(&ok);
    if (!ok || seconds < 0) {
        errors::report(ErrorCode::TypeMismatch, module, QStringLiteral("Display()"),
                       QStringLiteral("%1 = \"%2\" is not a number of seconds").arg(key, text));
        return kDefaultSeconds;
    }
    return seconds;
}

void beep()
{
    if (const std::function<void()> &sound = supervisionWindows().beep)
        sound();
}

bool announce(QObject *owner, const std::function<bool()> &wanted)
{
    const QPointer<QObject> alive(owner);
    const auto stillWanted = [&] { return !alive.isNull() && wanted(); };
    if (!stillWanted())
        return false;
    QEventLoop loop;
    QTimer pause;
    pause.setSingleShot(false);
    pause.setInterval(static_cast<int>(Timing::scaled(kBeepPauseMs)));
    int beeps = 0;
    const auto next = [&] {
        if (!stillWanted() || beeps == kBeeps) {
            pause.stop();
            loop.quit();
            return;
        }
        beep();
        modGlobals::DebugPrint(QStringLiteral("Beep"));
        ++beeps;
    };
    QObject::connect(&pause, &QTimer::timeout, &loop, next);
    next();
    pause.start();
    loop.exec();
    return stillWanted();
}

int tickMs()
{
    return static_cast<int>(Timing::scaled(kTickMs));
}

} // namespace supervision
