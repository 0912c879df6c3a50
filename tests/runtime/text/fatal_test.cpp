#include "runtime/text/fatal.h"
#include "runtime/text/gbk.h"
#include "runtime/controls/interaction.h"

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
    EXPECT_EXIT(
        {
            install_out_of_memory_handler();
            set_fatal_handler(hex_handler);
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

// Records what the window side would show.
class RecordingInteraction : public Interaction
{
public:
    int message_box(const Text& content, int style, const Text& title) override
    {
        m_calls.push_back({content, style, title});
        return 5;
    }
    int cursor_x() override { return 120; }
    int cursor_y() override { return 45; }
    void process_pending_events() override { ++m_processed; }

    struct Call
    {
        Text content;
        int style;
        Text title;
    };
    std::vector<Call> m_calls;
    int m_processed = 0;
};

TEST(InteractionTest, ConsoleFallbackWithoutWindow)
{
    set_interaction(nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(message_box("已满5条"_gbk), 0);
    EXPECT_EQ(message_box("最多5条"_gbk, mb_icon_error, "提示"_gbk), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[信息] 已满5条\n[提示] 最多5条\n");
    EXPECT_EQ(cursor_x(), 0);
    EXPECT_EQ(cursor_y(), 0);
    process_pending_events();
}

TEST(InteractionTest, InstalledImplementationReceivesCalls)
{
    RecordingInteraction recording;
    set_interaction(&recording);
    EXPECT_EQ(message_box("a"), 5);
    EXPECT_EQ(message_box("b", mb_icon_information, "t"), 5);
    EXPECT_EQ(cursor_x(), 120);
    EXPECT_EQ(cursor_y(), 45);
    process_pending_events();
    set_interaction(nullptr);

    ASSERT_EQ(recording.m_calls.size(), 2u);
    EXPECT_EQ(recording.m_calls[0].content, "a");
    EXPECT_EQ(recording.m_calls[0].style, mb_ok);
    EXPECT_EQ(recording.m_calls[0].title, "信息"_gbk);
    EXPECT_EQ(recording.m_calls[1].style, mb_icon_information);
    EXPECT_EQ(recording.m_calls[1].title, "t");
    EXPECT_EQ(recording.m_processed, 1);
}

} // namespace
} // namespace vorsa::runtime
