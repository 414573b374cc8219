// The byte and text helpers that handle panel bytes and catalog texts. Layout: the helper (byte 0),
// two 16-bit arguments (little-endian), then texts or bytes as length byte + content.
#include "FuzzSupport.h"

#include "core/modGlobals.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    fuzzsupport::Reader input(data, size);
    const int helper = input.u8() % 6;
    const std::int16_t first = input.i16();
    const std::int16_t second = input.i16();
    switch (helper) {
    case 0: {
        const QString text = QString::fromUtf8(input.chunk());
        QByteArray bytes;
        modGlobals::StringToByte(text, bytes);
        FUZZ_CHECK(bytes.size() == text.size());
        break;
    }
    case 1: {
        const QByteArray bytes = input.chunk();
        const QString text = modGlobals::ToString(bytes, first, second);
        FUZZ_CHECK(text.size() <= bytes.size());
        if (first <= 0 && second == -1)
            FUZZ_CHECK(text == QString::fromLatin1(bytes));
        break;
    }
    case 2: {
        const QByteArray bytes = input.chunk();
        const QString text = modGlobals::DebugConvert(QVariant(bytes), first, second);
        FUZZ_CHECK(text.size() % 4 == 0 && text.size() / 4 <= bytes.size());
        if (first < 0 && second < 0)
            FUZZ_CHECK(text.size() == 4 * bytes.size());
        break;
    }
    case 3: {
        const QString text = QString::fromUtf8(input.chunk());
        const QString name = QString::fromUtf8(input.chunk());
        const QString value = QString::fromUtf8(input.chunk());
        const QString result = modGlobals::ReplaceVariable(text, name, value);
        // Each marker of the text gives way to the value once: the length says how many went.
        const qsizetype grow = value.size() - (name.size() + 2);
        FUZZ_CHECK(grow == 0 || (result.size() - text.size()) % grow == 0);
        if (!text.contains(QLatin1Char('%') + name + QLatin1Char('%')))
            FUZZ_CHECK(result == text);
        break;
    }
    case 4: {
        const QByteArray memory = input.chunk();
        const int byteCount = std::min<int>(first, static_cast<int>(memory.size()));
        QString text;
        modGlobals::CopyMemoryToText(text, memory.constData(), byteCount);
        FUZZ_CHECK(text.size() == (byteCount > 0 ? byteCount / 2 : 0));
        break;
    }
    default: {
        const QString text = QString::fromUtf8(input.chunk());
        std::vector<char> memory(static_cast<std::size_t>(second & 0x1FF), '\x5A');
        const int byteCount = std::min<int>(first, static_cast<int>(memory.size()));
        modGlobals::CopyTextToMemory(memory.data(), text, byteCount);
        break;
    }
    }
    return 0;
}
