// The simulator driven through a real pseudo-terminal, as the component's serial port would.
#include <gtest/gtest.h>

#include "Crc16Arc.h"
#include "PanelSimulator.h"
#include "SimClient.h"

#include <QTemporaryDir>

using namespace panelsim;
using namespace simtest;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Shrinks the simulator's delays for one test; the factor is read when the simulator starts.
struct TimeScaleGuard
{
    explicit TimeScaleGuard(const char *factor) : saved(qgetenv("QUARVO_TIME_SCALE")) { qputenv("QUARVO_TIME_SCALE", factor); }
    ~TimeScaleGuard()
    {
        if (saved.isNull())
            qunsetenv("QUARVO_TIME_SCALE");
        else
            qputenv("QUARVO_TIME_SCALE", saved);
    }
    QByteArray saved;
};

} // namespace

TEST(PanelsimSerialLink, ModemDialConnectExchangeEscapeAndHangUp)
{
    TimeScaleGuard scale("0.1");
    PanelConfig c;
    c.mode = LinkMode::Modem;
    c.eventCounter = 0x0102;
    PanelSimulator panel(c);
    QString error;
    ASSERT_TRUE(panel.start(&error)) << error.toStdString();
    SerialClient line;
    ASSERT_TRUE(line.open(panel.devicePath()));

    line.write("ATZ\r");
    QByteArray r = line.readUntil("\r\nOK\r\n", 3000);
    EXPECT_TRUE(r.startsWith("ATZ\r")) << r.toStdString();
    EXPECT_TRUE(r.endsWith("\r\nOK\r\n"));
    // Numeric result codes after V0, verbal again after V1; a lone carriage return gets nothing.
    line.write("ATE0V0\r");
    EXPECT_EQ(line.readUntil("\r0\r", 3000), QByteArray("ATE0V0\r0\r"));
    line.write("\r");
    line.write("ATV1\r");
    EXPECT_EQ(line.readUntil("OK\r\n", 3000), QByteArray("\r\nOK\r\n"));

    line.write("ATDT5551234\r");
    r = line.readUntil("CONNECT", 3000);
    EXPECT_TRUE(r.contains("\r\nCONNECT\r\n")) << r.toStdString();
    EXPECT_TRUE(panel.carrierUp());

    // Connected: remote addressing, answers sum to 7F.
    line.write(execFrame(true, 32, hex("1234560000")));
    EXPECT_EQ(line.readFrame(true, 2000).toHex(), QByteArray("0003142048"));
    line.write(execFrame(true, 26));
    const QByteArray status = line.readFrame(true, 2000);
    ASSERT_EQ(status.size(), 17);
    EXPECT_EQ(byteSum(status), 0x7F);
    EXPECT_EQ(status.mid(3, 3), hex("010307"));
    EXPECT_EQ(static_cast<quint8>(status[14]), 0x02); // new-event word, low byte first
    EXPECT_EQ(static_cast<quint8>(status[15]), 0x01);

    line.write("+++");
    EXPECT_TRUE(line.readUntil("\r\nOK\r\n", 3000).contains("OK"));
    EXPECT_TRUE(panel.carrierUp()); // escaped, carrier kept until ATH
    line.write("ATH\r");
    EXPECT_TRUE(line.readUntil("\r\nOK\r\n", 3000).contains("OK"));
    EXPECT_FALSE(panel.carrierUp());
    EXPECT_EQ(panel.commandCount("Passcode Verification"), 1);
    EXPECT_EQ(panel.commandCount("Request Panel Status"), 1);
    panel.stop();
}

TEST(PanelsimSerialLink, ModemCallbackRingsAfterHangUpAndTakesTheAnswerPasscode)
{
    PanelConfig c;
    c.mode = LinkMode::Modem;
    c.connectDelayMs = 20;
    c.callbackDelayMs = 20;
    c.ringIntervalMs = 100;
    PanelSimulator panel(c);
    ASSERT_TRUE(panel.addFault("callback@passcode"));
    ASSERT_TRUE(panel.start());
    SerialClient line;
    ASSERT_TRUE(line.open(panel.devicePath()));
    line.write("ATDT42\r");
    ASSERT_TRUE(line.readUntil("CONNECT\r\n", 2000).contains("CONNECT"));
    line.write(execFrame(true, 32, hex("1234560000")));
    EXPECT_EQ(line.readFrame(true, 2000), hex("0003030871"));
    panel.dropLink(); // the carrier goes: the panel calls back a moment later
    EXPECT_TRUE(line.readUntil("NO CARRIER", 2000).contains("\r\nNO CARRIER\r\n"));
    EXPECT_TRUE(line.readUntil("RING", 2000).contains("\r\nRING\r\n"));
    line.write("ATA\r");
    ASSERT_TRUE(line.readUntil("CONNECT\r\n", 2000).contains("CONNECT"));
    line.write(execFrame(true, 32, hex("4829070000")));
    EXPECT_EQ(line.readFrame(true, 2000).toHex(), QByteArray("0003142048"));
}

TEST(PanelsimSerialLink, ModemFaultsBusyRejectedInitAndSilence)
{
    PanelConfig c;
    c.mode = LinkMode::Modem;
    c.connectDelayMs = 20;
    c.numericResults = true;
    PanelSimulator panel(c);
    ASSERT_TRUE(panel.addFault("error@AT&F"));
    ASSERT_TRUE(panel.addFault("busy"));
    ASSERT_TRUE(panel.addFault("mute@ATI"));
    ASSERT_TRUE(panel.start());
    SerialClient line;
    ASSERT_TRUE(line.open(panel.devicePath()));
    line.write("AT&FX4\r");
    EXPECT_EQ(line.readUntil("\r4\r", 2000), QByteArray("AT&FX4\r4\r"));
    line.write("ATI\r");
    EXPECT_TRUE(line.readFor(150).isEmpty());
    line.write("ATDT1\r");
    EXPECT_EQ(line.readUntil("\r7\r", 2000), QByteArray("ATDT1\r7\r")); // BUSY
    EXPECT_FALSE(panel.carrierUp());
    line.write("ATDT1\r");
    EXPECT_EQ(line.readUntil("\r1\r", 2000), QByteArray("ATDT1\r1\r")); // CONNECT once the fault is spent
}

TEST(PanelsimSerialLink, DirectLineIdleFramesNakFaultAndBadChecksum)
{
    PanelConfig c;
    c.mode = LinkMode::Direct;
    c.localPollMs = 40;
    PanelSimulator panel(c);
    ASSERT_TRUE(panel.addFault("nak@status*2"));
    ASSERT_TRUE(panel.start());
    SerialClient line;
    ASSERT_TRUE(line.open(panel.devicePath()));
    line.discardInput();
    EXPECT_TRUE(line.readFor(200).contains(hex("64020099"))); // quiet line: idle frames

    for (int i = 0; i < 2; ++i) {
        line.write(execFrame(false, 26));
        EXPECT_EQ(line.readFrame(false, 2000), hex("64020297")) << i;
    }
    line.write(execFrame(false, 26));
    const QByteArray status = line.readFrame(false, 2000);
    ASSERT_EQ(status.size(), 17);
    EXPECT_EQ(static_cast<quint8>(status[0]), 0x64);
    EXPECT_EQ(byteSum(status), 0xFF);
    EXPECT_EQ(panel.commandCount("Request Panel Status"), 3);

    QByteArray broken = execFrame(false, 33);
    broken[broken.size() - 1] = static_cast<char>(broken.back() + 1);
    line.write(hex("55AA") + broken); // noise before the address is skipped
    EXPECT_EQ(line.readFrame(false, 2000), hex("64020297"));
    EXPECT_EQ(panel.commandCount("Request Panel Date"), 0);
}

TEST(PanelsimSerialLink, DirectLineBlocksCrcAndDataLock)
{
    PanelConfig c;
    c.mode = LinkMode::Direct;
    c.localPollMs = 0;
    c.dataLock = 0x1234;
    PanelSimulator panel(c);
    ASSERT_TRUE(panel.addFault("garbage=5@crc"));
    ASSERT_TRUE(panel.start());
    SerialClient line;
    ASSERT_TRUE(line.open(panel.devicePath()));

    // The data lock is item 0, stored scrambled (XOR 6B52).
    line.write(requestFrame(false, 15, hex("0000")));
    EXPECT_EQ(line.readFrame(false, 2000).toHex(), QByteArray("64040f7966a9"));

    const QByteArray block(30, '\x42');
    line.write(requestFrame(false, 14, hex("0300") + block));
    EXPECT_EQ(line.readFrame(false, 2000), hex("64030E0387"));
    line.write(requestFrame(false, 15, hex("0300")));
    const QByteArray back = line.readFrame(false, 2000);
    EXPECT_EQ(back.mid(3, back.size() - 4), block);
    // A write of the wrong length, or of a block that does not exist, is refused.
    line.write(requestFrame(false, 14, hex("0300") + QByteArray(29, 'x')));
    EXPECT_EQ(static_cast<quint8>(line.readFrame(false, 2000)[2]), 2);
    line.write(requestFrame(false, 15, hex("0801")));
    EXPECT_EQ(static_cast<quint8>(line.readFrame(false, 2000)[2]), 2);

    line.write(requestFrame(false, 18, {}));
    const QByteArray crc = line.readFrame(false, 2000);
    ASSERT_EQ(crc.size(), 45);
    EXPECT_EQ(crc.mid(3, 3), hex("FFFFE0"));
    EXPECT_EQ(crc.mid(6, 2), hex("BAA3")); // CRC-16/ARC of the two data-lock bytes 79 66
    const PanelState s = panel.state();
    const quint16 item3 = crc16Arc(s.itemBytes(3));
    EXPECT_EQ(s.itemBytes(3).left(30), block);
    EXPECT_EQ((static_cast<quint8>(crc[12]) << 8) | static_cast<quint8>(crc[13]), item3);
    EXPECT_EQ(static_cast<quint8>(crc[42]) << 8 | static_cast<quint8>(crc[43]), crc16Arc(s.itemBytes(18)));
}

TEST(PanelsimSerialLink, EnhancedDirectEnvelopeProbeAndEventLog)
{
    PanelConfig c;
    c.mode = LinkMode::EnhancedDirect;
    c.passcode = QStringLiteral("1234AB");
    c.logSize = 64;
    c.eventCount = 5;
    c.newEventCount = 2;
    c.slotsPerAnswer = 8;
    PanelSimulator panel(c);
    ASSERT_TRUE(panel.start());
    SerialClient line;
    ASSERT_TRUE(line.open(panel.devicePath()));
    const quint8 key = 0xAB + 0x10;
    auto xorred = [](QByteArray b, quint8 k) {
        for (char &ch : b)
            ch = static_cast<char>(static_cast<quint8>(ch) ^ k);
        return b;
    };
    const QByteArray probe = QByteArray(1, '\x10') + xorred("LANVesk", key);
    line.write(hex("02FFFFFFFF00") + QByteArray(1, char(probe.size())) + probe);
    const QByteArray answer = line.readEnvelope(2000);
    ASSERT_FALSE(answer.isEmpty());
    EXPECT_EQ(answer[0], '\x10');
    EXPECT_EQ(xorred(answer.mid(1), key), QByteArray("CONNECT"));

    const QByteArray index = QByteArray(1, '\x11') + xorred(execFrame(true, 19, hex("00")), 0xBC);
    line.write(hex("02FFFFFFFF00") + QByteArray(1, char(index.size())) + index);
    const QByteArray indexAnswer = xorred(line.readEnvelope(2000).mid(1), 0xBC);
    const EventLog log = panel.state().eventLog;
    ASSERT_EQ(indexAnswer.size(), 10);
    EXPECT_EQ(byteSum(indexAnswer), 0x7F);
    EXPECT_EQ((static_cast<quint8>(indexAnswer[3]) << 8) | static_cast<quint8>(indexAnswer[4]), log.panelPointer());
    EXPECT_EQ((static_cast<quint8>(indexAnswer[5]) << 8) | static_cast<quint8>(indexAnswer[6]), log.newestIndex());
    EXPECT_EQ(static_cast<quint8>(indexAnswer[8]), 64);

    const QByteArray logRequest = QByteArray(1, '\x12') + xorred(execFrame(true, 19, hex("01003E")), 0xBD);
    line.write(hex("02FFFFFFFF00") + QByteArray(1, char(logRequest.size())) + logRequest);
    const QByteArray logSlots = xorred(line.readEnvelope(2000).mid(1), 0xBD);
    ASSERT_EQ(logSlots.size(), 3 + 8 * 4 + 1);
    EXPECT_EQ(logSlots.mid(3, 32), log.readSlots(62, 8)); // wraps from slot 63 to 0
}

TEST(PanelsimSerialLink, DroppedDirectLineHangsUpTheClient)
{
    PanelConfig c;
    c.localPollMs = 0;
    QTemporaryDir dir;
    c.symlinkPath = dir.filePath("panel-tty");
    PanelSimulator panel(c);
    ASSERT_TRUE(panel.addFault("drop@#2"));
    ASSERT_TRUE(panel.start());
    EXPECT_EQ(panel.devicePath(), c.symlinkPath);
    SerialClient line;
    ASSERT_TRUE(line.open(c.symlinkPath));
    line.write(requestFrame(false, 15, hex("0200")));
    EXPECT_EQ(line.readFrame(false, 2000).size(), 72 + 4);
    line.write(requestFrame(false, 15, hex("0A00")));
    EXPECT_TRUE(line.readFrame(false, 2000).isEmpty());
    EXPECT_TRUE(line.hungUp());
    EXPECT_TRUE(panel.linkDropped());
    panel.stop();
    EXPECT_FALSE(QFileInfo::exists(c.symlinkPath) || QFileInfo(c.symlinkPath).isSymLink());
}
