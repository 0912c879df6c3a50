// Encodes arbitrary bytes with a version, level and mask taken from the first byte. Nothing may crash;
// a symbol has the size of its version, the version asked for (or the smallest that holds the data),
// and a picture of size + 8 pixels per side; the encoder object agrees with the symbol function.

#include "qr/qr_code.h"
#include "qr/qr_encoder.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace vorsa::qr;

void require(bool condition)
{
    if (!condition) std::abort();
}

std::uint32_t read32(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

std::string utf8_identity(std::string_view text)
{
    return std::string(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    static constexpr int versions[8] = {0, 0, 0, 1, 5, 10, 27, 40};
    const int mask = data[0] & 7;
    const auto level = static_cast<ErrorLevel>((data[0] >> 3 & 3) + 1);
    const int version = versions[data[0] >> 5];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    const auto symbol = encode_bytes(text, level, version, mask);
    if (symbol) {
        require(symbol->version() >= 1 && symbol->version() <= 40);
        require(version == 0 || symbol->version() == version);
        require(symbol->size() == 4 * symbol->version() + 17);
        require(symbol->level() == level && symbol->mask() == mask);
        require(symbol->matrix().size() == static_cast<std::size_t>(symbol->stride() * symbol->stride()));
        for (const std::uint8_t module : symbol->matrix())
            require(module <= 1);
        if (version == 0 && symbol->version() > 1) {
            require(!encode_bytes(text, level, symbol->version() - 1, mask));
        }
        const auto picture = symbol_picture(*symbol, 0x123456, 0xFEDCBA);
        require(picture.size() > 54 && picture[0] == 'B' && picture[1] == 'M');
        require(read32(picture, 2) == picture.size());
        require(read32(picture, 18) == static_cast<std::uint32_t>(symbol->size() + 8));
        require(read32(picture, 22) == static_cast<std::uint32_t>(symbol->size() + 8));
    } else {
        // Byte mode alone would have fitted this much.
        const int room = version == 0 ? 40 : version;
        const int header_bits = 4 + (room <= 9 ? 8 : 16);
        require(static_cast<int>(text.size()) > (8 * data_codewords(room, level) - header_bits) / 8);
    }

    static QrEncoder encoder(utf8_identity);
    const bool made = encoder.qr_encode(text, 1, version, static_cast<int>(level), mask == 0 ? -1 : mask);
    require(made == symbol.has_value());
    require(encoder.qr_picture().empty() == !made);
    return 0;
}
