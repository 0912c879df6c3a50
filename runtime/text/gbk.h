#pragma once
// Conversion between GBK (Windows code page 936) and Unicode. This is the one place where texts
// change encoding: Qt strings, UTF-8 source literals and the network's UTF-8 all pass through here.
// A character GBK cannot hold becomes "?", as on the Windows code page; invalid or truncated GBK
// becomes U+FFFD per bad byte, so no input can crash or stall a conversion.

#include "runtime/text/text.h"

#include <string>
#include <string_view>

namespace vorsa::runtime {

Text gbk_from_utf8(std::string_view utf8);
std::string utf8_from_gbk(std::string_view gbk);
Text gbk_from_utf16(std::u16string_view utf16);
std::u16string utf16_from_gbk(std::string_view gbk);

namespace literals {
// "授权经销商"_gbk: a GBK text written readably in UTF-8 source.
inline Text operator""_gbk(const char* utf8, std::size_t size)
{
    return gbk_from_utf8({utf8, size});
}
} // namespace literals

} // namespace vorsa::runtime
