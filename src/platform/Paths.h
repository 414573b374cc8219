// Where the component's files go, and how files that carry panel traffic are created.
#pragma once

#include <QString>

class QFile;

namespace Paths {

// Folder of the log files ("Comm.err", the session log, "immediate.log"): QUARVO_LOG_DIR when set,
// else the executable's folder.
QString logDir();
// logDir() joined with `name`.
QString logFile(const QString &name);

// Folder of the machine-wide settings store: QUARVO_SETTINGS_DIR when set, else the system-scope
// INI folder of the platform.
QString settingsDir();
// The INI file of the store inside settingsDir().
QString settingsFile();

// The platform's data folder for the host application; stands in for "C:\Tamsel" off Windows.
QString defaultTamselPath(bool lowerCaseDrive);

// `name` in `folder`, joined with the platform's separator ("\\" on Windows, "/" elsewhere)
// unless the folder already ends with one; the name alone when the folder is empty.
QString inFolder(const QString &folder, const QString &name);

// The transfer file through which received panel data reach the host: "tempdat.000" in `dataFolder`
// (the second "TamselPath" copy).
QString transferFile(const QString &dataFolder);

// Opens `path` for appending, creating it readable and writable by the owner only (mode 0600);
// `truncate` empties an existing file first. Returns false when it cannot be opened.
bool openPrivate(QFile &file, const QString &path, bool truncate);

} // namespace Paths
