#include "platform/SharedMemory.h"

#include "platform/SharedMemoryIndex.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

SharedMemory::~SharedMemory()
{
    detach();
}

QByteArray SharedMemory::objectName(const QString &name)
{
    return QByteArray("/") + name.toLocal8Bit();
}

std::int32_t SharedMemory::attach(int fd, std::size_t size)
{
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return err;
    }
    // A block shorter than the record is damaged: refuse it.
    if (st.st_size < static_cast<off_t>(size)) {
        ::close(fd);
        return TooSmall;
    }
    m_fd = fd;
    m_size = size;
    return 0;
}

std::int32_t SharedMemory::create(const QString &name, std::size_t size)
{
    detach();
    const QByteArray object = objectName(name);
    int fd = shm_open(object.constData(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) {
        if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
            const int err = errno;
            ::close(fd);
            shm_unlink(object.constData());
            return err;
        }
        const std::int32_t rc = attach(fd, size);
        if (rc != 0) {
            shm_unlink(object.constData());
            return rc;
        }
        // Noted as this process's, so that a later start can remove it should the process die
        // without unlinking it.
        SharedMemoryIndex::noteCreated(name);
        return Created;
    }
    if (errno != EEXIST)
        return errno;
    fd = shm_open(object.constData(), O_RDWR, 0600);
    if (fd < 0)
        return errno;
    const std::int32_t rc = attach(fd, size);
    return rc == 0 ? AlreadyExisted : rc;
}

std::int32_t SharedMemory::open(const QString &name, std::size_t size)
{
    detach();
    const int fd = shm_open(objectName(name).constData(), O_RDWR, 0600);
    if (fd < 0)
        return errno;
    return attach(fd, size);
}

void SharedMemory::detach()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_size = 0;
}

bool SharedMemory::read(std::size_t offset, void *out, std::size_t n) const
{
    auto *p = static_cast<char *>(out);
    std::size_t done = 0;
    if (m_fd >= 0 && offset + n <= m_size) {
        while (done < n) {
            const ssize_t got = ::pread(m_fd, p + done, n - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break; // end of a block that was cut short, or a read error
            done += static_cast<std::size_t>(got);
        }
    }
    if (done == n)
        return true;
    std::memset(out, 0, n);
    return false;
}

bool SharedMemory::write(std::size_t offset, const void *in, std::size_t n)
{
    if (m_fd < 0 || offset + n > m_size)
        return false;
    struct stat st {};
    if (fstat(m_fd, &st) != 0 || st.st_size < static_cast<off_t>(m_size))
        return false;
    const auto *p = static_cast<const char *>(in);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t put = ::pwrite(m_fd, p + done, n - done, static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

std::int32_t SharedMemory::unlink(const QString &name)
{
    const std::int32_t rc = shm_unlink(objectName(name).constData()) == 0 ? 0 : errno;
    SharedMemoryIndex::noteRemoved(name);
    return rc;
}

bool SharedMemory::exists(const QString &name)
{
    const int fd = shm_open(objectName(name).constData(), O_RDONLY, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}
