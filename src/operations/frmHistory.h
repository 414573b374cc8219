// "History Events": the window through which the operator reads the panel's event log. The
// operator picks the range (the events since the panel's read pointer, or the whole log) and
// whether the read pointer is moved to the newest event afterwards, and presses OK; the retrieval
// itself is HistoryRetrieval, which the window owns and shows: its status line, its progress.
// The host hears event 6 when the window opens, then what the retrieval tells it, and event 7 when
// the window unloads.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>

#include "operations/HistoryRetrieval.h"

class AnimationStrip;
class QCheckBox;
class QCloseEvent;
class QFrame;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class clsMessage;

class frmHistory : public QDialog
{
    Q_OBJECT
public:
    // RunState values.
    enum : std::int16_t { RunIdle = 0, RunDisplayed = 1, RunCancelled = 2 };

    // Builds the window (catalog captions, icon, centred, compact) and its retrieval, which
    // registers in GuidRegistry.
    explicit frmHistory(QWidget *parent = nullptr);
    ~frmHistory() override;

    // The owner name of the retrieval's requests.
    QString Name() const { return QStringLiteral("frmHistory"); }
    // The retrieval the window shows (gone only with the window).
    HistoryRetrieval *retrieval() const { return m_retrieval; }

    // Tells the host a window opened (event 6), shows the window compact and modal, and unloads it
    // when the modal run ends. Returns 0 or the error number.
    std::int32_t Display();
    // Stops the animation and unloads the retrieval (event 7, its queued requests dropped, out of
    // the registry). Runs once.
    void Form_Unload();
    // Form_Unload, then the window goes (deleted once control returns to the event loop). The
    // retrieval of an unattended session ends this way.
    void Unload();

    // Control events.
    void optCurrent_Click();
    void optAll_Click();
    void cmdOK_Click();
    void cmdCancel_Click();

    // Hands an answer to the retrieval.
    void ResponseReceived(clsMessage &msg) { m_retrieval->ResponseReceived(msg); }

    // Window fields.
    std::int16_t RunState = RunIdle;
    bool isExpanded() const { return m_expanded; }
    bool isUnloaded() const { return m_unloaded; }

    // Controls (objectName = the name below).
    AnimationStrip *aniHistory = nullptr;
    QFrame *fraHistory = nullptr;
    QGroupBox *fraRange = nullptr;
    QRadioButton *optCurrent = nullptr;
    QRadioButton *optAll = nullptr;
    QCheckBox *chkSetPointer = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
    QProgressBar *progressbar = nullptr;
    QLabel *lblStatus = nullptr;

protected:
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWindow();
    // The range the option buttons show, as the retrieval takes it.
    void rangeChosen();
    // Compact: range, pointer choice and buttons only; expanded: with the animation strip above and
    // the progress bar and status line below.
    void setExpanded(bool expanded);
    // The retrieval told the host its end.
    void retrievalFinished();

    HistoryRetrieval *m_retrieval = nullptr;
    bool m_expanded = false;
    bool m_unloaded = false;
};
