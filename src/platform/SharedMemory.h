// A named POSIX shared-memory block: shm_open("/" + name), created with mode 0600. The object
// keeps the block open and reads and writes it with pread/pwrite, so every access is a fresh
// access to the shared bytes and another process that cuts the block short (ftruncate) makes an
// access fail instead of raising SIGBUS, as a mapping would. The name stays until someone unlinks it.
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
    // A block of that name exists but is smaller than asked for (a damaged block).
    static constexpr std::int32_t TooSmall = 160;

    SharedMemory() = default;
    ~SharedMemory();
    SharedMemory(const SharedMemory &) = delete;
    SharedMemory &operator=(const SharedMemory &) = delete;

    // Creates the block `name` of `size` bytes (zero-filled), or opens it when it exists. Returns
    // Created, AlreadyExisted, or an errno value / TooSmall (nothing attached then).
    std::int32_t create(const QString &name, std::size_t size);
    // Opens an existing block of at least `size` bytes. Returns 0, or an errno value / TooSmall.
    std::int32_t open(const QString &name, std::size_t size);
    // Closes the block (the name stays).
    void detach();

    bool isAttached() const { return m_fd >= 0; }
    // The size the block was opened with.
    std::size_t size() const { return m_size; }

    // Copies `n` bytes at `offset` into `out`. False when the block no longer holds them (it was
    // cut short since it was opened) or cannot be read; `out` is then zero-filled.
    bool read(std::size_t offset, void *out, std::size_t n) const;
    // Writes `n` bytes at `offset`. False, with nothing written, when the block is shorter than
    // the size it was opened with (a damaged block is never grown back) or cannot be written.
    bool write(std::size_t offset, const void *in, std::size_t n);

    // Removes the name; processes that have the block open keep it. Returns 0 or errno.
    static std::int32_t unlink(const QString &name);
    // True when a block of that name exists.
    static bool exists(const QString &name);
    // The object name used for `name` ("/" + the text in the 8-bit code page).
    static QByteArray objectName(const QString &name);

private:
    std::int32_t attach(int fd, std::size_t size);

    int m_fd = -1;
    std::size_t m_size = 0;
};
