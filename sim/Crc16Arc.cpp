#include "Crc16Arc.h"

#include <array>

namespace panelsim {

namespace {

std::array<quint16, 256> buildTable()
{
    std::array<quint16, 256> table{};
    for (int n = 0; n < 256; ++n) {
        quint16 reg = static_cast<quint16>(n);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? static_cast<quint16>((reg >> 1) ^ 0xA001) : static_cast<quint16>(reg >> 1);
        table[static_cast<size_t>(n)] = reg;
    }
    return table;
}

} // namespace

quint16 crc16Arc(const QByteArray &bytes)
{
    static const std::array<quint16, 256> table = buildTable();
    quint16 crc = 0;
    for (const char c : bytes) {
        const auto index = static_cast<quint8>((crc ^ static_cast<quint8>(c)) & 0xFF);
        crc = static_cast<quint16>((crc >> 8) ^ table[index]);
    }
    return crc;
}

} // namespace panelsim
