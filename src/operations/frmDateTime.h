// "Set Panel Date/Time": shows the computer's date (a calendar) and time (refreshed every second),
// reads the panel's clock on request ("Get Current"), and writes the computer's time, shifted by
// the panel time adjustment, into the panel ("Update Panel"). When the panel accepts the write the
// host hears "SET_TIME" with the moment sent; a refusal ends the session.
//
// No operation of IZelComm shows the window; a host (or a front end) that wants it during a
// session creates it and calls Display(). The caller owns the window: Display() unloads it (its
// queued requests are dropped and it leaves the registry) but does not delete it.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QLocale>
#include <QString>

#include <cstdint>

#include "core/GuidRegistry.h"

class Calendar;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class clsMessage;

class frmDateTime : public QDialog, public GuidObjectBase, public ResponseReceiver
{
    Q_OBJECT
public:
    // Builds the window (catalog captions, centred on the screen) and registers it in GuidRegistry.
    explicit frmDateTime(QWidget *parent = nullptr);
    ~frmDateTime() override;

    // The window's name: owner name of the requests it queues.
    QString Name() const { return QStringLiteral("frmDateTime"); }

    // Shows today in the calendar, clears "Last Requested", puts the host settings' adjustment in
    // the spinner, then runs the window modally and unloads it when it closes. In an unattended
    // session it runs "Update Panel" at once and shows nothing; the window unloads itself once the
    // write is answered. Returns 0 or the error number.
    std::int32_t Display();

    // Control events.
    void Timer1_Timer();
    void cmdGetCurrentDateTimeFromPanel_Click();
    void cmdOK_Click();
    void cmdCancel_Click();
    // Fills "Last Requested" from a "Request Panel Date" answer (the six clock bytes at 3..8) and
    // enables the two buttons again; an answer too short to hold them changes nothing.
    void ReadPanelDateTime(const QByteArray &data);
    // The parse of ReadPanelDateTime: the panel's date and time as display texts in `locale` (each
    // empty when its bytes are no date or no time). False, and both empty, for an answer too short
    // to hold the six clock bytes before its checksum.
    static bool DecodePanelDateTime(const QByteArray &data, const QLocale &locale, QString &date, QString &time);
    void ResponseReceived(clsMessage &msg) override;
    // Stops the timer, drops the window's queued requests and leaves the registry; runs once.
    void Form_Unload();

    // The moment the last "Update Panel" sent (the computer's time plus the adjustment).
    QDateTime SentDateTime;

    // Controls (objectName = the name below). Text1 is the text of the spinner UpDown1.
    QGroupBox *fraSystemDateTime = nullptr;
    QLabel *Label2 = nullptr;
    Calendar *Calendar1 = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *txtCurrentSystemTime = nullptr;
    QLabel *Label6 = nullptr;
    QSpinBox *UpDown1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
    QGroupBox *fraCurrent = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *lblCurrentDate = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *lblCurrentTime = nullptr;
    QPushButton *cmdGetCurrentDateTimeFromPanel = nullptr;
    QTimer *Timer1 = nullptr;

protected:
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWindow();
    void enableButtons(bool enable);
    // A failed request: the session ends and the window closes.
    void endSession();

    bool m_registered = false;
    bool m_unloaded = false;
};
