#include "FrameScanner.h"

namespace panelsim {

void FrameScanner::feed(const QByteArray &bytes, std::chrono::steady_clock::time_point now)
{
    if (bytes.isEmpty())
        return;
    m_buffer.append(bytes);
    m_lastByte = now;
    dropToAddress();
}

void FrameScanner::dropToAddress()
{
    const char address = static_cast<char>(PanelFrame::requestAddress(m_addressing));
    qsizetype i = 0;
    while (i < m_buffer.size() && m_buffer[i] != address)
        ++i;
    m_skipped += int(i);
    m_buffer.remove(0, i);
}

std::optional<QByteArray> FrameScanner::next()
{
    dropToAddress();
    if (m_buffer.size() < 2)
        return std::nullopt;
    const int length = static_cast<quint8>(m_buffer[1]);
    if (length < 1) {
        // A zero length cannot start a frame: skip this address byte and look again.
        m_buffer.remove(0, 1);
        ++m_skipped;
        return next();
    }
    if (m_buffer.size() < length + 2)
        return std::nullopt;
    QByteArray frame = m_buffer.left(length + 2);
    m_buffer.remove(0, length + 2);
    return frame;
}

void FrameScanner::expire(std::chrono::steady_clock::time_point now, std::chrono::milliseconds quiet)
{
    if (!m_buffer.isEmpty() && now - m_lastByte >= quiet)
        m_buffer.clear();
}

} // namespace panelsim
