#include "online/http_settings.h"

#include <utility>

namespace vorsa::online {

void HttpStop::stop()
{
    if (m_stopped) return;
    m_stopped = true;
    // A wake may withdraw itself or others while it runs.
    const auto wakes = m_wakes;
    for (const auto& [key, wake] : wakes)
        if (m_wakes.count(key)) wake();
}

int HttpStop::on_stop(std::function<void()> wake)
{
    m_wakes.emplace(++m_next_key, std::move(wake));
    return m_next_key;
}

void HttpStop::withdraw(int key)
{
    m_wakes.erase(key);
}

} // namespace vorsa::online
