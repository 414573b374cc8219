// Shared-memory records as another process may leave them: any bytes as a message record and as a
// list head, read through the accessors; then the block is cut short (to the size bytes 0 and 1
// give) while it is open and read again. Every read is a value or a damaged-record error.
#include "FuzzSupport.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/modGlobals.h"
#include "platform/SharedMemory.h"
#include "queue/clsMessage.h"

#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sys/mman.h>
#include <unistd.h>

namespace {

QString &blockName()
{
    static QString name;
    return name;
}

void removeBlock()
{
    if (!blockName().isEmpty())
        ::shm_unlink(SharedMemory::objectName(blockName()).constData());
}

// Writes `bytes` as the whole block (its size is theirs).
int writeBlock(const QByteArray &bytes)
{
    const int fd = ::shm_open(SharedMemory::objectName(blockName()).constData(), O_RDWR | O_CREAT, 0600);
    if (fd < 0)
        return -1;
    if (::ftruncate(fd, bytes.size()) != 0 || ::pwrite(fd, bytes.constData(), bytes.size(), 0) != bytes.size()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A read is a value, or error 160 for a damaged record: nothing else, and never a fault.
void read(const std::function<void()> &f)
{
    try {
        f();
    } catch (const QuarvoError &e) {
        FUZZ_CHECK(e.number() == ErrorCode::BadRecord);
    }
}

void readAll(clsMessage &msg, clsMessages &head)
{
    read([&] { FUZZ_CHECK(msg.szGUID().size() == msgrecord::GuidLength); });
    read([&] { FUZZ_CHECK(msg.Name().size() <= msgrecord::MaxTextChars); });
    read([&] { (void)msg.Priority(); });
    read([&] { (void)msg.Auto(); });
    read([&] {
        const QVariant data = msg.Data();
        FUZZ_CHECK(!data.isValid() || (data.toByteArray().size() >= 1 && data.toByteArray().size() <= msgrecord::MaxDataBytes));
    });
    read([&] { FUZZ_CHECK(msg.OwnerName().size() <= msgrecord::MaxTextChars); });
    read([&] { (void)msg.OwnerGUID(); });
    read([&] { (void)msg.ClientGUID(); });
    read([&] { (void)msg.HeadGUID(); });
    read([&] { (void)msg.NextMessage(); });
    read([&] { (void)head.FirstMsgGUID(); });
    read([&] { (void)head.FirstMsg(); });
    read([&] { msg.setPriority(7); });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    if (blockName().isEmpty()) {
        modGlobals::GetGUID(blockName());
        std::atexit(removeBlock);
    }
    if (size < 2)
        return 0;
    const int cut = (data[0] | (data[1] << 8)) % (msgrecord::RecordSize + 1);
    QByteArray record = fuzzsupport::bytes(data + 2, size - 2);
    const bool whole = record.size() >= static_cast<qsizetype>(msgrecord::RecordSize);
    record.resize(msgrecord::RecordSize, '\0');
    const int fd = writeBlock(whole ? record : fuzzsupport::bytes(data + 2, size - 2));
    if (fd < 0)
        return 0;
    {
        clsMessage msg;
        clsMessages head;
        msg.Load(blockName());
        head.Load(blockName());
        // A block shorter than a record is never opened.
        FUZZ_CHECK(msg.isLoaded() == whole && head.isLoaded() == whole);
        if (whole) {
            readAll(msg, head);
            // Another process cuts the block short while it is open.
            FUZZ_CHECK(::ftruncate(fd, cut) == 0);
            readAll(msg, head);
        }
    }
    ::close(fd);
    removeBlock();
    return 0;
}
