#include "PanelState.h"

#include "Crc16Arc.h"
#include "DatagramCodec.h"

#include <random>

namespace panelsim {

PanelState::PanelState(const PanelConfig &config)
    : passcode(config.passcode),
      answerPasscode(config.answerPasscode),
      panelType(config.panelType),
      romRevision(config.romRevision),
      statusByte(config.statusByte),
      passcodeFromItem3(config.passcodeFromItem3),
      eventCounter(config.eventCounter),
      slotsPerAnswer(qBound(1, config.slotsPerAnswer, 63)),
      m_map(config.panelType)
{
    // Programming data: deterministic bytes from the seed (the raw engine output, which is the same
    // on every platform, unlike the standard distributions).
    std::mt19937 rng(config.seed);
    for (int item = 0; item < ItemMap::ItemCount; ++item) {
        QByteArray bytes(m_map.itemSize(item), '\0');
        for (char &c : bytes)
            c = static_cast<char>(rng() & 0xFF);
        m_items.append(bytes);
    }
    for (const int item : config.differItems) {
        if (item < 0 || item >= ItemMap::ItemCount)
            continue;
        for (char &c : m_items[item])
            c = static_cast<char>(static_cast<quint8>(c) ^ 0x5A);
    }
    setDataLockPlain(config.dataLock);
    // Item 3 starts with the passcode, packed two characters per byte.
    m_items[3].replace(0, 3, DatagramCodec::passcodeBytes(config.passcode).left(3));

    const QDateTime now = config.clock.isValid() ? config.clock : QDateTime::currentDateTime();
    setClock(now);
    eventLog = EventLog::generate(config.logSize, config.eventCount, config.newEventCount, config.firstEventSlot,
                                  config.seed, now.addSecs(-600));
}

QByteArray PanelState::itemBytes(int item) const
{
    return (item >= 0 && item < m_items.size()) ? m_items[item] : QByteArray();
}

quint16 PanelState::itemCrc(int item) const
{
    return crc16Arc(itemBytes(item));
}

QByteArray PanelState::block(int item, int start) const
{
    const int index = m_map.findBlock(item, start);
    if (index < 0)
        return {};
    const ItemBlock &b = m_map.blocks()[index];
    return m_items[item].mid(b.offset, b.length);
}

bool PanelState::writeBlock(int item, int start, const QByteArray &data)
{
    const int index = m_map.findBlock(item, start);
    if (index < 0)
        return false;
    const ItemBlock &b = m_map.blocks()[index];
    if (data.size() != b.length)
        return false;
    m_items[item].replace(b.offset, b.length, data);
    if (item == 3 && start == 0 && passcodeFromItem3)
        passcode = QString::fromLatin1(data.left(3).toHex()).toUpper();
    return true;
}

quint16 PanelState::dataLockPanelCode() const
{
    const QByteArray b = m_items.value(0);
    if (b.size() < 2)
        return 0;
    return static_cast<quint16>((static_cast<quint8>(b[0]) << 8) | static_cast<quint8>(b[1]));
}

void PanelState::setDataLockPlain(quint16 plain)
{
    const quint16 code = plain ^ DataLockScramble;
    m_items[0][0] = static_cast<char>(code >> 8);
    m_items[0][1] = static_cast<char>(code & 0xFF);
}

QDateTime PanelState::clock() const
{
    const auto elapsed = std::chrono::steady_clock::now() - m_clockSetAt;
    return m_clockAtSet.addMSecs(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void PanelState::setClock(const QDateTime &dt)
{
    m_clockAtSet = dt;
    m_clockSetAt = std::chrono::steady_clock::now();
}

} // namespace panelsim
