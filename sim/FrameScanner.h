// Cuts request frames out of a serial byte stream: bytes before the expected address are skipped one
// at a time, then the length byte says how many bytes follow. A frame that stops arriving is dropped
// after a quiet period so a lost byte cannot wedge the line.
#pragma once

#include "PanelFrame.h"

#include <QByteArray>

#include <chrono>
#include <optional>

namespace panelsim {

class FrameScanner
{
public:
    explicit FrameScanner(Addressing addressing) : m_addressing(addressing) {}

    void setAddressing(Addressing a) { m_addressing = a; reset(); }
    Addressing addressing() const { return m_addressing; }

    // Appends received bytes; bytes skipped before an address are counted in skippedBytes().
    void feed(const QByteArray &bytes, std::chrono::steady_clock::time_point now);
    // The next complete frame (checksum not checked), if any.
    std::optional<QByteArray> next();
    // Drops a partial frame that has seen no byte for the given time.
    void expire(std::chrono::steady_clock::time_point now, std::chrono::milliseconds quiet);

    bool hasPartialFrame() const { return !m_buffer.isEmpty(); }
    int skippedBytes() const { return m_skipped; }
    void reset() { m_buffer.clear(); }

private:
    void dropToAddress();

    Addressing m_addressing;
    QByteArray m_buffer;
    int m_skipped = 0;
    std::chrono::steady_clock::time_point m_lastByte{};
};

} // namespace panelsim
