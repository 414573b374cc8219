// Serial answer frames: a byte stream taken stage by stage as the port code takes it. Byte 0: bit 0
// = remote addressing, bit 1 = a request is awaited (then a length byte and the request frame, and
// the block length the answer must have); the rest is the line.
#include "FuzzSupport.h"

#include "link/modModem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    if (size < 1)
        return 0;
    using Event = modModem::FrameScanner::Event;
    fuzzsupport::Reader in(data, size);
    const std::uint8_t flags = in.u8();
    modModem::FrameScanner scanner((flags & 1) != 0);
    QByteArray request;
    int blockLength = 0;
    if (flags & 2) {
        request = in.chunk();
        blockLength = in.u8();
        scanner.expect(request, blockLength);
    }
    const QByteArray line = in.rest();
    qsizetype at = 0;
    while (at + scanner.need() <= line.size()) {
        const int need = scanner.need();
        FUZZ_CHECK(need >= 1 && need <= 255);
        const Event event = scanner.take(line.mid(at, need));
        at += need;
        if (event == Event::Frame || event == Event::Nak || event == Event::CallbackRequest || event == Event::BadChecksum
            || event == Event::NotTheAnswer) {
            const QByteArray &frame = scanner.frame();
            FUZZ_CHECK(frame.size() >= 3);
            FUZZ_CHECK(static_cast<std::uint8_t>(frame.at(0)) == scanner.address());
            FUZZ_CHECK(static_cast<std::uint8_t>(frame.at(1)) + 2 == frame.size());
            unsigned sum = 0;
            for (const char c : frame)
                sum += static_cast<std::uint8_t>(c);
            FUZZ_CHECK(((sum & 0xFF) == scanner.target()) == (event != Event::BadChecksum));
            FUZZ_CHECK(scanner.need() == 1); // starts over at the address byte
            // Only an awaited request turns a valid frame away, and only one that cannot answer it.
            const bool fits = modModem::FrameScanner::Fits(request, frame, blockLength);
            if (event == Event::NotTheAnswer)
                FUZZ_CHECK(!request.isEmpty() && !fits);
            if (event == Event::Frame)
                FUZZ_CHECK(request.isEmpty() || fits);
            if (fits)
                FUZZ_CHECK(frame.size() >= 4); // a command byte before the checksum
        }
    }
    // A stage is never taken with the wrong number of bytes without saying so.
    if (scanner.need() > 1)
        FUZZ_CHECK(scanner.take(QByteArray(scanner.need() - 1, '\0')) == Event::Malformed);
    return 0;
}
