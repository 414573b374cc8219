#include "diagnostics/frmImmediate.h"

#include "platform/Paths.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

namespace {
// The window's layout is given in twips; 15 twips make a pixel at 96 dpi.
constexpr int twips(int t) { return t / 15; }
constexpr int kShown = 100;
constexpr qint64 kEventsMs = 50;
} // namespace

frmImmediate::frmImmediate(QWidget *parent)
    : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Immediate"));
    setObjectName(QStringLiteral("frmImmediate"));
    txtDebug = new QPlainTextEdit(this);
    txtDebug->setObjectName(QStringLiteral("txtDebug"));
    txtDebug->setReadOnly(true);
    txtDebug->setLineWrapMode(QPlainTextEdit::NoWrap);
    chkShow = new QCheckBox(QStringLiteral("Show"), this);
    chkShow->setObjectName(QStringLiteral("chkShow"));
    chkShow->setChecked(true);
    cmdDump = new QPushButton(QStringLiteral("&Dump"), this);
    cmdDump->setObjectName(QStringLiteral("cmdDump"));
    cmdClear = new QPushButton(QStringLiteral("&Clear"), this);
    cmdClear->setObjectName(QStringLiteral("cmdClear"));
    connect(cmdDump, &QPushButton::clicked, this, [this] { cmdDump_Click(); });
    connect(cmdClear, &QPushButton::clicked, this, [this] { cmdClear_Click(); });
    resize(640, 420);
}

frmImmediate::~frmImmediate()
{
    unload();
}

void frmImmediate::DebugPrint(const QVariant &text)
{
    if (!isVisible())
        return;
    const QString line = text.toString();
    m_display.append(line);
    m_dump.append(line);
    if (!chkShow->isChecked()) {
        m_boxInStep = false; // the box lags behind until a text arrives with Show checked
        return;
    }
    // The window's own events run (painting, the operator's clicks), so it stays alive during a
    // long wait that prints; at most every kEventsMs, since a repaint per text would cost more than
    // an exchange takes. Datagrams wait, so no answer is taken in the middle of the exchange that
    // prints.
    if (!m_sinceEvents.isValid() || m_sinceEvents.elapsed() >= kEventsMs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers);
        m_sinceEvents.start();
    }
    if (m_boxInStep)
        appendShown(line);
    else
        refreshDisplay(kShown);
}

void frmImmediate::refreshDisplay(int n)
{
    const qsizetype count = m_display.size();
    const qsizetype first = (n < 0) ? 0 : std::max<qsizetype>(0, count - n);
    QString text;
    m_shownLines.clear();
    for (qsizetype i = first; i < count; ++i) {
        text += m_display.at(i);
        text += QLatin1Char('\n');
        m_shownLines.append(static_cast<int>(m_display.at(i).count(QLatin1Char('\n'))) + 1);
    }
    txtDebug->setPlainText(text);
    txtDebug->moveCursor(QTextCursor::End);
    m_boxInStep = true;
}

void frmImmediate::appendShown(const QString &line)
{
    // The same text a refresh with the last 100 entries gives, without laying out the other 99
    // again: the new entry goes at the end and the oldest goes once there are more than 100.
    QTextDocument *document = txtDebug->document();
    QTextCursor end(document);
    end.movePosition(QTextCursor::End);
    end.insertText(line + QLatin1Char('\n'));
    m_shownLines.append(static_cast<int>(line.count(QLatin1Char('\n'))) + 1);
    while (m_shownLines.size() > kShown) {
        QTextCursor oldest(document);
        oldest.movePosition(QTextCursor::Start);
        oldest.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, m_shownLines.takeFirst());
        oldest.removeSelectedText();
    }
    txtDebug->moveCursor(QTextCursor::End);
}

QString frmImmediate::dumpPath()
{
    return Paths::logFile(QStringLiteral("immediate.log"));
}

void frmImmediate::cmdDump_Click()
{
    // Errors here are ignored: a dump that cannot be written leaves no file.
    const QString path = dumpPath();
    QFile::remove(path);
    QFile file;
    if (!Paths::openPrivate(file, path, true))
        return;
    QString out = QStringLiteral("START SESSION, ")
                  + QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat) + QStringLiteral("\r\n\r\n");
    for (const QString &entry : std::as_const(m_dump))
        out += entry + QStringLiteral("\r\n");
    file.write(out.toLocal8Bit());
    file.close();
}

void frmImmediate::cmdClear_Click()
{
    txtDebug->clear();
    m_display.clear();
    m_shownLines.clear();
    m_boxInStep = true;
}

void frmImmediate::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    if (isVisible())
        cmdDump_Click();
    m_display.clear();
    m_dump.clear();
}

void frmImmediate::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int w = width();
    const int h = height();
    txtDebug->setGeometry(0, 0, std::max(0, w - twips(330)), std::max(0, h - twips(1100)));
    const QSize button = cmdClear->sizeHint();
    const int top = h - twips(500) - button.height() / 2;
    cmdClear->setGeometry(w - twips(210) - button.width(), top, button.width(), button.height());
    cmdDump->setGeometry(cmdClear->x() - twips(210) - button.width(), top, button.width(), button.height());
    chkShow->setGeometry(twips(120), top, chkShow->sizeHint().width(), button.height());
}

void frmImmediate::closeEvent(QCloseEvent *event)
{
    unload();
    QWidget::closeEvent(event);
}
