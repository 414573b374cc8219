#include "platform/Timing.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <utility>

namespace Timing {

namespace {
double g_override = 0.0;
std::function<QDateTime()> g_dateTimeSource;

double envScale()
{
    static const double value = [] {
        bool ok = false;
        const double v = qEnvironmentVariable("QUARVO_TIME_SCALE").toDouble(&ok);
        return (ok && v > 0.0 && std::isfinite(v)) ? v : 1.0;
    }();
    return value;
}

const QElapsedTimer &clock()
{
    static const QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}
} // namespace

double scale()
{
    return g_override > 0.0 ? g_override : envScale();
}

void setScale(double factor)
{
    g_override = factor > 0.0 ? factor : 0.0;
}

qint64 scaled(qint64 ms)
{
    if (ms <= 0)
        return 0;
    const double v = std::llround(static_cast<double>(ms) * scale());
    return std::max<qint64>(1, static_cast<qint64>(v));
}

QDateTime currentDateTime()
{
    return g_dateTimeSource ? g_dateTimeSource() : QDateTime::currentDateTime();
}

void setCurrentDateTimeSource(std::function<QDateTime()> source)
{
    g_dateTimeSource = std::move(source);
}

qint64 nowMs()
{
    return clock().elapsed();
}

void sleep(qint64 ms)
{
    const qint64 real = scaled(ms);
    if (real > 0)
        QThread::msleep(static_cast<unsigned long>(real));
}

void pauseWithEvents(qint64 ms)
{
    Deadline deadline(ms);
    while (!deadline.expired()) {
        const qint64 slice = std::min<qint64>(deadline.remainingMs(), 20);
        QCoreApplication::processEvents(QEventLoop::AllEvents, static_cast<int>(slice));
        // processEvents returns at once when nothing is pending: rest for the slice.
        QThread::msleep(static_cast<unsigned long>(std::min<qint64>(deadline.remainingMs(), 5)));
    }
}

Deadline::Deadline(qint64 ms)
    : m_end(nowMs() + scaled(ms))
{
}

bool Deadline::expired() const
{
    return nowMs() >= m_end;
}

qint64 Deadline::remainingMs() const
{
    return std::max<qint64>(0, m_end - nowMs());
}

} // namespace Timing
