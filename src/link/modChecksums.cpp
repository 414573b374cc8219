#include "link/modChecksums.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"

#include <array>
#include <limits>

namespace {

// Entry n is the CRC-16/ARC register after shifting the single byte n through eight steps.
constexpr std::array<std::uint16_t, 256> makeCrcTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned n = 0; n < 256; ++n) {
        std::uint16_t crc = static_cast<std::uint16_t>(n);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
        table[n] = crc;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = makeCrcTable();
static_assert(kCrcTable[1] == 0xC0C1 && kCrcTable[2] == 0xC181 && kCrcTable[3] == 0x0140 && kCrcTable[4] == 0xC301);

} // namespace

namespace modGlobals {

std::int32_t CalcBufferCRC_Morx(const QByteArray &buffer)
{
    const auto body = [&]() -> std::int32_t {
        if (buffer.isEmpty())
            raiseError(ErrorCode::SubscriptOutOfRange, QStringLiteral("empty buffer"));
        std::uint16_t crc = 0;
        for (const char c : buffer) {
            const auto index = static_cast<std::uint8_t>(crc ^ static_cast<std::uint8_t>(c));
            crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[index]);
        }
        return crc;
    };
    return errors::guardedValue(QStringLiteral("modGlobals"), QStringLiteral("CalcBufferCRC_Morx()"), std::int32_t(0),
                                body);
}

} // namespace modGlobals

namespace modToolbox {

namespace {
const QString kModule = QStringLiteral("modToolbox");
}

std::int32_t CalcItemCRC(std::int16_t itemNo)
{
    return errors::guardedValue(kModule, QStringLiteral("CalcItemCRC()"), std::int32_t(0), [&]() -> std::int32_t {
        const std::shared_ptr<HostPif> pif = sessionState().hostPif;
        if (!pif)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no panel data"));
        const std::shared_ptr<HostPifItem> item = pif->Item(QString::number(itemNo));
        if (!item)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no such item"));
        // The host's sizes are 16-bit values and so is their product.
        const int size = int(item->SISize()) * int(item->NofSubItems());
        if (size > std::numeric_limits<std::int16_t>::max() || size < std::numeric_limits<std::int16_t>::min())
            raiseError(ErrorCode::Overflow, QStringLiteral("item size"));
        if (size <= 0)
            raiseError(ErrorCode::SubscriptOutOfRange, QStringLiteral("item has no bytes"));
        const qint32 location = pif->locate(itemNo, 0);
        QByteArray buffer(size, '\0');
        pif->read(buffer, location);
        // The host fills the buffer it is given; one that changed its size is not trusted.
        if (buffer.size() != size)
            raiseError(ErrorCode::SubscriptOutOfRange, QStringLiteral("item read returned a different size"));
        return modGlobals::CalcBufferCRC_Morx(buffer);
    });
}

std::int32_t CompareCRC(const QByteArray &panelAnswer, QList<bool> &changed, bool &allSame)
{
    changed = QList<bool>(LastCrcItem + 1, false);
    allSame = true;
    return errors::guarded(kModule, QStringLiteral("CompareCRC()"), [&] {
        qsizetype position = FirstCrcOffset;
        for (int item = 0; item <= LastCrcItem; ++item, position += 2) {
            if (position + 1 >= panelAnswer.size()) {
                // The answer ends before this item's CRC: nothing can be said to match.
                allSame = false;
                for (int rest = item; rest <= LastCrcItem; ++rest)
                    changed[rest] = true;
                raiseError(ErrorCode::SubscriptOutOfRange, QStringLiteral("CRC answer too short"));
            }
            const std::int32_t panelCrc = static_cast<std::uint8_t>(panelAnswer.at(position)) * 256 +
                                          static_cast<std::uint8_t>(panelAnswer.at(position + 1));
            const std::int32_t hostCrc = CalcItemCRC(static_cast<std::int16_t>(item));
            if (panelCrc != hostCrc) {
                modGlobals::DebugPrint(QStringLiteral("Item %1 different: %2   %3").arg(item).arg(panelCrc).arg(hostCrc));
                allSame = false;
                changed[item] = true;
            }
        }
    });
}

} // namespace modToolbox
