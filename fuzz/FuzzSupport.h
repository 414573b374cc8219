// What every fuzz target shares: a process set up once (Qt application object, host doubles in
// the session state, no error file), and a check that turns a broken property into a crash
// libFuzzer reports.
#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>

#include <cstddef>
#include <cstdint>

namespace fuzzsupport {

// Runs once per process; later calls do nothing.
void init();

// The input as bytes (copied).
inline QByteArray bytes(const std::uint8_t *data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

// Takes an input apart from the front: the layout the targets read and seeds.cpp writes.
class Reader
{
public:
    Reader(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_at >= m_size; }
    std::uint8_t u8() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::int16_t i16()
    {
        const std::uint8_t low = u8();
        return static_cast<std::int16_t>(low | (u8() << 8));
    }
    // A length byte, then up to that many bytes.
    QByteArray chunk()
    {
        const std::size_t n = u8();
        return take(n);
    }
    QByteArray rest() { return take(m_size - m_at); }

private:
    QByteArray take(std::size_t n)
    {
        n = std::min(n, m_size - std::min(m_at, m_size));
        const QByteArray out(reinterpret_cast<const char *>(m_data + m_at), static_cast<qsizetype>(n));
        m_at += n;
        return out;
    }
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

// A file of `name` in the process's private folder (removed with the process), holding `bytes`.
QString scratchFile(const char *name, const QByteArray &bytes);

// The link key the targets and their seed corpora use.
QString linkKey();

[[noreturn]] void fail(const char *what, const char *file, int line);

} // namespace fuzzsupport

// A property every input must keep; a breach aborts, which libFuzzer reports with the input.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            fuzzsupport::fail(#condition, __FILE__, __LINE__);                                     \
    } while (false)
