// The Hayes modem in front of a dial-up panel. In command state it collects lines ending in a
// carriage return, echoes them (E1) and answers with verbal ("\r\nOK\r\n") or numeric ("0\r") result
// codes (V1/V0). ATD dials (CONNECT after the connect delay), ATA answers, ATH hangs up; once
// connected, data belong to the panel until "+++" followed by a guard time of silence brings the
// modem back to command state (the carrier stays up until ATH).
#pragma once

#include "FaultScript.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace panelsim {

class HayesModem
{
public:
    struct Hooks
    {
        std::function<void(const QByteArray &)> write;
        std::function<void(int ms, std::function<void()>)> schedule; // ms already scaled
        std::function<void(bool answeredCall)> connected;          // carrier up, data state
        std::function<void()> carrierLost;                          // carrier down (ATH or drop)
        std::function<QList<FaultRule>(const QString &, bool)> faults;
        std::function<void(const QString &line, const QByteArray &bytes)> commandSeen;
    };

    enum class State { Command, Dialing, Answering, Online };

    struct Settings
    {
        bool echo = true;
        bool numeric = false;
        int connectDelayMs = 1000; // scaled
        int ringIntervalMs = 2000; // scaled
        int guardMs = 1000;        // scaled
    };

    HayesModem(Hooks hooks, Settings settings);

    State state() const { return m_state; }
    bool isOnline() const { return m_state == State::Online; }
    bool hasCarrier() const { return m_carrier; }
    bool isRinging() const { return m_ringing; }
    int commandCount() const { return m_commands; }

    // Bytes from the line while not online.
    void feed(const QByteArray &bytes);
    // Every byte received while online; watches for the "+++" escape.
    void onlineBytes(const QByteArray &bytes);
    // The panel calls out: RING every ring interval until ATA or ATH (at most maxRings).
    void startRinging(int maxRings = 10);
    // The line fails: NO CARRIER, back to command state.
    void dropCarrier();

    static QByteArray resultText(const QString &verbal, bool numeric);

private:
    void handleLine(const QString &line);
    void result(const QString &verbal);
    void goOnline(bool answered);
    void hangUp();
    void ringOnce(int generation, int remaining);

    Hooks m_hooks;
    Settings m_defaults;
    Settings m_settings;
    State m_state = State::Command;
    bool m_carrier = false;
    bool m_ringing = false;
    QByteArray m_line;
    int m_commands = 0;
    int m_generation = 0;   // bumps on every state change, cancels stale timers
    int m_rxGeneration = 0; // bumps on every online byte, cancels a pending escape
    int m_plusRun = 0;
};

} // namespace panelsim
