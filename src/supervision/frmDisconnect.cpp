#include "supervision/frmDisconnect.h"

#include "controls/ButtonKeys.h"
#include "diagnostics/SessionIcon.h"
#include "core/modGlobals.h"
#include "supervision/SessionClosing.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

frmDisconnect::frmDisconnect(SessionClosing *closing, QWidget *parent)
    : QDialog(parent), m_closing(closing)
{
    setObjectName(QStringLiteral("frmDisconnect"));
    buildWindow();
}

frmDisconnect::~frmDisconnect() = default;

void frmDisconnect::buildWindow()
{
    setWindowTitle(modGlobals::GetCatalogString(257));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    modGlobals::ApplySessionIcon(this);
    ButtonKeys::install(this);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    Label1 = new QLabel(modGlobals::GetCatalogString(259), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    chkPanelReset = new QCheckBox(modGlobals::GetCatalogString(258), this);
    chkPanelReset->setObjectName(QStringLiteral("chkPanelReset"));
    cmdOK = new QPushButton(modGlobals::GetCatalogString(124), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(modGlobals::GetCatalogString(125), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setAutoDefault(false);

    auto *grid = new QGridLayout(this);
    grid->addWidget(Image1, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(Label1, 0, 1);
    grid->addWidget(chkPanelReset, 1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    grid->addLayout(buttons, 2, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
}

void frmDisconnect::cmdOK_Click()
{
    if (m_closing)
        m_closing->confirm(chkPanelReset->isChecked());
    hide();
}

void frmDisconnect::cmdCancel_Click()
{
    if (m_closing)
        m_closing->cancel();
    hide();
}

void frmDisconnect::closeEvent(QCloseEvent *event)
{
    // The close box answers as Cancel: the host, told of the modal window, hears that it is gone.
    if (m_closing && m_closing->Answer() == 0)
        m_closing->cancel();
    event->accept();
    hide();
}

void frmDisconnect::reject()
{
    cmdCancel_Click();
}
