#include "operations/frmWorkInProgress.h"

#include "controls/AnimationStrip.h"
#include "controls/ButtonKeys.h"
#include "diagnostics/SessionIcon.h"
#include "core/Errors.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "operations/WindowPlacement.h"
#include "platform/Paths.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kForm = QStringLiteral("frmWorkInProgress");

QString catalog(std::int16_t number)
{
    return modGlobals::GetCatalogString(number);
}

} // namespace

frmWorkInProgress::frmWorkInProgress(DataTransfer *transfer, QWidget *parent)
    : QWidget(parent, Qt::Window), m_transfer(transfer)
{
    setObjectName(kForm);
    modGlobals::ApplySessionIcon(this);
    ButtonKeys::install(this);

    aniSync = new AnimationStrip(this);
    aniSync->setObjectName(QStringLiteral("aniSync"));
    lblDescription = new QLabel(this);
    lblDescription->setObjectName(QStringLiteral("lblDescription"));
    lblDescription->setMinimumWidth(320);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    PBarHighRes = new QProgressBar(this);
    PBarHighRes->setObjectName(QStringLiteral("PBarHighRes"));
    PBarHighRes->setRange(0, 100);
    PBarHighRes->setValue(0);
    PBarHighRes->setTextVisible(false);
    PBarHighRes->setMaximumHeight(10);
    cmdAbort = new QPushButton(catalog(302), this);
    cmdAbort->setObjectName(QStringLiteral("cmdAbort"));
    cmdAbort->setAutoDefault(false);
    connect(cmdAbort, &QPushButton::clicked, this, [this] { cmdAbort_Click(); });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(aniSync, 0, Qt::AlignHCenter);
    layout->addWidget(lblDescription);
    layout->addWidget(ProgressBar1);
    layout->addWidget(PBarHighRes);
    layout->addWidget(cmdAbort, 0, Qt::AlignHCenter);

    operations::centreOnScreen(this);

    if (!transfer)
        return;
    connect(transfer, &DataTransfer::begun, this, [this](std::int16_t direction) { begun(direction); });
    connect(transfer, &DataTransfer::progressChanged, this, [this] { UpdateForm(); });
    connect(transfer, &DataTransfer::itemProgressChanged, PBarHighRes, &QProgressBar::setValue);
    connect(transfer, &DataTransfer::beep, this, [] { QApplication::beep(); });
    connect(transfer, &DataTransfer::cutOff, this, [this] { hide(); });
    connect(transfer, &DataTransfer::unloaded, this, [this] { transferEnded(); });
    connect(transfer, &QObject::destroyed, this, [this] { transferEnded(); });
    transfer->windowActive = [this] { return isActiveWindow(); };
}

frmWorkInProgress::~frmWorkInProgress()
{
    if (m_transfer)
        m_transfer->windowActive = {};
}

void frmWorkInProgress::begun(std::int16_t direction)
{
    errors::guarded(kForm, QStringLiteral("Display()"), [&] {
        const bool receiving = direction == DataTransfer::Receive;
        m_caption = catalog(receiving ? 304 : 305);
        aniSync->open(Paths::inFolder(sessionState().config.tamselPath,
                                      receiving ? QStringLiteral("RtoL.avi") : QStringLiteral("LtoR.avi")));
        aniSync->play();
        operations::showOnTop(this);
    });
}

std::int32_t frmWorkInProgress::UpdateForm()
{
    return errors::guarded(kForm, QStringLiteral("UpdateForm()"), [&] {
        setWindowTitle(m_caption);
        if (!m_transfer)
            return;
        lblDescription->setText(m_transfer->description());
        ProgressBar1->setValue(m_transfer->percent());
    });
}

void frmWorkInProgress::cmdAbort_Click()
{
    if (m_transfer)
        m_transfer->abort();
    cmdAbort->setEnabled(false);
}

void frmWorkInProgress::closeEvent(QCloseEvent *event)
{
    // Closing a transfer that is still running aborts it; the next answer closes the window.
    if (m_transfer && !m_transfer->isUnloaded() && !m_transfer->finished()) {
        event->ignore();
        if (m_transfer->direction() != DataTransfer::Aborted)
            cmdAbort_Click();
        return;
    }
    QWidget::closeEvent(event);
    Form_Unload();
}

void frmWorkInProgress::Form_Unload()
{
    if (m_transfer)
        m_transfer->unload();
    else
        transferEnded();
}

void frmWorkInProgress::transferEnded()
{
    aniSync->stop();
    hide();
    deleteLater();
}
