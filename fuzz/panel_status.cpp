// The panel status answer of the handshake: revision from bytes 3 to 5, status byte 6, then at
// least the checksum.
#include "FuzzSupport.h"

#include "connection/PanelConnection.h"
#include "core/ErrorCodes.h"
#include "core/Errors.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    QString revision;
    std::uint8_t status = 0;
    try {
        PanelConnection::DecodePanelStatus(fuzzsupport::bytes(data, size), revision, status);
    } catch (const QuarvoError &e) {
        FUZZ_CHECK(size < 8);
        FUZZ_CHECK(e.number() == ErrorCode::SendRefused);
        return 0;
    }
    FUZZ_CHECK(size >= 8);
    FUZZ_CHECK(status == data[6]);
    static const QRegularExpression shape(QStringLiteral("^\\d{1,3}\\.\\d{2,6}$"));
    FUZZ_CHECK(shape.match(revision).hasMatch());
    return 0;
}
