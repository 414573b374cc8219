// SIGTERM and SIGINT as a Qt signal: the handler only writes to a pipe, the event loop reads it.
#pragma once

#include <QObject>

class QSocketNotifier;

class SignalWatch : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatch(QObject *parent = nullptr);
    ~SignalWatch() override;
    // The signal that arrived first (0: none yet).
    int received() const { return m_received; }

signals:
    void terminationRequested(int signalNumber);

private:
    QSocketNotifier *m_notifier = nullptr;
    int m_received = 0;
};
