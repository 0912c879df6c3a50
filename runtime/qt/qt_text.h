#pragma once
// The one bridge between the program's GBK texts and Qt strings, built on runtime/text/gbk.h. Every Qt
// edge converts here and nowhere else.

#include "runtime/text/text.h"

#include <QString>

namespace vorsa::runtime {

QString to_qstring(const Text& text);
// Characters GBK cannot hold become "?".
Text from_qstring(const QString& text);

} // namespace vorsa::runtime
