#pragma once
// A counter started over in-memory controls and window in a directory of its own, with a vendor's
// server that lives in memory, the message boxes written down and a printer that refuses every job.
// restart() starts the counter again over the same settings file, with new controls and a new window.

#include "app/counter.h"
#include "online/refresh.h"
#include "receipt/receipt_platform.h"
#include "runtime/controls/interaction.h"
#include "runtime/settings/settings.h"
#include "runtime/surface/picture.h"
#include "tests/app/memory_counter_window.h"
#include "tests/app/refusing_printer.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vorsa::app::testing {

// The vendor's server as the counter's sources see it: a page (empty: no complete answer came) and one
// logo for every online brand; pictures convert to themselves. `while_waiting` runs inside every
// request, as waiting for the network dispatches the window's events; once the close box has stopped
// the start, requests get nothing.
class FakeServer
{
public:
    runtime::Text page;
    runtime::Bytes logo{0x60};
    std::function<void()> while_waiting;
    // Every address asked for.
    std::vector<runtime::Text> requested;
    // What the last start made its sources with.
    std::optional<online::HttpSettings> settings;

    OnlineSourcesFactory sources()
    {
        return
            [this](std::function<void(const runtime::Text&)> show_notice, const online::HttpSettings& http) {
                settings = http;
                return std::make_unique<Sources>(*this, std::move(show_notice), http);
            };
    }

private:
    class Sources : public online::OnlineSources
    {
    public:
        Sources(FakeServer& server, std::function<void(const runtime::Text&)> show_notice,
                online::HttpSettings http)
            : m_server(server), m_show_notice(std::move(show_notice)), m_http(http)
        {
        }
        runtime::Text fetch_page(const runtime::Text& url) override
        {
            if (!wait_for(url)) return {};
            return m_server.page;
        }
        std::vector<runtime::Bytes> fetch_all(const std::vector<runtime::Text>& urls) override
        {
            std::vector<runtime::Bytes> bodies;
            for (const runtime::Text& url : urls)
                bodies.push_back(wait_for(url) ? m_server.logo : runtime::Bytes{});
            return bodies;
        }
        runtime::Bytes convert_to_bmp(const runtime::Bytes& picture) override { return picture; }
        void show_notice(const runtime::Text& notice) override { m_show_notice(notice); }
        bool abandoned() const override { return m_http.stop && m_http.stop->stopped(); }

    private:
        // False when the start was given up before or while the request waited.
        bool wait_for(const runtime::Text& url)
        {
            if (abandoned()) return false;
            m_server.requested.push_back(url);
            if (m_server.while_waiting) m_server.while_waiting();
            return !abandoned();
        }

        FakeServer& m_server;
        std::function<void(const runtime::Text&)> m_show_notice;
        online::HttpSettings m_http;
    };
};

// Message boxes written down instead of shown; no events wait.
class RecordedInteraction : public runtime::Interaction
{
public:
    struct Box
    {
        runtime::Text caption;
        runtime::Text text;
    };
    std::vector<Box> boxes;

    int message_box(const runtime::Text& content, int, const runtime::Text& title) override
    {
        boxes.push_back({title, content});
        return 0;
    }
    int cursor_x() override { return 0; }
    int cursor_y() override { return 0; }
    void process_pending_events() override {}
};

// The five built-in logos: distinct one-byte pictures.
inline std::vector<runtime::Bytes> builtin_test_logos()
{
    std::vector<runtime::Bytes> logos;
    for (std::uint8_t i = 0; i < online::builtin_brand_count; ++i)
        logos.push_back(runtime::Bytes{static_cast<std::uint8_t>(0x41 + i)});
    return logos;
}

class CounterFixture : public ::testing::Test
{
protected:
    CounterFixture()
    {
        runtime::set_interaction(&interaction);
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        m_directory = std::filesystem::temp_directory_path() /
                      ("vorsa_counter_" + std::to_string(::getpid()) + "_" + name);
        std::filesystem::remove_all(m_directory);
        std::filesystem::create_directories(m_directory);
        settings = (m_directory / "dy.cfg").string();
    }
    ~CounterFixture() override
    {
        m_counter.reset();
        std::filesystem::remove_all(m_directory);
    }

    // 2015-03-05, the printers Receipt-Printer and PDF, this fixture's server and printer.
    CounterOptions options()
    {
        CounterOptions o;
        o.today = [] { return LocalDate{2015, 3, 5}; };
        o.online_sources = server.sources();
        o.builtin_logos = builtin_test_logos();
        o.title_picture = runtime::bitmap_to_bmp(runtime::Bitmap(preview_width, preview_height, 0xFF336699));
        o.printers = [](runtime::TextList& names) {
            names = {"Receipt-Printer", "PDF"};
            return 2;
        };
        o.printer = &printer;
        return o;
    }

    // Starts the counter over new controls and a new window; `ready` runs before the start.
    void start(CounterOptions given, const std::function<void()>& ready = {})
    {
        m_counter.reset();
        m_controls = std::make_unique<MemoryCounterControls>();
        m_window = std::make_unique<MemoryCounterWindow>();
        m_last_options = given;
        m_counter = std::make_unique<Counter>(m_controls->refs(), *m_window, settings, std::move(given));
        printer.page = &m_window->board;
        if (ready) ready();
        m_counter->start();
    }
    void start() { start(options()); }
    void restart() { start(m_last_options); }
    // The window has closed: the counter goes, its controls and window stay to be looked at.
    void end() { m_counter.reset(); }

    MemoryCounterControls& controls() { return *m_controls; }
    MemoryCounterWindow& window() { return *m_window; }
    Counter& counter() { return *m_counter; }

    runtime::Text setting(std::string_view section, std::string_view key) const
    {
        return runtime::read_setting(settings, section, key);
    }
    void put(std::string_view section, std::string_view key, const runtime::Text& value)
    {
        ASSERT_TRUE(runtime::write_setting(settings, section, key, value));
    }

    // Puts back every hook the test installs, the receipt numbers' state among them.
    receipt::ReceiptPlatformGuard m_platform;
    RecordedInteraction interaction;
    FakeServer server;
    RefusingPrinter printer;
    std::string settings;

private:
    std::filesystem::path m_directory;
    std::unique_ptr<MemoryCounterControls> m_controls;
    std::unique_ptr<MemoryCounterWindow> m_window;
    CounterOptions m_last_options;
    std::unique_ptr<Counter> m_counter;
};

} // namespace vorsa::app::testing
