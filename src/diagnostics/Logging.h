// The logging procedures of modGlobals: short texts to the immediate log window, records to the
// session log. They live with the two logs, above core; every layer from the queue up calls them.
#pragma once

#include <QString>
#include <QVariant>

namespace modGlobals {

// Adds the text to the immediate log window of the session (nothing when it has none).
void DebugPrint(const QVariant &text);
// Writes a record to the session log (nothing when no log is open).
void AddLogEntry(const QString &text, const QVariant &data = QVariant());

} // namespace modGlobals
