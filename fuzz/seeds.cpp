// Writes the seed corpora: a few real, well-formed inputs per target, built with the component's
// own encoders where it has them (envelope, CRC, records). Run by `make fuzz-seeds`; the result is
// kept in fuzz/corpus/<target>/.
#include "FuzzSupport.h"

#include "FileHostSettings.h"
#include "PanelDataStore.h"

#include "link/modChecksums.h"
#include "link/modEncryption.h"
#include "link/modModem.h"
#include "link/modToolbox.h"
#include "platform/SharedMemory.h"
#include "queue/clsMessage.h"
#include "core/modGlobals.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <cstdio>

namespace {

QString g_root;

void seed(const char *target, const char *name, const QByteArray &bytes)
{
    const QString folder = QDir(g_root).filePath(QString::fromLatin1(target));
    QDir().mkpath(folder);
    QFile file(QDir(folder).filePath(QString::fromLatin1(name)));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::fprintf(stderr, "cannot write %s/%s\n", target, name);
}

// A frame with its checksum byte: address, length (bytes after it), command, data, checksum, the
// whole summing to `target`.
QByteArray frame(std::uint8_t address, std::uint8_t target, const QByteArray &commandAndData)
{
    QByteArray f;
    f.append(static_cast<char>(address));
    f.append(static_cast<char>(commandAndData.size() + 1));
    f.append(commandAndData);
    unsigned sum = 0;
    for (const char c : f)
        sum += static_cast<std::uint8_t>(c);
    f.append(static_cast<char>((target - sum) & 0xFF));
    return f;
}

QByteArray remote(const QByteArray &commandAndData)
{
    return frame(modModem::RemoteAddress, modModem::RemoteAnswerTarget, commandAndData);
}

QByteArray local(const QByteArray &commandAndData)
{
    return frame(modModem::LocalAnswerAddress, modModem::LocalAnswerTarget, commandAndData);
}

QByteArray withChunk(const QByteArray &bytes)
{
    return QByteArray(1, static_cast<char>(bytes.size())) + bytes;
}

QByteArray i16(std::int16_t v)
{
    return QByteArray(1, static_cast<char>(v & 0xFF)) + QByteArray(1, static_cast<char>((v >> 8) & 0xFF));
}

// A status answer: revision 1.307, status byte 0.
const QByteArray kStatus = QByteArray::fromHex("020103070000");
// A plain acknowledgement.
const QByteArray kAck = QByteArray::fromHex("01");

void frameScanner()
{
    seed("frame_scanner", "local-ack", QByteArray(1, '\0') + local(kAck));
    seed("frame_scanner", "local-idle-then-status", QByteArray(1, '\0') + QByteArray::fromHex("ff00") + local(kAck) + local(kStatus));
    seed("frame_scanner", "remote-status", QByteArray(1, '\1') + remote(kStatus));
    seed("frame_scanner", "remote-nak", QByteArray(1, '\1') + remote(QByteArray::fromHex("02")));
    seed("frame_scanner", "remote-callback", QByteArray(1, '\1') + remote(QByteArray::fromHex("0308")));
    seed("frame_scanner", "remote-bad-checksum", QByteArray(1, '\1') + QByteArray::fromHex("0003020100") + remote(kAck));
    // Awaiting an answer: the request frame (a length byte first), the block length, then the line.
    const QByteArray statusRequest = QByteArray::fromHex("e409141a00000000000064");
    seed("frame_scanner", "status-after-idle", QByteArray(1, '\2') + withChunk(statusRequest) + QByteArray(1, '\0')
                                                  + local(QByteArray(1, '\0')) + local(QByteArray::fromHex("14") + kStatus.mid(1)));
    const QByteArray blockRequest = QByteArray::fromHex("e4040f081070");
    seed("frame_scanner", "block-of-112", QByteArray(1, '\3') + withChunk(blockRequest) + QByteArray(1, '\x70')
                                             + remote(QByteArray::fromHex("0f") + QByteArray(112, '\x5a')));
    const QByteArray crcRequest = QByteArray::fromHex("000212eb");
    QByteArray crc = QByteArray::fromHex("12ffffe0");
    crc.append(QByteArray(38, '\x11'));
    seed("frame_scanner", "crc-refused-then-answered", QByteArray(1, '\3') + withChunk(crcRequest) + QByteArray(1, '\0')
                                                          + remote(QByteArray::fromHex("0212")) + remote(crc));
}

void modemAnswer()
{
    seed("modem_answer", "reset-ok", QByteArray("\x00\x77", 2) + "ATZ\r\r\nOK\r\n");
    seed("modem_answer", "init-numeric", QByteArray("\x01\x11", 2) + "AT&F\r0\r");
    seed("modem_answer", "dial-connect", QByteArray("\x02\xff", 2) + "ATDT5551234\r\r\nCONNECT 9600\r\n");
    seed("modem_answer", "answer-no-carrier", QByteArray("\x03\x35", 2) + "ATA\r\r\nNO CARRIER\r\n");
    seed("modem_answer", "dial-busy", QByteArray("\x02\x42", 2) + "ATDT5551234\r\r\nBUSY\r\n");
    seed("modem_answer", "ring", QByteArray("\x05\x00", 2) + "\r\nRING\r\n");
}

void datagram()
{
    const QString passcode = QStringLiteral("123456");
    const std::uint8_t seq = 0x2A;
    QByteArray plain = QByteArray(1, static_cast<char>(seq)) + remote(kStatus);
    // Sequence XOR with the key of the passcode's last two hex digits plus the sequence byte.
    const std::uint8_t key = static_cast<std::uint8_t>((0x56 + seq) & 0xFF);
    QByteArray xored = plain;
    for (qsizetype i = 1; i < xored.size(); ++i)
        xored[i] = static_cast<char>(xored.at(i) ^ key);
    const QByteArray header = QByteArray(1, static_cast<char>(seq)) + withChunk(passcode.toLatin1());
    // flags: 1 encryption, 4 sequence numbers, 8 connected, 64 the probe "LANVesk" in flight
    seed("datagram", "clear-connected", QByteArray(1, 8) + header + plain);
    seed("datagram", "clear-sequenced", QByteArray(1, 12) + header + xored);
    seed("datagram", "encrypted-sequenced", QByteArray(1, 13) + header + modEncryption::EncryptData(xored, fuzzsupport::linkKey()));
    const QByteArray connect = QByteArray(1, static_cast<char>(seq)) + "CONNECT";
    seed("datagram", "probe-answer", QByteArray(1, 64 | 1) + header + modEncryption::EncryptData(connect, fuzzsupport::linkKey()));
    seed("datagram", "probe-answer-clear", QByteArray(1, 64 | 1) + header + connect);
    seed("datagram", "net-ring-clear", QByteArray(1, 16) + header + QByteArray(1, '\0') + "LANVesk");
}

void envelope()
{
    const QString key = fuzzsupport::linkKey();
    seed("envelope", "status", modEncryption::EncryptData(QByteArray(1, '\x2A') + remote(kStatus), key));
    seed("envelope", "probe", modEncryption::EncryptData(QByteArray(1, '\0') + "LANVesk", key));
    seed("envelope", "two-pieces", modEncryption::EncryptData(QByteArray(1500, '\x33'), key));
    seed("envelope", "empty", modEncryption::EncryptData(QByteArray(), key));
}

void enhancedEnvelope()
{
    // The serial envelope: 02 FF FF FF FF, the length (high, low), the datagram.
    const auto wrap = [](const QByteArray &datagram) {
        return QByteArray::fromHex("02ffffffff00") + QByteArray(1, static_cast<char>(datagram.size())) + datagram;
    };
    const QString passcode = QStringLiteral("123456");
    const std::uint8_t seq = 0x2A;
    const std::uint8_t key = static_cast<std::uint8_t>((0x56 + seq) & 0xFF);
    QByteArray status = remote(kStatus);
    for (char &c : status)
        c = static_cast<char>(c ^ key);
    const QByteArray header = QByteArray(1, static_cast<char>(seq)) + withChunk(passcode.toLatin1());
    // flags: 1 sequence numbers, 2 connected
    seed("enhanced_envelope", "status-sequenced", QByteArray(1, 3) + header + wrap(QByteArray(1, static_cast<char>(seq)) + status));
    seed("enhanced_envelope", "probe-answer", QByteArray(1, 0) + header + wrap(QByteArray(1, '\0') + "CONNECT"));
    seed("enhanced_envelope", "late-then-answer", QByteArray(1, 3) + header + wrap(QByteArray(1, '\x29') + status)
                                                        + wrap(QByteArray(1, static_cast<char>(seq)) + status));
    seed("enhanced_envelope", "length-300", QByteArray(1, 2) + header + QByteArray::fromHex("02ffffffff012c") + QByteArray(20, '\x55'));
    seed("enhanced_envelope", "bad-marker", QByteArray(1, 2) + header + QByteArray::fromHex("03ffffffff0005") + remote(kAck));
}

void crcAnswer()
{
    // Command and three bytes, then the CRCs from byte 6 of the frame on.
    QByteArray same = QByteArray::fromHex("0a000013");
    for (int item = 0; item <= modToolbox::LastCrcItem; ++item) {
        const std::int32_t crc = modToolbox::CalcItemCRC(static_cast<std::int16_t>(item));
        same.append(static_cast<char>((crc >> 8) & 0xFF));
        same.append(static_cast<char>(crc & 0xFF));
    }
    const QByteArray body = same;
    seed("crc_answer", "all-same", remote(body));
    QByteArray changed = body;
    changed[10] = static_cast<char>(changed.at(10) ^ 0x5A);
    seed("crc_answer", "one-changed", remote(changed));
    seed("crc_answer", "short", remote(body.left(20)));
}

void itemBlock()
{
    QVector<std::int16_t> itemOf, startOf, blockLen, blockCount;
    modToolbox::GetItemMap(itemOf, startOf, blockLen, blockCount);
    for (const int block : {0, 1, 10, 60, 212}) {
        QByteArray body = QByteArray::fromHex("0a");
        for (int i = 0; i < blockLen.at(block); ++i)
            body.append(static_cast<char>(i * 7));
        seed("item_block", QStringLiteral("block-%1").arg(block).toLatin1().constData(),
             QByteArray(1, static_cast<char>(block)) + remote(body));
    }
}

void keepalive()
{
    // Command and eleven status bytes, then the event counter in bytes 14 and 15 of the frame.
    QByteArray answer = QByteArray::fromHex("02") + QByteArray(11, '\0');
    answer += QByteArray::fromHex("0300"); // three panel events
    seed("keepalive", "three-events", remote(answer));
    seed("keepalive", "no-counter", remote(kAck));
}

void panelStatus()
{
    seed("panel_status", "rev-1.307", remote(kStatus));
    seed("panel_status", "rev-2.10", remote(QByteArray::fromHex("0202000a0500")));
    seed("panel_status", "short", remote(QByteArray::fromHex("0201")));
}

// An event-log block: main slot, time-stamp slot (month, day, hour and minute in 20 bits) and an
// optional modifier slot per event.
void historyBlock()
{
    const QByteArray event = QByteArray::fromHex("1201000031286000");      // 3/2 10:06
    const QByteArray modified = QByteArray::fromHex("20050000C7A5A000F1000000"); // 12/15 09:26, modifier
    const QByteArray invalid = QByteArray::fromHex("F5000000");
    const auto header = [](std::uint8_t flags, std::int16_t planned, std::int16_t processed) {
        return QByteArray(1, static_cast<char>(flags)) + i16(planned) + i16(processed);
    };
    seed("history_block", "events", header(0, 40, 0) + remote(QByteArray::fromHex("14") + event + modified + invalid + event + QByteArray(8, '\0')));
    seed("history_block", "all-events-first-slot-empty", header(1, 64, 0) + remote(QByteArray::fromHex("14") + QByteArray(16, '\0') + event));
    seed("history_block", "plan-done", header(0, 4, 4) + remote(QByteArray::fromHex("14") + event + event));
    seed("history_block", "cut-short", header(0, 40, 0) + remote(QByteArray::fromHex("14") + event.left(6)));
    seed("history_block", "empty", header(0, 40, 0) + remote(QByteArray::fromHex("14") + QByteArray(32, '\0')));
}

// The panel date answer: month, day, year, hour (12-hour coding), minute, PM flag.
void panelDate()
{
    seed("panel_date", "afternoon-en", QByteArray(1, 1) + remote(QByteArray::fromHex("14030918021901")));
    seed("panel_date", "midnight-de", QByteArray(1, 2) + remote(QByteArray::fromHex("140c1f17000000")));
    seed("panel_date", "noon-ja", QByteArray(1, 3) + remote(QByteArray::fromHex("14010118000c01")));
    seed("panel_date", "month-13", QByteArray(1, 0) + remote(QByteArray::fromHex("140d0118013b00")));
    seed("panel_date", "no-pm-flag", QByteArray(1, 4) + remote(QByteArray::fromHex("140309180219")));
}

void recordReader()
{
    QString guid;
    modGlobals::GetGUID(guid);
    clsMessage msg;
    if (msg.Create(guid) != 0)
        return;
    QString next;
    modGlobals::GetGUID(next);
    msg.setName(QStringLiteral("Request Panel Status"));
    msg.setPriority(6);
    msg.setAuto(-1);
    msg.setData(remote(kStatus));
    msg.setOwnerName(QStringLiteral("frmCommInterface"));
    msg.setOwnerGUID(next);
    msg.setClientGUID(next);
    msg.setNextMsgGUID(guid);
    msg.setHeadGUID(guid);
    SharedMemory block;
    QByteArray record(msgrecord::RecordSize, '\0');
    if (block.open(guid, msgrecord::RecordSize) == 0 && block.read(0, record.data(), msgrecord::RecordSize)) {
        seed("record_reader", "message-whole", i16(1024) + record);
        seed("record_reader", "message-cut-at-next", i16(700) + record);
        seed("record_reader", "message-cut-to-nothing", i16(0) + record);
        seed("record_reader", "too-short", i16(1024) + record.left(500));
    }
    msgrecord::Discard(guid);
}

void stringHelpers()
{
    seed("string_helpers", "string-to-byte", QByteArray(1, 0) + i16(0) + i16(0) + withChunk("Request CRC \xc3\xa9"));
    seed("string_helpers", "to-string", QByteArray(1, 1) + i16(2) + i16(3) + withChunk("TIMEOUT"));
    seed("string_helpers", "debug-convert", QByteArray(1, 2) + i16(-1) + i16(-1) + withChunk(QByteArray::fromHex("0006ff")));
    seed("string_helpers", "replace-variable",
         QByteArray(1, 3) + i16(0) + i16(0) + withChunk("Retried %MAX% times (%MAX%)") + withChunk("MAX") + withChunk("5"));
    seed("string_helpers", "memory-to-text", QByteArray(1, 4) + i16(8) + i16(0) + withChunk(QByteArray("K\0e\0e\0p\0", 8)));
    seed("string_helpers", "text-to-memory", QByteArray(1, 5) + i16(20) + i16(76) + withChunk("{00000000-0000-0000-0000-000000000000}"));
}

// Panel data files as quarvo-host writes them: empty items of a 75-byte and a 78-byte panel, one with
// data in some items, and one whose last byte no longer matches its CRC.
void panelDataFile()
{
    seed("panel_data_file", "empty-type-1", PanelDataStore(1).toBytes());
    seed("panel_data_file", "empty-type-50", PanelDataStore(50).toBytes());
    PanelDataStore filled(1);
    filled.setBytes(3, 0, QByteArray::fromHex("123456"), nullptr);
    filled.setBytes(5, 16, QByteArray::fromHex("a55ac3"), nullptr);
    filled.setBytes(18, 0, QByteArray(4, '\x7f'), nullptr);
    const QByteArray bytes = filled.toBytes();
    seed("panel_data_file", "items-filled", bytes);
    QByteArray damaged = bytes;
    damaged[damaged.size() - 1] = static_cast<char>(damaged.at(damaged.size() - 1) ^ 1);
    seed("panel_data_file", "crc-damaged", damaged);
}

// Settings files: the defaults written out, the README's example, and one of every kind of value.
void settingsFile()
{
    seed("settings_file", "defaults", QJsonDocument(FileHostSettings().toJson()).toJson());
    seed("settings_file", "readme-example",
         R"({ "AccountName": "1234", "RemoteHost": "127.0.0.1", "PanelPort": 3001, "Passcode": "123456",
  "DataLocks": [ { "Value": 4660, "Name": "Office", "Number": 1, "Key": "PRIMARY" } ] })");
    seed("settings_file", "every-kind",
         R"({"LinkType": "enhanced-direct", "LinkKey": "Quarvo-fuzz-link-key-32-chars-ok", "LinkKeyMode": 0,
  "PanelPort": "3002", "ResponseTimeout": "0x0A", "TimeOffsetHours": -3, "PanelType": 50, "Parity": "E",
  "HostDataMode": false, "DataFile": "site.qpd", "RemoteHost": "panel-7.example.org",
  "DataLocks": [{"Value": -1, "DataLockType": 2, "Name": "Night", "Number": 2}, {"Value": 65535, "Key": "PRIMARY"}]})");
    seed("settings_file", "unknown-key", R"({"RemoteHost": "127.0.0.1:3001", "Pascode": "[31m"})");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    fuzzsupport::init();
    g_root = QString::fromLocal8Bit(argv[1]);
    frameScanner();
    modemAnswer();
    datagram();
    envelope();
    enhancedEnvelope();
    crcAnswer();
    itemBlock();
    keepalive();
    panelStatus();
    historyBlock();
    panelDate();
    recordReader();
    stringHelpers();
    panelDataFile();
    settingsFile();
    return 0;
}
