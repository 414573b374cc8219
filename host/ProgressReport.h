// Progress of the panel transfers and of the history retrieval on standard error, read off the
// component's own (hidden) transfer and history windows: a bar redrawn in place on a terminal,
// plain lines otherwise (one per item, and per quarter of a history retrieval).
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdio>

class ProgressReport : public QObject
{
public:
    explicit ProgressReport(std::FILE *out = stderr, QObject *parent = nullptr);
    ~ProgressReport() override { finish(); }

    void start();
    // Ends the bar line (a terminal's cursor goes back to the start of an empty line).
    void finish();
    // Clears the bar for a line of other output; the next poll draws it again.
    void clear();

private:
    void poll();
    void show(const QString &what, int percent, const QString &stepKey);

    std::FILE *m_out;
    bool m_terminal = false;
    bool m_barShown = false;
    QString m_lastKey;
    QString m_lastBar;
    QTimer m_timer;
};
