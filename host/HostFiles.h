// Files of the reference host: data files are replaced atomically and kept private, the logs it
// appends to (events, history) are never rewritten, and what it reads is bounded.
#pragma once

#include <QByteArray>
#include <QString>

class QFile;

namespace hostfiles {

// What a write does with a symbolic link at the name it writes.
enum class Links {
    // Refused: the file is not written (a fixed name in a folder others may reach).
    Refuse,
    // Followed when the link belongs to this user (as an editor follows it), refused when it belongs
    // to another: a link someone else planted never decides where the data go.
    FollowOwn,
};

// Creates `folder` and any missing parent, readable by the owner only (mode 0700) where this creates
// it. True when the folder exists afterwards.
bool ensureFolder(const QString &folder, QString *error);

// The file `path` names after its symbolic links (at most a few levels), as Links::FollowOwn
// follows them: a link owned by another user is refused (false with the reason). A path without a
// link, or whose last link points nowhere yet, is returned as it is (absolute).
bool resolveOwnLinks(const QString &path, QString *resolved, QString *error);

// Reads `path` whole into `bytes` when it is a regular file of at most `maxBytes` bytes. A FIFO, a
// device, a folder or a larger file is refused without reading past the limit, so an input that
// never ends can neither stall the reader nor fill its memory. False with one line naming the
// file otherwise.
bool readBounded(const QString &path, qint64 maxBytes, QByteArray *bytes, QString *error);

// Replaces `path` by a file holding `bytes`, mode 0600, complete on disk before this returns: the
// bytes go to a temporary file in the same folder, which then takes the name in one step, so a
// reader sees the old file or the new one, never a part. The folder is created when missing.
// Anything at the name but a regular file is refused; a symbolic link as `links` says. A failure
// names the file and says what the system said (e.g. no space left on the device).
bool writeAtomically(const QString &path, const QByteArray &bytes, QString *error, Links links = Links::Refuse);

// Writes all of `bytes` to the open descriptor `fd`, going on after a short write. False with the
// system's reason in `why` (e.g. "No space left on device").
bool writeFully(int fd, const QByteArray &bytes, QString *why);

// Opens `path` for appending, mode 0600, created when missing (with its folder); never truncated,
// never followed through a symbolic link.
bool openForAppend(QFile &file, const QString &path, QString *error);

} // namespace hostfiles
