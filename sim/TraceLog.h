// What crossed the wire, one JSON object per line: time, milliseconds since start, direction ("in"
// to the panel, "out" from it), link, raw bytes in hex, the decoded command and any fault note.
// Kept in memory for tests and written to a file (mode 0600) or standard output as it happens.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <chrono>
#include <cstdio>

namespace panelsim {

struct TraceEntry
{
    QDateTime time;
    qint64 elapsedMs = 0;
    QString direction; // "in" or "out"
    QString link;
    QByteArray bytes;
    QString decoded;
    QString note;

    QByteArray toJson() const;
};

class TraceLog
{
public:
    static constexpr int MemoryLimit = 20000;

    TraceLog() = default;
    ~TraceLog() { close(); }
    TraceLog(const TraceLog &) = delete;
    TraceLog &operator=(const TraceLog &) = delete;

    // Opens the outputs; false (with the reason) when the file cannot be created.
    bool open(const QString &filePath, bool toStdout, QString *error = nullptr);
    void close();

    void add(const QString &direction, const QString &link, const QByteArray &bytes, const QString &decoded,
             const QString &note = {});
    QList<TraceEntry> entries() const { return m_entries; }

private:
    QList<TraceEntry> m_entries;
    std::FILE *m_file = nullptr;
    bool m_stdout = false;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

} // namespace panelsim
