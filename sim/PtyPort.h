// A pseudo-terminal pair for a serial link: the simulator keeps the master, clients open the slave
// path (or a symlink to it). The simulator also holds the slave open in raw mode, so the line
// neither echoes nor hangs up between clients.
#pragma once

#include <QByteArray>
#include <QString>

namespace panelsim {

class PtyPort
{
public:
    PtyPort() = default;
    ~PtyPort() { close(); }
    PtyPort(const PtyPort &) = delete;
    PtyPort &operator=(const PtyPort &) = delete;

    bool open(const QString &symlinkPath, QString *error);
    void close();
    bool isOpen() const { return m_master >= 0; }

    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }
    // The path clients should open: the symlink when one was made, else the slave.
    QString devicePath() const { return m_symlink.isEmpty() ? m_slavePath : m_symlink; }

    // Non-blocking read of what is there (empty when nothing or on error).
    QByteArray readAvailable();
    // Non-blocking write; returns the number of bytes taken (0 when the line is full).
    qsizetype write(const QByteArray &bytes);

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_symlink;
};

} // namespace panelsim
