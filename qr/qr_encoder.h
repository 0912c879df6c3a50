#pragma once
// The receipt's QR code encoder: asked for a picture of a text with the caller's version, level, mask
// and colours, it holds that picture until the next request.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorsa::qr {

// qr_encode's input forms, and its values that leave the version and the mask to the encoder.
inline constexpr int input_utf8 = 0;      // the text converted from GBK to UTF-8
inline constexpr int input_gbk_bytes = 1; // the text's own bytes
inline constexpr int smallest_version = 0;
inline constexpr int default_mask = -1;

class QrEncoder
{
public:
    // Conversion of a GBK text to UTF-8, used for input forms with bit 0 clear (the program passes
    // runtime::utf8_from_gbk; the encoder itself stays free of other subsystems).
    using Utf8FromGbk = std::string (*)(std::string_view gbk);

    // Builds the arithmetic and symbol tables once.
    explicit QrEncoder(Utf8FromGbk utf8_from_gbk);

    // Makes the picture of `text` and returns true, or returns false and keeps no picture.
    // input_form: bit 0 set = the text's own GBK bytes, clear = the text converted to UTF-8.
    // version: 0 = the smallest that holds the data, 1..40 = that version; otherwise no picture.
    // level: 1..4 = L, M, Q, H, 0 = M; otherwise no picture.
    // mask: 0..7 = that pattern, -1 = pattern 0; otherwise no picture.
    // dark, light: colours 0x00BBGGRR of dark and light modules.
    // Also false when the data does not fit (the version given, or version 40).
    bool qr_encode(std::string_view text, int input_form, int version = 0, int level = 2, int mask = -1,
                   std::uint32_t dark = 0x000000, std::uint32_t light = 0xFFFFFF);

    // A copy of the picture of the last successful qr_encode: a BMP file image of the symbol with a
    // light border of four modules, one pixel per module. Empty when the last call made none.
    std::vector<std::uint8_t> qr_picture() const { return m_picture; }

private:
    Utf8FromGbk m_utf8_from_gbk;
    std::vector<std::uint8_t> m_picture;
};

} // namespace vorsa::qr
