// Which frames can answer which request on a serial line. The requests are the component's own
// (built by the request procedures); the well-formed answers are the simulator's, which is written
// from the wire format alone.
#include "LinkFixture.h"

#ifdef QUARVO_HAVE_SIM

#include "PanelFrame.h"
#include "PanelResponder.h"
#include "PanelState.h"
#include "link/modExecFunctions.h"
#include "link/modModem.h"
#include "link/modSDIFunctions.h"
#include "link/modToolbox.h"

#include <functional>

using namespace linktest;
using panelsim::Addressing;
using panelsim::PanelFrame;
using Event = modModem::FrameScanner::Event;

namespace {

QByteArray answer(int command, const QByteArray &data = {})
{
    return PanelFrame::answer(Addressing::Local, static_cast<quint8>(command), data);
}

} // namespace

class AnswerShapeTest : public LinkTest
{
protected:
    // The frame a request procedure builds (no queue window: it is only built).
    QByteArray requestOf(const std::function<std::int32_t()> &procedure)
    {
        EXPECT_EQ(procedure(), 0);
        const auto command = newCommand();
        return command ? command->OutputData : QByteArray();
    }

    // What the scanner makes of `frame` while it waits for the answer to `request`.
    static Event scan(const QByteArray &request, const QByteArray &frame)
    {
        int blockLength = 0;
        if (static_cast<std::uint8_t>(request.at(2)) == 15)
            blockLength = modToolbox::BlockLength(static_cast<std::uint8_t>(request.at(3)), static_cast<std::uint8_t>(request.at(4)));
        modModem::FrameScanner scanner(false);
        scanner.expect(request, blockLength);
        Event event = Event::NeedMore;
        for (qsizetype at = 0; at < frame.size();) {
            const int need = scanner.need();
            event = scanner.take(frame.mid(at, need));
            at += need;
        }
        return event;
    }

    // The simulated panel's answer to `request`.
    QByteArray panelAnswer(const QByteArray &request)
    {
        return panelsim::PanelResponder::answer(panel, panelsim::PanelResponder::describeFrame(request), Addressing::Local, false);
    }

    panelsim::PanelState panel;
};

TEST_F(AnswerShapeTest, OnlyAFrameThatCanBeTheRequestsAnswerCompletesTheExchange)
{
    settings->hostDataMode = false;
    const QByteArray idle = answer(0); // the direct line's idle frame 64 02 00 99
    ASSERT_EQ(idle, hex("64020099"));

    struct Case
    {
        const char *request;
        std::function<std::int32_t()> procedure;
        QList<QPair<QByteArray, bool>> others; // further frames and whether they fit
    };
    const QList<Case> cases{
        {"passcode", [&] { return modExecFunctions::SMPasscode(QStringLiteral("123456"), &owner, 0, false); },
         {{idle, false}, {PanelFrame::refusal(Addressing::Local, 32), true}, {hex("64019A"), false}}},
        {"status", [&] { return modExecFunctions::SMReqPanelStatus(&owner, 0, false); },
         {{idle, false}, {answer(20, hex("010307")), false}, {answer(20, hex("20")), false}}},
        {"keep-alive", [&] { return modExecFunctions::SMHeartBeat(&owner, 0, false); }, {{answer(14, hex("08")), false}}},
        {"date", [&] { return modExecFunctions::SMReqPanelDateTime(&owner, 0, false); }, {{answer(20, hex("0309180b1e")), false}}},
        {"event index", [&] { return modExecFunctions::SMReqEventIndex(&owner, 0, false); }, {{answer(20, hex("14")), false}}},
        {"event log", [&] { return modExecFunctions::SMReqEventLog(4, &owner, 0, false); }, {{answer(20, hex("14")), false}}},
        {"set index", [&] { return modExecFunctions::SMSetEventIndex(4, &owner, 0, false); }, {{idle, false}}},
        {"data lock", [&] { return modSDIFunctions::SDIRequestDataLock(&owner, 0, false); },
         {{answer(15, hex("123456")), false}, {idle, false}}},
        {"block 8:16", [&] { return modSDIFunctions::SDIRequestItemBlock(8, 16, &owner, 0, false); },
         {{answer(15, QByteArray(111, 'x')), false}, {answer(15, QByteArray(75, 'x')), false}}},
        {"write 8:16", [&] { return modSDIFunctions::SDIWriteItemBlock(8, 16, QByteArray(112, 'x'), &owner, 0, false); },
         {{answer(15, QByteArray(112, 'x')), false}, {PanelFrame::refusal(Addressing::Local, 14), true}}},
        {"CRC", [&] { return modSDIFunctions::SDIRequestCRC(&owner, 0, false); },
         {{idle, false}, {PanelFrame::refusal(Addressing::Local, 18), true}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.request);
        const QByteArray request = requestOf(c.procedure);
        ASSERT_GE(request.size(), 4);
        const QByteArray good = panelAnswer(request);
        EXPECT_EQ(scan(request, good), Event::Frame);
        for (const auto &[frame, fits] : c.others)
            EXPECT_EQ(scan(request, frame), fits ? Event::Frame : Event::NotTheAnswer) << frame.toHex().constData();
        if (QLatin1String(c.request) == QLatin1String("CRC")) {
            // Without its FF FF E0 marker, or short of the last item's CRC.
            EXPECT_EQ(scan(request, answer(18, QByteArray(3, '\0') + good.mid(6, good.size() - 7))), Event::NotTheAnswer);
            EXPECT_EQ(scan(request, answer(18, good.mid(3, good.size() - 6))), Event::NotTheAnswer);
        }
    }
    // Without a request to answer (the direct line's read before each send), any valid frame is taken.
    EXPECT_TRUE(modModem::FrameScanner::Fits({}, idle));
}

#endif // QUARVO_HAVE_SIM
