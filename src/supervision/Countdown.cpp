#include "supervision/Countdown.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/modRegistry.h"
#include "diagnostics/Logging.h"
#include "platform/Timing.h"

#include <QApplication>
#include <QEventLoop>
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

bool announce(QWidget *widget, const std::function<bool()> &wanted)
{
    const QPointer<QWidget> window(widget);
    const auto stillWanted = [&] { return !window.isNull() && wanted(); };
    if (!stillWanted())
        return false;
    QEventLoop loop;
    QTimer pause;
    pause.setSingleShot(false);
    pause.setInterval(static_cast<int>(Timing::scaled(kBeepPauseMs)));
    int beeps = 0;
    const auto beep = [&] {
        if (!stillWanted() || beeps == kBeeps) {
            pause.stop();
            loop.quit();
            return;
        }
        QApplication::beep();
        modGlobals::DebugPrint(QStringLiteral("Beep"));
        ++beeps;
    };
    QObject::connect(&pause, &QTimer::timeout, &loop, beep);
    beep();
    pause.start();
    loop.exec();
    return stillWanted();
}

int tickMs()
{
    return static_cast<int>(Timing::scaled(kTickMs));
}

QList<QWidget *> windowsToHideUnderWarning()
{
    QList<QWidget *> found;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        const QString name = widget->objectName();
        if (widget->isVisible() && !widget->isMinimized() && (name == QLatin1String("frmPanelSyncro") || name == QLatin1String("frmWorkInProgress")))
            found << widget;
    }
    return found;
}

} // namespace supervision
