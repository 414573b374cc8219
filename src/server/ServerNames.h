// The names under which the component is reached on the D-Bus session bus, and the names of the
// objects a client exports for it.
#pragma once

#include <QString>

namespace quarvobus {

// The server: its well-known bus name, its one object and that object's interface (the host-facing
// operations, in their order).
inline const QString kServiceName = QStringLiteral("com.norvane.Quarvo");
inline const QString kObjectPath = QStringLiteral("/com/norvane/Quarvo");
inline const QString kInterface = QStringLiteral("com.norvane.Quarvo.ZelComm");

// What a client exports on its own connection and hands over by object path.
inline const QString kCallbackInterface = QStringLiteral("com.norvane.Quarvo.Host.Callback");
inline const QString kSettingsInterface = QStringLiteral("com.norvane.Quarvo.Host.Settings");
inline const QString kPifInterface = QStringLiteral("com.norvane.Quarvo.Host.Pif");

// The path that stands for "no object" (a Get of an object never set, a Set that clears it).
inline const QString kNoObject = QStringLiteral("/");

// D-Bus errors of the binding itself. Failures of an operation are never D-Bus errors: they are
// the operation's 32-bit result, as in process.
inline const QString kErrorBusy = QStringLiteral("com.norvane.Quarvo.Error.Busy");
inline const QString kErrorOperationRunning = QStringLiteral("com.norvane.Quarvo.Error.OperationRunning");
inline const QString kErrorEnding = QStringLiteral("com.norvane.Quarvo.Error.Ending");

} // namespace quarvobus
