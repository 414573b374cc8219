#include "transports/Resolver.h"

#include <QStringList>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

namespace modICMP {

bool isDottedIPv4(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        bool ok = false;
        const int v = part.toInt(&ok);
        if (!ok || v < 0 || v > 255)
            return false;
        for (const QChar c : part)
            if (!c.isDigit())
                return false;
    }
    return true;
}

std::int32_t ResolveHost(const QString &hostText, QString &result)
{
    result.clear();
    if (isDottedIPv4(hostText)) {
        result = hostText;
        return 0;
    }
    if (hostText.isEmpty() || hostText.size() > 64)
        return -1;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(hostText.toLocal8Bit().constData(), nullptr, &hints, &found) != 0 || !found)
        return -1;
    char text[INET_ADDRSTRLEN] = {};
    const auto *addr = reinterpret_cast<const sockaddr_in *>(found->ai_addr);
    const bool ok = ::inet_ntop(AF_INET, &addr->sin_addr, text, sizeof text) != nullptr;
    ::freeaddrinfo(found);
    if (!ok)
        return -1;
    result = QString::fromLatin1(text);
    return 0;
}

} // namespace modICMP
