// A small strip that shows the direction of a transfer while it runs. It plays the file it is
// given when Qt can read it as an animation (any format of Qt's image plugins, such as GIF);
// otherwise it draws its own: a row of chevrons that move right to left or left to right. The
// direction comes from the file's name ("RtoL..." right to left, "LtoR..." left to right) or from
// setDirection. Frames advance on a timer that runs only while the strip plays and is visible.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

#include <memory>

class QMovie;

class AnimationStrip : public QWidget
{
    Q_OBJECT
public:
    enum class Direction { LeftToRight, RightToLeft };

    // Interval between two drawn frames, in milliseconds.
    static constexpr int kFrameMs = 60;

    explicit AnimationStrip(QWidget *parent = nullptr);
    ~AnimationStrip() override;

    // Stops, remembers `path`, takes the direction from the file's name (other names keep the
    // current direction) and shows the first frame. Returns true when the file exists and can be
    // played; false when the strip will draw its own animation instead.
    bool open(const QString &path);
    void play();
    void stop();
    // True from play() to stop(), also while the strip is hidden (it resumes when shown).
    bool isPlaying() const { return m_playing; }
    // True while frames are advancing: playing and visible.
    bool isAnimating() const;
    // True when the opened file is played rather than the drawn animation.
    bool playsFile() const { return m_movie != nullptr; }
    QString fileName() const { return m_fileName; }

    Direction direction() const { return m_direction; }
    void setDirection(Direction direction);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // Starts or stops the frame source to match "playing and visible".
    void updateRunning();
    void paintChevrons(class QPainter &painter);

    QString m_fileName;
    Direction m_direction = Direction::LeftToRight;
    bool m_playing = false;
    int m_phase = 0;
    QTimer m_frameTimer;
    std::unique_ptr<QMovie> m_movie;
};
