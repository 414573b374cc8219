// The panel's CRC answer compared with the host's data (one CRC per item from byte 6 on).
#include "FuzzSupport.h"

#include "link/modChecksums.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    QList<bool> changed;
    bool allSame = false;
    const std::int32_t rc = modToolbox::CompareCRC(fuzzsupport::bytes(data, size), changed, allSame);
    FUZZ_CHECK(changed.size() == modToolbox::LastCrcItem + 1);
    FUZZ_CHECK(allSame == !changed.contains(true));
    // An answer too short to hold every CRC is a failed answer, never "all the same".
    const bool whole = size >= static_cast<std::size_t>(modToolbox::FirstCrcOffset + 2 * (modToolbox::LastCrcItem + 1));
    FUZZ_CHECK(whole == (rc == 0));
    FUZZ_CHECK(whole || !allSame);
    return 0;
}
