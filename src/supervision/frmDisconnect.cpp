#include "supervision/frmDisconnect.h"

#include "controls/ButtonKeys.h"
#include "core/Errors.h"
#include "core/SessionState.h"
#include "core/Variant.h"
#include "core/modGlobals.h"
#include "diagnostics/SessionIcon.h"
#include "queue/SessionEnd.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStyle>

namespace {
const QString kForm = QStringLiteral("frmDisconnect");
constexpr std::int16_t kOK = 1;
constexpr std::int16_t kCancel = 2;
constexpr std::int16_t kAfterDialog = 5; // session result of an end chosen in a dialog
} // namespace

frmDisconnect::frmDisconnect(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(kForm);
    buildWindow();
    m_registered = modGlobals::AddGUIDObjectUnowned(this);
}

frmDisconnect::~frmDisconnect()
{
    Form_Unload();
}

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

std::int32_t frmDisconnect::Display()
{
    QPointer<frmDisconnect> self(this);
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("Display()"), [&] {
        if (!sessionState().UnattendedFlag)
            modGlobals::ZelCommEvent(6, 0);
        m_answer = 0;
        exec();
        if (!self)
            return;
        if (m_answer == kOK) {
            if (chkPanelReset->isChecked()) {
                modGlobals::MakeCallback(QStringLiteral("PANEL_RESET"), missingArgument());
                modGlobals::Disconnect(true, kAfterDialog);
            } else {
                modGlobals::Disconnect(false, kAfterDialog);
            }
        }
    });
    if (self)
        Form_Unload();
    return rc;
}

void frmDisconnect::cmdOK_Click()
{
    m_answer = kOK;
    hide();
}

void frmDisconnect::cmdCancel_Click()
{
    m_answer = kCancel;
    hide();
}

void frmDisconnect::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    SessionState &state = sessionState();
    if (m_answer == kCancel && !state.UnattendedFlag)
        modGlobals::ZelCommEvent(7, 0);
    if (m_registered)
        modGlobals::ForgetGUIDObject(szGUID());
    m_registered = false;
}

void frmDisconnect::closeEvent(QCloseEvent *event)
{
    // The close box answers as Cancel: the host, told of the modal window, hears that it is gone.
    if (m_answer == 0)
        m_answer = kCancel;
    event->accept();
    hide();
}

void frmDisconnect::reject()
{
    cmdCancel_Click();
}
