// What a transport tells the operator in a message box of its own (the modem's "no ring" when a
// call-back does not come). The windows' side puts the entry in when the session can show windows;
// without one nothing is shown, and the transport goes on as after the operator's OK.
#pragma once

#include <QString>

#include <functional>

struct TransportNotices
{
    // An information box with an OK button; returns once the operator has closed it.
    std::function<void(const QString &title, const QString &text)> information;
};

// The entries in use (empty until installed).
TransportNotices &transportNotices();
