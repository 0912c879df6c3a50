#include "runtime/controls/interaction.h"
#include "runtime/text/gbk.h"

#include <gtest/gtest.h>
#include <vector>

namespace vorsa::runtime {
namespace {

using namespace literals;

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
