#pragma once
// QR code symbols (ISO/IEC 18004), model 2, versions 1 to 40.
//
// High level: encode_bytes() turns a byte string into a symbol, choosing the segment modes that give
// the shortest bit stream and, unless told, the smallest version that holds it.
// Middle level: make_data_codewords() stops at the data codewords.
// Low level: QrSymbol::from_data_codewords() builds a symbol from finished data codewords.
// Drawing: symbol_picture() renders a symbol as a BMP file image. A symbol is an immutable value.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vorsa::qr {

// Error-correction levels, numbered as the receipt's callers number them; every per-level table is
// indexed in this order.
enum class ErrorLevel
{
    low = 1,
    medium = 2,
    quartile = 3,
    high = 4
};

class QrSymbol
{
public:
    // The symbol of `version` (1..40) whose data codewords are `data` (exactly as many as the version
    // holds at `level`), with error correction added and mask pattern `mask` (0..7) applied.
    static QrSymbol from_data_codewords(int version, ErrorLevel level, std::span<const std::uint8_t> data,
                                        int mask);

    int version() const { return m_version; } // 1..40
    ErrorLevel level() const { return m_level; }
    int mask() const { return m_mask; } // 0..7, the pattern written into the format information
    int size() const { return m_size; } // modules per side, 4 * version + 17, in [21, 177]

    // True for a dark module; x is the column and y the row, both in [0, size).
    bool module(int x, int y) const;

    // The module matrix as the picture's module layer: (size + 3) rows of (size + 3) bytes, rows top
    // down, 0 = light and 1 = dark. The symbol fills the first size rows and columns; the three extra
    // rows and columns are light.
    int stride() const { return m_size + 3; }
    std::span<const std::uint8_t> matrix() const { return m_matrix; }

private:
    QrSymbol(int version, ErrorLevel level, int mask);

    int m_version;
    ErrorLevel m_level;
    int m_mask;
    int m_size;
    std::vector<std::uint8_t> m_matrix;
};

// Number of data codewords (8-bit) a symbol of `version` (1..40) holds at `level`.
int data_codewords(int version, ErrorLevel level);

// The most data codewords a symbol holds (version 40, level L).
inline constexpr int max_data_codewords = 2956;

// The data codewords of `data` for `level`: the segments of the shortest bit stream, terminator, bit
// padding and pad codewords. `version` 0 picks the smallest version that holds them, 1..40 uses that
// version; empty when the data does not fit.
struct DataCodewords
{
    int version = 0;
    std::vector<std::uint8_t> codewords;
};
std::optional<DataCodewords> make_data_codewords(std::string_view data, ErrorLevel level, int version = 0);

// The symbol of `data` at `level` with mask pattern `mask` (0..7). `version` 0 picks the smallest
// version that holds the data; 1..40 uses that version. Empty when the data does not fit (in the given
// version, or in version 40). Arguments outside these ranges are a contract violation.
std::optional<QrSymbol> encode_bytes(std::string_view data, ErrorLevel level, int version = 0, int mask = 0);

// A BMP file image of the symbol: 24 bits per pixel, one pixel per module, the symbol placed at (4, 4)
// on a light square of size + 8 pixels per side. Colours are 0x00BBGGRR.
std::vector<std::uint8_t> symbol_picture(const QrSymbol& symbol, std::uint32_t dark, std::uint32_t light);

} // namespace vorsa::qr
