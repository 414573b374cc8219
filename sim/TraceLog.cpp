#include "TraceLog.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace panelsim {

QByteArray TraceEntry::toJson() const
{
    QJsonObject o;
    o.insert(QStringLiteral("time"), time.toString(Qt::ISODateWithMs));
    o.insert(QStringLiteral("ms"), elapsedMs);
    o.insert(QStringLiteral("dir"), direction);
    o.insert(QStringLiteral("link"), link);
    o.insert(QStringLiteral("hex"), QString::fromLatin1(bytes.toHex(' ')).toUpper());
    o.insert(QStringLiteral("decoded"), decoded);
    if (!note.isEmpty())
        o.insert(QStringLiteral("note"), note);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool TraceLog::open(const QString &filePath, bool toStdout, QString *error)
{
    close();
    m_start = std::chrono::steady_clock::now();
    m_stdout = toStdout;
    if (filePath.isEmpty())
        return true;
    // Panel traffic is private: the file is created readable by its owner only.
    const int fd = ::open(filePath.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0 || !(m_file = ::fdopen(fd, "a"))) {
        if (fd >= 0)
            ::close(fd);
        if (error)
            *error = QStringLiteral("cannot open trace file %1").arg(filePath);
        return false;
    }
    return true;
}

void TraceLog::close()
{
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    m_stdout = false;
}

void TraceLog::add(const QString &direction, const QString &link, const QByteArray &bytes, const QString &decoded,
                   const QString &note)
{
    TraceEntry e;
    e.time = QDateTime::currentDateTime();
    e.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start).count();
    e.direction = direction;
    e.link = link;
    e.bytes = bytes;
    e.decoded = decoded;
    e.note = note;
    const QByteArray line = e.toJson() + '\n';
    if (m_file) {
        std::fwrite(line.constData(), 1, size_t(line.size()), m_file);
        std::fflush(m_file);
    }
    if (m_stdout) {
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fflush(stdout);
    }
    if (m_entries.size() >= MemoryLimit)
        m_entries.removeFirst();
    m_entries.append(e);
}

} // namespace panelsim
