// A named POSIX shared-memory block: shm_open("/" + name) + mmap, created with mode 0600. The
// object maps one block and unmaps it when it ends; the name itself stays until someone unlinks it.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

class SharedMemory
{
public:
    // Results of create(): a new block, or one that existed already.
    static constexpr std::int32_t Created = 0;
    static constexpr std::int32_t AlreadyExisted = 183;
    // A block of that name exists but is smaller than asked for (it cannot be mapped safely).
    static constexpr std::int32_t TooSmall = 160;

    SharedMemory() = default;
    ~SharedMemory();
    SharedMemory(const SharedMemory &) = delete;
    SharedMemory &operator=(const SharedMemory &) = delete;

    // Creates the block `name` of `size` bytes (zero-filled), or opens it when it exists, and maps
    // it read/write. Returns Created, AlreadyExisted, or an errno value (nothing mapped then).
    std::int32_t create(const QString &name, std::size_t size);
    // Opens an existing block and maps `size` bytes of it. Returns 0, or an errno value / TooSmall.
    std::int32_t open(const QString &name, std::size_t size);
    // Unmaps the block (the name stays).
    void detach();

    bool isAttached() const { return m_data != nullptr; }
    void *data() const { return m_data; }
    std::size_t size() const { return m_size; }

    // Removes the name; processes that have it mapped keep their mapping. Returns 0 or errno.
    static std::int32_t unlink(const QString &name);
    // True when a block of that name exists.
    static bool exists(const QString &name);
    // The object name used for `name` ("/" + the text in the 8-bit code page).
    static QByteArray objectName(const QString &name);

private:
    std::int32_t map(int fd, std::size_t size);

    void *m_data = nullptr;
    std::size_t m_size = 0;
};
