#include "component/Configuration.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "core/modRegistry.h"
#include "diagnostics/frmImmediate.h"
#include "external/ErrorReporter.h"
#include "external/StringCatalog.h"
#include "link/PanelQueueLinks.h"
#include "operations/OperationViews.h"
#include "platform/Paths.h"
#include "diagnostics/frmDiagnostics.h"
#include "queue/MessageQueue.h"
#include "queue/frmMsgQueue.h"
#include "supervision/SupervisionQueueLinks.h"
#include "supervision/SupervisionViews.h"
#include "transports/TransportNotices.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include <cfenv>
#include <cmath>
#include <limits>
#include <vector>

namespace modGlobals {

namespace {

const QString kModule = QStringLiteral("modGlobals");
const QString kApp = QStringLiteral("Tamsel");
const QString kSetup = QStringLiteral("Setup");
const QString kComm = QStringLiteral("Communications");
const QString kSaved = QStringLiteral("SavedSettings");

// A key whose value cannot be used: reported once the error reporter exists.
struct LoadError
{
    std::int32_t number;
};

// Converts a stored text to an integer of the given range, rounding to the nearest integer (half
// to even). A text that is not a number is a type mismatch; a value outside the range an overflow.
qint64 convertNumber(const QString &text, qint64 lowest, qint64 highest)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        throw LoadError{ErrorCode::TypeMismatch};
    const double rounded = std::nearbyint(value); // the default rounding mode is to nearest, ties to even
    if (rounded < static_cast<double>(lowest) || rounded > static_cast<double>(highest))
        throw LoadError{ErrorCode::Overflow};
    return static_cast<qint64>(rounded);
}

// Reads a numeric key: a missing value (or -1) writes the default back and gives the default.
template <typename T>
T readNumber(const QString &section, const QString &key, T defaultValue, std::vector<std::int32_t> &failures)
{
    const QString text = modRegistry::GetRegSetting(kApp, section, key, QStringLiteral("-1"));
    qint64 value = -1;
    try {
        value = convertNumber(text, std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
    } catch (const LoadError &e) {
        // Unusable text: the key keeps its default for this session; the store is left as it is so
        // the operator can see and mend the value.
        failures.push_back(e.number);
        return defaultValue;
    }
    if (value == -1) {
        modRegistry::SaveRegSetting(kApp, section, key, QString::number(defaultValue));
        return defaultValue;
    }
    return static_cast<T>(value);
}

// The calls of the lower layers into the higher ones that go through a table of links: installed
// before the session's message queue, which makes most of them, exists. A new folder that serves
// such a link adds its install procedure here.
void installLayerLinks()
{
    installPanelQueueLinks();
    installOperationViews();
    installSupervisionQueueLinks();
    installSupervisionViews();
    // A transport's notices are message boxes where windows can be shown; elsewhere there are none.
    if (qobject_cast<QApplication *>(QCoreApplication::instance())) {
        transportNotices().information = [](const QString &title, const QString &text) {
            QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok);
            box.exec();
        };
    }
}

} // namespace

void InitApplicationVariables()
{
    errors::guarded(kModule, QStringLiteral("InitApplicationVariables()"), [&] {
        SessionState &state = sessionState();
        Configuration &c = state.config;
        std::vector<std::int32_t> failures;

        // First copy of the host folder: a missing value writes the default back.
        c.tamselPath = modRegistry::GetRegSetting(kApp, kSetup, QStringLiteral("TamselPath"), QStringLiteral("-1"));
        if (c.tamselPath == QLatin1String("-1")) {
            c.tamselPath = Paths::defaultTamselPath(false);
            modRegistry::SaveRegSetting(kApp, kSetup, QStringLiteral("TamselPath"), c.tamselPath);
        }
        c.warningLevel = readNumber<std::int16_t>(kSetup, QStringLiteral("WarningLevel"), 5, failures);
        c.numOfNaks = readNumber<std::int16_t>(kComm, QStringLiteral("NumOfNaks"), 5, failures);
        c.timeToGatherBody = readNumber<std::int32_t>(kComm, QStringLiteral("TimeToGatherBody"), 1, failures);
        c.sendAgainPauseTime = readNumber<std::int32_t>(kComm, QStringLiteral("SendAgainPauseTime"), 500, failures);
        c.hbInterval = readNumber<std::int32_t>(kComm, QStringLiteral("HBInterval"), 20000, failures);
        c.drInterval = readNumber<std::int32_t>(kComm, QStringLiteral("DRInterval"), 10000, failures);
        c.callBackTime = readNumber<std::int32_t>(kComm, QStringLiteral("CallBackTime"), 180, failures);
        c.standardPollRate = readNumber<std::int16_t>(kComm, QStringLiteral("StandardPollRate"), 500, failures);
        c.exclusivePollRate = readNumber<std::int16_t>(kComm, QStringLiteral("ExclusivePollRate"), 10, failures);

        // Second copy: an empty value writes the default back.
        c.tamselDataPath = modRegistry::GetRegSetting(kApp, kSetup, QStringLiteral("TamselPath"));
        if (c.tamselDataPath.isEmpty()) {
            c.tamselDataPath = Paths::defaultTamselPath(true);
            modRegistry::SaveRegSetting(kApp, kSetup, QStringLiteral("TamselPath"), c.tamselDataPath);
        }

        // Minutes in the store, seconds in the session.
        const std::int16_t minutes = readNumber<std::int16_t>(kComm, QStringLiteral("InactivityTimeout"), 15, failures);
        const int seconds = minutes * 60;
        if (seconds > std::numeric_limits<std::int16_t>::max() || seconds < std::numeric_limits<std::int16_t>::min()) {
            failures.push_back(ErrorCode::Overflow);
            c.inactivityTimeout = 15 * 60;
        } else {
            c.inactivityTimeout = static_cast<std::int16_t>(seconds);
        }

        c.icon = modRegistry::GetRegSetting(kApp, kSetup, QStringLiteral("Icon"));
        state.SequenceNumbersEnabled =
            modRegistry::GetRegSetting(kApp, kSaved, QStringLiteral("SeqNum")) != QLatin1String("255");
        state.EncryptionEnabled =
            modRegistry::GetRegSetting(kApp, kSaved, QStringLiteral("TwoFish")) != QLatin1String("255");

        state.guidRegistry = std::make_unique<GuidRegistry>();
        state.stringCatalog = std::make_shared<StringCatalog>();
        state.errorReporter = std::make_shared<ErrorReporter>();
        if (state.errorReporter) {
            ErrorReporter &r = *state.errorReporter;
            r.AppName = ApplicationName;
            r.AppVersion = QStringLiteral("%1.%2.%3")
                               .arg(QUARVO_VERSION_MAJOR)
                               .arg(QUARVO_VERSION_MINOR)
                               .arg(QUARVO_VERSION_REVISION);
            r.WarningLevel = c.warningLevel;
            r.AppErrorFile = QStringLiteral("Comm.err");
            r.FileSection = QStringLiteral("COMM");
        }
        // Values that could not be used are reported now that the reporter exists.
        for (const std::int32_t number : failures)
            errors::report(number, kModule, QStringLiteral("InitApplicationVariables()"));
    });
}

namespace {
bool windowsWanted(SessionWindows windows)
{
    const QCoreApplication *app = QCoreApplication::instance();
    return windows == SessionWindows::AsSettingsSay && app && app->inherits("QApplication");
}
} // namespace

void InitQueue(SessionWindows windows)
{
    errors::guarded(kModule, QStringLiteral("InitQueue()"), [&] {
        installLayerLinks();
        SessionState &state = sessionState();
        if (state.messageQueue)
            state.messageQueue->Unload(); // a new session starts with a new queue
        auto *queue = new MessageQueue();
        state.messageQueue = queue;
        // The diagnostics window, when the session has one, follows the queue's refresh.
        QObject::connect(queue, &MessageQueue::DiagRefresh, queue, [] {
            if (auto *diagnostics = qobject_cast<frmDiagnostics *>(sessionState().diagnosticsWindow.object()))
                diagnostics->Display();
        });
        // The queue console is shown only when "Debug" asks for it; otherwise there is none.
        if (windowsWanted(windows)
            && modRegistry::GetRegSetting(kApp, kSaved, QStringLiteral("Debug"), QStringLiteral("-1")) == QLatin1String("Yes")) {
            auto *console = new frmMsgQueue(queue);
            state.queueWindow = console;
            console->show();
        }
        queue->Form_Load();
    });
}

void InitImmediate(SessionWindows windows)
{
    errors::guarded(kModule, QStringLiteral("InitImmediate()"), [&] {
        SessionState &state = sessionState();
        if (state.immediateWindow) {
            state.immediateWindow->unload();
            delete state.immediateWindow.data();
        }
        // The window collects texts only while it is shown: a session that shows none logs nowhere.
        if (!windowsWanted(windows)) {
            state.immediateWindow = nullptr;
            return;
        }
        auto *window = new frmImmediate();
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        state.immediateWindow = window;
        if (modRegistry::GetRegSetting(kApp, kSaved, QStringLiteral("Immediate"), QStringLiteral("-1"))
            == QLatin1String("Yes"))
            window->show();
        else
            window->hide();
    });
}

void SetFormTopmost(QWidget *window, bool onTop)
{
    if (!window)
        return;
    const QRect geometry = window->geometry();
    const bool visible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    window->setGeometry(geometry);
    if (visible)
        window->show(); // changing the flag hides a window
}

} // namespace modGlobals
