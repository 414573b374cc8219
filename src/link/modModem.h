// The command/response exchange with the panel over a serial line (modem or plain direct cable).
//
// Panel frame: address, length L (bytes after the length byte, checksum included), command, L - 2
// data bytes, checksum; the sum of all L + 2 bytes modulo 256 equals a target that depends on the
// direction and on the transport's Remote flag:
//
//   Remote  direction   address  target
//   false   to panel    0xE4     0x7F
//   false   from panel  0x64     0xFF
//   true    to panel    0x00     0xFF
//   true    from panel  0x00     0x7F
//
// Special answers: a NAK (L = 2, command 2) in both modes; on remote links a callback request
// (L = 3, command 3, bit 3 of byte 3 set), honoured once per session (SessionState::CallbackSession).
//
// The exchange blocks the GUI thread without running events: every wait is a bounded
// waitForReadyRead slice against a monotonic deadline, so an idle wait costs no CPU. A port that
// goes away during a wait ends the exchange at once with 0x8004138B.
#pragma once

#include <QByteArray>

#include <cstdint>

class clsMessage;

namespace modModem {

// Frame bytes of the two addressing modes.
constexpr std::uint8_t LocalRequestAddress = 0xE4;
constexpr std::uint8_t LocalAnswerAddress = 0x64;
constexpr std::uint8_t LocalRequestTarget = 0x7F;
constexpr std::uint8_t LocalAnswerTarget = 0xFF;
constexpr std::uint8_t RemoteAddress = 0x00;
constexpr std::uint8_t RemoteRequestTarget = 0xFF;
constexpr std::uint8_t RemoteAnswerTarget = 0x7F;

// Frames whose highest index is above this are written one byte at a time.
constexpr int SingleWriteMaxIndex = 140;

// Result of ReceiveResponse when no valid frame arrived before the deadline.
constexpr std::int32_t NoFrame = 2;

// The decoding half of the answer collection, without a port or a clock: takes the bytes of one
// stage at a time (need() says how many: the address byte, the length byte, then the body of
// command, data and checksum) and says what they make. After any event but NeedMore and Skipped it
// starts over at the address byte. ReceiveResponse reads the port stage by stage and feeds it.
//
// Given the request that was sent (expect()), it also tells a valid frame that cannot be that
// request's answer (NotTheAnswer): the line carries no sequence number, so the direct line's idle
// frame, a late answer to an earlier request or a stray frame would otherwise be taken as the
// answer. What is told apart is only what the frame shows (see Fits); two answers of the same
// command and shape (two blocks of one length, two keep-alives) cannot be told apart.
class FrameScanner
{
public:
    enum class Event {
        NeedMore,        // the stage is complete; the next one needs need() bytes
        Skipped,         // not the address byte: still waiting for it
        Malformed,       // a length byte of 0: no frame has that length
        BadChecksum,     // a whole frame whose sum is not the answer target
        Nak,             // a valid NAK (length 2, command 2)
        CallbackRequest, // remote: a valid callback request (length 3, command 3, bit 3 of byte 3)
        Frame,           // any other valid frame: frame() holds it
        NotTheAnswer,    // a valid frame that cannot answer the expected request (frame() holds it)
    };

    explicit FrameScanner(bool remote);
    // The request whose answer the next frames must be (the frame as sent) and, for a block read,
    // the block's length in bytes (0: not known). An empty request takes every valid frame.
    void expect(const QByteArray &request, int blockLength = 0);

    // Whether `answer`, a whole frame with a good checksum, can be the answer to `request`:
    //  - it has a command byte (length byte 2 or more);
    //  - a refusal (command 2 with a detail byte) answers any request: the owner decides;
    //  - otherwise its command byte is the request's;
    //  - and it carries what the request asks for: a panel status or keep-alive (20/26) bytes 3-6,
    //    the panel date (20/33) and the event index (20/19, 0) bytes 3-8, an event log block
    //    (20/19, 1) at least one 4-byte slot, a block read (15) exactly the block's length when
    //    known, the CRC answer (18) the marker FF FF E0 and all 19 item CRCs.
    // A request too short to have a command byte expects nothing in particular.
    static bool Fits(const QByteArray &request, const QByteArray &answer, int blockLength = 0);
    // Bytes the current stage needs (1 for the address and the length byte).
    int need() const;
    // Takes exactly need() bytes; fewer or more are a caller's error (Malformed).
    Event take(const QByteArray &bytes);
    // The last whole frame (address through checksum), valid or not.
    const QByteArray &frame() const { return m_frame; }
    void reset();

    std::uint8_t address() const { return m_address; }
    std::uint8_t target() const { return m_target; }

private:
    enum class Stage { Address, Length, Body };
    Event classify();

    bool m_remote;
    std::uint8_t m_address;
    std::uint8_t m_target;
    Stage m_stage = Stage::Address;
    int m_length = 0;
    QByteArray m_frame;
    QByteArray m_request;
    int m_blockLength = 0;
};

// Sends the panel command behind the queued message (its client in GuidRegistry) on the current
// modem transport's port and waits for the answer, resending on NAK or silence until the command's
// RetryMax is exceeded. Only a frame that can be the request's answer is taken (FrameScanner::Fits);
// when the command went out again after a silent wait, answers the panel still owes it are waited
// for and dropped before the next request goes out (a late answer the direct line already took in
// before a resend is not owed any more). The answer goes into the message's Data; the owner gets
// ResponseReceived and the message queue is told the exchange is complete. Returns 0, 0x8004139B for
// a callback request (owner still called), or the error number: then the error is reported,
// LastErrorNumber set and the session ended with Disconnect(false, 5), and the owner is not called.
std::int32_t SendCmd(clsMessage &message);

// Collects one answer frame from the current modem transport's port. `response` is emptied on entry
// and receives the whole frame (address through checksum) on success. Returns 0, NoFrame (2), or an
// error number (0x8004138E no input / NAK / malformed frame, 0x8004139B callback request,
// 0x8004138B port closed, ...), which is reported.
std::int32_t ReceiveResponse(QByteArray &response);

} // namespace modModem
