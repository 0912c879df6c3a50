#include "runtime/controls/interaction.h"

#include "runtime/text/gbk.h"

#include <atomic>
#include <cstdio>

namespace vorsa::runtime {

namespace {

std::atomic<Interaction*> installed{nullptr};

} // namespace

void set_interaction(Interaction* interaction)
{
    installed.store(interaction);
}

Interaction* installed_interaction()
{
    return installed.load();
}

int message_box(const Text& content, int style)
{
    using namespace literals;
    return message_box(content, style, "信息"_gbk);
}

int message_box(const Text& content, int style, const Text& title)
{
    if (Interaction* interaction = installed.load()) return interaction->message_box(content, style, title);
    // Without a window the message goes to standard error and counts as confirmed at once.
    const std::string line = "[" + utf8_from_gbk(title) + "] " + utf8_from_gbk(content) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return 0;
}

int cursor_x()
{
    Interaction* interaction = installed.load();
    return interaction ? interaction->cursor_x() : 0;
}

int cursor_y()
{
    Interaction* interaction = installed.load();
    return interaction ? interaction->cursor_y() : 0;
}

void process_pending_events()
{
    if (Interaction* interaction = installed.load()) interaction->process_pending_events();
}

} // namespace vorsa::runtime
