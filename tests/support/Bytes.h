// Byte strings written as lists of numbers, and their byte sum, for frames and answers in tests.
#pragma once

#include <QByteArray>
#include <QRandomGenerator>

#include <initializer_list>

namespace testsupport {

inline QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray out;
    for (int b : list)
        out.append(static_cast<char>(b));
    return out;
}

// The sum of the bytes, modulo 256, as frame checksums count.
inline unsigned byteSum(const QByteArray &data)
{
    unsigned sum = 0;
    for (const char b : data)
        sum += static_cast<unsigned char>(b);
    return sum & 0xFF;
}

// `size` bytes of a fixed pseudo-random pattern: the same seed gives the same bytes.
inline QByteArray pattern(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray out(size, '\0');
    for (char &c : out)
        c = static_cast<char>(random.bounded(256));
    return out;
}

} // namespace testsupport
