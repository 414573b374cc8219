// ICMP echo on Linux: an ICMP datagram socket (SOCK_DGRAM, IPPROTO_ICMP) where the system allows
// it (net.ipv4.ping_group_range), else a raw ICMP socket (needs CAP_NET_RAW). One request, one
// answer: an echo reply, an ICMP error about the request (unreachable, time exceeded ...) or a
// local send error, each turned into the numeric reply status the link code expects.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace IcmpStatus {
constexpr std::uint32_t Success = 0;
constexpr std::uint32_t BufferTooSmall = 11001;
constexpr std::uint32_t DestNetUnreachable = 11002;
constexpr std::uint32_t DestHostUnreachable = 11003;
constexpr std::uint32_t DestProtocolUnreachable = 11004;
constexpr std::uint32_t DestPortUnreachable = 11005;
constexpr std::uint32_t NoResources = 11006;
constexpr std::uint32_t BadOption = 11007;
constexpr std::uint32_t HardwareError = 11008;
constexpr std::uint32_t PacketTooBig = 11009;
constexpr std::uint32_t RequestTimedOut = 11010;
constexpr std::uint32_t BadRequest = 11011;
constexpr std::uint32_t BadRoute = 11012;
constexpr std::uint32_t TtlExpiredTransit = 11013;
constexpr std::uint32_t TtlExpiredReassembly = 11014;
constexpr std::uint32_t ParameterProblem = 11015;
constexpr std::uint32_t SourceQuench = 11016;
constexpr std::uint32_t OptionTooBig = 11017;
constexpr std::uint32_t BadDestination = 11018;
constexpr std::uint32_t GeneralFailure = 11050;

// The status of an ICMP error message of `type` and `code` about our request.
std::uint32_t fromIcmpError(int type, int code);
// The status of a local failure to send (an errno value).
std::uint32_t fromErrno(int error);
} // namespace IcmpStatus

struct IcmpEchoReply
{
    QString address;            // dotted address that answered (the target, or a router on the way)
    std::uint32_t status = IcmpStatus::GeneralFailure;
    std::uint32_t roundTripMs = 0;
    QByteArray data;            // echoed data of an echo reply
};

class IcmpEcho
{
public:
    // Which socket open() may use: the datagram kind with the raw one as fallback (the default),
    // or only one of them.
    enum class Kind { Any, Datagram, Raw };

    explicit IcmpEcho(Kind kind = Kind::Any) : m_kind(kind) {}
    virtual ~IcmpEcho();
    IcmpEcho(const IcmpEcho &) = delete;
    IcmpEcho &operator=(const IcmpEcho &) = delete;

    // Opens the socket. False when neither kind of ICMP socket is permitted.
    virtual bool open();
    virtual bool isOpen() const { return m_fd >= 0; }
    virtual void close();

    // Sends one echo request with `data` to the dotted IPv4 address `address`, with the given
    // time-to-live and type-of-service, and waits at most `timeoutMs` milliseconds of protocol time
    // for its answer. Returns the number of answers stored in `reply`: 1 (an echo reply, an ICMP
    // error or a local send error, told apart by reply.status), or 0 when nothing came back in time.
    virtual int sendEcho(const QString &address, const QByteArray &data, int ttl, int tos, int timeoutMs,
                         IcmpEchoReply &reply);

    // True when the open socket is a raw one (the datagram kind was not permitted).
    bool isRaw() const { return m_raw; }

private:
    bool handleErrorQueue(std::uint16_t sequence, IcmpEchoReply &reply);
    bool handleDatagram(const std::uint8_t *bytes, long size, const QString &from, std::uint16_t sequence,
                        IcmpEchoReply &reply);

    Kind m_kind;
    int m_fd = -1;
    bool m_raw = false;
    std::uint16_t m_id = 0;
};
