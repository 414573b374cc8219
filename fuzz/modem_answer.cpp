// Modem text answers: what a modem sends after a command, arriving in pieces. The first byte picks
// the command and its expected and failure texts; the rest arrives in pieces whose sizes the
// following bytes give.
#include "FuzzSupport.h"

#include "transports/clsModem.h"

#include <array>

namespace {

struct Command
{
    const char *cmd;
    const char *expected;
    const char *failure;
};

// The commands the modem transport sends, with what it waits for.
constexpr std::array<Command, 6> kCommands{{
    {"ATZ", "OK", "ERROR"},
    {"AT&F", "0", "4"},
    {"ATDT5551234", "CONNECT", "NO CARRIER"},
    {"ATA", "CONNECT", "NO CARRIER"},
    {"+++", "OK", "ERROR"},
    {"", "RING", "NO CARRIER"},
}};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    if (size < 2)
        return 0;
    const Command &c = kCommands[data[0] % kCommands.size()];
    const QString cmd = QString::fromLatin1(c.cmd);
    const QString expected = QString::fromLatin1(c.expected);
    const QString failure = QString::fromLatin1(c.failure);
    const std::size_t pieceSizes = data[1];
    QString response;
    std::size_t at = 2;
    std::size_t piece = 0;
    while (at < size) {
        const std::size_t n = 1 + ((pieceSizes >> (piece++ % 8)) & 7);
        response += QString::fromLatin1(reinterpret_cast<const char *>(data + at), static_cast<qsizetype>(std::min(n, size - at)));
        at += n;
        const qsizetype before = response.size();
        bool echoRemoved = false;
        const std::int32_t result = clsModem::ReadModemAnswer(response, cmd, expected, failure, echoRemoved);
        FUZZ_CHECK(result >= clsModem::Expected && result <= clsModem::Busy);
        FUZZ_CHECK(echoRemoved == (response.size() != before));
        FUZZ_CHECK(!echoRemoved || before - response.size() == cmd.size());
        if (response.contains(expected))
            FUZZ_CHECK(result == clsModem::Expected);
        if (result != clsModem::NoAnswer)
            break;
    }
    return 0;
}
