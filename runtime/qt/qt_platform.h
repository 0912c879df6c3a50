#pragma once
// Installs the Qt services that the core's hooks stand for: the picture decoder for formats other
// than BMP, the screen resolution that fonts are made with, and the face that stands in for "宋体".
// Needs a QGuiApplication; call it once after creating the application.

#include <QString>

namespace vorsa::runtime {

void install_qt_platform();

// The installed family that "宋体" is drawn in: SimSun or NSimSun where installed, else Noto Serif CJK
// SC, else AR PL UMing CN; empty when none of them is installed (the font system then picks one).
QString song_face_family();

} // namespace vorsa::runtime
