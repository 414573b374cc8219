// The set-up shared by the tests that run the component against the panel simulator: protocol
// time scaled, private settings and log folders, a fresh session record with in-memory host
// objects, and the simulator itself. Derived fixtures add the windows and the transport and drop
// them in their TearDown before calling this one.
#pragma once

#include <gtest/gtest.h>

#include <QStringList>

#include <memory>

#include "component/Configuration.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "core/modRegistry.h"
#include "diagnostics/frmImmediate.h"
#include "external/ErrorReporter.h"
#include "platform/Timing.h"
#include "support/Bytes.h"
#include "support/HostDoubles.h"
#include "support/TestSupport.h"

#ifdef QUARVO_HAVE_SIM
#include "PanelSimulator.h"
#endif

namespace testsupport {

class SimSessionTest : public ::testing::Test
{
protected:
    // `scale` shrinks the component's protocol waits; with `scaleSimulator` the simulator's as well.
    explicit SimSessionTest(double scale, bool scaleSimulator = true) : m_scale(scale), m_scaleSimulator(scaleSimulator) {}

    void SetUp() override
    {
        if (m_scaleSimulator)
            qputenv("QUARVO_TIME_SCALE", QByteArray::number(m_scale));
        Timing::setScale(m_scale);
        freshSettingsDir();
        freshLogDir();
        resetSessionState();
        modGlobals::InitApplicationVariables();
        SessionState &state = sessionState();
        state.hostSettings = settings = std::make_shared<SettingsDouble>();
        state.hostPif = pif = std::make_shared<PifDouble>();
        state.hostCallback = callback = std::make_shared<CallbackDouble>();
    }

    void TearDown() override
    {
#ifdef QUARVO_HAVE_SIM
        if (sim)
            sim->stop();
#endif
        if (frmImmediate *immediate = sessionState().immediateWindow) {
            immediate->hide();
            delete immediate;
        }
        resetSessionState();
        Timing::setScale(0);
        qunsetenv("QUARVO_TIME_SCALE");
    }

    static void pointPortAt(int port, const QString &device)
    {
        modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Communications"), QStringLiteral("Port%1").arg(port),
                                    device);
    }

    QString errorLog() const
    {
        return QString::fromLocal8Bit(readFile(sessionState().errorReporter->errorFilePath()));
    }

#ifdef QUARVO_HAVE_SIM
    // Starts the simulator with `faults`; with a `port`, points that port's setting at its pty.
    void startSimulator(const panelsim::PanelConfig &config, int port = 0)
    {
        sim = std::make_unique<panelsim::PanelSimulator>(config);
        for (const QString &fault : faults)
            ASSERT_TRUE(sim->addFault(fault)) << fault.toStdString();
        QString why;
        ASSERT_TRUE(sim->start(&why)) << why.toStdString();
        if (port)
            pointPortAt(port, sim->devicePath());
    }

    // The decoded lines of what the simulator received, in order.
    QStringList simHeard() const
    {
        QStringList out;
        for (const panelsim::TraceEntry &e : sim->trace())
            if (e.direction == QLatin1String("in"))
                out << e.decoded;
        return out;
    }

    bool simSaw(const QString &text) const
    {
        for (const panelsim::TraceEntry &e : sim->trace())
            if (e.decoded.contains(text))
                return true;
        return false;
    }

    std::unique_ptr<panelsim::PanelSimulator> sim;
#endif

    QStringList faults; // given to the simulator by startSimulator
    std::shared_ptr<SettingsDouble> settings;
    std::shared_ptr<PifDouble> pif;
    std::shared_ptr<CallbackDouble> callback;

private:
    double m_scale;
    bool m_scaleSimulator;
};

} // namespace testsupport
