// CRC-16/ARC (reflected polynomial 0xA001, initial value 0, no final XOR): the per-item check value
// the panel reports in its answer to "Request CRC".
#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace panelsim {

quint16 crc16Arc(const QByteArray &bytes);

} // namespace panelsim
