#pragma once
// A page in memory for the GDI tests: a 32-bit top-down DIB section selected into a memory device
// compatible with the screen (so with the screen's resolution), whose pixels the test reads.

#include <algorithm>
#include <cstdint>
#include <windows.h>

namespace vorsa::test {

class MemoryPage
{
public:
    MemoryPage(int width, int height, std::uint32_t fill_rgb = 0xFFFFFF) : m_width(width), m_height(height)
    {
        m_dc = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        m_bits = static_cast<std::uint32_t*>(bits);
        m_previous = SelectObject(m_dc, m_bitmap);
        for (int i = 0; i < width * height; ++i)
            m_bits[i] = fill_rgb;
    }
    ~MemoryPage()
    {
        SelectObject(m_dc, m_previous);
        DeleteObject(m_bitmap);
        DeleteDC(m_dc);
    }
    MemoryPage(const MemoryPage&) = delete;
    MemoryPage& operator=(const MemoryPage&) = delete;

    bool valid() const { return m_bits != nullptr; }
    HDC dc() const { return m_dc; }
    int width() const { return m_width; }
    int height() const { return m_height; }

    // 0x00RRGGBB; 0xFFFFFFFF outside the page.
    std::uint32_t pixel(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= m_width || y >= m_height) return 0xFFFFFFFF;
        GdiFlush();
        return m_bits[y * m_width + x] & 0xFFFFFF;
    }

    void set_pixel(int x, int y, std::uint32_t rgb) { m_bits[y * m_width + x] = rgb; }

    // The box of pixels in [left, right) x [top, bottom) that differ from `background`, as
    // {left, top, right, bottom}; all -1 when there is none.
    RECT ink(RECT area, std::uint32_t background) const
    {
        RECT box{-1, -1, -1, -1};
        for (LONG y = area.top; y < area.bottom; ++y)
            for (LONG x = area.left; x < area.right; ++x) {
                const std::uint32_t p = pixel(x, y);
                if (p == 0xFFFFFFFF || p == background) continue;
                if (box.left < 0) {
                    box = {x, y, x + 1, y + 1};
                    continue;
                }
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x + 1);
                box.bottom = std::max(box.bottom, y + 1);
            }
        return box;
    }

private:
    int m_width;
    int m_height;
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_previous = nullptr;
    std::uint32_t* m_bits = nullptr;
};

} // namespace vorsa::test
