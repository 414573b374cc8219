// Everything a simulated panel is made of and how it is reached. Plain data: fill it, hand it to
// PanelSimulator (or PanelState::fromConfig) and start.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>

namespace panelsim {

enum class LinkMode {
    Direct,         // plain direct serial line, local addressing
    Modem,          // Hayes modem on a serial line, remote addressing once connected
    EnhancedDirect, // serial envelope around datagrams, remote addressing
    Network,        // UDP datagrams on 127.0.0.1, remote addressing, optional encryption
};

QString linkModeName(LinkMode mode);
bool parseLinkMode(const QString &text, LinkMode *mode);

struct PanelConfig
{
    LinkMode mode = LinkMode::Direct;
    quint32 seed = 1;
    // Items whose programming data differ from what the seed gives (a host that holds the seed's
    // data then finds exactly these items changed). Item 0's data-lock bytes and item 3's passcode
    // bytes are kept, so item 0 cannot differ.
    QList<int> differItems;

    // Identity and admission.
    QString passcode = QStringLiteral("123456");
    QString answerPasscode = QStringLiteral("482907"); // accepted on calls the panel made itself
    int panelType = 1;
    std::array<quint8, 3> romRevision{{1, 3, 7}};
    quint8 statusByte = 0;                             // byte 6 of the status answer
    quint16 dataLock = 0x1234;                         // plain code; the panel stores it scrambled
    bool passcodeFromItem3 = false;                    // a write of item 3:0 sets the passcode (bytes 0-2)

    // Network link.
    quint16 udpPort = 0;                               // 0 = let the system choose
    QString linkKey;                                   // 32 characters: datagrams travel encrypted
    bool acceptClearWhenEncrypted = true;              // answer clear datagrams in the clear
    bool sequenceNumbers = true;                       // XOR payloads with the sequence key

    // Serial links.
    QString symlinkPath;                               // optional link to the pty slave
    int localPollMs = 200;                             // direct line: idle frame after this quiet time (0 = never)

    // Modem.
    int connectDelayMs = 1000;
    bool modemEcho = true;
    bool numericResults = false;
    int ringIntervalMs = 2000;
    int callbackDelayMs = 2000;                        // hang-up (or net-ring request) to call back

    // Event log and keep-alive.
    int logSize = 256;
    int eventCount = 24;
    int newEventCount = 6;
    int firstEventSlot = 0;
    int slotsPerAnswer = 32;
    quint16 eventCounter = 0;

    // Clock: invalid = the computer's time at start.
    QDateTime clock;

    // Trace of every exchange as JSON lines.
    QString traceFile;
    bool traceToStdout = false;
};

} // namespace panelsim
