#pragma once
// The directory a start-up test works in, and whole files in it.

#include "tests/temp_directory.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace vorsa::app {

class StartupFiles : public ::testing::Test
{
protected:
    static void write(const std::filesystem::path& path, const std::string& content)
    {
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string read(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    test_files::TempDirectory m_temp{"vorsa-startup"};
    std::filesystem::path m_dir = m_temp.path();
};

} // namespace vorsa::app
