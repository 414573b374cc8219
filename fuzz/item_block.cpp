// An item-block answer stored into the host's data. Byte 0 picks the block of the item map; the
// rest is the answer frame.
#include "FuzzSupport.h"

#include "core/HostObjects.h"
#include "core/SessionState.h"
#include "link/modToolbox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    if (size < 1)
        return 0;
    QVector<std::int16_t> itemOf, startOf, blockLen, blockCount;
    modToolbox::GetItemMap(itemOf, startOf, blockLen, blockCount);
    const int block = data[0] % modToolbox::BlockCount;
    const std::int16_t item = itemOf.at(block);
    const std::int16_t start = startOf.at(block);
    const QByteArray answer = fuzzsupport::bytes(data + 1, size - 1);

    const std::shared_ptr<HostPif> pif = sessionState().hostPif;
    QByteArray before(blockLen.at(block) + 1, '\0'); // one byte past the block: never written
    pif->read(before, pif->locate(item, start));
    const std::int32_t rc = modToolbox::InsertResponse(answer, item, start);
    QByteArray after(before.size(), '\0');
    pif->read(after, pif->locate(item, start));
    if (rc != 0) {
        FUZZ_CHECK(after == before); // a refused answer stores nothing
        return 0;
    }
    FUZZ_CHECK(answer.size() == blockLen.at(block) + 4);
    FUZZ_CHECK(after.left(blockLen.at(block)) == answer.mid(3, blockLen.at(block)));
    FUZZ_CHECK(after.at(blockLen.at(block)) == before.at(blockLen.at(block)));
    pif->write(before.left(blockLen.at(block)), pif->locate(item, start)); // the next input starts alike
    return 0;
}
