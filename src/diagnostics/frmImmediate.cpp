#include "diagnostics/frmImmediate.h"

#include "controls/ButtonKeys.h"
#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "platform/Paths.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryFile>
#include <QTextCursor>
#include <QTextDocument>

namespace {
// The window's layout is given in twips; 15 twips make a pixel at 96 dpi.
constexpr int twips(int t) { return t / 15; }
constexpr int kShown = 100;
constexpr qint64 kEventsMs = 50;
// Texts dropped from the display list, or spilled from the dump list, at a time.
constexpr qsizetype kChunk = 500;
} // namespace

frmImmediate::frmImmediate(QWidget *parent)
    : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Immediate"));
    ButtonKeys::install(this);
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
    if (m_display.size() >= DisplayKept + kChunk)
        m_display.remove(0, m_display.size() - DisplayKept);
    if (m_dump.size() >= DumpKept + kChunk)
        spill(m_dump.size() - DumpKept);
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
    QFile file;
    bool refused = false;
    if (!Paths::openPrivate(file, path, true, &refused)) {
        // A link or another kind of file planted in the dump's place is worth a report.
        if (refused)
            errors::report(ErrorCode::PermissionDenied, QStringLiteral("frmImmediate"), QStringLiteral("cmdDump_Click()"));
        return;
    }
    file.write((QStringLiteral("START SESSION, ") + QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat)
                + QStringLiteral("\r\n\r\n"))
                   .toLocal8Bit());
    // The oldest texts first, from the spool file.
    if (m_spool && m_spool->seek(0)) {
        while (!m_spool->atEnd()) {
            const QByteArray piece = m_spool->read(64 * 1024);
            if (piece.isEmpty())
                break;
            file.write(piece);
        }
        m_spool->seek(m_spool->size());
    }
    QString out;
    for (const QString &entry : std::as_const(m_dump))
        out += entry + QStringLiteral("\r\n");
    file.write(out.toLocal8Bit());
    file.close();
}

void frmImmediate::spill(qsizetype count)
{
    // Errors are ignored here as everywhere in the window: texts that cannot be spilled are lost
    // from the dump rather than kept in memory.
    if (!m_spool) {
        m_spool = std::make_unique<QTemporaryFile>(QDir(QDir::tempPath()).filePath(QStringLiteral("quarvo-immediate-XXXXXX")));
        if (!m_spool->open()) // owner only, removed when closed
            m_spool.reset();
    }
    if (m_spool) {
        QString out;
        for (qsizetype i = 0; i < count; ++i)
            out += m_dump.at(i) + QStringLiteral("\r\n");
        m_spool->write(out.toLocal8Bit());
    }
    m_dump.remove(0, count);
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
    m_spool.reset();
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
