#include "runtime/qt/qt_text.h"

#include "runtime/text/gbk.h"

namespace vorsa::runtime {

QString to_qstring(const Text& text)
{
    const std::u16string utf16 = utf16_from_gbk(text);
    return QString(reinterpret_cast<const QChar*>(utf16.data()), static_cast<qsizetype>(utf16.size()));
}

Text from_qstring(const QString& text)
{
    return gbk_from_utf16(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                              static_cast<std::size_t>(text.size())));
}

} // namespace vorsa::runtime
