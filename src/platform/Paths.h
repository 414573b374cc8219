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

// Makes sure the settings file `file` and its folders exist with the modes a machine-wide store
// needs whatever the umask: folders created here 0755, a new file 0644 (readable by every user,
// writable by its owner only). Existing folders keep their modes; an existing file is narrowed
// to 0644 when others could write it.
void prepareSettingsFile(const QString &file);

// The platform's data folder for the host application; stands in for "C:\Tamsel" off Windows.
QString defaultTamselPath(bool lowerCaseDrive);

// `name` in `folder`, joined with the platform's separator ("\\" on Windows, "/" elsewhere)
// unless the folder already ends with one; the name alone when the folder is empty.
QString inFolder(const QString &folder, const QString &name);

// The transfer file through which received panel data reach the host: "tempdat.000" in `dataFolder`
// (the second "TamselPath" copy).
QString transferFile(const QString &dataFolder);

// Whether `path` can take a file of its own without anything being written through it: nothing is
// there yet, or a regular file. A symbolic link (never followed here), a FIFO, a device or a folder
// is not.
bool plainFileOrMissing(const QString &path);

// Opens `path` for appending, readable and writable by the owner only (mode 0600). A new file is
// created exclusively; `truncate` replaces an existing file by a new one. The path is never
// followed through a symbolic link, and only a plain file with a single name is written: anything
// else at the path is refused and left untouched (`refused` is then set). Returns false when the
// file is not open.
bool openPrivate(QFile &file, const QString &path, bool truncate, bool *refused = nullptr);

} // namespace Paths
