// Round trips through a standard reader: every symbol written as our picture file must decode, with
// ZXingReader (zxing-cpp-tools), to exactly the bytes that went in. Skipped when the reader is absent.

#include "qr/qr_code.h"
#include "qr/qr_encoder.h"
#include "qr/segmentation.h"
#include "runtime/text/gbk.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace vorsa::qr {
namespace {

namespace fs = std::filesystem;
using namespace runtime::literals;

std::optional<fs::path> find_reader()
{
    const char* path = std::getenv("PATH");
    if (path == nullptr) return std::nullopt;
    std::stringstream entries(path);
    for (std::string entry; std::getline(entries, entry, ':');) {
        const fs::path candidate = fs::path(entry.empty() ? "." : entry) / "ZXingReader";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

#define REQUIRE_READER()                                                                                     \
    const auto reader = find_reader();                                                                       \
    if (!reader)                                                                                             \
    GTEST_SKIP() << "ZXingReader is not on PATH (Debian package zxing-cpp-tools); round trips "              \
                    "through a standard reader were not run"

struct Case
{
    std::string name;
    std::string data;
    ErrorLevel level = ErrorLevel::low;
    int version = 0; // 0 = automatic
    int mask = 0;
    int expected_version = 0; // checked when not 0
};

struct Decoded
{
    std::string bytes;
    std::string level; // "L", "M", "Q" or "H" as the reader reports it
};

std::string hex_to_bytes(std::string_view hex)
{
    std::string bytes;
    std::istringstream in{std::string(hex)};
    for (std::string pair; in >> pair;)
        bytes += static_cast<char>(std::stoi(pair, nullptr, 16));
    return bytes;
}

// A scratch directory removed with everything in it.
class ScratchDirectory
{
public:
    ScratchDirectory()
    {
        std::string pattern = (fs::temp_directory_path() / "vorsa-qr-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) m_path = pattern;
    }
    ~ScratchDirectory()
    {
        std::error_code ignored;
        if (!m_path.empty()) fs::remove_all(m_path, ignored);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

// Runs the reader once over all pictures and returns what it decoded from each, by file name.
std::map<std::string, Decoded> read_pictures(const fs::path& reader, const fs::path& directory,
                                             const std::vector<std::string>& files)
{
    std::string command = "cd '" + directory.string() + "' && '" + reader.string() + "' -format QRCode";
    for (const std::string& file : files)
        command += " " + file;
    command += " 2>&1";
    std::map<std::string, Decoded> results;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return results;
    std::string output;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    ::pclose(pipe);

    // Blocks of "Name:   value" lines, each block starting with the file's name.
    std::istringstream lines(output);
    std::string current;
    for (std::string line; std::getline(lines, line);) {
        const auto field = [&](std::string_view name) -> std::optional<std::string> {
            if (line.rfind(name, 0) != 0) return std::nullopt;
            const auto start = line.find_first_not_of(' ', name.size());
            return start == std::string::npos ? std::string() : line.substr(start);
        };
        if (auto file = field("File:")) {
            current = *file;
        } else if (auto bytes = field("Bytes:")) {
            results[current].bytes = hex_to_bytes(*bytes);
        } else if (auto level = field("EC Level:")) {
            results[current].level = *level;
        }
    }
    return results;
}

// Encodes every case, writes its picture, reads them all back and compares.
void expect_round_trips(const fs::path& reader, const std::vector<Case>& cases)
{
    ScratchDirectory scratch;
    ASSERT_FALSE(scratch.path().empty()) << "no scratch directory";
    std::vector<std::string> files;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const auto symbol = encode_bytes(c.data, c.level, c.version, c.mask);
        ASSERT_TRUE(symbol) << c.name << ": no symbol";
        if (c.expected_version != 0) {
            ASSERT_EQ(symbol->version(), c.expected_version) << c.name;
        }
        const auto picture = symbol_picture(*symbol, 0x000000, 0xFFFFFF);
        files.push_back(std::to_string(i) + ".bmp");
        std::ofstream(scratch.path() / files.back(), std::ios::binary)
            .write(reinterpret_cast<const char*>(picture.data()),
                   static_cast<std::streamsize>(picture.size()));
    }
    const auto decoded = read_pictures(reader, scratch.path(), files);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto found = decoded.find(files[i]);
        if (found == decoded.end() || found->second.level.empty()) {
            ADD_FAILURE() << cases[i].name << ": the reader found no symbol";
            continue;
        }
        EXPECT_EQ(found->second.bytes, cases[i].data) << cases[i].name;
        EXPECT_EQ(found->second.level, std::string(1, "LMQH"[static_cast<int>(cases[i].level) - 1]))
            << cases[i].name;
    }
}

std::string random_bytes(std::mt19937& random, std::size_t count)
{
    std::string bytes(count, '\0');
    for (char& b : bytes)
        b = static_cast<char>(random() & 0xFF);
    return bytes;
}

const char* level_name(int l)
{
    return &"L\0M\0Q\0H"[2 * (l - 1)];
}

TEST(ReaderRoundTrip, EveryVersionAtEveryLevel)
{
    REQUIRE_READER();
    // Each symbol as full as byte mode allows, with random bytes (all values, Kanji pairs included).
    std::mt19937 random(40);
    std::vector<Case> cases;
    for (int version = 1; version <= 40; ++version) {
        for (int l = 1; l <= 4; ++l) {
            const auto level = static_cast<ErrorLevel>(l);
            const int header_bits = 4 + (version <= 9 ? 8 : 16);
            const auto count =
                static_cast<std::size_t>((8 * data_codewords(version, level) - header_bits) / 8);
            cases.push_back({"version " + std::to_string(version) + "-" + level_name(l),
                             random_bytes(random, count), level, version, (version + l) % 8, version});
        }
    }
    expect_round_trips(*reader, cases);
}

TEST(ReaderRoundTrip, EveryMaskPattern)
{
    REQUIRE_READER();
    std::vector<Case> cases;
    for (int mask = 0; mask < 8; ++mask) {
        for (const int version : {2, 7, 23}) {
            cases.push_back({"mask " + std::to_string(mask) + " version " + std::to_string(version),
                             "VORSA 000" + std::to_string(mask) + " receipt", ErrorLevel::medium, version,
                             mask, version});
        }
    }
    expect_round_trips(*reader, cases);
}

TEST(ReaderRoundTrip, CapacityEdgesAroundCountIndicatorChanges)
{
    REQUIRE_READER();
    // Byte capacity at the last version of a range; one more byte moves to the next range.
    struct Edge
    {
        int version, level, capacity; // bytes in byte mode
    };
    const Edge edges[] = {{9, 1, 230}, {9, 4, 98}, {26, 1, 1367}, {26, 3, 751}, {40, 1, 2953}, {40, 4, 1273}};
    std::mt19937 random(9);
    std::vector<Case> cases;
    for (const Edge& e : edges) {
        for (int delta = -1; delta <= 1; ++delta) {
            if (e.version == 40 && delta == 1) continue; // nothing beyond version 40
            // Lower-case letters and punctuation: byte mode only, no Kanji pair.
            std::string data(static_cast<std::size_t>(e.capacity + delta), 'a');
            for (char& c : data)
                c = static_cast<char>("abcdefghijklmnopqrstuvwxyz!#&()"[random() % 31]);
            cases.push_back({"byte capacity " + std::to_string(delta) + " at " + std::to_string(e.version) +
                                 "-" + level_name(e.level),
                             data, static_cast<ErrorLevel>(e.level), 0, 0,
                             delta <= 0 ? e.version : e.version + 1});
        }
    }
    // The other modes at the version-40-L maximum.
    cases.push_back({"numeric 7089", std::string(7089, '0'), ErrorLevel::low, 0, 0, 40});
    std::string digits(7089, '0');
    for (char& c : digits)
        c = static_cast<char>('0' + random() % 10);
    cases.push_back({"random digits 7089", digits, ErrorLevel::low, 0, 3, 40});
    std::string alphanumeric(4296, ' ');
    for (char& c : alphanumeric)
        c = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ $%*+-./:"[random() % 45];
    cases.push_back({"alphanumeric 4296", alphanumeric, ErrorLevel::low, 0, 0, 40});
    std::string kanji;
    for (int i = 0; i < 1817; ++i)
        kanji += "\x88\x9F";
    cases.push_back({"Kanji 1817", kanji, ErrorLevel::low, 0, 0, 40});
    expect_round_trips(*reader, cases);
}

TEST(ReaderRoundTrip, MixedSegments)
{
    REQUIRE_READER();
    const std::vector<std::string> texts = {
        "XS80000035"
        "4729104836",
        "ORDER 12345678901234567890 paid\r\n"
        "\x81\x40\x81\x41\x81\x42"
        " total 399.00",
        "0123456789ABCDEFGHIJ"
        "abcdefghij"
        "0123456789"
        "\xE0\x40\xE0\x41\xEA\xA4"
        "9876543210",
        std::string("\0\x01\x02\xFF\xFE", 5) + "HTTP://VORSA.EXAMPLE/A1B2C3" + "12" + "\x93\xFA\x96\x7B",
        "1A2B3C4D5E6F7G8H9I0J",
        "\x82\xA0\x82\xA2\x82\xA4"
        "12345"
        "\x82\xA0\x82\xA2\x82\xA4",
    };
    std::vector<Case> cases;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        for (int l = 1; l <= 4; l += 3) {
            cases.push_back({"mixed text " + std::to_string(i) + "-" + level_name(l), texts[i],
                             static_cast<ErrorLevel>(l)});
        }
    }
    // The texts do exercise several modes.
    EXPECT_GE(segment_bytes(texts[2], 0).segments.size(), 4u);
    expect_round_trips(*reader, cases);
}

TEST(ReaderRoundTrip, KanjiPairs)
{
    REQUIRE_READER();
    struct Pair
    {
        const char* name;
        const char* bytes;
        bool kanji;
    };
    const Pair pairs[] = {
        {"8140", "\x81\x40", true}, {"9FFC", "\x9F\xFC", true},  {"E040", "\xE0\x40", true},
        {"EBBF", "\xEB\xBF", true}, {"817F", "\x81\x7F", true},  {"81FD", "\x81\xFD", true},
        {"E4FE", "\xE4\xFE", true}, {"8220", "\x82\x20", false}, {"E420", "\xE4\x20", false},
    };
    std::vector<Case> cases;
    for (const Pair& p : pairs) {
        // Alone, repeated (so Kanji mode pays off) and between other characters.
        const std::string pair = p.bytes;
        const std::string repeated = pair + pair + pair + pair;
        EXPECT_EQ(segment_bytes(repeated, 0).segments.front().mode == SegmentMode::kanji, p.kanji) << p.name;
        cases.push_back({std::string("pair ") + p.name, pair});
        cases.push_back({std::string("pairs ") + p.name, repeated, ErrorLevel::quartile});
        cases.push_back({std::string("pair in text ") + p.name, "Size 42" + repeated + "399.00" + pair});
    }
    // Every one of the 8192 Kanji pairs, in a few large symbols.
    std::string all;
    for (int first = 0x81; first <= 0xEB; ++first) {
        for (int second = 0x40; second <= 0xFF; ++second) {
            if (is_kanji_pair(std::uint8_t(first), std::uint8_t(second))) {
                all += static_cast<char>(first);
                all += static_cast<char>(second);
            }
        }
    }
    EXPECT_EQ(all.size(), 2u * 8192);
    for (std::size_t start = 0; start < all.size(); start += 3600) {
        cases.push_back({"all Kanji pairs from " + std::to_string(start / 2), all.substr(start, 3600)});
    }
    expect_round_trips(*reader, cases);
}

TEST(ReaderRoundTrip, ReceiptCodeTextsThroughTheEncoder)
{
    REQUIRE_READER();
    const std::vector<runtime::Text> texts = {
        "正品 耐克"_gbk,
        "正品 耐克\r\n跑鞋 Size 42\r\n短袖 Size L\r\n运动裤 Size XL"_gbk,
        "正品 阿迪达斯\r\n三叶草经典款板鞋 Size 40.5\r\n运动双肩包 Size 均码"_gbk,
        "正品 新百伦\r\n574复古跑鞋 Size 43\r\n速干T恤 Size M\r\n袜子 Size 均码\r\n棒球帽 Size 56\r\n羽绒服 Size 175/92A"_gbk,
        "正品 匡威\r\n帆布鞋 Size 37\r\n卫衣 Size S"_gbk,
        "正品 李宁\r\n羽毛球拍 Size 3U\r\n篮球 Size 7号\r\n护腕 Size 均码"_gbk,
    };
    ScratchDirectory scratch;
    ASSERT_FALSE(scratch.path().empty());
    // As the receipt asks: GBK bytes as they are, automatic version, level L, default mask, black on
    // white; and once more converted to UTF-8 (input form 0) at level H with mask 5.
    QrEncoder encoder(runtime::utf8_from_gbk);
    std::vector<std::string> files, expected;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        for (const bool utf8 : {false, true}) {
            ASSERT_TRUE(utf8 ? encoder.qr_encode(texts[i], 0, 0, 4, 5, 0x000000, 0xFFFFFF)
                             : encoder.qr_encode(texts[i], 1, 0, 1, -1, 0x000000, 0xFFFFFF));
            const auto picture = encoder.qr_picture();
            files.push_back(std::to_string(i) + (utf8 ? "u" : "g") + ".bmp");
            expected.push_back(utf8 ? runtime::utf8_from_gbk(texts[i]) : texts[i]);
            std::ofstream(scratch.path() / files.back(), std::ios::binary)
                .write(reinterpret_cast<const char*>(picture.data()),
                       static_cast<std::streamsize>(picture.size()));
        }
    }
    const auto decoded = read_pictures(*reader, scratch.path(), files);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto found = decoded.find(files[i]);
        ASSERT_NE(found, decoded.end()) << files[i] << ": the reader found no symbol";
        EXPECT_EQ(found->second.bytes, expected[i]) << files[i];
    }
}

} // namespace
} // namespace vorsa::qr
