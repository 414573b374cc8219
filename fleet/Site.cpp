#include "Site.h"

QJsonObject Site::hostSettings(int responseTimeoutSeconds) const
{
    QJsonObject json{{QStringLiteral("AccountName"), account},
                     {QStringLiteral("RemoteHost"), address},
                     {QStringLiteral("PanelPort"), port},
                     {QStringLiteral("Passcode"), passcode},
                     {QStringLiteral("LinkKey"), linkKey},
                     {QStringLiteral("DataLocks"), dataLocks},
                     {QStringLiteral("PanelType"), panelType},
                     {QStringLiteral("LinkType"), QStringLiteral("network")}};
    if (!name.isEmpty())
        json.insert(QStringLiteral("PanelName"), name);
    if (!timeZone.isEmpty())
        json.insert(QStringLiteral("TimeZone"), timeZone);
    if (responseTimeoutSeconds > 0)
        json.insert(QStringLiteral("ResponseTimeout"), responseTimeoutSeconds);
    return json;
}
