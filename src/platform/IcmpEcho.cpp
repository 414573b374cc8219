#include "platform/IcmpEcho.h"

#include "platform/Timing.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

namespace IcmpStatus {

std::uint32_t fromIcmpError(int type, int code)
{
    switch (type) {
    case ICMP_DEST_UNREACH:
        switch (code) {
        case ICMP_NET_UNREACH:
        case ICMP_NET_UNKNOWN:
        case ICMP_NET_ANO:
        case ICMP_NET_UNR_TOS:
            return DestNetUnreachable;
        case ICMP_PROT_UNREACH:
            return DestProtocolUnreachable;
        case ICMP_PORT_UNREACH:
            return DestPortUnreachable;
        case ICMP_FRAG_NEEDED:
            return PacketTooBig;
        case ICMP_SR_FAILED:
            return BadRoute;
        default:
            return DestHostUnreachable;
        }
    case ICMP_TIME_EXCEEDED:
        return code == ICMP_EXC_FRAGTIME ? TtlExpiredReassembly : TtlExpiredTransit;
    case ICMP_PARAMETERPROB:
        return ParameterProblem;
    case ICMP_SOURCE_QUENCH:
        return SourceQuench;
    default:
        return GeneralFailure;
    }
}

std::uint32_t fromErrno(int error)
{
    switch (error) {
    case ENETUNREACH:
    case ENETDOWN:
        return DestNetUnreachable;
    case EHOSTUNREACH:
    case EHOSTDOWN:
        return DestHostUnreachable;
    case ENOPROTOOPT:
    case EPROTO:
        return DestProtocolUnreachable;
    case ECONNREFUSED:
        return DestPortUnreachable;
    case EMSGSIZE:
        return PacketTooBig;
    case ENOBUFS:
    case ENOMEM:
        return NoResources;
    case EACCES:
    case EPERM:
    case EADDRNOTAVAIL:
    case EAFNOSUPPORT:
        return BadDestination;
    case EINVAL:
        return BadRequest;
    default:
        return GeneralFailure;
    }
}

} // namespace IcmpStatus

namespace {

constexpr int kIcmpHeader = 8;
constexpr int kMaxData = 65507 - kIcmpHeader;

std::uint16_t internetChecksum(const std::uint8_t *bytes, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += std::uint32_t(bytes[i]) << 8 | bytes[i + 1];
    if (size % 2)
        sum += std::uint32_t(bytes[size - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

std::uint16_t readU16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

std::uint16_t nextSequence()
{
    static std::atomic<std::uint16_t> sequence{static_cast<std::uint16_t>(QRandomGenerator::global()->generate())};
    return ++sequence;
}

// Reads (and so clears) the socket's pending error, which would otherwise keep poll() reporting it.
void clearPendingError(int fd)
{
    int pending = 0;
    socklen_t len = sizeof pending;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &len);
}

QString dotted(const in_addr &address)
{
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &address, text, sizeof text))
        return QString();
    return QString::fromLatin1(text);
}

} // namespace

IcmpEcho::~IcmpEcho()
{
    close();
}

bool IcmpEcho::open()
{
    if (m_fd >= 0)
        return true;
    if (m_kind != Kind::Raw) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (m_fd >= 0) {
            m_raw = false;
            // ICMP errors about our requests (unreachable, time exceeded) arrive on the error queue.
            const int on = 1;
            ::setsockopt(m_fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
            return true;
        }
    }
    if (m_kind != Kind::Datagram) {
        m_fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (m_fd >= 0) {
            m_raw = true;
            m_id = static_cast<std::uint16_t>(QRandomGenerator::global()->generate());
            return true;
        }
    }
    return false;
}

void IcmpEcho::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

int IcmpEcho::sendEcho(const QString &address, const QByteArray &data, int ttl, int tos, int timeoutMs,
                       IcmpEchoReply &reply)
{
    reply = IcmpEchoReply();
    reply.address = address;
    if (m_fd < 0) {
        reply.status = IcmpStatus::GeneralFailure;
        return 1;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    if (::inet_pton(AF_INET, address.toLatin1().constData(), &target.sin_addr) != 1) {
        reply.status = IcmpStatus::BadDestination;
        return 1;
    }
    if (ttl < 1 || ttl > 255 || tos < 0 || tos > 255) {
        reply.status = IcmpStatus::BadOption;
        return 1;
    }
    if (data.size() > kMaxData) {
        reply.status = IcmpStatus::PacketTooBig;
        return 1;
    }
    if (::setsockopt(m_fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0
        || ::setsockopt(m_fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos) != 0) {
        reply.status = IcmpStatus::BadOption;
        return 1;
    }
    // Forget any error left over from an earlier request.
    clearPendingError(m_fd);

    const std::uint16_t sequence = nextSequence();
    std::vector<std::uint8_t> packet(kIcmpHeader + static_cast<std::size_t>(data.size()));
    packet[0] = ICMP_ECHO;
    packet[1] = 0;
    // On a datagram socket the system fills in the identifier (and the checksum) itself.
    packet[4] = static_cast<std::uint8_t>(m_id >> 8);
    packet[5] = static_cast<std::uint8_t>(m_id & 0xFF);
    packet[6] = static_cast<std::uint8_t>(sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(sequence & 0xFF);
    if (!data.isEmpty())
        std::memcpy(packet.data() + kIcmpHeader, data.constData(), static_cast<std::size_t>(data.size()));
    const std::uint16_t sum = internetChecksum(packet.data(), packet.size());
    packet[2] = static_cast<std::uint8_t>(sum >> 8);
    packet[3] = static_cast<std::uint8_t>(sum & 0xFF);

    const Timing::Deadline deadline(timeoutMs);
    QElapsedTimer clock;
    clock.start();
    ssize_t sent;
    do {
        sent = ::sendto(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr *>(&target),
                        sizeof target);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        reply.status = IcmpStatus::fromErrno(errno);
        return 1;
    }

    std::vector<std::uint8_t> buffer(65536);
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(deadline.remainingMs()));
        if (ready < 0 && errno != EINTR) {
            reply.status = IcmpStatus::GeneralFailure;
            return 1;
        }
        if (ready > 0 && (p.revents & POLLERR) && handleErrorQueue(sequence, reply)) {
            reply.roundTripMs = static_cast<std::uint32_t>(clock.elapsed());
            return 1;
        }
        if (ready > 0 && (p.revents & POLLIN)) {
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const ssize_t got = ::recvfrom(m_fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                           reinterpret_cast<sockaddr *>(&from), &fromLen);
            if (got < 0 && errno != EAGAIN && errno != EINTR && !m_raw) {
                // A datagram socket reports an ICMP error it could not queue as the receive error.
                reply.status = IcmpStatus::fromErrno(errno);
                reply.roundTripMs = static_cast<std::uint32_t>(clock.elapsed());
                return 1;
            }
            if (got > 0 && handleDatagram(buffer.data(), got, dotted(from.sin_addr), sequence, reply)) {
                reply.roundTripMs = static_cast<std::uint32_t>(clock.elapsed());
                return 1;
            }
        }
        if (deadline.expired())
            return 0;
    }
}

bool IcmpEcho::handleErrorQueue(std::uint16_t sequence, IcmpEchoReply &reply)
{
    clearPendingError(m_fd);
    std::uint8_t payload[576];
    alignas(cmsghdr) std::uint8_t control[512];
    sockaddr_in from{};
    iovec iov{payload, sizeof payload};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = ::recvmsg(m_fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (got < 0)
        return false;
    // The queued copy of our request starts with its ICMP header: it must be this request.
    if (got >= kIcmpHeader && payload[0] == ICMP_ECHO && readU16(payload + 6) != sequence)
        return false;
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR)
            continue;
        sock_extended_err error{};
        std::memcpy(&error, CMSG_DATA(c), sizeof error);
        if (error.ee_origin == SO_EE_ORIGIN_ICMP) {
            reply.status = IcmpStatus::fromIcmpError(error.ee_type, error.ee_code);
            sockaddr_in offender{};
            const auto *offenderBytes = CMSG_DATA(c) + sizeof(sock_extended_err);
            if (c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err) + sizeof offender)) {
                std::memcpy(&offender, offenderBytes, sizeof offender);
                if (offender.sin_family == AF_INET)
                    reply.address = dotted(offender.sin_addr);
            }
        } else {
            reply.status = IcmpStatus::fromErrno(static_cast<int>(error.ee_errno));
        }
        return true;
    }
    return false;
}

bool IcmpEcho::handleDatagram(const std::uint8_t *bytes, long size, const QString &from, std::uint16_t sequence,
                              IcmpEchoReply &reply)
{
    long offset = 0;
    if (m_raw) {
        // A raw socket hands over the whole IP packet.
        if (size < 20 || (bytes[0] >> 4) != 4)
            return false;
        offset = (bytes[0] & 0x0F) * 4;
        if (offset < 20)
            return false;
    }
    if (size - offset < kIcmpHeader)
        return false;
    const std::uint8_t *icmp = bytes + offset;
    const long icmpSize = size - offset;

    if (icmp[0] == ICMP_ECHOREPLY) {
        // A datagram socket only delivers replies to its own identifier; a raw one sees everyone's.
        if (readU16(icmp + 6) != sequence || (m_raw && readU16(icmp + 4) != m_id))
            return false;
        reply.status = IcmpStatus::Success;
        reply.address = from;
        reply.data = QByteArray(reinterpret_cast<const char *>(icmp + kIcmpHeader), icmpSize - kIcmpHeader);
        return true;
    }
    if (!m_raw)
        return false;
    switch (icmp[0]) {
    case ICMP_DEST_UNREACH:
    case ICMP_SOURCE_QUENCH:
    case ICMP_TIME_EXCEEDED:
    case ICMP_PARAMETERPROB:
        break;
    default:
        return false; // our own request seen on loopback, redirects, other traffic
    }
    // An ICMP error quotes the IP header and the first 8 bytes of the packet it is about.
    const std::uint8_t *quoted = icmp + kIcmpHeader;
    const long quotedSize = icmpSize - kIcmpHeader;
    if (quotedSize < 20 || (quoted[0] >> 4) != 4)
        return false;
    const long quotedHeader = (quoted[0] & 0x0F) * 4;
    if (quotedHeader < 20 || quotedSize < quotedHeader + kIcmpHeader || quoted[9] != IPPROTO_ICMP)
        return false;
    const std::uint8_t *original = quoted + quotedHeader;
    if (original[0] != ICMP_ECHO || readU16(original + 4) != m_id || readU16(original + 6) != sequence)
        return false;
    reply.status = IcmpStatus::fromIcmpError(icmp[0], icmp[1]);
    reply.address = from;
    return true;
}
