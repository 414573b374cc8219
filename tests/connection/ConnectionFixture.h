// Shared set-up of the connection tests: a fresh session with host doubles, the queue and
// immediate windows as CommStartup makes them, the panel simulator on a pseudo-terminal named by
// the "Port<N>" setting, and a small script runner that drives a modal dialog from inside its
// exec() (each step waits for a condition, then acts). Protocol time runs at a tenth.
#pragma once

#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <QtWidgets>

#include <memory>

#include "connection/frmCommInterface.h"
#include "core/ErrorCodes.h"
#include "core/IControlType.h"
#include "queue/MessageQueue.h"
#include "support/SimSession.h"

namespace conntest {

constexpr double kScale = 0.1;
constexpr std::int16_t kPortNumber = 9;

// Runs steps against a modal window from a 10 ms timer: each step waits for its condition and
// then acts (posted, so the timer keeps ticking while the action runs nested event loops). Past
// the deadline it records the step that never came, closes message boxes, calls `emergency` to
// end the modal run, and stops.
class Script
{
public:
    Script &then(QString what, std::function<bool()> ready, std::function<void()> act)
    {
        m_steps.push_back({std::move(what), std::move(ready), std::move(act)});
        return *this;
    }

    void start(int timeoutMs)
    {
        m_clock.start();
        m_timeoutMs = timeoutMs;
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_timer.start();
    }

    QString failure() const { return m_failure; }
    std::function<void()> emergency;

private:
    struct Step
    {
        QString what;
        std::function<bool()> ready;
        std::function<void()> act;
    };

    void tick()
    {
        if (m_busy)
            return;
        if (m_next >= m_steps.size()) {
            m_timer.stop();
            return;
        }
        if (m_clock.elapsed() > m_timeoutMs) {
            m_failure = QStringLiteral("timed out waiting for: ") + m_steps[m_next].what;
            m_timer.stop();
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                box->reject();
            if (emergency)
                emergency();
            return;
        }
        if (!m_steps[m_next].ready())
            return;
        m_busy = true;
        // The posted action may run after the modal run ended and the script went (the last step
        // of a dialog that closed itself): it then does nothing.
        QTimer::singleShot(0, [this, alive = std::weak_ptr<bool>(m_alive), act = m_steps[m_next++].act] {
            if (alive.expired())
                return;
            m_busy = false; // the action may run nested loops; later steps watch meanwhile
            if (act)
                act();
        });
    }

    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);

    std::vector<Step> m_steps;
    size_t m_next = 0;
    bool m_busy = false;
    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_timeoutMs = 30000;
    QString m_failure;
};

class ConnectionTest : public testsupport::SimSessionTest
{
protected:
    ConnectionTest() : SimSessionTest(kScale) {}

    void SetUp() override
    {
        SimSessionTest::SetUp();
        settings->comPort = kPortNumber;
        settings->baudRate = 9600;
        for (auto [value, name, number] : {std::tuple{0x1234, "Office", 1}, std::tuple{0x4321, "Branch", 2}})
            settings->dataLocks.push_back(std::make_shared<testsupport::DataLockDouble>(value, 0, QLatin1String(name), number));
        settings->primary = std::make_shared<testsupport::DataLockDouble>(0x1234, 0, QStringLiteral("Office"), 1);
    }

    void TearDown() override
    {
        endSession();
        SimSessionTest::TearDown();
    }

    // Drops the dialog or the connection, the transport, the simulator and the queue window.
    void endSession()
    {
        SessionState &state = sessionState();
        if (state.currentTransport)
            state.currentTransport->setAbortPending(true);
        delete dialog.data();
        delete connection.data();
        state.currentTransport.reset();
        if (sim)
            sim->stop();
        delete state.messageQueue.data();
    }

    // The session windows as CommStartup makes them, and a dialog kept in SessionState.
    void openSession()
    {
        modGlobals::InitQueue();
        modGlobals::InitImmediate();
        dialog = new frmCommInterface();
        sessionState().connectionDialog = dialog;
    }

    // The session windows as DoUnattended makes them, and a connection without a window over the
    // direct line of the simulator.
    void openHeadless()
    {
        modGlobals::InitQueue();
        modGlobals::InitImmediate();
        connection = new PanelConnection();
        PanelConnection::Link link;
        link.type = PanelConnection::Direct;
        link.comPort = kPortNumber;
        link.baudRate = 9600;
        link.passcode = QStringLiteral("123456");
        connection->setLink(link);
    }

    void startPanel(const panelsim::PanelConfig &config, const QStringList &panelFaults = {})
    {
        faults = panelFaults;
        startSimulator(config, kPortNumber);
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

    std::function<bool()> shown()
    {
        return [this] { return dialog && dialog->isVisible(); };
    }

    std::function<void()> hide()
    {
        return [this] {
            if (dialog)
                dialog->hide();
        };
    }

    // Once the dialog shows: choose the type, type the passcode, press Connect.
    void connectAs(Script &script, int type)
    {
        script.then(QStringLiteral("dialog shown"), shown(), [this, type] {
            choose(type);
            dialog->txtPassCode->clear();
            QTest::keyClicks(dialog->txtPassCode, QStringLiteral("123456"));
            QTest::mouseClick(dialog->cmdConnect, Qt::LeftButton);
        });
    }

    // Runs Display with the script driving it; returns the result code.
    std::int16_t display(Script &script, int timeoutMs = 30000)
    {
        script.emergency = [this] {
            if (const std::shared_ptr<IControlType> t = sessionState().currentTransport)
                t->setAbortPending(true);
            hide()();
        };
        script.start(timeoutMs);
        std::int16_t result = 0;
        dialog->Display(result);
        EXPECT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();
        return result;
    }

    // The host notifications as "code" or "code:TAG=value" texts, in order.
    QStringList hostEvents() const
    {
        QStringList out;
        for (const auto &e : callback->events) {
            const QVariantList list = e.data.toList();
            out << (e.code == 5   ? QStringLiteral("5:%1=%2").arg(list.value(0).toString(), list.value(1).toString())
                    : e.code == 3 ? QStringLiteral("3:") + e.data.toString()
                                  : QString::number(e.code));
        }
        return out;
    }

    QPointer<frmCommInterface> dialog;
    QPointer<PanelConnection> connection;
};

} // namespace conntest
