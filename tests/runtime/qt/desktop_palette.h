#pragma once
// Desktop themes for Qt tests: the application's palette replaced for a while, a dark theme as GNOME
// hands it to Qt, and the contrast of two colours as accessibility guidelines measure it (text reads on
// its ground from 4.5:1, other marks from 3:1).

#include <QApplication>
#include <QColor>
#include <QPalette>
#include <algorithm>
#include <cmath>

namespace vorsa::runtime::testing {

inline double relative_luminance(QRgb colour)
{
    const auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(colour)) + 0.7152 * linear(qGreen(colour)) + 0.0722 * linear(qBlue(colour));
}

inline double contrast_ratio(QRgb a, QRgb b)
{
    const double la = relative_luminance(a);
    const double lb = relative_luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Adwaita dark: light text on dark grounds, greyed text where disabled.
inline QPalette dark_desktop_palette()
{
    QPalette dark;
    const struct
    {
        QPalette::ColorRole role;
        QRgb colour;
        QRgb disabled;
    } roles[] = {
        {QPalette::Window, 0x353535, 0x353535},
        {QPalette::WindowText, 0xeeeeec, 0x919190},
        {QPalette::Base, 0x2d2d2d, 0x323232},
        {QPalette::AlternateBase, 0x353535, 0x353535},
        {QPalette::Text, 0xeeeeec, 0x919190},
        {QPalette::Button, 0x373737, 0x353535},
        {QPalette::ButtonText, 0xeeeeec, 0x919190},
        {QPalette::BrightText, 0xffffff, 0xffffff},
        {QPalette::Highlight, 0x15539e, 0x353535},
        {QPalette::HighlightedText, 0xffffff, 0x919190},
        {QPalette::PlaceholderText, 0x919190, 0x919190},
        {QPalette::Light, 0x4a4a4a, 0x4a4a4a},
        {QPalette::Midlight, 0x404040, 0x404040},
        {QPalette::Mid, 0x2b2b2b, 0x2b2b2b},
        {QPalette::Dark, 0x1b1b1b, 0x1b1b1b},
        {QPalette::Shadow, 0x000000, 0x000000},
        {QPalette::ToolTipBase, 0x262626, 0x262626},
        {QPalette::ToolTipText, 0xffffff, 0xffffff},
    };
    for (const auto& role : roles) {
        dark.setColor(role.role, QColor::fromRgb(role.colour));
        dark.setColor(QPalette::Disabled, role.role, QColor::fromRgb(role.disabled));
    }
    return dark;
}

// The application's palette for as long as the object lives; needs the test application.
class DesktopPalette
{
public:
    explicit DesktopPalette(const QPalette& palette) : m_before(QApplication::palette())
    {
        QApplication::setPalette(palette);
    }
    ~DesktopPalette() { QApplication::setPalette(m_before); }
    DesktopPalette(const DesktopPalette&) = delete;
    DesktopPalette& operator=(const DesktopPalette&) = delete;

private:
    QPalette m_before;
};

} // namespace vorsa::runtime::testing
