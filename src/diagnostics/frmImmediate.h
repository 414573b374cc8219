// The "Immediate" window: an on-screen trace of the short texts the component writes with
// DebugPrint. It collects only while visible, shows the last 100 texts, and dumps everything
// collected since it was loaded to "immediate.log" (mode 0600) on Dump and when it unloads.
//
// Memory stays bounded however long the session: the display list keeps the last DisplayKept
// texts (the text box shows 100 of them), and the dump list the last DumpKept; older dump texts
// move to a private temporary spool file, which Dump copies before the texts in memory. The dump
// therefore still holds every text since the window was loaded.
#pragma once

#include <QElapsedTimer>
#include <QStringList>
#include <QVariant>
#include <QWidget>

#include <memory>

#include "core/GuidRegistry.h"
#include "diagnostics/ImmediateLog.h"

class QCheckBox;
class QPlainTextEdit;
class QPushButton;
class QTemporaryFile;

class frmImmediate : public QWidget, public GuidObjectBase, public ImmediateLog
{
    Q_OBJECT
public:
    explicit frmImmediate(QWidget *parent = nullptr);
    ~frmImmediate() override;

    static constexpr qsizetype DisplayKept = 1000;
    static constexpr qsizetype DumpKept = 5000;

    void DebugPrint(const QVariant &text) override;
    // Refreshes the text box with the last `n` entries (-1: all).
    void refreshDisplay(int n);

    void cmdDump_Click();
    void cmdClear_Click();
    // Dumps when visible, then releases both lists.
    void unload() override;

    static QString dumpPath();

    QPlainTextEdit *txtDebug = nullptr;
    QCheckBox *chkShow = nullptr;
    QPushButton *cmdDump = nullptr;
    QPushButton *cmdClear = nullptr;

    const QStringList &displayList() const { return m_display; }
    // The dump texts still in memory (the latest DumpKept at most).
    const QStringList &dumpList() const { return m_dump; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void appendShown(const QString &line);
    // Moves the oldest dump texts to the spool file.
    void spill(qsizetype count);

    QStringList m_display;
    QList<int> m_shownLines; // lines of each entry the text box shows, oldest first
    bool m_boxInStep = true;  // the text box shows the newest entries of the display list
    QElapsedTimer m_sinceEvents; // since DebugPrint last let the window's events run
    QStringList m_dump;
    std::unique_ptr<QTemporaryFile> m_spool;
    bool m_unloaded = false;
};
