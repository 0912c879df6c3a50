#include "runtime/text/bytes.h"
#include "runtime/text/gbk.h"
#include "tests/runtime/text/guarded_page.h"

#include <bit>
#include <cstring>
#include <gtest/gtest.h>

namespace vorsa::runtime {
namespace {

using namespace literals;

TEST(BytesTest, BlankAndLeft)
{
    EXPECT_EQ(blank_bytes(3), (Bytes{0, 0, 0}));
    EXPECT_TRUE(blank_bytes(0).empty());
    EXPECT_TRUE(blank_bytes(-1).empty());

    const Bytes bytes{1, 2, 3, 4};
    EXPECT_EQ(left_bytes(bytes, 2), (Bytes{1, 2}));
    EXPECT_EQ(left_bytes(bytes, 9), bytes);
    EXPECT_TRUE(left_bytes(bytes, 0).empty());
    EXPECT_TRUE(left_bytes(bytes, -3).empty());
}

TEST(BytesTest, FromMemory)
{
    const char source[] = "receipt";
    EXPECT_EQ(bytes_from_memory(source, 7), bytes_of("receipt"));
    EXPECT_EQ(bytes_from_memory(source + 2, 3), bytes_of("cei"));
    EXPECT_TRUE(bytes_from_memory(source, 0).empty());
    EXPECT_TRUE(bytes_from_memory(source, -1).empty());
    EXPECT_TRUE(bytes_from_memory(nullptr, 4).empty());
    EXPECT_TRUE(bytes_from_memory(reinterpret_cast<const void*>(0x10), 4).empty());

    // A readable page followed by an inaccessible one: reading across the boundary gives nothing
    // rather than a crash or half a copy.
    const GuardedPage pages;
    const std::uint8_t* end = pages.readable_end();
    EXPECT_EQ(bytes_from_memory(end - 4, 4), (Bytes{0x5A, 0x5A, 0x5A, 0x5A}));
    EXPECT_TRUE(bytes_from_memory(end - 4, 8).empty());
    EXPECT_TRUE(bytes_from_memory(end, 1).empty());
}

TEST(BytesTest, FindBytes)
{
    struct Case
    {
        Bytes bytes;
        Bytes sought;
        int start;
        int expected;
    };
    const std::vector<Case> cases = {
        {{1, 2, 3, 1, 2, 3}, {2, 3}, 1, 2},
        {{1, 2, 3, 1, 2, 3}, {2, 3}, 3, 5},
        {{1, 2, 3, 1, 2, 3}, {2, 3}, 0, 2},
        {{1, 2, 3, 1, 2, 3}, {2, 3}, 6, -1},
        {{1, 2, 3, 1, 2, 3}, {2, 3}, 100, -1},
        {{1, 2, 3}, {}, 1, -1},
        {{}, {1}, 1, -1},
        {{1, 2}, {1, 2, 3}, 1, -1},
        {{0, 0, 7}, {0, 7}, 1, 2}, // zero bytes are ordinary bytes here
        // Unlike text, a byte array has no characters: a match may begin anywhere.
        {{0xB0, 0xA1, 0xB0}, {0xA1, 0xB0}, 1, 2},
    };
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(find_bytes(cases[i].bytes, cases[i].sought, cases[i].start), cases[i].expected)
            << "case " << i;
}

TEST(BytesTest, ValueFromBytes)
{
    const Bytes integers{0xFE, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x80};
    // 1.5f, then 2.5 as a double, then 4 zero bytes.
    const Bytes reals{0x00, 0x00, 0xC0, 0x3F, 0, 0, 0, 0, 0, 0, 0x04, 0x40, 0, 0, 0, 0};
    const Bytes texts = bytes_of(std::string_view("ab\0cd", 5));
    const Bytes empty; // named: a temporary bound to the reference below would not outlive the table
    struct Case
    {
        const Bytes& bytes;
        ValueType type;
        int position;
        Value expected;
    };
    const std::vector<Case> cases = {
        {integers, ValueType::byte, 1, std::int64_t{254}}, // bytes are unsigned
        {integers, ValueType::int16, 1, std::int64_t{-2}},
        {integers, ValueType::int32, 1, std::int64_t{-2}},
        {integers, ValueType::int32, 5, std::int64_t{-2147483647}},
        {integers, ValueType::int64, 1, static_cast<std::int64_t>(0x80000001FFFFFFFEull)},
        {integers, ValueType::truth, 5, true},
        {reals, ValueType::truth, 13, false},
        {integers, ValueType::code_address, 1, std::int64_t{0xFFFFFFFE}}, // zero-extended
        {reals, ValueType::float32, 1, 1.5},
        {reals, ValueType::float64, 5, 2.5},
        {reals, ValueType::date_time, 5, 2.5},
        {texts, ValueType::text, 1, Text("ab")},
        {texts, ValueType::text, 4, Text("cd")}, // up to the end when no zero byte follows
        {texts, ValueType::text, 3, Text()},
        // Fewer bytes than the type's size: the missing ones read as zeros.
        {integers, ValueType::int32, 7, std::int64_t{0x8000}},
        {integers, ValueType::int16, 8, std::int64_t{0x80}},
        {integers, ValueType::int64, 5, std::int64_t{0x80000001}},
        {reals, ValueType::float64, 11, std::bit_cast<double>(std::uint64_t{0x4004})},
        // Outside the array: zero of the type.
        {integers, ValueType::int32, 9, std::int64_t{0}},
        {integers, ValueType::int32, 0, std::int64_t{0}},
        {integers, ValueType::truth, 9, false},
        {integers, ValueType::float64, 0, 0.0},
        {integers, ValueType::text, 9, Text()},
        {empty, ValueType::byte, 1, std::int64_t{0}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(value_from_bytes(c.bytes, c.type, c.position), c.expected) << "case " << i;
    }
    EXPECT_EQ(value_from_bytes(integers, ValueType::byte), Value(std::int64_t{254})); // position 1 by default
}

TEST(BytesTest, MemberCount)
{
    EXPECT_EQ(member_count(Bytes{1, 2, 3}), 3);
    EXPECT_EQ(member_count(TextList{}), 0);
}

} // namespace
} // namespace vorsa::runtime
