#include "TimeScale.h"

#include <QByteArray>
#include <QtGlobal>

#include <cmath>

namespace panelsim {

double timeScale()
{
    const QByteArray text = qgetenv("QUARVO_TIME_SCALE");
    if (text.isEmpty())
        return 1.0;
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value <= 0.0)
        return 1.0;
    return value;
}

int scaledMs(int ms)
{
    if (ms <= 0)
        return 0;
    const double scaled = std::round(ms * timeScale());
    if (scaled < 1.0)
        return 1;
    if (scaled > 2.0e9)
        return 2000000000;
    return static_cast<int>(scaled);
}

} // namespace panelsim
