// Serial answer frames: a byte stream taken stage by stage as the port code takes it. Byte 0 picks
// the addressing mode (bit 0: remote); the rest is the line.
#include "FuzzSupport.h"

#include "link/modModem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    if (size < 1)
        return 0;
    using Event = modModem::FrameScanner::Event;
    modModem::FrameScanner scanner((data[0] & 1) != 0);
    const QByteArray line = fuzzsupport::bytes(data + 1, size - 1);
    qsizetype at = 0;
    while (at + scanner.need() <= line.size()) {
        const int need = scanner.need();
        FUZZ_CHECK(need >= 1 && need <= 255);
        const Event event = scanner.take(line.mid(at, need));
        at += need;
        if (event == Event::Frame || event == Event::Nak || event == Event::CallbackRequest || event == Event::BadChecksum) {
            const QByteArray &frame = scanner.frame();
            FUZZ_CHECK(frame.size() >= 3);
            FUZZ_CHECK(static_cast<std::uint8_t>(frame.at(0)) == scanner.address());
            FUZZ_CHECK(static_cast<std::uint8_t>(frame.at(1)) + 2 == frame.size());
            unsigned sum = 0;
            for (const char c : frame)
                sum += static_cast<std::uint8_t>(c);
            FUZZ_CHECK(((sum & 0xFF) == scanner.target()) == (event != Event::BadChecksum));
            FUZZ_CHECK(scanner.need() == 1); // starts over at the address byte
        }
    }
    // A stage is never taken with the wrong number of bytes without saying so.
    if (scanner.need() > 1)
        FUZZ_CHECK(scanner.take(QByteArray(scanner.need() - 1, '\0')) == Event::Malformed);
    return 0;
}
