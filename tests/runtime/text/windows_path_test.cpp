#include "runtime/text/windows_path.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <windows.h>

namespace vorsa::runtime {
namespace {

TEST(WindowsPath, AbsoluteWithTheLongPathPrefix)
{
    wchar_t current[MAX_PATH * 4];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH * 4, current);
    ASSERT_GT(length, 0u);
    std::wstring here(current, length);
    if (here.back() != L'\\') here += L'\\';
    const std::wstring long_name(300, L'n');
    const struct
    {
        std::string path; // UTF-8
        std::wstring expected;
    } cases[] = {
        {"C:\\shop\\dy.cfg", L"\\\\?\\C:\\shop\\dy.cfg"},
        {"C:/shop/dy.cfg", L"\\\\?\\C:\\shop\\dy.cfg"},
        {"C:\\shop\\.\\old\\..\\dy.cfg", L"\\\\?\\C:\\shop\\dy.cfg"},
        {"\\\\server\\share\\dy.cfg", L"\\\\?\\UNC\\server\\share\\dy.cfg"},
        {"//server/share/dy.cfg", L"\\\\?\\UNC\\server\\share\\dy.cfg"},
        {"\\\\?\\C:\\a\\..\\dy.cfg", L"\\\\?\\C:\\a\\..\\dy.cfg"}, // prefixed: taken as it is
        {"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"},
        {"dy.cfg", L"\\\\?\\" + here + L"dy.cfg"},
        {"C:\\\xE5\xB0\x8F\xE7\xA5\xA8\\dy.cfg", L"\\\\?\\C:\\\u5C0F\u7968\\dy.cfg"}, // 小票
        {"C:\\" + std::string(300, 'n') + "\\dy.cfg", L"\\\\?\\C:\\" + long_name + L"\\dy.cfg"},
        {"", L""},
        {std::string("C:\\a\0b", 6), L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(windows_path(c.path), c.expected) << c.path;
}

} // namespace
} // namespace vorsa::runtime
