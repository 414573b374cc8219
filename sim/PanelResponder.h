// The panel's side of each command: what a request frame is, what it does to the panel's memory and
// which answer frame goes back. Transport, timing and faults are the simulator's business.
//
// Answers (address and checksum per the link's addressing):
//   accepted write or setting   cmd 20/14 echoed, one byte (function or item): addr 03 cc ff ck
//   refused                     result code 2 and one byte:                    addr 03 02 ff ck
//   callback request            addr 03 03 08 ck
//   status / keep-alive         addr 0F 14 r1 r2 r3 s6 type excl 00*5 evLo evHi ck (17 bytes)
//   item block                  addr L 0F data ck
//   CRC                         addr 2B 12 FF FF E0 crc0hi crc0lo .. crc18lo ck
//   event index                 addr 08 14 ptrHi ptrLo newestHi newestLo sizeHi sizeLo ck
//   event log                   addr L 14 slots*4 ck
//   date                        addr 08 14 month day yy hour12 minute pm ck
#pragma once

#include "PanelFrame.h"
#include "PanelState.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace panelsim {

struct PanelRequest
{
    QString name;        // the system's command name, e.g. "Passcode Verification"
    QStringList aliases; // further names a fault target may use
    QStringList numbers; // "20/32", "20"
    QString detail;      // readable parameters for the trace
    quint8 command = 0;
    quint8 function = 0;
    QByteArray params;   // command 20: the six bytes after the function; others: the data bytes
    bool isProbe = false;

    QStringList allNames() const { return QStringList{name} + aliases; }
};

class PanelResponder
{
public:
    static constexpr quint8 ExecCommand = 20;
    static constexpr quint8 WriteBlockCommand = 14;
    static constexpr quint8 ReadBlockCommand = 15;
    static constexpr quint8 CrcCommand = 18;

    // A complete request frame (checksum already checked).
    static PanelRequest describeFrame(const QByteArray &frame);
    // A raw probe text ("LANVesk", "ATA", "LOCAL_CONN"); name "Null Command".
    static PanelRequest describeProbe(const QByteArray &text);
    static bool isProbeText(const QByteArray &payload);

    // The answer to a probe (no frame around it): "CONNECT" or a text containing "OK"; empty = none.
    static QByteArray probeAnswer(const QByteArray &text);

    // Carries out a request on the panel and returns its answer frame (empty: no answer, as for
    // "Panel Goodbye"). answeredCall: the panel placed this call, so the answer passcode is valid.
    static QByteArray answer(PanelState &state, const PanelRequest &request, Addressing addressing, bool answeredCall);

    // The status / keep-alive answer.
    static QByteArray statusAnswer(const PanelState &state, Addressing addressing);
};

} // namespace panelsim
