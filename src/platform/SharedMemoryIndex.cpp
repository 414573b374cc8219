#include "platform/SharedMemoryIndex.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QSet>

#include <cerrno>
#include <csignal>
#include <mutex>

#ifdef Q_OS_LINUX
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace SharedMemoryIndex {

namespace {

constexpr char kFolder[] = "/dev/shm";
constexpr char kPrefix[] = "quarvo-segments.";
// An index grows by one line per change; past this many lines beyond twice the live count it is
// rewritten with the live names only.
constexpr int kSlack = 256;
// Longest index file that is read back (a larger one is not one of ours).
constexpr qint64 kMaxIndexBytes = 16 * 1024 * 1024;

// Only names of the record form ("{" + 36 characters + "}") are ever removed through an index.
bool recordName(const QByteArray &name)
{
    if (name.size() != 38 || name.front() != '{' || name.back() != '}')
        return false;
    for (const char c : name)
        if (c == '/' || c == '\0')
            return false;
    return true;
}

#ifdef Q_OS_LINUX

QByteArray folderPath(const QByteArray &file)
{
    return QByteArray(kFolder) + '/' + file;
}

// Start time of process `pid` in clock ticks since boot (field 22 of /proc/<pid>/stat); empty when
// it cannot be read.
QByteArray startTime(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.read(4096);
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return {};
    const QList<QByteArray> fields = text.mid(close + 1).simplified().split(' ');
    // The fields after the command name start with field 3 (state).
    return fields.size() > 19 ? fields.at(19) : QByteArray();
}

// True when the index's owner still runs: the pid exists and, when both are known, it started at
// the recorded time. A process of another user counts as running.
bool ownerRuns(pid_t pid, const QByteArray &recordedStart)
{
    if (pid <= 0)
        return true; // not a process we can judge: leave it alone
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return false;
    const QByteArray now = startTime(pid);
    return now.isEmpty() || recordedStart.isEmpty() || now == recordedStart;
}

// Writes all of `bytes`; false on a failure.
bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Reads an index file that belongs to this user: a regular file, not a link, owner only.
bool readIndex(const QByteArray &path, QByteArray &content)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0
              && st.st_size <= kMaxIndexBytes;
    if (ok) {
        content.resize(static_cast<qsizetype>(st.st_size));
        qsizetype done = 0;
        while (done < content.size()) {
            const ssize_t n = ::read(fd, content.data() + done, static_cast<size_t>(content.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        content.truncate(done);
    }
    ::close(fd);
    return ok;
}

struct Parsed
{
    pid_t pid = 0;
    QByteArray start;
    QList<QByteArray> names; // still listed, in order of creation
    bool valid = false;
};

Parsed parse(const QByteArray &content)
{
    Parsed parsed;
    const QList<QByteArray> lines = content.split('\n');
    if (lines.isEmpty())
        return parsed;
    const QList<QByteArray> header = lines.first().split(' ');
    if (header.size() != 3 || header.at(0) != "quarvo-segments")
        return parsed;
    bool ok = false;
    parsed.pid = static_cast<pid_t>(header.at(1).toLong(&ok));
    if (!ok)
        return parsed;
    parsed.start = header.at(2);
    QSet<QByteArray> live;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (line.size() < 2)
            continue;
        const QByteArray name = line.mid(1);
        if (line.at(0) == '+' && !live.contains(name)) {
            live.insert(name);
            parsed.names.append(name);
        } else if (line.at(0) == '-') {
            live.remove(name);
        }
    }
    parsed.names.removeIf([&](const QByteArray &n) { return !live.contains(n); });
    parsed.valid = true;
    return parsed;
}

// Removes the block `name` when it is one of this user's.
bool removeBlock(const QByteArray &name)
{
    if (!recordName(name))
        return false;
    struct stat st {};
    if (::lstat(folderPath(name).constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    return ::shm_unlink((QByteArray("/") + name).constData()) == 0;
}

// This process's index: the live names and the open file.
class OwnIndex
{
public:
    void created(const QByteArray &name)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pid != ::getpid()) {
            // A forked child owns none of its parent's blocks.
            if (m_fd >= 0)
                ::close(m_fd);
            m_fd = -1;
            m_live.clear();
            m_pid = ::getpid();
            m_start = startTime(m_pid);
        }
        if (m_live.contains(name))
            return;
        m_live.insert(name);
        if (m_fd < 0)
            open(); // lists every live name, this one included
        else
            append('+', name);
    }

    void removed(const QByteArray &name)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pid != ::getpid() || !m_live.remove(name))
            return;
        if (m_live.isEmpty()) {
            // Nothing owned any more: the index goes with the last block.
            closeAndRemove();
            return;
        }
        if (m_fd < 0)
            return;
        append('-', name);
        if (m_lines > 2 * m_live.size() + kSlack)
            rewrite();
    }

private:
    QByteArray path() const { return folderPath(QByteArray(kPrefix) + QByteArray::number(m_pid)); }

    // The first line and a "+" line per live name.
    QByteArray snapshot() const
    {
        QByteArray content = QByteArray("quarvo-segments ") + QByteArray::number(m_pid) + ' ' + m_start + '\n';
        for (const QByteArray &name : m_live)
            content += '+' + name + '\n';
        return content;
    }

    static int createExclusive(const QByteArray &file)
    {
        return ::open(file.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }

    // Creates the index exclusively (owner only). An index of the same name left by a dead
    // process that had this pid before is cleaned up first; a file that is not ours to replace
    // leaves this process unindexed.
    void open()
    {
        const QByteArray file = path();
        int fd = createExclusive(file);
        if (fd < 0 && errno == EEXIST) {
            QByteArray content;
            if (!readIndex(file, content))
                return;
            const Parsed old = parse(content);
            if (old.valid && !m_start.isEmpty() && old.start == m_start)
                return; // our own, which cannot be: leave it
            for (const QByteArray &name : old.names) {
                if (!m_live.contains(name))
                    removeBlock(name);
            }
            ::unlink(file.constData());
            fd = createExclusive(file);
        }
        if (fd < 0)
            return;
        ::fchmod(fd, 0600);
        m_fd = fd;
        const QByteArray content = snapshot();
        m_lines = static_cast<int>(m_live.size()) + 1;
        if (!writeAll(m_fd, content))
            closeAndRemove();
    }

    void append(char kind, const QByteArray &name)
    {
        if (!writeAll(m_fd, kind + name + '\n')) {
            closeAndRemove();
            return;
        }
        ++m_lines;
    }

    // Rewrites the index with the live names only; the new file replaces the old one at once.
    void rewrite()
    {
        const QByteArray file = path();
        const QByteArray next = file + ".new";
        ::unlink(next.constData());
        const int fd = createExclusive(next);
        if (fd < 0)
            return;
        if (!writeAll(fd, snapshot()) || ::rename(next.constData(), file.constData()) != 0) {
            ::close(fd);
            ::unlink(next.constData());
            return;
        }
        ::close(m_fd);
        m_fd = fd;
        m_lines = static_cast<int>(m_live.size()) + 1;
    }

    void closeAndRemove()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
            ::unlink(path().constData());
        }
        m_fd = -1;
        m_lines = 0;
    }

    std::mutex m_mutex;
    QSet<QByteArray> m_live;
    QByteArray m_start;
    pid_t m_pid = 0;
    int m_fd = -1;
    int m_lines = 0;
};

OwnIndex &ownIndex()
{
    // Never destroyed: blocks may still be unlinked by handlers that run at exit.
    static OwnIndex *index = new OwnIndex;
    return *index;
}

#endif // Q_OS_LINUX

} // namespace

void noteCreated(const QString &name)
{
#ifdef Q_OS_LINUX
    const QByteArray bytes = name.toLocal8Bit();
    if (recordName(bytes))
        ownIndex().created(bytes);
#else
    Q_UNUSED(name);
#endif
}

void noteRemoved(const QString &name)
{
#ifdef Q_OS_LINUX
    ownIndex().removed(name.toLocal8Bit());
#else
    Q_UNUSED(name);
#endif
}

QString ownIndexPath()
{
#ifdef Q_OS_LINUX
    return QString::fromLocal8Bit(folderPath(QByteArray(kPrefix) + QByteArray::number(::getpid())));
#else
    return QString();
#endif
}

int removeOrphans()
{
    int removed = 0;
#ifdef Q_OS_LINUX
    DIR *dir = ::opendir(kFolder);
    if (!dir)
        return 0;
    QList<QByteArray> files;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith(kPrefix))
            files.append(name);
    }
    ::closedir(dir);

    const QByteArray ownStart = startTime(::getpid());
    for (const QByteArray &file : std::as_const(files)) {
        QByteArray rest = file.mid(static_cast<qsizetype>(sizeof(kPrefix) - 1));
        const bool leftover = rest.endsWith(".new");
        if (leftover)
            rest.chop(4);
        bool ok = false;
        const pid_t pid = static_cast<pid_t>(rest.toLong(&ok));
        if (!ok || pid <= 0)
            continue;
        const QByteArray path = folderPath(file);
        QByteArray content;
        if (!readIndex(path, content))
            continue; // another user's file, or not a plain file: left alone
        const Parsed parsed = parse(content);
        if (!parsed.valid || parsed.pid != pid)
            continue; // being written, or not an index: left alone
        if (pid == ::getpid() && parsed.start == ownStart)
            continue; // this process's own index
        if (pid != ::getpid() && ownerRuns(pid, parsed.start))
            continue;
        // The owner is gone. A rewrite it left half done holds a subset of its index: only the
        // file goes.
        if (!leftover) {
            for (const QByteArray &name : parsed.names)
                removed += removeBlock(name) ? 1 : 0;
        }
        ::unlink(path.constData());
    }
#endif
    return removed;
}

} // namespace SharedMemoryIndex
