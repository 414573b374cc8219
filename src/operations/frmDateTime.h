// "Set Panel Date/Time": shows the computer's date (a calendar) and time (refreshed every second),
// reads the panel's clock on request ("Get Current"), and writes the computer's time, shifted by
// the panel time adjustment, into the panel ("Update Panel"). The reading and writing is the
// window's ClockSetting; the window shows it and turns the buttons into its calls. When the panel
// accepts the write the host hears "SET_TIME" with the moment sent; a refusal ends the session.
//
// No operation of IZelComm shows the window; a host (or a front end) that wants it during a
// session creates it and calls Display(). The caller owns the window: Display() unloads it (its
// queued requests are dropped and it leaves the registry) but does not delete it.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>

#include "operations/ClockSetting.h"

class Calendar;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;

class frmDateTime : public QDialog
{
    Q_OBJECT
public:
    // Builds the window (catalog captions, centred on the screen) and its clock setting, which
    // registers in GuidRegistry.
    explicit frmDateTime(QWidget *parent = nullptr);
    ~frmDateTime() override;

    // The owner name of the clock setting's requests.
    QString Name() const { return QStringLiteral("frmDateTime"); }
    // The clock setting the window shows (gone only with the window).
    ClockSetting *clock() const { return m_clock; }

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
    // Stops the timer and unloads the clock setting (its queued requests dropped, out of the
    // registry); runs once.
    void Form_Unload();

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

    ClockSetting *m_clock = nullptr;
    bool m_unloaded = false;
};
