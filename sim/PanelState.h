// The panel's memory: programming data by item and block, data lock, event log, clock, keep-alive
// counter, exclusive mode, goodbye, and counters of what it was asked. A value type: the simulator
// keeps one under its lock and hands out copies.
#pragma once

#include "EventLog.h"
#include "ItemMap.h"
#include "PanelConfig.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>

#include <array>
#include <chrono>

namespace panelsim {

class PanelState
{
public:
    static constexpr quint16 DataLockScramble = 0x6B52;

    PanelState() : PanelState(PanelConfig{}) {}
    explicit PanelState(const PanelConfig &config);

    // Identity.
    QString passcode;
    QString answerPasscode;
    int panelType = 1;
    std::array<quint8, 3> romRevision{{1, 3, 7}};
    quint8 statusByte = 0;
    bool passcodeFromItem3 = false;

    // Event log and keep-alive word (bytes 14-15 of the status answer).
    EventLog eventLog;
    quint16 eventCounter = 0;
    int slotsPerAnswer = 32;

    // Session facts.
    bool exclusive = false;
    bool goodbyeReceived = false;
    int goodbyeCode = -1;
    bool resetRequested = false;
    bool passcodeAccepted = false;
    QMap<QString, int> commandCounts; // by command name
    int exchanges = 0;                // request frames and probes received

    const ItemMap &itemMap() const { return m_map; }
    QByteArray itemBytes(int item) const;
    quint16 itemCrc(int item) const;
    // The block (item, start), or empty when there is none.
    QByteArray block(int item, int start) const;
    // Replaces a block; false when it does not exist or the length differs.
    bool writeBlock(int item, int start, const QByteArray &data);

    // The data lock as the panel reports it (item 0, scrambled) and in plain.
    quint16 dataLockPanelCode() const;
    quint16 dataLockPlain() const { return dataLockPanelCode() ^ DataLockScramble; }
    void setDataLockPlain(quint16 plain);

    QDateTime clock() const;
    void setClock(const QDateTime &dt);
    // The six parameter bytes of the last "Change Panel Date" answered (accepted or refused).
    QByteArray lastClockWrite;

    int commandCount(const QString &name) const { return commandCounts.value(name); }

private:
    ItemMap m_map;
    QList<QByteArray> m_items;
    QDateTime m_clockAtSet;
    std::chrono::steady_clock::time_point m_clockSetAt{};
};

} // namespace panelsim
