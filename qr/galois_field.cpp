#include "qr/galois_field.h"

#include <cassert>

namespace vorsa::qr {

GaloisField::GaloisField(int size, int polynomial, int generator)
    : m_size(size), m_log(static_cast<std::size_t>(size)), m_antilog(2 * static_cast<std::size_t>(size - 1))
{
    assert(size >= 2 && size <= 16384 && (size & (size - 1)) == 0);
    assert(polynomial >= size && polynomial < 2 * size);
    assert(generator >= 1 && generator < size);

    // Powers of the generator by carry-less multiplication reduced modulo the polynomial.
    int value = 1;
    for (int i = 0; i < size - 1; ++i) {
        assert(i == 0 || value != 1); // the generator's order must be size - 1
        m_antilog[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(value);
        m_antilog[static_cast<std::size_t>(i + size - 1)] = static_cast<std::uint16_t>(value);
        m_log[static_cast<std::size_t>(value)] = static_cast<std::uint16_t>(i);
        int product = 0;
        for (int bit = 0, g = generator; g != 0; ++bit, g >>= 1) {
            if (g & 1) product ^= value << bit;
        }
        // The carry-less product has degree below 2m - 1; reduce its terms of degree m and up, top down.
        for (int bit = size * (size / 2); bit >= size; bit >>= 1) {
            if (product & bit) product ^= polynomial * (bit / size);
        }
        value = product;
    }
    assert(value == 1);
}

int GaloisField::log(int value) const
{
    assert(value >= 1 && value < m_size);
    return m_log[static_cast<std::size_t>(value)];
}

int GaloisField::multiply(int a, int b) const
{
    assert(a >= 0 && a < m_size && b >= 0 && b < m_size);
    if (a == 0 || b == 0) return 0;
    return m_antilog[static_cast<std::size_t>(m_log[static_cast<std::size_t>(a)]) +
                     m_log[static_cast<std::size_t>(b)]];
}

} // namespace vorsa::qr
