// The reference host's callback object: every notification of the component becomes one JSON line
// (standard output or a file), and the event-history blocks (event 13) are also decoded into the
// history file. It keeps what it heard, for the run's outcome and summary.
//
// A line: {"time": ISO 8601 local time, "code": n, "source": text or null, and
//   "data": the notification's value (text, number, or for event 5 the list [tag, value, extra,
//           sender] with a missing extra as null), plus "tag" for event 5; or, for event 13,
//   "bytes": the block in hex and "slots": the number of 4-byte slots it holds}.
#pragma once

#include "core/HostObjects.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <optional>
#include <vector>

class QIODevice;

class HostEventLog : public HostCallback
{
public:
    struct Event
    {
        qint32 code;
        QVariant data;
        std::optional<QString> source;
    };

    // `out` receives the JSON lines (not owned; none: nothing is written).
    explicit HostEventLog(QIODevice *out = nullptr) : m_out(out) {}
    // The file the decoded history records are appended to (not owned).
    void setHistoryFile(QIODevice *file) { m_history = file; }

    void ZelCommEvent(qint32 &code, const QVariant &data, const std::optional<QString> &source) override;

    static QJsonObject toJson(const Event &event);

    const std::vector<Event> &events() const { return m_events; }
    // The text of the last event 3 (how the session ended), empty while there was none.
    QString ending() const { return m_ending; }
    // Tags of event 5, in order.
    QStringList tags() const;
    // The panel's revision, as the last "GET_REV" carried it (empty before).
    QString panelRevision() const;
    // The count "HISTORY_END" carried, once it came.
    std::optional<int> historyEnd() const { return m_historyEnd; }
    int historyBlocks() const { return m_historyBlocks; }
    int historyRecords() const { return m_historyRecords; }
    // A line could not be written (the run then fails).
    bool writeFailed() const { return m_writeFailed; }

    // Called after each event has been written.
    std::function<void(const Event &)> onEvent;
    // Called before a line goes out (a progress bar on the same terminal steps aside).
    std::function<void()> beforeLine;

private:
    void writeLine(QIODevice *device, const QJsonObject &object);

    QIODevice *m_out = nullptr;
    QIODevice *m_history = nullptr;
    std::vector<Event> m_events;
    QString m_ending;
    std::optional<int> m_historyEnd;
    int m_historyBlocks = 0;
    int m_historySlots = 0;
    int m_historyRecords = 0;
    bool m_writeFailed = false;
};
