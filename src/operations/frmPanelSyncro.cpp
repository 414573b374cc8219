#include "operations/frmPanelSyncro.h"

#include "controls/ButtonKeys.h"
#include "diagnostics/SessionIcon.h"
#include "core/modGlobals.h"
#include "operations/WindowPlacement.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

const QString kForm = QStringLiteral("frmPanelSyncro");

QString catalog(std::int16_t number)
{
    return modGlobals::GetCatalogString(number);
}

} // namespace

frmPanelSyncro::frmPanelSyncro(SyncCheck *check, QWidget *parent)
    : QWidget(parent, Qt::Window), m_check(check)
{
    setObjectName(kForm);
    setWindowTitle(catalog(291));
    modGlobals::ApplySessionIcon(this);
    ButtonKeys::install(this);

    txtSyncMessage = new QPlainTextEdit(this);
    txtSyncMessage->setObjectName(QStringLiteral("txtSyncMessage"));
    txtSyncMessage->setReadOnly(true);
    txtSyncMessage->setPlainText(QStringLiteral("Panel data and Tamsel are different.  Please \nchoose from the following options."));
    txtSyncMessage->setFixedHeight(txtSyncMessage->fontMetrics().lineSpacing() * 3 + 12);
    txtSyncMessage->setMinimumWidth(txtSyncMessage->fontMetrics().horizontalAdvance(QStringLiteral("M")) * 30);
    txtSyncMessage->setFrameShape(QFrame::NoFrame);
    txtSyncMessage->viewport()->setAutoFillBackground(false);
    auto option = [this](const char *name, std::int16_t caption) {
        auto *button = new QRadioButton(catalog(caption), this);
        button->setObjectName(QLatin1String(name));
        return button;
    };
    optRecvPanel = option("optRecvPanel", 294);
    optSendPanel = option("optSendPanel", 295);
    optNoUpdate = option("optNoUpdate", 293);
    // Nothing is overwritten unless the operator picks a direction.
    optNoUpdate->setChecked(true);
    chkExclusive = new QCheckBox(catalog(292), this);
    chkExclusive->setObjectName(QStringLiteral("chkExclusive"));
    cmdOK = new QPushButton(catalog(124), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(catalog(125), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    for (QAbstractButton *choice : {static_cast<QAbstractButton *>(optRecvPanel), static_cast<QAbstractButton *>(optSendPanel),
                                    static_cast<QAbstractButton *>(optNoUpdate), static_cast<QAbstractButton *>(chkExclusive)})
        connect(choice, &QAbstractButton::toggled, this, [this] { choiceChanged(); });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(txtSyncMessage);
    layout->addWidget(optRecvPanel);
    layout->addWidget(optSendPanel);
    layout->addWidget(optNoUpdate);
    layout->addSpacing(6);
    layout->addWidget(chkExclusive);
    auto *buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    layout->addLayout(buttons);

    operations::centreOnScreen(this);

    if (!check)
        return;
    choiceChanged();
    connect(check, &SyncCheck::displayRequested, this, [this](const SyncCheck::Presentation &p) { present(p); });
    connect(check, &SyncCheck::unloaded, this, [this] { checkEnded(); });
    connect(check, &QObject::destroyed, this, [this] { checkEnded(); });
    check->badAnswerNotice = [this] {
        QMessageBox box(QMessageBox::NoIcon, catalog(1441), catalog(1440), QMessageBox::Ok);
        box.setObjectName(QStringLiteral("msgBadCrcAnswer"));
        box.exec();
    };
    check->exclusiveQuestion = [this] {
        QMessageBox box(QMessageBox::Warning, catalog(1439), catalog(1437) + QLatin1Char('\n') + catalog(1438),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setObjectName(QStringLiteral("msgExclusive"));
        switch (box.exec()) {
        case QMessageBox::Yes:
            return SyncCheck::ExclusiveAnswer::Yes;
        case QMessageBox::Cancel:
            return SyncCheck::ExclusiveAnswer::Cancel;
        default:
            return SyncCheck::ExclusiveAnswer::No;
        }
    };
}

frmPanelSyncro::~frmPanelSyncro()
{
    // The check may outlive its window: it asks nobody any more.
    if (m_check) {
        m_check->badAnswerNotice = {};
        m_check->exclusiveQuestion = {};
    }
}

void frmPanelSyncro::choiceChanged()
{
    if (!m_check)
        return;
    SyncCheck::Mode mode = SyncCheck::NoUpdate;
    if (optNoUpdate->isChecked())
        mode = SyncCheck::NoUpdate;
    else if (optRecvPanel->isChecked())
        mode = SyncCheck::ReceivePanel;
    else if (optSendPanel->isChecked())
        mode = SyncCheck::SendPanel;
    m_check->setMode(mode);
    m_check->setExclusiveRequested(chkExclusive->isChecked());
}

std::int32_t frmPanelSyncro::Display()
{
    return m_check ? m_check->Display() : 0;
}

void frmPanelSyncro::present(const SyncCheck::Presentation &p)
{
    chkExclusive->setVisible(p.exclusiveShown);
    chkExclusive->setEnabled(p.exclusiveEnabled);
    txtSyncMessage->setPlainText(catalog(p.compared ? 986 : 1436));
    optRecvPanel->setEnabled(true);
    optSendPanel->setEnabled(true);
    operations::showOnTop(this);
}

void frmPanelSyncro::cmdOK_Click()
{
    hide();
    if (!m_check)
        return;
    choiceChanged();
    // The operator answered Cancel to the exclusive question: the choice is open again.
    if (!m_check->carryOut())
        show();
}

void frmPanelSyncro::cmdCancel_Click()
{
    hide();
    Form_Unload();
}

void frmPanelSyncro::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    Form_Unload();
}

void frmPanelSyncro::Form_Unload()
{
    if (m_check)
        m_check->unload();
    else
        checkEnded();
}

void frmPanelSyncro::checkEnded()
{
    hide();
    deleteLater();
}
