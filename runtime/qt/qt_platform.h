#pragma once
// Installs the Qt services that the core's hooks stand for: the picture decoder for formats other
// than BMP, the screen resolution that fonts are made with, and the face that stands in for "宋体".
// Needs a QGuiApplication; call it once after creating the application.

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
