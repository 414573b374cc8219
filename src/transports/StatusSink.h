// Where a transport reports its progress while a connection is being made: the connection dialog
// implements this and shows each line in its status pad. Transports accept a null sink everywhere
// (unattended sessions and shared utilities pass none).
#pragma once

#include <QString>

class StatusSink
{
public:
    virtual ~StatusSink() = default;
    // Adds one status line.
    virtual void AddStatus(const QString &text) = 0;
};
