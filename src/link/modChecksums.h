// CRC-16 of the panel's data items: the synchronisation check compares the CRC the panel reports
// for each item with the CRC of the host's copy. The CRC is CRC-16/ARC (reflected polynomial
// 0xA001, initial value 0, no final XOR); "abc" gives 0x9738.
#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>

namespace modGlobals {

// CRC of every byte of `buffer`, 0..65535. An empty buffer is reported as an error and gives 0.
std::int32_t CalcBufferCRC_Morx(const QByteArray &buffer);

} // namespace modGlobals

namespace modToolbox {

// Number of the last data item the panel reports a CRC for (items 0..18).
constexpr int LastCrcItem = 18;
// Offset of the first item CRC in the panel's CRC answer frame.
constexpr int FirstCrcOffset = 6;

// CRC of the host's bytes of item `itemNo` (SISize x NofSubItems bytes read through the host's
// panel data). 0 when the item cannot be read (reported).
std::int32_t CalcItemCRC(std::int16_t itemNo);

// Compares the item CRCs of the panel's answer frame (bytes 6.., two bytes per item, high byte
// first) with the host's. `changed` gets one flag per item 0..18, true where the two differ;
// `allSame` is true when none differ. An answer too short to hold every CRC is a failed answer:
// the items it does not cover count as changed, `allSame` is false and the result is the error
// number (reported); otherwise the result is 0.
std::int32_t CompareCRC(const QByteArray &panelAnswer, QList<bool> &changed, bool &allSame);

} // namespace modToolbox
