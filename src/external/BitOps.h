// Bit operations on 32-bit values, as the protocol code uses them.
#pragma once

#include <cstdint>

namespace BitOps {

constexpr std::int32_t ShiftLeft(std::int32_t value, int bits)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << bits);
}
constexpr std::int32_t ShiftRight(std::int32_t value, int bits)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) >> bits);
}
constexpr std::int32_t And(std::int32_t a, std::int32_t b) { return a & b; }
constexpr std::int32_t Or(std::int32_t a, std::int32_t b) { return a | b; }
constexpr std::int32_t Xor(std::int32_t a, std::int32_t b) { return a ^ b; }

} // namespace BitOps
