#pragma once
// Arithmetic in a binary Galois field GF(2^m), held as logarithm and antilogarithm tables of 16-bit
// entries. The QR code uses GF(256) with the primitive polynomial 285 (x^8 + x^4 + x^3 + x^2 + 1) and
// generator 2; other sizes exist so the tables can be checked against small fields by hand.

#include <cstdint>
#include <vector>

namespace vorsa::qr {

class GaloisField
{
public:
    // `size` is a power of two in [2, 16384]; `polynomial` is primitive of that degree (its bit
    // `size` set) and `generator` generates the multiplicative group. Violations assert.
    GaloisField(int size, int polynomial, int generator);

    int size() const { return m_size; }

    // generator^exponent for any exponent >= 0.
    int exp(int exponent) const { return m_antilog[static_cast<std::size_t>(exponent % (m_size - 1))]; }

    // Logarithm to the generator's base; `value` in [1, size).
    int log(int value) const;

    int multiply(int a, int b) const;

private:
    int m_size;
    std::vector<std::uint16_t> m_log;     // m_log[v] for v in [1, size); m_log[0] unused
    std::vector<std::uint16_t> m_antilog; // 2 * (size - 1) entries, so a sum of two logs needs no reduction
};

} // namespace vorsa::qr
