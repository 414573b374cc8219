// The settings-store routines. The machine-wide store is an INI file (see Paths::settingsFile());
// the sub-key "Software\Norvane\<application>\<section>" is the INI group <section> of the file
// Norvane/<application>.ini. All values are texts.
#pragma once

#include <QString>

namespace modRegistry {

enum RootKey { HKEY_LOCAL_MACHINE = 2 };

// The value's text cut at its first NUL; `defaultValue` when the key or value is missing or the
// value is not a text.
QString RegQueryString(RootKey root, QString subKey, QString valueName, QString defaultValue = QString());
// Writes the value as text, creating the sub-key when needed.
void RegWriteString(RootKey root, QString subKey, QString valueName, QString text);

QString GetRegSetting(QString application, QString section, QString key, QString defaultValue = QString());
void SaveRegSetting(QString application, QString section, QString key, QString value);

} // namespace modRegistry
