// Printer names between the spooler (UTF-16) and the program's GBK texts.

#include "runtime/text/gbk.h"
#include "runtime/win32/printer.h"

#include <gtest/gtest.h>
#include <string>

namespace vorsa::runtime {
namespace {

using namespace literals;

std::string shown(const std::u16string& name)
{
    std::string out;
    for (char16_t unit : name)
        out += unit < 0x80 ? std::string(1, static_cast<char>(unit)) : "<" + std::to_string(unit) + ">";
    return out;
}

TEST(PrinterNameTest, SpoolerNamesRoundTripThroughTheProgramsText)
{
    struct Row
    {
        std::u16string name;
        Text text;
    };
    const Row rows[] = {
        {u"Receipt", "Receipt"},
        {u"前台打印机", "前台打印机"_gbk},
        {u"vorsa-test-Köln", "vorsa-test-K\\u00F6ln"},
        {u"Wer?", "Wer?"},
        {u"Wer?ö", "Wer?\\u00F6"},
        {u"Printer 😀", "Printer \\U0001F600"},
        {u"€ Drucker", "\x80 Drucker"},
        // Connections are named "\\server\share"; a "\" reads as an escape only before u and four
        // hexadecimal digits (or U and eight), and only then is written as one.
        {u"\\\\server\\Receipt", "\\\\server\\Receipt"},
        {u"\\\\server\\upstairs", "\\\\server\\upstairs"},
        {u"\\\\server\\u1234", "\\\\server\\u005Cu1234"},
        {u"\\\\server\\U0001F600x", "\\\\server\\u005CU0001F600x"},
        {u"\\\\服务器\\u00F6", "\\\\服务器\\u005Cu00F6"_gbk},
        {u"A\xD800"
         u"B",
         "A\\uD800B"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(shown(row.name));
        EXPECT_EQ(printer_text_from_spooler_name(row.name), row.text);
        EXPECT_EQ(spooler_name_from_printer_text(row.text), row.name);
    }
}

TEST(PrinterNameTest, TextsThatAreNoEscapesStayAsTheyAre)
{
    struct Row
    {
        Text text;
        std::u16string name;
    };
    const Row rows[] = {
        {"\\u00", u"\\u00"},
        {"\\u0000", u"\\u0000"},
        {"\\U00110000", u"\\U00110000"},
        {"\\uD800x", u"\xD800x"},
        {"\\UD800DC00", u"\\UD800DC00"},
        {"\\uGHIJ", u"\\uGHIJ"},
        {"\\x41", u"\\x41"},
        // The trail byte of a GBK pair may be "\" (0x5C): it starts no escape.
        {"\x81\x5C"
         "u0041",
         utf16_from_gbk("\x81\x5C") + u"u0041"},
        {"", u""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(spooler_name_from_printer_text(row.text), row.name);
    }
}

} // namespace
} // namespace vorsa::runtime
