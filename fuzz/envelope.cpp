// The encrypted envelope: any bytes as an envelope to open, and as plain text that must come back
// whole from its own envelope.
#include "FuzzSupport.h"

#include "link/modEncryption.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    const QByteArray input = fuzzsupport::bytes(data, size);
    const QString key = fuzzsupport::linkKey();

    const QByteArray plain = modEncryption::DecryptData(input, key);
    if (!plain.isEmpty()) {
        FUZZ_CHECK(modEncryption::isEnvelopeLength(input.size()));
        FUZZ_CHECK(plain.size() == static_cast<std::uint8_t>(input.at(16)) * 256 + static_cast<std::uint8_t>(input.at(17)));
        FUZZ_CHECK(plain.size() <= input.size() - modEncryption::HeaderSize);
    }

    const QByteArray envelope = modEncryption::EncryptData(input, key);
    FUZZ_CHECK(modEncryption::isEnvelopeLength(envelope.size()));
    FUZZ_CHECK(modEncryption::DecryptData(envelope, key) == input);
    return 0;
}
