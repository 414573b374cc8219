// Shared set-up of the connection tests: a fresh session with host doubles, the queue and
// immediate windows as CommStartup makes them, the panel simulator on a pseudo-terminal named by
// the "Port<N>" setting, and a small script runner that drives a modal dialog from inside its
// exec() (each step waits for a condition, then acts). Protocol time runs at a tenth.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

#include <functional>
#include <memory>
#include <vector>

#include "PanelSimulator.h"
#include "component/Configuration.h"
#include "component/modRegistry.h"
#include "connection/frmCommInterface.h"
#include "core/ErrorCodes.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/frmImmediate.h"
#include "external/ErrorReporter.h"
#include "platform/Timing.h"
#include "queue/frmMsgQueue.h"
#include "support/HostDoubles.h"
#include "support/TestSupport.h"
#include "transports/IControlType.h"

namespace conntest {

constexpr double kScale = 0.1;
constexpr std::int16_t kPortNumber = 9;

// Runs steps against a modal window from a 10 ms timer: each step waits for its condition and
// then acts (posted, so the timer keeps ticking while the action runs nested event loops). Past
// the deadline it records the step that never came, closes message boxes and the dialog, and
// stops.
class Script
{
public:
    struct Step
    {
        QString what;
        std::function<bool()> ready;
        std::function<void()> act;
    };

    Script &then(QString what, std::function<bool()> ready, std::function<void()> act)
    {
        m_steps.push_back({std::move(what), std::move(ready), std::move(act)});
        return *this;
    }

    void start(int timeoutMs = 30000)
    {
        m_deadline = std::make_unique<Timing::Deadline>(0);
        m_clock.start();
        m_timeoutMs = timeoutMs;
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_timer.start();
    }

    bool finished() const { return m_next >= m_steps.size() && m_done; }
    QString failure() const { return m_failure; }
    std::function<void()> emergency; // how to end the modal run when the script is stuck

private:
    void tick()
    {
        if (m_busy)
            return;
        if (m_next >= m_steps.size()) {
            m_done = true;
            m_timer.stop();
            return;
        }
        if (m_clock.elapsed() > m_timeoutMs) {
            m_failure = QStringLiteral("timed out waiting for: ") + m_steps[m_next].what;
            m_timer.stop();
            if (QWidget *modal = QApplication::activeModalWidget())
                if (auto *box = qobject_cast<QMessageBox *>(modal))
                    box->reject();
            if (emergency)
                emergency();
            return;
        }
        Step &step = m_steps[m_next];
        if (!step.ready())
            return;
        ++m_next;
        m_busy = true;
        QTimer::singleShot(0, [this, act = step.act] {
            m_busy = false; // the action may run nested loops; later steps watch meanwhile
            if (act)
                act();
        });
    }

    std::vector<Step> m_steps;
    size_t m_next = 0;
    bool m_busy = false;
    bool m_done = false;
    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_timeoutMs = 30000;
    std::unique_ptr<Timing::Deadline> m_deadline;
    QString m_failure;
};

class ConnectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("QUARVO_TIME_SCALE", QByteArray::number(kScale));
        Timing::setScale(kScale);
        testsupport::freshSettingsDir();
        testsupport::freshLogDir();
        resetSessionState();
        modGlobals::InitApplicationVariables();
        SessionState &state = sessionState();
        settings = std::make_shared<testsupport::SettingsDouble>();
        settings->comPort = kPortNumber;
        settings->baudRate = 9600;
        settings->dataLocks.push_back(std::make_shared<testsupport::DataLockDouble>(0x1234, 0, QStringLiteral("Office"), 1));
        settings->dataLocks.push_back(std::make_shared<testsupport::DataLockDouble>(0x4321, 0, QStringLiteral("Branch"), 2));
        settings->primary = std::make_shared<testsupport::DataLockDouble>(0x1234, 0, QStringLiteral("Office"), 1);
        pif = std::make_shared<testsupport::PifDouble>();
        callback = std::make_shared<testsupport::CallbackDouble>();
        state.hostSettings = settings;
        state.hostPif = pif;
        state.hostCallback = callback;
    }

    void TearDown() override
    {
        SessionState &state = sessionState();
        if (state.currentTransport)
            state.currentTransport->setAbortPending(true);
        delete dialog.data();
        state.currentTransport.reset();
        if (sim)
            sim->stop();
        delete state.queueWindow.data();
        if (frmImmediate *immediate = state.immediateWindow) {
            immediate->hide();
            delete immediate;
        }
        resetSessionState();
        Timing::setScale(0);
        qunsetenv("QUARVO_TIME_SCALE");
    }

    // The session windows as CommStartup makes them, and a dialog kept in SessionState.
    void openSession()
    {
        modGlobals::InitQueue();
        modGlobals::InitImmediate();
        dialog = new frmCommInterface();
        sessionState().connectionDialog = dialog;
    }

    void startPanel(panelsim::PanelConfig config, const QStringList &faults = {})
    {
        sim = std::make_unique<panelsim::PanelSimulator>(config);
        for (const QString &fault : faults)
            ASSERT_TRUE(sim->addFault(fault)) << fault.toStdString();
        QString why;
        ASSERT_TRUE(sim->start(&why)) << why.toStdString();
        modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Communications"),
                                    QStringLiteral("Port%1").arg(kPortNumber), sim->devicePath());
    }

    static panelsim::PanelConfig panel(panelsim::LinkMode mode)
    {
        panelsim::PanelConfig config;
        config.mode = mode;
        config.connectDelayMs = 300;
        return config;
    }

    // Picks a connection type as the operator does.
    void choose(int type)
    {
        dialog->cmbConnect->setCurrentIndex(type);
        dialog->cmbConnect_Click();
    }

    // Runs Display with the script driving it; returns the result code.
    std::int16_t display(Script &script, int timeoutMs = 30000)
    {
        QPointer<frmCommInterface> d = dialog;
        script.emergency = [d] {
            if (const std::shared_ptr<IControlType> t = sessionState().currentTransport)
                t->setAbortPending(true);
            if (d)
                d->hide();
        };
        script.start(timeoutMs);
        std::int16_t result = 0;
        dialog->Display(result);
        return result;
    }

    bool padContains(std::int16_t catalogNumber) const
    {
        return dialog && dialog->txtPad->toPlainText().contains(modGlobals::GetCatalogString(catalogNumber));
    }

    // The host notifications as "code" or "code:TAG=value" texts, in order.
    QStringList hostEvents() const
    {
        QStringList out;
        for (const auto &e : callback->events) {
            if (e.code == 5) {
                const QVariantList list = e.data.toList();
                out << QStringLiteral("5:%1=%2").arg(list.value(0).toString(), list.value(1).toString());
            } else if (e.code == 3) {
                out << QStringLiteral("3:%1").arg(e.data.toString());
            } else {
                out << QString::number(e.code);
            }
        }
        return out;
    }

    QString errorLog() const
    {
        return QString::fromLocal8Bit(testsupport::readFile(sessionState().errorReporter->errorFilePath()));
    }

    std::shared_ptr<testsupport::SettingsDouble> settings;
    std::shared_ptr<testsupport::PifDouble> pif;
    std::shared_ptr<testsupport::CallbackDouble> callback;
    std::unique_ptr<panelsim::PanelSimulator> sim;
    QPointer<frmCommInterface> dialog;
};

} // namespace conntest
