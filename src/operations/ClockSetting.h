// The panel clock of a session, without a window: reads the panel's date and time ("Request Panel
// Date") and writes this computer's time, shifted by a whole number of hours, into the panel
// ("Change Panel Date"). When the panel accepts the write the host hears "SET_TIME" with the moment
// sent; a refusal, an empty answer or a request that cannot be queued ends the session.
//
// The "Set Panel Date/Time" window (frmDateTime) owns one and shows it. Its requests are filed
// under the owner name "frmDateTime", as the queue console shows them. The unattended clock job
// writes without it (modDateTime::UnattendedSetDateTime).
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <QString>

#include <cstdint>

#include "core/GuidRegistry.h"

class clsMessage;

class ClockSetting : public QObject, public GuidObjectBase, public ResponseReceiver
{
    Q_OBJECT
public:
    // Registers in GuidRegistry.
    explicit ClockSetting(QObject *parent = nullptr);
    // Unloads, when that has not happened yet.
    ~ClockSetting() override;

    // Owner name of the requests.
    QString Name() const { return QStringLiteral("frmDateTime"); }

    // Queues "Request Panel Date"; the answer comes as panelClockRead and readEnded. Returns 0 or
    // the error number; a request that cannot be queued ends the session (failed()).
    std::int32_t readPanelClock();
    // Queues "Change Panel Date" with this computer's clock (Timing::currentDateTime) shifted by
    // `adjustmentHours`, and keeps the moment sent in SentDateTime. The answer comes as written(),
    // or failed() when the panel refuses. Returns 0 or the error number; a request that cannot be
    // queued ends the session (failed()).
    std::int32_t writePanelClock(std::int16_t adjustmentHours);

    void ResponseReceived(clsMessage &msg) override;
    // Drops the requests still queued and leaves the registry; emits unloaded(). Runs once.
    void unload();
    bool isUnloaded() const { return m_unloaded; }

    // The moment the last write sent (the computer's time plus the adjustment).
    QDateTime SentDateTime;

    // The panel's date and time of a "Request Panel Date" answer as display texts in `locale` (each
    // empty when its bytes are no date or no time). False, and both empty, for an answer too short
    // to hold the six clock bytes (3..8) before its checksum.
    static bool DecodePanelDateTime(const QByteArray &data, const QLocale &locale, QString &date, QString &time);

signals:
    // A "Request Panel Date" answer that holds the clock bytes.
    void panelClockRead(const QByteArray &answer);
    // A "Request Panel Date" answer came, readable or not: another request may follow.
    void readEnded();
    // The panel took the clock; "SET_TIME" went to the host.
    void written();
    // A request failed; the session is ending.
    void failed();
    void unloaded();

private:
    // A failed request: the session ends.
    void endSession();

    bool m_registered = false;
    bool m_unloaded = false;
};
