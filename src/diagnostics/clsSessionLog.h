// The session log: a plain-text file per session with a header and one entry per noteworthy link
// event. Created by the first transport of a session, which opens it; the transport's end closes
// it. The file is created with mode 0600: it carries passcodes in hex.
#pragma once

#include <QFile>
#include <QString>
#include <QVariant>

class clsSessionLog
{
public:
    // Reads "SessionLogEnable" and "SessionLogName" (writing their defaults back).
    clsSessionLog();
    ~clsSessionLog();

    void OpenLog(const QString &name);
    void CloseLog();
    // Data: empty (none), a text, or bytes/a number written as a [hex] dump.
    void LogEntry(const QString &text, const QVariant &data = QVariant());

    bool enabled() const { return m_enabled; }
    QString defaultName() const { return m_defaultName; }
    QString path() const { return m_path; }
    bool isOpen() const { return m_file.isOpen(); }

private:
    void write(const QString &text);

    QFile m_file;
    bool m_enabled = false;
    QString m_defaultName;
    QString m_path;
};
