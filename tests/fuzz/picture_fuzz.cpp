// picture_from_bytes on arbitrary bytes (the BMP reader; no other decoder is installed here): it never
// reads outside the input, and whatever it decodes survives a round trip through bitmap_to_bmp.
#include "runtime/surface/picture.h"

#include <cstddef>
#include <cstdint>

using namespace vorsa::runtime;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Bytes bytes(data, data + size);
    const auto bitmap = picture_from_bytes(bytes);
    if (!bitmap) {
        if (fit_picture(bytes, 3, 2) != bitmap_to_bmp(Bitmap())) __builtin_trap();
        return 0;
    }
    if (bitmap->empty() || bitmap->pixels.size() != static_cast<std::size_t>(bitmap->width) *
                                                        static_cast<std::size_t>(bitmap->height))
        __builtin_trap();

    const auto again = picture_from_bytes(bitmap_to_bmp(*bitmap));
    if (!again || again->width != bitmap->width || again->height != bitmap->height) __builtin_trap();
    for (std::size_t i = 0; i < bitmap->pixels.size(); ++i)
        if ((again->pixels[i] & 0xFFFFFF) != (bitmap->pixels[i] & 0xFFFFFF) || again->pixels[i] >> 24 != 0xFF)
            __builtin_trap();

    const auto fitted = picture_from_bytes(fit_picture(bytes, 3, 2));
    if (!fitted || fitted->width != 3 || fitted->height != 2) __builtin_trap();
    return 0;
}
