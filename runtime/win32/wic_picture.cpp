#include "runtime/win32/wic_picture.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <objbase.h>
#include <unordered_set>
#include <vector>
#include <wincodec.h>
#include <windows.h>

namespace vorsa::runtime {

namespace {

// Holds one reference to a COM object and releases it when it ends.
template <typename T> class ComRef
{
public:
    ComRef() = default;
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    // For the functions that hand out a new reference.
    T** out()
    {
        reset();
        return &m_object;
    }
    void** out_void() { return reinterpret_cast<void**>(out()); }

private:
    void reset()
    {
        if (m_object) m_object->Release();
        m_object = nullptr;
    }

    T* m_object = nullptr;
};

// COM on the calling thread for the scope's duration. A thread that has COM already keeps it: in the
// same apartment the call only counts up and down again, and a thread of the multithreaded apartment
// (which refuses the change) uses its own, where WIC works as well.
class ComScope
{
public:
    ComScope()
    {
        const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        m_initialised = SUCCEEDED(result);
        m_usable = m_initialised || result == RPC_E_CHANGED_MODE;
    }
    ~ComScope()
    {
        if (m_initialised) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

    bool usable() const { return m_usable; }

private:
    bool m_initialised = false;
    bool m_usable = false;
};

bool create_factory(ComRef<IWICImagingFactory>& factory)
{
    return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, factory.out_void()));
}

const GUID& container_guid(WicContainer container)
{
    switch (container) {
    case WicContainer::bmp:
        return GUID_ContainerFormatBmp;
    case WicContainer::png:
        return GUID_ContainerFormatPng;
    case WicContainer::jpeg:
        return GUID_ContainerFormatJpeg;
    case WicContainer::gif:
        return GUID_ContainerFormatGif;
    case WicContainer::tiff:
        return GUID_ContainerFormatTiff;
    case WicContainer::ico:
        return GUID_ContainerFormatIco;
    }
    return GUID_ContainerFormatBmp;
}

bool starts_with(const Bytes& bytes, std::initializer_list<std::uint8_t> prefix)
{
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

std::uint8_t channel(std::uint32_t pixel, int shift)
{
    return static_cast<std::uint8_t>(pixel >> shift);
}

// A palette for the picture: its own colours when it has at most 256 of them, so that a logo of few
// colours keeps them exactly; otherwise 256 chosen from the picture by WIC.
bool fill_palette(IWICPalette& palette, IWICBitmapSource& source, const Bitmap& pixels)
{
    std::unordered_set<std::uint32_t> seen;
    std::vector<WICColor> colours;
    for (const std::uint32_t pixel : pixels.pixels) {
        if (!seen.insert(pixel).second) continue;
        if (colours.size() == 256) return SUCCEEDED(palette.InitializeFromBitmap(&source, 256, FALSE));
        colours.push_back(pixel);
    }
    return SUCCEEDED(palette.InitializeCustom(colours.data(), static_cast<UINT>(colours.size())));
}

} // namespace

std::optional<WicContainer> wic_container_of(const Bytes& bytes)
{
    if (starts_with(bytes, {'B', 'M'})) return WicContainer::bmp;
    if (starts_with(bytes, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return WicContainer::png;
    if (starts_with(bytes, {0xFF, 0xD8, 0xFF})) return WicContainer::jpeg;
    if (starts_with(bytes, {'G', 'I', 'F', '8', '7', 'a'}) ||
        starts_with(bytes, {'G', 'I', 'F', '8', '9', 'a'}))
        return WicContainer::gif;
    if (starts_with(bytes, {'I', 'I', 42, 0}) || starts_with(bytes, {'M', 'M', 0, 42}))
        return WicContainer::tiff;
    if (starts_with(bytes, {0, 0, 1, 0})) return WicContainer::ico;
    return std::nullopt;
}

PictureSize fitted_size(PictureSize size, int max_width, int max_height)
{
    if (size.width <= 0 || size.height <= 0 || max_width <= 0 || max_height <= 0) return {};
    const long long width_at_max_height =
        static_cast<long long>(max_height) * size.width / static_cast<long long>(size.height);
    PictureSize fitted;
    if (width_at_max_height <= max_width) {
        fitted = {static_cast<int>(width_at_max_height), max_height};
    } else {
        fitted = {max_width, static_cast<int>(static_cast<long long>(max_width) * size.height / size.width)};
    }
    fitted.width = std::max(fitted.width, 1);
    fitted.height = std::max(fitted.height, 1);
    return fitted;
}

std::optional<Bitmap> wic_decode_picture(const Bytes& bytes, int max_width, int max_height)
{
    const auto container = wic_container_of(bytes);
    if (!container || bytes.size() > std::numeric_limits<DWORD>::max()) return std::nullopt;

    const ComScope com;
    ComRef<IWICImagingFactory> factory;
    if (!com.usable() || !create_factory(factory)) return std::nullopt;

    // The stream reads the caller's bytes where they are; WIC never writes to a decoder's stream.
    ComRef<IWICStream> stream;
    if (FAILED(factory->CreateStream(stream.out())) ||
        FAILED(
            stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()))))
        return std::nullopt;
    ComRef<IWICBitmapDecoder> decoder;
    ComRef<IWICBitmapFrameDecode> frame;
    if (FAILED(factory->CreateDecoder(container_guid(*container), nullptr, decoder.out())) ||
        FAILED(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand)) ||
        FAILED(decoder->GetFrame(0, frame.out())))
        return std::nullopt;

    // The size from the header, before a pixel is decoded.
    UINT width = 0;
    UINT height = 0;
    if (FAILED(frame->GetSize(&width, &height)) || width == 0 || height == 0 ||
        static_cast<long long>(width) * height > max_decoded_pixels)
        return std::nullopt;

    ComRef<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(converter.out())) ||
        FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                                     nullptr, 0.0, WICBitmapPaletteTypeCustom)))
        return std::nullopt;
    IWICBitmapSource* source = converter.get();

    PictureSize size{static_cast<int>(width), static_cast<int>(height)};
    ComRef<IWICBitmapScaler> scaler;
    if (max_width > 0 && max_height > 0 && (size.width > max_width || size.height > max_height)) {
        size = fitted_size(size, max_width, max_height);
        if (FAILED(factory->CreateBitmapScaler(scaler.out())) ||
            FAILED(scaler->Initialize(source, static_cast<UINT>(size.width), static_cast<UINT>(size.height),
                                      WICBitmapInterpolationModeFant)))
            return std::nullopt;
        source = scaler.get();
    }

    // 32-bit BGRA in memory is 0xAARRGGBB read as a little-endian word, the bitmap's own layout.
    Bitmap bitmap(size.width, size.height);
    const UINT stride = static_cast<UINT>(size.width) * 4;
    if (FAILED(source->CopyPixels(nullptr, stride, stride * static_cast<UINT>(size.height),
                                  reinterpret_cast<BYTE*>(bitmap.pixels.data()))))
        return std::nullopt;
    return bitmap;
}

std::optional<Bitmap> decode_with_wic(const Bytes& bytes)
{
    return wic_decode_picture(bytes);
}

Bitmap flattened_on_white(const Bitmap& bitmap)
{
    Bitmap flat = bitmap;
    for (std::uint32_t& pixel : flat.pixels) {
        const std::uint32_t alpha = pixel >> 24;
        const auto mixed = [alpha](std::uint8_t value) {
            return (static_cast<std::uint32_t>(value) * alpha + 255 * (255 - alpha) + 127) / 255;
        };
        pixel = 0xFF000000u | mixed(channel(pixel, 16)) << 16 | mixed(channel(pixel, 8)) << 8 |
                mixed(channel(pixel, 0));
    }
    return flat;
}

Bytes wic_encode_picture(const Bitmap& bitmap, WicContainer container)
{
    if (bitmap.empty() || container == WicContainer::bmp || container == WicContainer::ico) return {};
    const bool opaque = container == WicContainer::jpeg || container == WicContainer::gif;
    const Bitmap pixels = opaque ? flattened_on_white(bitmap) : bitmap;
    const UINT width = static_cast<UINT>(pixels.width);
    const UINT height = static_cast<UINT>(pixels.height);
    const unsigned long long stride = static_cast<unsigned long long>(width) * 4;
    if (stride * height > std::numeric_limits<UINT>::max()) return {};

    const ComScope com;
    ComRef<IWICImagingFactory> factory;
    if (!com.usable() || !create_factory(factory)) return {};

    ComRef<IWICBitmap> source;
    if (FAILED(factory->CreateBitmapFromMemory(
            width, height, GUID_WICPixelFormat32bppBGRA, static_cast<UINT>(stride),
            static_cast<UINT>(stride * height),
            reinterpret_cast<BYTE*>(const_cast<std::uint32_t*>(pixels.pixels.data())), source.out())))
        return {};

    ComRef<IStream> output;
    ComRef<IWICBitmapEncoder> encoder;
    ComRef<IWICBitmapFrameEncode> frame;
    ComRef<IPropertyBag2> options;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, output.out())) ||
        FAILED(factory->CreateEncoder(container_guid(container), nullptr, encoder.out())) ||
        FAILED(encoder->Initialize(output.get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(frame.out(), options.out())) ||
        FAILED(frame->Initialize(options.get())) || FAILED(frame->SetSize(width, height)))
        return {};

    // The encoder names the pixel format it takes nearest to the one offered; the picture is converted
    // to it here, through a palette made from the picture when the format has one.
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (FAILED(frame->SetPixelFormat(&format))) return {};
    IWICBitmapSource* written = source.get();
    ComRef<IWICPalette> palette;
    ComRef<IWICFormatConverter> converter;
    if (!IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA)) {
        const bool indexed = IsEqualGUID(format, GUID_WICPixelFormat8bppIndexed) ||
                             IsEqualGUID(format, GUID_WICPixelFormat4bppIndexed) ||
                             IsEqualGUID(format, GUID_WICPixelFormat2bppIndexed) ||
                             IsEqualGUID(format, GUID_WICPixelFormat1bppIndexed);
        if (indexed && (FAILED(factory->CreatePalette(palette.out())) ||
                        !fill_palette(*palette.get(), *source.get(), pixels) ||
                        FAILED(frame->SetPalette(palette.get()))))
            return {};
        if (FAILED(factory->CreateFormatConverter(converter.out())) ||
            FAILED(converter->Initialize(
                source.get(), format, indexed ? WICBitmapDitherTypeErrorDiffusion : WICBitmapDitherTypeNone,
                palette.get(), 0.0, WICBitmapPaletteTypeCustom)))
            return {};
        written = converter.get();
    }
    if (FAILED(frame->WriteSource(written, nullptr)) || FAILED(frame->Commit()) || FAILED(encoder->Commit()))
        return {};

    // The stream's own size: its memory block may be larger.
    STATSTG status{};
    HGLOBAL memory = nullptr;
    if (FAILED(output->Stat(&status, STATFLAG_NONAME)) ||
        FAILED(GetHGlobalFromStream(output.get(), &memory)) ||
        status.cbSize.QuadPart > std::numeric_limits<std::size_t>::max() / 2)
        return {};
    const auto size = static_cast<std::size_t>(status.cbSize.QuadPart);
    if (size == 0 || size > GlobalSize(memory)) return {};
    const void* data = GlobalLock(memory);
    if (!data) return {};
    const auto* first = static_cast<const std::uint8_t*>(data);
    Bytes encoded(first, first + size);
    GlobalUnlock(memory);
    return encoded;
}

} // namespace vorsa::runtime
