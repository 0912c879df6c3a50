#include "runtime/platform/platform.h"
#include "runtime/surface/surface.h"
#include "runtime/text/gbk.h"
#include "runtime/text/numbers.h"

#include <gtest/gtest.h>
#include <vector>

namespace vorsa::runtime {
namespace {

using namespace literals;

// Answers every message box with its own number, so the test sees which one was installed.
class NumberedInteraction : public Interaction
{
public:
    explicit NumberedInteraction(int number) : m_number(number) {}
    int message_box(const Text&, int, const Text&) override { return m_number; }
    int cursor_x() override { return m_number; }
    int cursor_y() override { return m_number; }
    void process_pending_events() override {}

private:
    int m_number;
};

void first_handler(const Text&, const Text&) {}
void second_handler(const Text&, const Text&) {}

// A platform whose every hook says which one it is: pictures decode to `number` x 1, the screen has
// 100 + `number` dpi.
Platform numbered_platform(int number, FatalHandler handler, Interaction* interaction)
{
    Platform platform;
    platform.fatal_handler = handler;
    platform.picture_decoder = [number](const Bytes&) -> std::optional<Bitmap> { return Bitmap(number, 1); };
    platform.screen_dpi_source = [number] { return 100 + number; };
    platform.interaction = interaction;
    platform.random_generator_state = static_cast<std::uint32_t>(number);
    return platform;
}

std::vector<std::int32_t> next_randoms()
{
    std::vector<std::int32_t> values;
    for (int i = 0; i < 4; ++i)
        values.push_back(random_in_range(0, 1000));
    return values;
}

// What each hook answers now, as far as a caller can tell.
struct Observed
{
    FatalHandler fatal_handler;
    int decoded_width;
    int dpi;
    int message_box_answer;
    std::vector<std::int32_t> randoms;

    bool operator==(const Observed&) const = default;
};

Observed observe()
{
    const std::optional<Bitmap> decoded = picture_from_bytes(bytes_of("GIF89a"));
    return {fatal_handler(), decoded ? decoded->width : -1, screen_vertical_dpi(), message_box("x"),
            next_randoms()};
}

TEST(PlatformTest, GuardPutsBackEveryHookAndInstallReplacesThemAll)
{
    PlatformGuard outer; // leaves the binary's hooks as they were
    NumberedInteraction first(1), second(2);

    install_platform(numbered_platform(1, first_handler, &first));
    const Observed installed_first = observe();
    EXPECT_EQ(installed_first.fatal_handler, first_handler);
    EXPECT_EQ(installed_first.decoded_width, 1);
    EXPECT_EQ(installed_first.dpi, 101);
    EXPECT_EQ(installed_first.message_box_answer, 1);

    install_platform(numbered_platform(1, first_handler, &first));
    {
        PlatformGuard guard;
        install_platform(numbered_platform(2, second_handler, &second));
        const Observed installed_second = observe();
        EXPECT_EQ(installed_second.dpi, 102);
        EXPECT_EQ(installed_second.message_box_answer, 2);
    }
    EXPECT_EQ(observe(), installed_first); // the generator too goes on from where the guard found it

    // The empty platform: standard error, BMP only, 96 dpi, the console.
    install_platform({});
    const Observed defaults = observe();
    EXPECT_EQ(defaults.fatal_handler, nullptr);
    EXPECT_EQ(defaults.decoded_width, -1);
    EXPECT_EQ(defaults.dpi, 96);
    EXPECT_EQ(defaults.message_box_answer, 0);
}

} // namespace
} // namespace vorsa::runtime
