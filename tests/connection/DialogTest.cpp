// The dialog on its own: captions, field groups per connection type, enabling rules, the host-box
// and port-box checks, the passcode box, the stored rates, the address check of the workflow,
// Cancel while idle; and a screenshot per connection type.
#include "ConnectionFixture.h"

using namespace conntest;

namespace {

class DialogTest : public ConnectionTest
{
protected:
    // The dialog filled as Display fills it, but open without a modal run.
    void SetUp() override
    {
        ConnectionTest::SetUp();
        openSession();
        dialog->txtComPort->setText(QString::number(settings->comPort));
        dialog->txtInitString->setText(settings->initString);
        dialog->txtDataPhone->setText(settings->panelPhone);
        dialog->txtPassCode->setText(settings->passcode);
        dialog->txtRemotePort->setText(settings->panelPort);
        for (std::int16_t n : {151, 1354, 1355, 360, 1356})
            dialog->cmbConnect->addItem(modGlobals::GetCatalogString(n));
        dialog->ControlButtons(true, false);
        choose(frmCommInterface::TypeModem);
        dialog->show();
    }

    QString visibleFields() const
    {
        QStringList out;
        for (QWidget *w : std::initializer_list<QWidget *>{dialog->txtComPort, dialog->cmbBaudRate, dialog->txtInitString,
                                                           dialog->txtDataPhone, dialog->txtVoicePhone, dialog->txtRemoteHost,
                                                           dialog->txtRemotePort, dialog->cmdTestPanel, dialog->cmdTestNetwork})
            if (w->isVisible())
                out << w->objectName().mid(3);
        return out.join(u' ');
    }

    void setHostQuietly(const QString &text) // the address check alone, without the typing rules
    {
        const QSignalBlocker block(dialog->txtRemoteHost);
        dialog->txtRemoteHost->setText(text);
    }
};

} // namespace

TEST_F(DialogTest, PasscodeBoxTakesSixCharactersMaskedExceptWhileTyping)
{
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
    EXPECT_EQ(visibleFields(), QStringLiteral("ComPort BaudRate InitString DataPhone"));
    EXPECT_TRUE(dialog->cmdConnect->isEnabled());
    dialog->txtDataPhone->clear();
    EXPECT_FALSE(dialog->cmdConnect->isEnabled());
    EXPECT_TRUE(dialog->cmdAnswer->isEnabled()); // answering needs no number
    dialog->txtInitString->clear();
    EXPECT_FALSE(dialog->cmdAnswer->isEnabled());
    dialog->txtInitString->setText(QStringLiteral("AT&F"));
    dialog->txtDataPhone->setText(QStringLiteral("5551234"));

    choose(frmCommInterface::TypeDirect);
    EXPECT_EQ(visibleFields(), QStringLiteral("ComPort"));
    EXPECT_FALSE(dialog->cmdAnswer->isEnabled());
    EXPECT_TRUE(dialog->cmdConnect->isEnabled());

    choose(frmCommInterface::TypeEnhancedDirect);
    EXPECT_EQ(visibleFields(), QStringLiteral("ComPort BaudRate TestPanel"));
    dialog->txtComPort->clear();
    EXPECT_FALSE(dialog->cmdTestPanel->isEnabled());

    choose(frmCommInterface::TypeNetwork);
    EXPECT_EQ(visibleFields(), QStringLiteral("RemoteHost RemotePort TestPanel TestNetwork"));
    EXPECT_FALSE(dialog->cmdConnect->isEnabled()); // no host yet
    dialog->txtRemoteHost->setText(QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(dialog->cmdConnect->isEnabled());

    dialog->cmbConnect->addItem(QStringLiteral("voice"));
    choose(frmCommInterface::TypeVoice);
    EXPECT_EQ(visibleFields(), QStringLiteral("ComPort BaudRate InitString VoicePhone"));
    EXPECT_FALSE(dialog->cmdConnect->isEnabled());
    EXPECT_EQ(dialog->cmdConnect_Click(), 0); // nothing to do for a voice line
    EXPECT_FALSE(sessionState().currentTransport);
}

TEST_F(DialogTest, ModemTypesKeepSeparateRatesAndTheExternalModemAsksTheHost)
{
    const auto pickRate = [this](const char *rate) {
        dialog->cmbBaudRate->setCurrentIndex(dialog->cmbBaudRate->findText(QLatin1String(rate)));
        dialog->cmbBaudRate_Click();
    };
    pickRate("2400");
    pif->connectionQueryResult = 0;
    choose(frmCommInterface::TypeExternalModem);
    EXPECT_EQ(dialog->cmbBaudRate->currentText(), QStringLiteral("9600"));
    pickRate("14400");
    for (auto [type, rate] : {std::pair{frmCommInterface::TypeModem, "2400"}, std::pair{frmCommInterface::TypeDirect, "9600"},
                              std::pair{frmCommInterface::TypeExternalModem, "14400"}}) {
        choose(type);
        EXPECT_EQ(dialog->cmbBaudRate->currentText(), QLatin1String(rate)) << type;
    }
    EXPECT_EQ(dialog->modemRate(), QStringLiteral("2400"));

    // The host says the panel cannot be reached that way: a warning.
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
}

TEST_F(DialogTest, HostBoxRejectsBadAddressesAsTheyAreTyped)
{
    choose(frmCommInterface::TypeNetwork);
    QLineEdit *host = dialog->txtRemoteHost;
    host->setFocus();
    QTest::keyClicks(host, QStringLiteral("10.."));
    EXPECT_EQ(host->text(), QStringLiteral("10.")); // two dots in a row: restored
    EXPECT_EQ(host->selectedText(), QStringLiteral("10."));
    host->setText(QStringLiteral("10.1.2"));
    QTest::keyClicks(host, QStringLiteral(".300"));
    EXPECT_EQ(host->text(), QStringLiteral("10.1.2.30")); // "300" is no part of an address
    host->setText(QStringLiteral("panel"));
    EXPECT_EQ(host->text(), QStringLiteral("panel"));
    EXPECT_EQ(dialog->LastGoodHost, QStringLiteral("panel"));
    EXPECT_TRUE(dialog->cmdConnect->isEnabled());

    // "0.0.0.0" is no panel: Connect stays off until only the port changes.
    host->setText(QStringLiteral("0.0.0.0"));
    EXPECT_FALSE(dialog->cmdConnect->isEnabled());
    EXPECT_FALSE(dialog->cmdTestNetwork->isEnabled());
    dialog->txtRemotePort->setText(QStringLiteral("3002"));
    EXPECT_TRUE(dialog->cmdConnect->isEnabled());
    dialog->txtRemotePort->clear();
    EXPECT_FALSE(dialog->cmdConnect->isEnabled());
}

TEST_F(DialogTest, AddressCheckBeforeANetworkConnection)
{
    const struct
    {
        const char *text;
        bool allowName, valid;
    } cases[] = {{"127.0.0.1", false, true}, {"10.0.0", false, false},    {"1.2.3.4.5", true, false},
                 {"10.0.x.1", true, false},  {"panel", true, true},       {"panel", false, false},
                 {"1234", true, false},      {"10.0.0.1.", true, false},  {"panel.example.", true, false},
                 {"", true, false},          {"no-such-panel.invalid", true, true}};
    for (const auto &c : cases) {
        setHostQuietly(QLatin1String(c.text));
        sessionState().remoteHost.clear();
        EXPECT_EQ(dialog->CheckIP(c.allowName), c.valid ? 0 : ErrorCode::AddressCheckFailed) << c.text << " " << c.allowName;
        if (c.valid) { // a name that does not resolve is kept as typed
            EXPECT_FALSE(sessionState().remoteHost.isEmpty()) << c.text;
        }
    }
    // Connect with a bad address does not start an attempt.
    choose(frmCommInterface::TypeNetwork);
    setHostQuietly(QStringLiteral("10.0.0"));
    EXPECT_EQ(dialog->cmdConnect_Click(), ErrorCode::AddressCheckFailed);
    EXPECT_EQ(dialog->cmdCancel->text(), modGlobals::GetCatalogString(125));
}

TEST_F(DialogTest, BusyStateTurnsCancelIntoAbortAndCancelWhileIdleCloses)
{
    dialog->ControlButtons(false, true);
    EXPECT_FALSE(dialog->cmdConnect->isEnabled());
    EXPECT_FALSE(dialog->txtPassCode->isEnabled());
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
    // Cancel while idle closes it; without a transport the host hears "UNKNOWN" and the result is 2.
    QTest::mouseClick(dialog->cmdCancel, Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    sessionState().currentTransport.reset();
    dialog->Form_Unload();
    EXPECT_EQ(dialog->resultCode(), frmCommInterface::ResultNotConnected);
    EXPECT_EQ(hostEvents().value(hostEvents().size() - 1), QStringLiteral("3:UNKNOWN"));
    EXPECT_FALSE(sessionState().guidRegistry->contains(dialog->szGUID()));
}

// Enter while idle: on the focused button it presses that button, in a field or the type list it
// presses Connect (the default); Escape is Cancel. Connect meets an address that fails its check
// (put in behind the typing rules), so it goes no further than the check.
TEST_F(DialogTest, EnterPressesTheFocusedButtonElseConnect)
{
    struct Case
    {
        const char *focus;
        Qt::Key key;
        const char *pressed;
        bool closes;
    };
    const Case cases[] = {
        {"cmdConnect", Qt::Key_Return, "cmdConnect", false}, {"txtRemoteHost", Qt::Key_Return, "cmdConnect", false},
        {"txtPassCode", Qt::Key_Enter, "cmdConnect", false},  {"cmbConnect", Qt::Key_Return, "cmdConnect", false},
        {"cmdCancel", Qt::Key_Return, "cmdCancel", true},     {"txtPassCode", Qt::Key_Escape, "", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.focus) + ", key " + std::to_string(c.key));
        choose(frmCommInterface::TypeNetwork);
        dialog->txtRemoteHost->setText(QStringLiteral("127.0.0.1")); // typed: Connect is enabled
        setHostQuietly(QStringLiteral("10.0.0"));
        dialog->show();
        ASSERT_TRUE(dialog->cmdConnect->isEnabled());
        QStringList pressed;
        QList<QMetaObject::Connection> spies;
        for (QPushButton *b : {dialog->cmdConnect, dialog->cmdCancel, dialog->cmdAnswer})
            spies << QObject::connect(b, &QPushButton::clicked, [&pressed, b] { pressed << b->objectName(); });
        testsupport::pressKeyOn(dialog->findChild<QWidget *>(QLatin1String(c.focus)), c.key);
        for (const QMetaObject::Connection &spy : spies)
            QObject::disconnect(spy);
        EXPECT_EQ(pressed.join(u','), QLatin1String(c.pressed));
        EXPECT_EQ(dialog->isVisible(), !c.closes);
        EXPECT_EQ(dialog->cmdCancel->text(), modGlobals::GetCatalogString(125)); // no attempt started
    }
}

TEST_F(DialogTest, ScreenshotPerConnectionType)
{
    const QString folder = testsupport::screenshotFolder();
    if (folder.isEmpty())
        GTEST_SKIP() << "set QUARVO_SCREENSHOTS=1 to refresh the screenshots";
    settings->panelName = QStringLiteral("Warehouse North");
    settings->remoteHost = QStringLiteral("192.168.10.20");
    settings->baudRate = 2400;
    delete dialog.data(); // a dialog as Display fills and shows it
    sessionState().connectionDialog = dialog = new frmCommInterface();
    int saved = 0, type = 0;
    Script script;
    script.then(QStringLiteral("dialog shown"), shown(), [this, folder, &saved, &type] {
        for (const char *name : {"modem", "external-modem", "direct", "enhanced-direct", "network"}) {
            choose(type++);
            dialog->AddStatus(QStringLiteral("Ready."));
            QApplication::processEvents();
            saved += dialog->grab().save(folder + QStringLiteral("/connection-%1.png").arg(QLatin1String(name)));
            dialog->txtPad->clear();
        }
        dialog->hide();
    });
    display(script, 10000);
    EXPECT_EQ(saved, 5);
}
