#pragma once
// What the settings tests share: a directory of their own with dy.cfg in it, and the file the earlier
// Windows version left.

#include "runtime/settings/settings_keys.h"
#include "runtime/text/gbk.h"
#include "tests/temp_directory.h"

#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace vorsa::test_files {

using runtime::Text;
using namespace runtime::literals;

class SettingsFiles : public testing::Test
{
protected:
    TempDirectory m_temp{"settings_test"};
    std::string m_dir = m_temp.text();
    std::string m_path = m_dir + "/" + std::string(settings_file_name);
};

// A settings file as the earlier Windows version left it: GBK, CR LF, a comment and a section this
// program does not know.
inline const Text& windows_file()
{
    static const Text file = "; 打印设置\r\n"
                             "[pingpai]\r\n"
                             "onlinepingpai=,李宁,安踏\r\n"
                             "\r\n"
                             "[print]\r\n"
                             "pplist=耐克|新百伦|\r\n"
                             "dm=1,东方商场,新世界百货\r\n"
                             "yyy=王小明\r\n"
                             "xsd=北京市朝阳区建国路87号\r\n"
                             "\r\n"
                             "[dayinji]\r\n"
                             "dyjm=\\\\SHOP-PC\\EPSON TM-T82\r\n"
                             "[其它]\r\n"
                             "旧值=保留\r\n"
                             "[ls]\r\n"
                             "ls=|*|跑鞋|42|399.00|*|短袖|L|89.00\r\n"_gbk;
    return file;
}

inline Text replace_all(Text text, std::string_view from, std::string_view to)
{
    for (std::size_t at = text.find(from); at != Text::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace vorsa::test_files
