#include "tests/runtime/text/guarded_page.h"

#include <cstring>
#include <stdexcept>
#include <windows.h>

namespace vorsa::runtime {

GuardedPage::GuardedPage()
{
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    m_page_size = system.dwPageSize;
    void* pages = VirtualAlloc(nullptr, m_page_size * 2, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (pages == nullptr) throw std::runtime_error("VirtualAlloc failed");
    m_base = static_cast<std::uint8_t*>(pages);
    std::memset(m_base, 0x5A, m_page_size);
    DWORD old_protection = 0;
    if (!VirtualProtect(m_base + m_page_size, m_page_size, PAGE_NOACCESS, &old_protection))
        throw std::runtime_error("VirtualProtect failed");
}

GuardedPage::~GuardedPage()
{
    VirtualFree(m_base, 0, MEM_RELEASE);
}

} // namespace vorsa::runtime
