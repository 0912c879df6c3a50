#include "runtime/text/fatal.h"
#include "runtime/text/gbk.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <new>
#include <vector>

namespace vorsa::runtime {
namespace {

using namespace literals;

std::string hex_of(const Text& text)
{
    std::string out;
    char buffer[4];
    for (const char c : text) {
        std::snprintf(buffer, sizeof buffer, "%02X", static_cast<unsigned char>(c));
        out += buffer;
    }
    return out;
}

// Writes what it was given as hexadecimal, so a death test can match the exact GBK bytes.
void hex_handler(const Text& title, const Text& message)
{
    std::fprintf(stderr, "title=%s message=%s\n", hex_of(title).c_str(), hex_of(message).c_str());
}

class FatalTest : public testing::Test
{
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(FatalTest, FaultMessagesAreNumberedTexts)
{
    struct Case
    {
        Fault fault;
        std::string text;
    };
    const std::vector<Case> cases = {
        {Fault::index_above_count, "数组成员引用下标超出定义范围"},
        {Fault::not_a_number, "未得到所需要的数值型数据"},
        {Fault::dimension_mismatch, "引用数组成员时维数不为1且不等于该数组目前所具有的维数"},
        {Fault::index_below_one, "数组成员引用下标必须大于等于1"},
        {Fault::type_mismatch, "数据或数组类型不匹配"},
        {Fault::stack_imbalance, "调用外部函数后发现堆栈错误，通常是参数数目不正确"},
        {Fault::no_value, "参数表达式未返回数据或者返回了非基本类型或数组型数据"},
        {Fault::compare_equality_only, "被比较数据只能使用等于或不等于命令比较"},
        {Fault::choice_out_of_range, "选择命令的索引值参数小于零或超出了所提供参数表范围"},
        {Fault::bad_dimension, "重新定义数组时数组维定义参数值必须大于零或单维时大于等于零"},
        {Fault::bad_argument_type, "所提供参数的数据类型不符合要求"},
    };
    for (const Case& c : cases) {
        const int number = static_cast<int>(c.fault);
        const Text expected =
            "program internal error number is " + std::to_string(number) + ". \r\n" + gbk_from_utf8(c.text);
        EXPECT_EQ(fault_message(c.fault), expected) << number;
    }
}

TEST_F(FatalTest, DefaultHandlerWritesUtf8AndExits)
{
    EXPECT_EXIT(fatal_error(Fault::not_a_number), testing::ExitedWithCode(1),
                "\\[error\\] program internal error number is 2\\. \r\n未得到所需要的数值型数据");
}

TEST_F(FatalTest, CustomHandlerReceivesGbk)
{
    const std::string expected =
        "title=" + hex_of("error") + " message=" + hex_of(fault_message(Fault::type_mismatch));
    EXPECT_EXIT(
        {
            set_fatal_handler(hex_handler);
            fatal_error(Fault::type_mismatch);
        },
        testing::ExitedWithCode(1), expected);
}

TEST_F(FatalTest, ElementChecksBothBounds)
{
    std::vector<int> list{10, 20, 30};
    EXPECT_EQ(element(list, 1), 10);
    EXPECT_EQ(element(list, 3), 30);
    element(list, 2) = 21;
    EXPECT_EQ(list[1], 21);

    const std::string above = "message=" + hex_of(fault_message(Fault::index_above_count));
    const std::string below = "message=" + hex_of(fault_message(Fault::index_below_one));
    EXPECT_EXIT(
        {
            set_fatal_handler(hex_handler);
            element(list, 4);
        },
        testing::ExitedWithCode(1), above);
    EXPECT_EXIT(
        {
            set_fatal_handler(hex_handler);
            element(list, 0);
        },
        testing::ExitedWithCode(1), below);
    EXPECT_EXIT(
        {
            std::vector<int> empty;
            set_fatal_handler(hex_handler);
            element(empty, 1);
        },
        testing::ExitedWithCode(1), above);
}

TEST_F(FatalTest, ExhaustedMemoryReportsAndExits)
{
    const std::string expected = "title=" + hex_of("error") + " message=" + hex_of("内存不足"_gbk);
    const auto run_out_of_memory = [] {
#if defined(__SANITIZE_ADDRESS__)
        // AddressSanitizer's allocator ends the process itself on a request it cannot serve, before
        // operator new would call the new-handler; the handler is called here as operator new would.
        std::get_new_handler()();
#else
        // More than any address space holds; volatile so the allocation cannot be elided.
        volatile std::size_t size = std::size_t{1} << 62;
        void* volatile block = ::operator new(size);
        (void)block;
#endif
    };
    EXPECT_EXIT(
        {
            install_out_of_memory_handler();
            set_fatal_handler(hex_handler);
            run_out_of_memory();
        },
        testing::ExitedWithCode(1), expected);
}

TEST_F(FatalTest, HandlerThatThrowsStillEndsTheProgram)
{
    EXPECT_EXIT(
        {
            set_fatal_handler([](const Text&, const Text&) { throw std::bad_alloc(); });
            out_of_memory();
        },
        testing::ExitedWithCode(1), "");
}

} // namespace
} // namespace vorsa::runtime
