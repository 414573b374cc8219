#include "queue/frmMsgDetail.h"

#include "controls/ButtonKeys.h"
#include "core/Errors.h"
#include "core/modGlobals.h"
#include "queue/QueueLinks.h"
#include "queue/clsMessage.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {
const QString kForm = QStringLiteral("frmMsgDetail");
constexpr int kLineWidth = 56;
} // namespace

frmMsgDetail::frmMsgDetail(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(kForm);
    setWindowTitle(QStringLiteral("Message Details"));
    ButtonKeys::install(this);
    setAttribute(Qt::WA_DeleteOnClose);

    auto *grid = new QGridLayout(this);
    auto value = [this](const char *name) {
        auto *label = new QLabel(this);
        label->setObjectName(QLatin1String(name));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        // A long value is cut on screen rather than widening the window: "?" shows it whole.
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        label->setMinimumWidth(300);
        return label;
    };
    auto question = [this](const char *name) {
        auto *button = new QPushButton(QStringLiteral("?"), this);
        button->setObjectName(QLatin1String(name));
        button->setFixedWidth(28);
        button->setAutoDefault(false);
        return button;
    };
    lblID = value("lblID");
    lblPriority = value("lblPriority");
    lblName = value("lblName");
    lblDescription = value("lblDescription");
    lblOwner = value("lblOwner");
    lblTamselData = value("lblTamselData");
    lblPanelData = value("lblPanelData");
    lblTimeStamp = value("lblTimeStamp");
    cmdName = question("cmdName");
    cmdDescription = question("cmdDescription");
    cmdOwner = question("cmdOwner");
    cmdTamselData = question("cmdTamselData");
    cmdPanelData = question("cmdPanelData");

    const struct
    {
        const char *caption;
        QLabel *value;
        QPushButton *more;
    } rows[] = {{"ID", lblID, nullptr},
                {"Priority", lblPriority, nullptr},
                {"Name", lblName, cmdName},
                {"Description", lblDescription, cmdDescription},
                {"Owner", lblOwner, cmdOwner},
                {"Tamsel Data", lblTamselData, cmdTamselData},
                {"Panel Data", lblPanelData, cmdPanelData},
                {"Date", lblTimeStamp, nullptr}};
    int row = 0;
    for (const auto &r : rows) {
        grid->addWidget(new QLabel(QLatin1String(r.caption), this), row, 0);
        grid->addWidget(r.value, row, 1);
        if (r.more)
            grid->addWidget(r.more, row, 2);
        ++row;
    }
    txtDetails = new QPlainTextEdit(this);
    txtDetails->setObjectName(QStringLiteral("txtDetails"));
    txtDetails->setReadOnly(true);
    txtDetails->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtDetails->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    txtDetails->setMinimumHeight(120);
    grid->addWidget(txtDetails, row++, 0, 1, 3);
    cmdClose = new QPushButton(QStringLiteral("Close"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    grid->addWidget(cmdClose, row, 2, 1, 1);
    grid->setColumnStretch(1, 1);

    m_toggles = {Toggle{cmdName, lblName, false}, Toggle{cmdDescription, lblDescription, false},
                 Toggle{cmdOwner, lblOwner, false}, Toggle{cmdTamselData, lblTamselData, false},
                 Toggle{cmdPanelData, lblPanelData, false}};
    for (Toggle &t : m_toggles)
        connect(t.button, &QPushButton::clicked, this, [this, &t] { toggle(t); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { cmdClose_Click(); });
}

void frmMsgDetail::clearValues()
{
    for (QLabel *label : {lblID, lblPriority, lblName, lblDescription, lblOwner, lblTamselData, lblPanelData, lblTimeStamp})
        label->clear();
    txtDetails->clear();
    for (Toggle &t : m_toggles)
        t.expanded = false;
}

void frmMsgDetail::ShowMessage(const QString &guid)
{
    clearValues();
    errors::guarded(kForm, QStringLiteral("ShowMessage()"), [&] {
        const auto msg = std::dynamic_pointer_cast<clsMessage>(modGlobals::GetGUIDObject(guid));
        if (!msg || !msg->isLoaded())
            return; // no longer registered: nothing to show
        lblID->setText(msg->szGUID());
        lblPriority->setText(QString::number(msg->Priority()));
        lblName->setText(msg->Name());
        const QString owner = msg->OwnerName();
        lblOwner->setText(owner);
        lblPanelData->setText(modGlobals::DebugConvert(msg->dataBytes()));

        const std::shared_ptr<GuidObject> client = modGlobals::GetGUIDObject(msg->ClientGUID());
        QueueClientDetails details;
        if (!client) {
            const QString gone = QStringLiteral("[") + owner + QStringLiteral(" was unloaded]");
            lblDescription->setText(gone);
            lblTamselData->setText(gone);
            lblTimeStamp->setText(gone);
        } else if (queueLinks().clientDetails && queueLinks().clientDetails(client.get(), details)) {
            lblDescription->setText(details.description);
            lblTamselData->setText(modGlobals::DebugConvert(details.hostData));
            lblTimeStamp->setText(QLocale().toString(details.timeStamp, QLocale::ShortFormat));
        }
    });
}

QString frmMsgDetail::wrapLines(const QString &text, int width)
{
    if (width <= 0)
        return text;
    QStringList lines;
    for (qsizetype at = 0; at < text.size(); at += width)
        lines << text.mid(at, width);
    return lines.join(QLatin1Char('\n'));
}

void frmMsgDetail::toggle(Toggle &which)
{
    const bool expand = !which.expanded;
    // The box shows one field at a time: the others are collapsed with it.
    for (Toggle &t : m_toggles)
        t.expanded = false;
    which.expanded = expand;
    if (expand)
        txtDetails->setPlainText(wrapLines(which.field->text(), kLineWidth));
    else
        txtDetails->clear();
}

void frmMsgDetail::cmdClose_Click()
{
    close();
}
