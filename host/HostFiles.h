// Files of the reference host: data files are replaced atomically and kept private, and the
// logs it appends to (events, history) are never rewritten.
#pragma once

#include <QByteArray>
#include <QString>

class QFile;

namespace hostfiles {

// Creates `folder` and any missing parent, readable by the owner only (mode 0700) where this creates
// it. True when the folder exists afterwards.
bool ensureFolder(const QString &folder, QString *error);

// Replaces `path` by a file holding `bytes`, mode 0600, complete on disk before this returns: the
// bytes go to a temporary file in the same folder, which then takes the name in one step, so a
// reader sees the old file or the new one, never a part. The folder is created when missing.
bool writeAtomically(const QString &path, const QByteArray &bytes, QString *error);

// Opens `path` for appending, mode 0600, created when missing (with its folder); never truncated,
// never followed through a symbolic link.
bool openForAppend(QFile &file, const QString &path, QString *error);

} // namespace hostfiles
