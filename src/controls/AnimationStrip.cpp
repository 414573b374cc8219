#include "controls/AnimationStrip.h"

#include <QFileInfo>
#include <QMovie>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

constexpr int kSpacing = 18;  // distance between two chevrons, pixels
constexpr int kStepPx = 3;    // how far the chevrons move per frame

} // namespace

AnimationStrip::AnimationStrip(QWidget *parent)
    : QWidget(parent)
{
    m_frameTimer.setInterval(kFrameMs);
    connect(&m_frameTimer, &QTimer::timeout, this, [this] {
        m_phase = (m_phase + kStepPx) % kSpacing;
        update();
    });
}

AnimationStrip::~AnimationStrip() = default;

bool AnimationStrip::open(const QString &path)
{
    stop();
    m_movie.reset();
    m_fileName = path;
    m_phase = 0;

    const QString name = QFileInfo(path).completeBaseName();
    if (name.contains(QLatin1String("RtoL"), Qt::CaseInsensitive))
        m_direction = Direction::RightToLeft;
    else if (name.contains(QLatin1String("LtoR"), Qt::CaseInsensitive))
        m_direction = Direction::LeftToRight;

    if (QFileInfo(path).isFile()) {
        auto movie = std::make_unique<QMovie>(path);
        // A file that decodes to a single picture is no animation: draw our own instead.
        if (movie->isValid() && movie->frameCount() != 1) {
            movie->setCacheMode(QMovie::CacheNone);
            connect(movie.get(), &QMovie::updated, this, [this] { update(); });
            // Files without a loop count play once; the strip repeats them for as long as it plays.
            connect(movie.get(), &QMovie::finished, this, [this] {
                if (m_movie && m_playing && isVisible())
                    m_movie->start();
            });
            movie->jumpToFrame(0);
            m_movie = std::move(movie);
        }
    }
    update();
    return m_movie != nullptr;
}

void AnimationStrip::play()
{
    m_playing = true;
    updateRunning();
}

void AnimationStrip::stop()
{
    m_playing = false;
    updateRunning();
}

bool AnimationStrip::isAnimating() const
{
    if (m_movie)
        return m_movie->state() == QMovie::Running;
    return m_frameTimer.isActive();
}

void AnimationStrip::setDirection(Direction direction)
{
    if (m_direction == direction)
        return;
    m_direction = direction;
    update();
}

QSize AnimationStrip::sizeHint() const
{
    return {240, 37};
}

void AnimationStrip::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (m_movie) {
        const QPixmap frame = m_movie->currentPixmap();
        if (!frame.isNull()) {
            const QPixmap fitted = frame.size().boundedTo(size()) == frame.size()
                                       ? frame
                                       : frame.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
            painter.drawPixmap((width() - fitted.width()) / 2, (height() - fitted.height()) / 2, fitted);
        }
        return;
    }
    paintChevrons(painter);
}

void AnimationStrip::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateRunning();
}

void AnimationStrip::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateRunning();
}

void AnimationStrip::updateRunning()
{
    const bool run = m_playing && isVisible();
    if (m_movie) {
        // The movie runs its own frame timer; pausing it while hidden keeps that timer stopped too.
        if (!m_playing) {
            if (m_movie->state() != QMovie::NotRunning) {
                m_movie->stop();
                m_movie->jumpToFrame(0);
            }
        } else if (run) {
            if (m_movie->state() == QMovie::Paused)
                m_movie->setPaused(false);
            else if (m_movie->state() == QMovie::NotRunning)
                m_movie->start();
        } else if (m_movie->state() == QMovie::Running) {
            m_movie->setPaused(true);
        }
        return;
    }
    if (run && !m_frameTimer.isActive())
        m_frameTimer.start();
    else if (!run)
        m_frameTimer.stop();
    update();
}

void AnimationStrip::paintChevrons(QPainter &painter)
{
    painter.setRenderHint(QPainter::Antialiasing);
    const int h = height();
    const int half = std::max(3, h / 4);
    const int mid = h / 2;
    const bool rightToLeft = m_direction == Direction::RightToLeft;

    // A faint track across the strip, then the chevrons on it, pointing the way the data goes.
    painter.setPen(QPen(palette().mid(), 1));
    painter.drawLine(0, mid, width(), mid);

    const QColor colour = m_playing ? palette().color(QPalette::Highlight) : palette().color(QPalette::Mid);
    QPen pen(colour, std::max(2, h / 12), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    const int offset = rightToLeft ? (kSpacing - m_phase) % kSpacing : m_phase;
    for (int x = offset - kSpacing; x < width() + kSpacing; x += kSpacing) {
        const int tip = rightToLeft ? x - half / 2 : x + half / 2;
        const int tail = rightToLeft ? x + half / 2 : x - half / 2;
        QPainterPath chevron;
        chevron.moveTo(tail, mid - half);
        chevron.lineTo(tip, mid);
        chevron.lineTo(tail, mid + half);
        painter.drawPath(chevron);
    }
}
