// The "Immediate" window: an on-screen trace of the short texts the component writes with
// DebugPrint. It collects only while visible, shows the last 100 texts, and dumps everything
// collected since it was loaded to "immediate.log" (mode 0600) on Dump and when it unloads.
#pragma once

#include <QElapsedTimer>
#include <QStringList>
#include <QVariant>
#include <QWidget>

#include "core/GuidRegistry.h"

class QCheckBox;
class QPlainTextEdit;
class QPushButton;

class frmImmediate : public QWidget, public GuidObjectBase
{
    Q_OBJECT
public:
    explicit frmImmediate(QWidget *parent = nullptr);
    ~frmImmediate() override;

    void DebugPrint(const QVariant &text);
    // Refreshes the text box with the last `n` entries (-1: all).
    void refreshDisplay(int n);

    void cmdDump_Click();
    void cmdClear_Click();
    // Dumps when visible, then releases both lists.
    void unload();

    static QString dumpPath();

    QPlainTextEdit *txtDebug = nullptr;
    QCheckBox *chkShow = nullptr;
    QPushButton *cmdDump = nullptr;
    QPushButton *cmdClear = nullptr;

    const QStringList &displayList() const { return m_display; }
    const QStringList &dumpList() const { return m_dump; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void appendShown(const QString &line);

    QStringList m_display;
    QList<int> m_shownLines; // lines of each entry the text box shows, oldest first
    bool m_boxInStep = true;  // the text box shows the newest entries of the display list
    QElapsedTimer m_sinceEvents; // since DebugPrint last let the window's events run
    QStringList m_dump;
    bool m_unloaded = false;
};
