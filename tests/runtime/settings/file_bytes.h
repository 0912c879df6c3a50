#pragma once
// Whole files as bytes, for tests that look at what the settings writer left on disk.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace vorsa::test_files {

// The file's bytes; empty when it cannot be read.
inline std::string read_bytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Replaces the file's content with `bytes`, creating it when missing.
inline void write_bytes(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace vorsa::test_files
