// The transfer window: shows a DataTransfer (a receive of panel data into the host, or a send of
// the host's data to the panel) on two progress bars, all items and the current item, with the
// direction's animation, and offers Abort. Closing the window while the transfer runs aborts it.
// It sounds the transfer's end signal and goes with the transfer.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>

#include "operations/DataTransfer.h"

class AnimationStrip;
class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;

class frmWorkInProgress : public QWidget
{
    Q_OBJECT
public:
    // Builds the window (Abort caption from the catalog, centred, hidden) for `transfer`; it shows
    // itself, topmost and not modal, when the transfer begins with an operator watching.
    explicit frmWorkInProgress(DataTransfer *transfer, QWidget *parent = nullptr);
    ~frmWorkInProgress() override;

    // The owner name of the transfer's requests.
    QString Name() const { return QStringLiteral("frmWorkInProgress"); }
    // The transfer the window shows; null once it went.
    DataTransfer *transfer() const { return m_transfer; }

    // The window's caption, the description and the overall progress as the transfer has them.
    std::int32_t UpdateForm();
    // Tells the transfer to stop; the next answer closes the window.
    void cmdAbort_Click();
    // Ends the transfer (see DataTransfer::unload); the window then goes.
    void Form_Unload();

    // True once the transfer unloaded or went.
    bool isUnloaded() const { return !m_transfer || m_transfer->isUnloaded(); }

    // Controls (objectName = the name below).
    AnimationStrip *aniSync = nullptr;
    QLabel *lblDescription = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QProgressBar *PBarHighRes = nullptr;
    QPushButton *cmdAbort = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Caption and animation of the direction; then the window shows.
    void begun(std::int16_t direction);
    // The transfer unloaded or went: the window goes too.
    void transferEnded();

    QPointer<DataTransfer> m_transfer;
    QString m_caption;
};
