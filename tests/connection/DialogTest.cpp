// The dialog on its own: captions and controls, field groups per connection type, enabling rules,
// the host-box and port-box checks, the passcode box, the stored rates, the address check of the
// workflow, Cancel while idle; and a screenshot per connection type.
#include "ConnectionFixture.h"

#include <QDir>
#include <QFocusEvent>
#include <QImage>
#include <QLabel>
#include <QPixmap>

using namespace conntest;

namespace {

class DialogTest : public ConnectionTest
{
protected:
    void SetUp() override
    {
        ConnectionTest::SetUp();
        openSession();
        fill();
    }

    // Fills the dialog as Display does, but leaves it open without a modal run.
    void fill()
    {
        dialog->txtComPort->setText(QString::number(settings->comPort));
        dialog->txtInitString->setText(settings->initString);
        dialog->txtDataPhone->setText(settings->panelPhone);
        dialog->txtPassCode->setText(settings->passcode);
        dialog->txtRemotePort->setText(settings->panelPort);
        dialog->cmbConnect->addItems({modGlobals::GetCatalogString(151), modGlobals::GetCatalogString(1354),
                                      modGlobals::GetCatalogString(1355), modGlobals::GetCatalogString(360),
                                      modGlobals::GetCatalogString(1356)});
        dialog->ControlButtons(true, false);
        choose(frmCommInterface::TypeModem);
        dialog->show();
    }

    QStringList visibleFields() const
    {
        QStringList out;
        for (QWidget *w : {static_cast<QWidget *>(dialog->txtComPort), static_cast<QWidget *>(dialog->cmbBaudRate),
                           static_cast<QWidget *>(dialog->txtInitString), static_cast<QWidget *>(dialog->txtDataPhone),
                           static_cast<QWidget *>(dialog->txtVoicePhone), static_cast<QWidget *>(dialog->txtRemoteHost),
                           static_cast<QWidget *>(dialog->txtRemotePort), static_cast<QWidget *>(dialog->cmdTestPanel),
                           static_cast<QWidget *>(dialog->cmdTestNetwork)})
            if (w->isVisible())
                out << w->objectName();
        return out;
    }
};

} // namespace

TEST_F(DialogTest, ControlsCarryTheirNamesCaptionsAndLimits)
{
    const struct
    {
        const char *name;
        int caption;
    } controls[] = {{"lblConnect", 141}, {"lblPassCode", 148}, {"lblComPort", 139}, {"lblBaudRate", 140},
                    {"lblInitString", 143}, {"lblPanelPhone", 146}, {"lblVoicePhone", 147}, {"lblRemoteHost", 1352},
                    {"lblRemotePort", 1351}, {"lblNetRing", 142}, {"lblStatus", 145}, {"cmdTestPanel", 134},
                    {"cmdTestNetwork", 135}, {"cmdAnswer", 136}, {"cmdConnect", 137}, {"cmdCancel", 125}};
    for (const auto &c : controls) {
        QWidget *w = dialog->findChild<QWidget *>(QLatin1String(c.name));
        ASSERT_TRUE(w) << c.name;
        const QString text = qobject_cast<QLabel *>(w) ? qobject_cast<QLabel *>(w)->text()
                                                       : qobject_cast<QPushButton *>(w)->text();
        EXPECT_EQ(text, modGlobals::GetCatalogString(static_cast<std::int16_t>(c.caption))) << c.name;
    }
    for (const char *name : {"cmbConnect", "txtPassCode", "txtComPort", "cmbBaudRate", "txtInitString", "txtDataPhone",
                             "txtVoicePhone", "txtRemoteHost", "txtRemotePort", "txtPad", "tmrNetAnswer"})
        EXPECT_TRUE(dialog->findChild<QObject *>(QLatin1String(name))) << name;
    EXPECT_EQ(dialog->lblPassCode->buddy(), dialog->txtPassCode);
    EXPECT_TRUE(dialog->cmdConnect->isDefault());
    EXPECT_EQ(dialog->tmrNetAnswer->interval(), Timing::scaled(20000));

    // At most six passcode characters; masked except while typing.
    dialog->txtPassCode->clear();
    dialog->txtPassCode->setFocus();
    QTest::keyClicks(dialog->txtPassCode, QStringLiteral("12345678"));
    EXPECT_EQ(dialog->txtPassCode->text(), QStringLiteral("123456"));
    EXPECT_EQ(sessionState().passcode, QStringLiteral("123456"));
    EXPECT_EQ(dialog->txtPassCode->echoMode(), QLineEdit::Normal);
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(dialog->txtPassCode, &leave);
    EXPECT_EQ(dialog->txtPassCode->echoMode(), QLineEdit::Password);
}

TEST_F(DialogTest, EachTypeShowsItsFieldsAndEnablesConnectWhenFilled)
{
    const QString port = QStringLiteral("txtComPort"), rate = QStringLiteral("cmbBaudRate"),
                  init = QStringLiteral("txtInitString"), phone = QStringLiteral("txtDataPhone");
    EXPECT_EQ(visibleFields(), (QStringList{port, rate, init, phone}));
    EXPECT_TRUE(dialog->cmdConnect->isEnabled());
    EXPECT_TRUE(dialog->cmdAnswer->isEnabled());
    dialog->txtDataPhone->clear();
    EXPECT_FALSE(dialog->cmdConnect->isEnabled());
    EXPECT_TRUE(dialog->cmdAnswer->isEnabled()); // answering needs no number
    dialog->txtInitString->clear();
    EXPECT_FALSE(dialog->cmdAnswer->isEnabled());
    dialog->txtInitString->setText(QStringLiteral("AT&F"));
    dialog->txtDataPhone->setText(QStringLiteral("5551234"));

    choose(frmCommInterface::TypeDirect);
    EXPECT_EQ(visibleFields(), QStringList{port});
    EXPECT_EQ(dialog->cmbBaudRate->currentText(), QStringLiteral("9600"));
    EXPECT_FALSE(dialog->cmdAnswer->isEnabled());
    EXPECT_TRUE(dialog->cmdConnect->isEnabled());
    dialog->txtPassCode->clear();
    EXPECT_FALSE(dialog->cmdConnect->isEnabled());
    dialog->txtPassCode->setText(QStringLiteral("123456"));

    choose(frmCommInterface::TypeEnhancedDirect);
    EXPECT_EQ(visibleFields(), (QStringList{port, rate, QStringLiteral("cmdTestPanel")}));
    EXPECT_TRUE(dialog->cmdTestPanel->isEnabled());
    dialog->txtComPort->clear();
    EXPECT_FALSE(dialog->cmdTestPanel->isEnabled());
    EXPECT_FALSE(dialog->cmdConnect->isEnabled());
    dialog->txtComPort->setText(QStringLiteral("9"));

    choose(frmCommInterface::TypeNetwork);
    EXPECT_EQ(visibleFields(), (QStringList{QStringLiteral("txtRemoteHost"), QStringLiteral("txtRemotePort"),
                                            QStringLiteral("cmdTestPanel"), QStringLiteral("cmdTestNetwork")}));
    EXPECT_TRUE(dialog->txtRemoteHost->isEnabled());
    EXPECT_FALSE(dialog->cmdConnect->isEnabled()); // no host yet
    dialog->txtRemoteHost->setText(QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(dialog->cmdConnect->isEnabled());

    dialog->cmbConnect->addItem(QStringLiteral("voice"));
    choose(frmCommInterface::TypeVoice);
    EXPECT_EQ(visibleFields(), (QStringList{port, rate, init, QStringLiteral("txtVoicePhone")}));
    EXPECT_FALSE(dialog->cmdConnect->isEnabled());
    EXPECT_EQ(dialog->cmdConnect_Click(), 0); // nothing to do for a voice line
    EXPECT_FALSE(sessionState().currentTransport);
}

TEST_F(DialogTest, ModemTypesKeepSeparateRatesAndTheExternalModemAsksTheHost)
{
    dialog->cmbBaudRate->setCurrentIndex(dialog->cmbBaudRate->findText(QStringLiteral("2400")));
    dialog->cmbBaudRate_Click();
    pif->connectionQueryResult = 0;
    choose(frmCommInterface::TypeExternalModem);
    EXPECT_EQ(dialog->cmbBaudRate->currentText(), QStringLiteral("9600"));
    dialog->cmbBaudRate->setCurrentIndex(dialog->cmbBaudRate->findText(QStringLiteral("14400")));
    dialog->cmbBaudRate_Click();
    choose(frmCommInterface::TypeModem);
    EXPECT_EQ(dialog->cmbBaudRate->currentText(), QStringLiteral("2400"));
    choose(frmCommInterface::TypeDirect);
    EXPECT_EQ(dialog->cmbBaudRate->currentText(), QStringLiteral("9600"));
    choose(frmCommInterface::TypeExternalModem);
    EXPECT_EQ(dialog->cmbBaudRate->currentText(), QStringLiteral("14400"));
    EXPECT_EQ(dialog->modemRate(), QStringLiteral("2400"));

    // The host says the panel cannot be reached that way: a warning, once per change to the type.
    choose(frmCommInterface::TypeModem);
    pif->connectionQueryResult = 4;
    bool warned = false;
    QTimer::singleShot(50, [&warned] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            warned = box->text() == modGlobals::GetCatalogString(1357) && box->windowTitle() == modGlobals::GetCatalogString(263);
            box->accept();
        }
    });
    choose(frmCommInterface::TypeExternalModem);
    EXPECT_TRUE(warned);

    // A failing query is reported with its own number.
    choose(frmCommInterface::TypeModem);
    pif->connectionQueryResult = std::nullopt;
    choose(frmCommInterface::TypeExternalModem);
    EXPECT_TRUE(errorLog().contains(QStringLiteral("0x80041450")));
    EXPECT_TRUE(errorLog().contains(QStringLiteral("cmbConnect_Click")));
}

TEST_F(DialogTest, HostBoxRejectsBadAddressesAsTheyAreTyped)
{
    choose(frmCommInterface::TypeNetwork);
    QLineEdit *host = dialog->txtRemoteHost;
    host->setFocus();
    QTest::keyClicks(host, QStringLiteral("10."));
    EXPECT_EQ(host->text(), QStringLiteral("10."));
    QTest::keyClicks(host, QStringLiteral("."));
    EXPECT_EQ(host->text(), QStringLiteral("10.")); // two dots in a row: restored
    EXPECT_EQ(host->selectedText(), QStringLiteral("10."));
    host->setText(QStringLiteral("10.1.2"));
    QTest::keyClicks(host, QStringLiteral(".300"), Qt::NoModifier);
    EXPECT_EQ(host->text(), QStringLiteral("10.1.2.30")); // "300" is no part of an address
    host->setText(QStringLiteral("panel"));
    EXPECT_EQ(host->text(), QStringLiteral("panel"));
    EXPECT_EQ(dialog->LastGoodHost, QStringLiteral("panel"));
    EXPECT_TRUE(dialog->cmdConnect->isEnabled());
    EXPECT_TRUE(dialog->cmdTestNetwork->isEnabled());

    // "0.0.0.0" is no panel: Connect stays off until only the port changes.
    host->setText(QStringLiteral("0.0.0.0"));
    EXPECT_FALSE(dialog->cmdConnect->isEnabled());
    EXPECT_FALSE(dialog->cmdTestPanel->isEnabled());
    EXPECT_FALSE(dialog->cmdTestNetwork->isEnabled());
    dialog->txtRemotePort->setText(QStringLiteral("3002"));
    EXPECT_TRUE(dialog->cmdConnect->isEnabled());
    EXPECT_TRUE(dialog->cmdTestPanel->isEnabled());
    dialog->txtRemotePort->clear();
    EXPECT_FALSE(dialog->cmdConnect->isEnabled());
}

TEST_F(DialogTest, AddressCheckBeforeANetworkConnection)
{
    struct Case
    {
        const char *text;
        bool allowName;
        bool valid;
    };
    const Case cases[] = {
        {"127.0.0.1", false, true},  {"10.0.0", false, false},       {"1.2.3.4.5", true, false},
        {"10.0.x.1", true, false},   {"panel", true, true},          {"panel", false, false},
        {"1234", true, false},       {"10.0.0.1.", true, false},     {"panel.example.", true, false},
        {"", true, false},
    };
    for (const Case &c : cases) {
        dialog->txtRemoteHost->blockSignals(true); // the address check alone, without the typing rules
        dialog->txtRemoteHost->setText(QString::fromLatin1(c.text));
        dialog->txtRemoteHost->blockSignals(false);
        sessionState().remoteHost.clear();
        const std::int32_t rc = dialog->CheckIP(c.allowName);
        EXPECT_EQ(rc, c.valid ? 0 : ErrorCode::AddressCheckFailed) << c.text << " " << c.allowName;
        if (c.valid)
            EXPECT_FALSE(sessionState().remoteHost.isEmpty()) << c.text;
    }
    // A name that does not resolve is kept as typed.
    dialog->txtRemoteHost->setText(QStringLiteral("no-such-panel.invalid"));
    EXPECT_EQ(dialog->CheckIP(true), 0);
    EXPECT_EQ(sessionState().remoteHost, QStringLiteral("no-such-panel.invalid"));
    // Connect with a bad address does not start an attempt.
    choose(frmCommInterface::TypeNetwork);
    dialog->txtRemoteHost->blockSignals(true);
    dialog->txtRemoteHost->setText(QStringLiteral("10.0.0"));
    dialog->txtRemoteHost->blockSignals(false);
    EXPECT_EQ(dialog->cmdConnect_Click(), ErrorCode::AddressCheckFailed);
    EXPECT_EQ(dialog->cmdCancel->text(), modGlobals::GetCatalogString(125));
}

TEST_F(DialogTest, BusyStateTurnsCancelIntoAbort)
{
    dialog->ControlButtons(false, true);
    EXPECT_FALSE(dialog->cmdConnect->isEnabled());
    EXPECT_FALSE(dialog->txtPassCode->isEnabled());
    EXPECT_TRUE(dialog->cmdCancel->isEnabled());
    EXPECT_EQ(dialog->cmdCancel->text(), modGlobals::GetCatalogString(149));
    dialog->AddStatus(QStringLiteral("first"));
    dialog->AddStatus(QStringLiteral("second"));
    EXPECT_EQ(dialog->txtPad->toPlainText(), QStringLiteral("first\nsecond\n"));

    // Abort while busy: back to idle, the pad cleared, the dialog still open.
    QTest::mouseClick(dialog->cmdCancel, Qt::LeftButton);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->cmdCancel->text(), modGlobals::GetCatalogString(125));
    EXPECT_TRUE(dialog->cmdConnect->isEnabled());
    EXPECT_TRUE(dialog->txtPad->toPlainText().isEmpty());
    // Cancel while idle closes it.
    QTest::mouseClick(dialog->cmdCancel, Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    // Without a transport the host hears "UNKNOWN" and the result is 2.
    sessionState().currentTransport.reset();
    dialog->Form_Unload();
    EXPECT_EQ(dialog->resultCode(), frmCommInterface::ResultNotConnected);
    EXPECT_EQ(hostEvents().value(hostEvents().size() - 1), QStringLiteral("3:UNKNOWN"));
    EXPECT_FALSE(sessionState().guidRegistry->contains(dialog->szGUID()));
}

TEST_F(DialogTest, ScreenshotPerConnectionType)
{
    const QString folder = QStringLiteral(QUARVO_SOURCE_DIR "/docs/screenshots");
    if (!qEnvironmentVariableIsSet("QUARVO_SCREENSHOTS"))
        GTEST_SKIP() << "set QUARVO_SCREENSHOTS=1 to refresh " << folder.toStdString();
    QDir().mkpath(folder);
    settings->panelName = QStringLiteral("Warehouse North");
    settings->remoteHost = QStringLiteral("192.168.10.20");
    settings->baudRate = 2400;
    // The dialog as Display fills and shows it.
    delete dialog.data();
    dialog = new frmCommInterface();
    sessionState().connectionDialog = dialog;
    Script script;
    bool saved = true;
    script.then(QStringLiteral("dialog shown"), [this] { return dialog && dialog->isVisible(); },
                [this, folder, &saved] {
                    const char *names[] = {"modem", "external-modem", "direct", "enhanced-direct", "network"};
                    for (int type = 0; type < 5; ++type) {
                        choose(type);
                        dialog->AddStatus(QStringLiteral("Ready."));
                        QApplication::processEvents();
                        const QImage image = dialog->grab().toImage();
                        saved = saved && !image.isNull()
                                && image.save(folder + QStringLiteral("/connection-%1.png").arg(QLatin1String(names[type])));
                        dialog->txtPad->clear();
                    }
                    dialog->hide();
                });
    display(script, 10000);
    ASSERT_TRUE(script.failure().isEmpty()) << script.failure().toStdString();
    EXPECT_TRUE(saved);
}
