// The simulator driven through a real pseudo-terminal, as the component's serial port would.
#include "SimClient.h"

#include "Crc16Arc.h"
#include "SerialEnvelope.h"

#include <QFileInfo>
#include <QTemporaryDir>

using namespace panelsim;
using namespace simtest;

TEST(PanelsimSerialLink, ModemDialConnectExchangeEscapeAndHangUp)
{
    // Shrinks the modem's guard times around "+++"; the factor is read when the simulator starts.
    struct Restore
    {
        QByteArray saved = qgetenv("QUARVO_TIME_SCALE");
        ~Restore() { saved.isNull() ? qunsetenv("QUARVO_TIME_SCALE") : qputenv("QUARVO_TIME_SCALE", saved); }
    } restore;
    qputenv("QUARVO_TIME_SCALE", "0.1");
    const auto panel = startPanel({.mode = LinkMode::Modem, .eventCounter = 0x0102});
    ASSERT_TRUE(panel);
    SerialClient line(panel->devicePath());
    ASSERT_TRUE(line.isOpen());

    line.write("ATZ\r");
    EXPECT_EQ(line.readUntil("\r\nOK\r\n", 3000), QByteArray("ATZ\r\r\nOK\r\n"));
    // Numeric result codes after V0, verbal again after V1; a lone carriage return gets nothing.
    line.write("ATE0V0\r");
    EXPECT_EQ(line.readUntil("\r0\r", 3000), QByteArray("ATE0V0\r0\r"));
    line.write("\rATV1\r");
    EXPECT_EQ(line.readUntil("OK\r\n", 3000), QByteArray("\r\nOK\r\n"));
    line.write("ATDT5551234\r");
    EXPECT_TRUE(line.readUntil("CONNECT", 3000).contains("\r\nCONNECT\r\n"));
    EXPECT_TRUE(panel->carrierUp());

    // Connected: remote addressing, answers sum to 7F; the new-event word is low byte first.
    line.write(execFrame(true, 32, hex("1234560000")));
    EXPECT_EQ(line.readFrame(true, 2000), hex("0003142048"));
    line.write(execFrame(true, 26));
    const QByteArray status = line.readFrame(true, 2000);
    ASSERT_EQ(status.size(), 17);
    EXPECT_EQ(byteSum(status), 0x7F);
    EXPECT_EQ(status.mid(3, 3), hex("010307"));
    EXPECT_EQ(status.mid(14, 2), hex("0201"));

    line.write("+++");
    EXPECT_TRUE(line.readUntil("\r\nOK\r\n", 3000).contains("OK"));
    EXPECT_TRUE(panel->carrierUp()); // escaped, carrier kept until ATH
    line.write("ATH\r");
    EXPECT_TRUE(line.readUntil("\r\nOK\r\n", 3000).contains("OK"));
    EXPECT_FALSE(panel->carrierUp());
    EXPECT_EQ(panel->commandCount("Request Panel Status"), 1);
}

TEST(PanelsimSerialLink, ModemCallbackRingsAfterHangUpAndTakesTheAnswerPasscode)
{
    const auto panel = startPanel(
        {.mode = LinkMode::Modem, .connectDelayMs = 20, .ringIntervalMs = 100, .callbackDelayMs = 20}, {"callback@passcode"});
    ASSERT_TRUE(panel);
    SerialClient line(panel->devicePath());
    line.write("ATDT42\r");
    ASSERT_TRUE(line.readUntil("CONNECT\r\n", 2000).contains("CONNECT"));
    line.write(execFrame(true, 32, hex("1234560000")));
    EXPECT_EQ(line.readFrame(true, 2000), hex("0003030871"));
    panel->dropLink(); // the carrier goes: the panel calls back a moment later
    EXPECT_TRUE(line.readUntil("NO CARRIER", 2000).contains("\r\nNO CARRIER\r\n"));
    EXPECT_TRUE(line.readUntil("RING", 2000).contains("\r\nRING\r\n"));
    line.write("ATA\r");
    ASSERT_TRUE(line.readUntil("CONNECT\r\n", 2000).contains("CONNECT"));
    line.write(execFrame(true, 32, hex("4829070000")));
    EXPECT_EQ(line.readFrame(true, 2000), hex("0003142048"));
}

TEST(PanelsimSerialLink, ModemFaultsBusyRejectedInitAndSilence)
{
    const auto panel = startPanel({.mode = LinkMode::Modem, .connectDelayMs = 20, .numericResults = true},
                                  {"error@AT&F", "busy", "mute@ATI"});
    ASSERT_TRUE(panel);
    SerialClient line(panel->devicePath());
    line.write("AT&FX4\r");
    EXPECT_EQ(line.readUntil("\r4\r", 2000), QByteArray("AT&FX4\r4\r"));
    line.write("ATI\r");
    EXPECT_TRUE(line.readFor(150).isEmpty());
    line.write("ATDT1\r");
    EXPECT_EQ(line.readUntil("\r7\r", 2000), QByteArray("ATDT1\r7\r")); // BUSY
    EXPECT_FALSE(panel->carrierUp());
    line.write("ATDT1\r");
    EXPECT_EQ(line.readUntil("\r1\r", 2000), QByteArray("ATDT1\r1\r")); // CONNECT once the fault is spent
}

TEST(PanelsimSerialLink, DirectLineIdleFramesNakFaultAndBadChecksum)
{
    const auto panel = startPanel({.mode = LinkMode::Direct, .localPollMs = 40}, {"nak@status*2"});
    ASSERT_TRUE(panel);
    SerialClient line(panel->devicePath());
    EXPECT_TRUE(line.readFor(200).contains(hex("64020099"))); // quiet line: idle frames
    for (int i = 0; i < 2; ++i) {
        line.write(execFrame(false, 26));
        EXPECT_EQ(line.readFrame(false, 2000), hex("64020297")) << i;
    }
    line.write(execFrame(false, 26));
    const QByteArray status = line.readFrame(false, 2000);
    ASSERT_EQ(status.size(), 17);
    EXPECT_EQ(byteSum(status), 0xFF);
    EXPECT_EQ(panel->commandCount("Request Panel Status"), 3);

    QByteArray broken = execFrame(false, 33);
    broken.back() = static_cast<char>(broken.back() + 1);
    line.write(hex("55AA") + broken); // noise before the address is skipped
    EXPECT_EQ(line.readFrame(false, 2000), hex("64020297"));
    EXPECT_EQ(panel->commandCount("Request Panel Date"), 0);
}

TEST(PanelsimSerialLink, DirectLineBlocksCrcAndDataLock)
{
    const auto panel = startPanel({.mode = LinkMode::Direct, .dataLock = 0x1234, .localPollMs = 0}, {"garbage=5@crc"});
    ASSERT_TRUE(panel);
    SerialClient line(panel->devicePath());
    // The data lock is item 0, stored scrambled (XOR 6B52).
    line.write(requestFrame(false, 15, hex("0000")));
    EXPECT_EQ(line.readFrame(false, 2000), hex("64040f7966a9"));

    const QByteArray block(30, '\x42');
    line.write(requestFrame(false, 14, hex("0300") + block));
    EXPECT_EQ(line.readFrame(false, 2000), hex("64030E0387"));
    line.write(requestFrame(false, 15, hex("0300")));
    EXPECT_EQ(line.readFrame(false, 2000).mid(3, 30), block);
    // A write of the wrong length, or a read of a block that does not exist, is refused.
    line.write(requestFrame(false, 14, hex("0300") + QByteArray(29, 'x')));
    EXPECT_EQ(line.readFrame(false, 2000).mid(2, 1), hex("02"));
    line.write(requestFrame(false, 15, hex("0801")));
    EXPECT_EQ(line.readFrame(false, 2000).mid(2, 1), hex("02"));

    line.write(requestFrame(false, 18, {}));
    const QByteArray crc = line.readFrame(false, 2000);
    ASSERT_EQ(crc.size(), 45);
    EXPECT_EQ(crc.mid(3, 5), hex("FFFFE0BAA3")); // BAA3: CRC-16/ARC of the data-lock bytes 79 66
    const PanelState s = panel->state();
    EXPECT_EQ(s.itemBytes(3).left(30), block);
    EXPECT_EQ(word(crc, 12), crc16Arc(s.itemBytes(3)));
    EXPECT_EQ(word(crc, 42), crc16Arc(s.itemBytes(18)));
}

TEST(PanelsimSerialLink, EnhancedDirectEnvelopeProbeAndEventLog)
{
    const QString passcode = QStringLiteral("1234AB");
    const auto panel = startPanel({.mode = LinkMode::EnhancedDirect, .passcode = passcode, .logSize = 64,
                                   .eventCount = 5, .newEventCount = 2, .slotsPerAnswer = 8});
    ASSERT_TRUE(panel);
    SerialClient line(panel->devicePath());
    auto exchange = [&](quint8 seq, const QByteArray &payload) {
        line.write(SerialEnvelope::wrap(DatagramCodec::encode(seq, payload, passcode, true)));
        const QByteArray answer = line.readEnvelope(2000);
        EXPECT_EQ(answer.left(1), QByteArray(1, char(seq)));
        return DatagramCodec::xorWith(answer.mid(1), DatagramCodec::sequenceKey(passcode, seq));
    };
    EXPECT_EQ(exchange(0x10, "LANVesk"), QByteArray("CONNECT"));

    const QByteArray index = exchange(0x11, execFrame(true, 19, hex("00")));
    const EventLog log = panel->state().eventLog;
    ASSERT_EQ(index.size(), 10);
    EXPECT_EQ(byteSum(index), 0x7F);
    EXPECT_EQ(word(index, 3), log.panelPointer());
    EXPECT_EQ(word(index, 5), log.newestIndex());
    EXPECT_EQ(static_cast<quint8>(index[8]), 64);
    const QByteArray logSlots = exchange(0x12, execFrame(true, 19, hex("01003E")));
    ASSERT_EQ(logSlots.size(), 3 + 8 * 4 + 1);
    EXPECT_EQ(logSlots.mid(3, 32), log.readSlots(62, 8)); // wraps from slot 63 to 0
    // Slot 64 lies outside a ring of 64: as a read pointer there, refused.
    EXPECT_EQ(exchange(0x13, execFrame(true, 19, hex("010040"))).mid(1, 2), hex("0302"));
    EXPECT_EQ(exchange(0x14, execFrame(true, 20, hex("0040"))).mid(1, 2), hex("0302"));
}

TEST(PanelsimSerialLink, DroppedDirectLineHangsUpTheClientAndRemovesTheSymlink)
{
    QTemporaryDir dir;
    const auto panel = startPanel({.symlinkPath = dir.filePath("panel-tty"), .localPollMs = 0}, {"drop@#2"});
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->devicePath(), dir.filePath("panel-tty"));
    SerialClient line(dir.filePath("panel-tty"));
    line.write(requestFrame(false, 15, hex("0200")));
    EXPECT_EQ(line.readFrame(false, 2000).size(), 72 + 4);
    line.write(requestFrame(false, 15, hex("0A00")));
    EXPECT_TRUE(line.readFrame(false, 2000).isEmpty());
    EXPECT_TRUE(line.hungUp());
    EXPECT_TRUE(panel->linkDropped());
    panel->stop();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("panel-tty")) || QFileInfo(dir.filePath("panel-tty")).isSymLink());
}
