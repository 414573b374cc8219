#include "PanelConfig.h"

namespace panelsim {

QString linkModeName(LinkMode mode)
{
    switch (mode) {
    case LinkMode::Direct: return QStringLiteral("direct");
    case LinkMode::Modem: return QStringLiteral("modem");
    case LinkMode::EnhancedDirect: return QStringLiteral("enhanced");
    case LinkMode::Network: return QStringLiteral("network");
    }
    return {};
}

bool parseLinkMode(const QString &text, LinkMode *mode)
{
    const QString t = text.trimmed().toLower();
    LinkMode m;
    if (t == QLatin1String("direct"))
        m = LinkMode::Direct;
    else if (t == QLatin1String("modem"))
        m = LinkMode::Modem;
    else if (t == QLatin1String("enhanced") || t == QLatin1String("enhanced-direct"))
        m = LinkMode::EnhancedDirect;
    else if (t == QLatin1String("network") || t == QLatin1String("udp"))
        m = LinkMode::Network;
    else
        return false;
    if (mode)
        *mode = m;
    return true;
}

} // namespace panelsim
