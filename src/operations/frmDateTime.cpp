#include "operations/frmDateTime.h"

#include "controls/ButtonKeys.h"
#include "controls/Calendar.h"
#include "diagnostics/SessionIcon.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "platform/Timing.h"
#include "queue/MessageQueue.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kForm = QStringLiteral("frmDateTime");

constexpr int kAdjustmentLimit = 24;

QString catalog(std::int16_t number)
{
    return modGlobals::GetCatalogString(number);
}

// The panel time adjustment: whole hours with their sign ("+3", "+0", "-5"), written and read the
// same way in every locale.
class AdjustmentSpinner : public QSpinBox
{
public:
    explicit AdjustmentSpinner(QWidget *parent)
        : QSpinBox(parent)
    {
    }
    QLineEdit *edit() const { return lineEdit(); }

protected:
    QString textFromValue(int value) const override
    {
        return value < 0 ? QString::number(value) : QStringLiteral("+") + QString::number(value);
    }
    int valueFromText(const QString &text) const override { return text.trimmed().toInt(); }
    QValidator::State validate(QString &input, int &) const override
    {
        static const QRegularExpression shape(QStringLiteral("^\\s*[+-]?\\d{0,3}\\s*$"));
        if (!shape.match(input).hasMatch())
            return QValidator::Invalid;
        bool ok = false;
        const int value = input.trimmed().toInt(&ok);
        if (!ok)
            return QValidator::Intermediate; // "", "+" or "-" while typing
        return value >= minimum() && value <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
    }
};

} // namespace

frmDateTime::frmDateTime(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(kForm);
    m_clock = new ClockSetting(this);
    buildWindow();
}

frmDateTime::~frmDateTime()
{
    Form_Unload();
}

void frmDateTime::buildWindow()
{
    setWindowTitle(catalog(164));
    modGlobals::ApplySessionIcon(this);
    ButtonKeys::install(this);

    auto label = [](QWidget *parent, const char *name, const QString &caption) {
        auto *l = new QLabel(caption, parent);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    auto button = [this](const char *name, std::int16_t caption) {
        auto *b = new QPushButton(catalog(caption), this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };

    // The computer's date and time: shown, not edited.
    fraSystemDateTime = new QGroupBox(catalog(165), this);
    fraSystemDateTime->setObjectName(QStringLiteral("fraSystemDateTime"));
    Label2 = label(fraSystemDateTime, "Label2", catalog(165));
    Calendar1 = new Calendar(fraSystemDateTime, [] { return Timing::currentDateTime().date(); });
    Calendar1->setObjectName(QStringLiteral("Calendar1"));
    Label4 = label(fraSystemDateTime, "Label4", catalog(166));
    txtCurrentSystemTime = new QLineEdit(fraSystemDateTime);
    txtCurrentSystemTime->setObjectName(QStringLiteral("txtCurrentSystemTime"));
    txtCurrentSystemTime->setReadOnly(true);
    txtCurrentSystemTime->setAlignment(Qt::AlignCenter);
    txtCurrentSystemTime->setMaximumWidth(90);
    auto *systemTime = new QHBoxLayout;
    systemTime->addWidget(Label4);
    systemTime->addWidget(txtCurrentSystemTime);
    systemTime->addStretch(1);
    auto *systemBox = new QVBoxLayout(fraSystemDateTime);
    systemBox->addWidget(Label2);
    systemBox->addWidget(Calendar1);
    systemBox->addLayout(systemTime);

    // The adjustment.
    Label6 = label(this, "Label6", catalog(171));
    auto *spinner = new AdjustmentSpinner(this);
    spinner->setObjectName(QStringLiteral("UpDown1"));
    spinner->setRange(-kAdjustmentLimit, kAdjustmentLimit);
    spinner->setSingleStep(1);
    spinner->setValue(0);
    spinner->setAlignment(Qt::AlignRight);
    UpDown1 = spinner;
    Text1 = spinner->edit();
    Text1->setObjectName(QStringLiteral("Text1"));
    Label6->setBuddy(UpDown1);

    // The panel's clock as last read.
    fraCurrent = new QGroupBox(catalog(168), this);
    fraCurrent->setObjectName(QStringLiteral("fraCurrent"));
    Label1 = label(fraCurrent, "Label1", catalog(170));
    lblCurrentDate = label(fraCurrent, "lblCurrentDate", QStringLiteral("current date"));
    Label3 = label(fraCurrent, "Label3", catalog(1497));
    lblCurrentTime = label(fraCurrent, "lblCurrentTime", QStringLiteral("current time"));
    for (QLabel *value : {lblCurrentDate, lblCurrentTime}) {
        value->setMinimumWidth(90);
        value->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    }
    cmdGetCurrentDateTimeFromPanel = new QPushButton(catalog(169), fraCurrent);
    cmdGetCurrentDateTimeFromPanel->setObjectName(QStringLiteral("cmdGetCurrentDateTimeFromPanel"));
    cmdGetCurrentDateTimeFromPanel->setAutoDefault(false);
    auto *currentGrid = new QGridLayout(fraCurrent);
    currentGrid->addWidget(Label1, 0, 0);
    currentGrid->addWidget(lblCurrentDate, 0, 1);
    currentGrid->addWidget(Label3, 1, 0);
    currentGrid->addWidget(lblCurrentTime, 1, 1);
    currentGrid->addWidget(cmdGetCurrentDateTimeFromPanel, 2, 0, 1, 2, Qt::AlignRight);

    cmdOK = button("cmdOK", 167);
    cmdOK->setDefault(true);
    cmdCancel = button("cmdCancel", 108);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);

    auto *adjustment = new QHBoxLayout;
    adjustment->addWidget(Label6);
    adjustment->addWidget(UpDown1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto *right = new QVBoxLayout;
    right->addWidget(fraCurrent);
    right->addStretch(1);
    right->addLayout(adjustment);
    right->addLayout(buttons);
    auto *top = new QHBoxLayout(this);
    top->addWidget(fraSystemDateTime);
    top->addLayout(right);
    top->setSizeConstraint(QLayout::SetFixedSize);

    connect(cmdGetCurrentDateTimeFromPanel, &QPushButton::clicked, this, [this] { cmdGetCurrentDateTimeFromPanel_Click(); });
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });

    // The clock setting's answers as the operator sees them.
    connect(m_clock, &ClockSetting::panelClockRead, this, [this](const QByteArray &answer) { ReadPanelDateTime(answer); });
    connect(m_clock, &ClockSetting::readEnded, this, [this] { enableButtons(true); });
    connect(m_clock, &ClockSetting::written, this, [this] { hide(); });
    connect(m_clock, &ClockSetting::failed, this, [this] { hide(); });
    // An unattended write unloads the clock setting once it is answered: the window goes with it.
    connect(m_clock, &ClockSetting::unloaded, this, [this] { Form_Unload(); });
    Timer1_Timer();
    Timer1->start();

    adjustSize();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

std::int32_t frmDateTime::Display()
{
    QPointer<frmDateTime> self(this);
    return errors::guarded(kForm, QStringLiteral("Display()"), [&] {
        SessionState &state = sessionState();
        fraSystemDateTime->setEnabled(false);
        Calendar1->Today();
        lblCurrentDate->clear();
        lblCurrentTime->clear();
        const std::shared_ptr<HostSettings> settings = state.hostSettings;
        const int hours = settings ? settings->TimeOffsetHours() : 0;
        // An adjustment of the host's beyond a day stays what it is rather than being cut short.
        UpDown1->setRange(std::min(-kAdjustmentLimit, hours), std::max(kAdjustmentLimit, hours));
        UpDown1->setValue(hours);

        if (state.UnattendedFlag) {
            cmdOK_Click();
            return;
        }
        // The window closes with the session: a modal run must not outlive the queue.
        if (MessageQueue *queue = state.messageQueue)
            connect(queue, &QObject::destroyed, this, [this] { hide(); });
        enableButtons(true);
        Timer1_Timer();
        exec();
        if (self)
            Form_Unload();
    });
}

void frmDateTime::Timer1_Timer()
{
    errors::guarded(kForm, QStringLiteral("Timer1_Timer()"), [&] {
        const QDateTime now = Timing::currentDateTime();
        // Checked on every tick, so a tick that misses the first second of a day still turns the page.
        if (Calendar1->Value() != now.date())
            Calendar1->setValue(now.date());
        txtCurrentSystemTime->setText(now.time().toString(QStringLiteral("HH:mm:ss")));
    });
}

void frmDateTime::cmdGetCurrentDateTimeFromPanel_Click()
{
    enableButtons(false);
    m_clock->readPanelClock();
}

void frmDateTime::cmdOK_Click()
{
    enableButtons(false);
    UpDown1->interpretText();
    const auto adjustment = static_cast<std::int16_t>(UpDown1->value());
    Calendar1->Today();
    m_clock->writePanelClock(adjustment);
}

void frmDateTime::cmdCancel_Click()
{
    hide();
}

void frmDateTime::reject()
{
    cmdCancel_Click();
}

void frmDateTime::closeEvent(QCloseEvent *event)
{
    event->accept();
    hide();
}

void frmDateTime::ReadPanelDateTime(const QByteArray &data)
{
    errors::guarded(kForm, QStringLiteral("ReadPanelDateTime()"), [&] {
        QString date;
        QString time;
        if (!ClockSetting::DecodePanelDateTime(data, locale(), date, time))
            return;
        lblCurrentDate->setText(date);
        lblCurrentTime->setText(time);
        enableButtons(true);
    });
}

void frmDateTime::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    errors::guarded(kForm, QStringLiteral("Form_Unload()"), [&] { Timer1->stop(); });
    m_clock->unload();
}

void frmDateTime::enableButtons(bool enable)
{
    cmdOK->setEnabled(enable);
    cmdGetCurrentDateTimeFromPanel->setEnabled(enable);
}
