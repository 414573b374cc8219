// The panel status byte of the handshake at its edge: only the value the host expects passes; one
// either side of it ends the attempt before the data lock is asked for.
#include "connection/ConnectionFixture.h"

#include "core/ErrorCodes.h"

#ifdef QUARVO_HAVE_SIM

using namespace conntest;

class HandshakeEdges : public ConnectionTest
{
};

TEST_F(HandshakeEdges, OnlyTheExpectedStatusBytePassesNotOneEitherSide)
{
    for (const int status : {4, 5, 6}) {
        SCOPED_TRACE(status);
        settings->expectedPanelStatus = 5;
        panelsim::PanelConfig config = panel(panelsim::LinkMode::Direct);
        config.statusByte = static_cast<quint8>(status);
        config.dataLock = 0x1234;
        startPanel(config);
        openSession();
        sessionState().LastErrorNumber = 0;
        const bool passes = status == 5;
        Script script;
        connectAs(script, frmCommInterface::TypeDirect);
        if (passes)
            script.then(QStringLiteral("data lock asked for"),
                        [this] { return sim->commandCount(QStringLiteral("Request Data Lock")) == 1; }, hide());
        else
            script.then(QStringLiteral("attempt failed"),
                        [] { return sessionState().LastErrorNumber == ErrorCode::PanelStatusMismatch; }, hide());
        display(script);
        EXPECT_EQ(sim->commandCount(QStringLiteral("Request Data Lock")), passes ? 1 : 0);
        EXPECT_EQ(sessionState().LastErrorNumber, passes ? 0 : ErrorCode::PanelStatusMismatch);
        endSession();
    }
}

#endif // QUARVO_HAVE_SIM
