#include "online/win32/picture_convert.h"

#include "runtime/surface/picture.h"
#include "runtime/win32/wic_picture.h"

#include <cassert>

namespace vorsa::online {

namespace {

static_assert(max_picture_pixels == runtime::max_decoded_pixels);

Bytes converted(const Bytes& picture, PictureFormat format, int max_width, int max_height)
{
    if (picture.empty() || format < PictureFormat::bmp || format > PictureFormat::png) return {};
    const auto bitmap = runtime::wic_decode_picture(picture, max_width, max_height);
    if (!bitmap) return {};
    switch (format) {
    case PictureFormat::bmp:
        // The program draws a BMP without its alpha channel; on white it looks as the picture meant.
        return runtime::bitmap_to_bmp(runtime::flattened_on_white(*bitmap));
    case PictureFormat::jpeg:
        return runtime::wic_encode_picture(*bitmap, runtime::WicContainer::jpeg);
    case PictureFormat::gif:
        return runtime::wic_encode_picture(*bitmap, runtime::WicContainer::gif);
    case PictureFormat::tiff:
        return runtime::wic_encode_picture(*bitmap, runtime::WicContainer::tiff);
    case PictureFormat::png:
        return runtime::wic_encode_picture(*bitmap, runtime::WicContainer::png);
    }
    return {};
}

} // namespace

Bytes convert_picture(const Bytes& picture, PictureFormat format)
{
    return converted(picture, format, 0, 0);
}

Bytes convert_picture_to_fit(const Bytes& picture, PictureFormat format, int max_width, int max_height)
{
    assert(max_width > 0 && max_height > 0);
    return converted(picture, format, max_width, max_height);
}

} // namespace vorsa::online
