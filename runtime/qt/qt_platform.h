#pragma once
// Installs the Qt services that the core's hooks stand for: the picture decoder for formats other
// than BMP and the face that stands in for "宋体". Needs a QGuiApplication; call it once after creating
// the application.
//
// The screen's resolution is not one of them: the window's template and its preview are laid out in
// logical pixels of a 96 dpi screen, which Qt's scaling maps onto a denser screen as a whole, so fonts
// are made at 96 dpi (make_font without a source). A font resolution of the desktop's own (QT_FONT_DPI,
// or Xft.dpi with Qt's scaling off) would make the letters larger than the fixed rectangles they are
// drawn in.

#include <QString>
#include <span>
#include <string>
#include <string_view>

namespace vorsa::runtime {

void install_qt_platform();

// The installed family that "宋体" is drawn in: SimSun or NSimSun where installed, else Noto Serif CJK
// SC, else AR PL UMing CN; empty when none of them is installed (the font system then picks one).
QString song_face_family();

// The platform plug-ins to ask Qt for, in order, before the application is made: "xcb;wayland" when
// the user chose none (`chosen` is the value of QT_QPA_PLATFORM, `arguments` the command line, where
// -platform chooses too) and an X display is set, so that the window runs on X11 directly or through
// XWayland, where its fixed size and missing maximise box are honoured, and on native Wayland only
// when no X server answers. Empty when Qt's own choice stands.
std::string preferred_qt_platform(std::string_view chosen, std::string_view display,
                                  std::span<char* const> arguments);

} // namespace vorsa::runtime
