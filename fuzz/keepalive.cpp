// The keep-alive answer and its panel event counter (bytes 14 low, 15 high).
#include "FuzzSupport.h"

#include "link/modToolbox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    modToolbox::ResetPanelEventCount();
    FUZZ_CHECK(modToolbox::ProcessKeepAlive(fuzzsupport::bytes(data, size)) == 0);
    return 0;
}
