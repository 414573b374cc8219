#include "transports/modICMP.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/modGlobals.h"
#include "platform/IcmpEcho.h"
#include "transports/Resolver.h"

#include <limits>

namespace modICMP {

const QByteArray EchoData = QByteArrayLiteral("abcdefghijklmnopqrstuvwabcdefghijklmnopqrstuvwabcdefghijklmnopqr");

namespace {
// Echo requests of the network test ask for this type of service.
constexpr int kTypeOfService = 8;
} // namespace

QString IcmpStatusText(std::uint32_t status)
{
    // Each number is written out so the catalog check can see every text used.
    switch (status) {
    case 0: return modGlobals::GetCatalogString(1459);
    case 11001: return modGlobals::GetCatalogString(1460);
    case 11002: return modGlobals::GetCatalogString(1461);
    case 11003: return modGlobals::GetCatalogString(1462);
    case 11004: return modGlobals::GetCatalogString(1463);
    case 11005: return modGlobals::GetCatalogString(1464);
    case 11006: return modGlobals::GetCatalogString(1465);
    case 11007: return modGlobals::GetCatalogString(1466);
    case 11008: return modGlobals::GetCatalogString(1467);
    case 11009: return modGlobals::GetCatalogString(1468);
    case 11010: return modGlobals::GetCatalogString(1469);
    case 11011: return modGlobals::GetCatalogString(1470);
    case 11012: return modGlobals::GetCatalogString(1471);
    case 11013: return modGlobals::GetCatalogString(1472);
    case 11014: return modGlobals::GetCatalogString(1473);
    case 11015: return modGlobals::GetCatalogString(1474);
    case 11016: return modGlobals::GetCatalogString(1475);
    case 11017: return modGlobals::GetCatalogString(1476);
    case 11018: return modGlobals::GetCatalogString(1477);
    case 11019: return modGlobals::GetCatalogString(1478);
    case 11020: return modGlobals::GetCatalogString(1479);
    case 11021: return modGlobals::GetCatalogString(1480);
    case 11022: return modGlobals::GetCatalogString(1481);
    case 11050: return modGlobals::GetCatalogString(1482);
    default: return QString();
    }
}

std::int32_t PingHost(QString &Host, std::int16_t Ttl, std::int16_t TimeoutSeconds, QString &StatusText)
{
    IcmpEcho echo;
    return PingHost(Host, Ttl, TimeoutSeconds, StatusText, echo);
}

std::int32_t PingHost(QString &Host, std::int16_t Ttl, std::int16_t TimeoutSeconds, QString &StatusText,
                      IcmpEcho &echo)
{
    StatusText.clear();
    std::int32_t result = 1;
    errors::guarded(QStringLiteral("modICMP"), QStringLiteral("PingHost()"), [&] {
        // The time-out travels in 16-bit milliseconds: 32 seconds at most.
        const int timeoutMs = int(TimeoutSeconds) * 1000;
        if (timeoutMs > std::numeric_limits<std::int16_t>::max() || timeoutMs < 0)
            raiseError(ErrorCode::Overflow, QStringLiteral("echo time-out"));

        if (!echo.open()) {
            // Neither an ICMP datagram socket nor a raw one is permitted here.
            StatusText = IcmpStatusText(IcmpStatus::GeneralFailure);
            return;
        }
        if (!isDottedIPv4(Host)) {
            QString resolved;
            if (ResolveHost(Host, resolved) != 0) {
                StatusText = modGlobals::GetCatalogString(1486);
                echo.close();
                return;
            }
            Host = resolved;
        }

        IcmpEchoReply reply;
        const int answers = echo.sendEcho(Host, EchoData, Ttl, kTypeOfService, timeoutMs, reply);
        if (answers == 0) {
            StatusText = modGlobals::GetCatalogString(1489);
            result = 0;
        } else if (reply.status == IcmpStatus::Success) {
            StatusText = modGlobals::ReplaceVariable(modGlobals::GetCatalogString(1487), QStringLiteral("RTT"),
                                                     QString::number(reply.roundTripMs));
            result = 0;
        } else {
            StatusText = IcmpStatusText(reply.status);
        }
        echo.close();
    });
    return result;
}

} // namespace modICMP
