#include "qr/qr_encoder.h"

#include "qr/qr_code.h"
#include "qr/qr_tables.h"

#include <cassert>

namespace vorsa::qr {

QrEncoder::QrEncoder(Utf8FromGbk utf8_from_gbk) : m_utf8_from_gbk(utf8_from_gbk)
{
    assert(utf8_from_gbk != nullptr);
    tables();
}

bool QrEncoder::qr_encode(std::string_view text, int input_form, int version, int level, int mask,
                          std::uint32_t dark, std::uint32_t light)
{
    m_picture.clear();
    if (version < 0 || version > max_version) return false;
    if (level < 0 || level > 4) return false;
    if (mask < -1 || mask > 7) return false;

    const auto error_level = static_cast<ErrorLevel>(level == 0 ? 2 : level);
    std::optional<QrSymbol> symbol;
    if (input_form & 1) {
        symbol = encode_bytes(text, error_level, version, mask == -1 ? 0 : mask);
    } else {
        symbol = encode_bytes(m_utf8_from_gbk(text), error_level, version, mask == -1 ? 0 : mask);
    }
    if (!symbol) return false;
    m_picture = symbol_picture(*symbol, dark & 0xFFFFFF, light & 0xFFFFFF);
    return true;
}

} // namespace vorsa::qr
