// The animation strip: direction from the file's name, a file Qt can play versus the drawn
// animation, and frames that advance only while the strip plays and is visible.
#include <gtest/gtest.h>

#include "controls/AnimationStrip.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Direction = AnimationStrip::Direction;

// A two-frame 1x1 GIF (black, then white, 10 ms each) with no loop count.
QByteArray twoFrameGif()
{
    const unsigned char bytes[] = {
        'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, // header, 2-colour global table
        0, 0, 0, 0xFF, 0xFF, 0xFF,                          // black, white
        0x21, 0xF9, 4, 0, 1, 0, 0, 0,                       // frame 1: delay 10 ms
        0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, // pixel 0
        0x21, 0xF9, 4, 0, 1, 0, 0, 0,                       // frame 2
        0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 0x01, 0, // pixel 1
        0x3B};
    return QByteArray(reinterpret_cast<const char *>(bytes), sizeof bytes);
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
}

} // namespace

TEST(AnimationStripTest, DirectionComesFromTheFileName)
{
    AnimationStrip strip;
    const std::pair<QString, Direction> cases[] = {
        {QStringLiteral("/nowhere/RtoL.avi"), Direction::RightToLeft},
        {QStringLiteral("/nowhere/LtoR.avi"), Direction::LeftToRight},
        {QStringLiteral("rtol.AVI"), Direction::RightToLeft},
        {QStringLiteral("/nowhere/other.avi"), Direction::RightToLeft}, // unknown name: unchanged
    };
    for (const auto &[path, expected] : cases) {
        EXPECT_FALSE(strip.open(path)) << path.toStdString(); // no file: drawn
        EXPECT_EQ(strip.direction(), expected) << path.toStdString();
        EXPECT_EQ(strip.fileName(), path);
    }
}

TEST(AnimationStripTest, FramesAdvanceOnlyWhilePlayingAndVisible)
{
    AnimationStrip strip;
    strip.resize(200, 37);
    strip.open(QStringLiteral("/nowhere/RtoL.avi"));
    strip.show();
    EXPECT_FALSE(strip.isAnimating());
    const QImage still = strip.grab().toImage();

    strip.play();
    EXPECT_TRUE(strip.isPlaying());
    EXPECT_TRUE(strip.isAnimating());
    QTest::qWait(AnimationStrip::kFrameMs * 3);
    EXPECT_NE(strip.grab().toImage(), still); // the chevrons moved (and changed colour)

    strip.hide();
    EXPECT_TRUE(strip.isPlaying());
    EXPECT_FALSE(strip.isAnimating());
    strip.show();
    EXPECT_TRUE(strip.isAnimating());

    strip.stop();
    EXPECT_FALSE(strip.isPlaying());
    EXPECT_FALSE(strip.isAnimating());

    // Opening another file stops a playing strip.
    strip.play();
    strip.open(QStringLiteral("/nowhere/LtoR.avi"));
    EXPECT_FALSE(strip.isPlaying());
    EXPECT_FALSE(strip.isAnimating());
}

TEST(AnimationStripTest, PlaysAFileQtCanReadAndDrawsItsOwnOtherwise)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString playable = dir.filePath(QStringLiteral("LtoR.avi"));
    const QString unreadable = dir.filePath(QStringLiteral("RtoL.avi"));
    writeFile(playable, twoFrameGif());
    writeFile(unreadable, QByteArray("RIFF\x24\0\0\0AVI LIST", 16) + QByteArray(64, '\0'));

    AnimationStrip strip;
    strip.show();
    ASSERT_TRUE(strip.open(playable));
    EXPECT_TRUE(strip.playsFile());
    EXPECT_EQ(strip.direction(), Direction::LeftToRight);
    EXPECT_FALSE(strip.isAnimating());
    strip.play();
    EXPECT_TRUE(strip.isAnimating());
    // The file plays once in 20 ms; the strip keeps repeating it while it plays.
    QTest::qWait(100);
    EXPECT_TRUE(strip.isAnimating());
    strip.hide();
    EXPECT_FALSE(strip.isAnimating());
    strip.show();
    EXPECT_TRUE(strip.isAnimating());
    strip.stop();
    EXPECT_FALSE(strip.isAnimating());

    EXPECT_FALSE(strip.open(unreadable));
    EXPECT_FALSE(strip.playsFile());
    EXPECT_EQ(strip.direction(), Direction::RightToLeft);
    strip.play();
    EXPECT_TRUE(strip.isAnimating());
    strip.stop();
}
