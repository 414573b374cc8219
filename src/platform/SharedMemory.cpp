#include "platform/SharedMemory.h"

#include <cerrno>
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

std::int32_t SharedMemory::map(int fd, std::size_t size)
{
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return err;
    }
    // A block shorter than the record would fault on access past its end: refuse it.
    if (st.st_size < static_cast<off_t>(size)) {
        ::close(fd);
        return TooSmall;
    }
    void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const int err = errno;
    ::close(fd); // the mapping stays valid without the descriptor
    if (p == MAP_FAILED)
        return err;
    m_data = p;
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
        const std::int32_t rc = map(fd, size);
        if (rc != 0)
            shm_unlink(object.constData());
        return rc == 0 ? Created : rc;
    }
    if (errno != EEXIST)
        return errno;
    fd = shm_open(object.constData(), O_RDWR, 0600);
    if (fd < 0)
        return errno;
    const std::int32_t rc = map(fd, size);
    return rc == 0 ? AlreadyExisted : rc;
}

std::int32_t SharedMemory::open(const QString &name, std::size_t size)
{
    detach();
    const int fd = shm_open(objectName(name).constData(), O_RDWR, 0600);
    if (fd < 0)
        return errno;
    return map(fd, size);
}

void SharedMemory::detach()
{
    if (m_data)
        munmap(m_data, m_size);
    m_data = nullptr;
    m_size = 0;
}

std::int32_t SharedMemory::unlink(const QString &name)
{
    return shm_unlink(objectName(name).constData()) == 0 ? 0 : errno;
}

bool SharedMemory::exists(const QString &name)
{
    const int fd = shm_open(objectName(name).constData(), O_RDONLY, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}
