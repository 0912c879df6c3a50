#include "tests/runtime/text/guarded_page.h"

#include <cstring>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

namespace vorsa::runtime {

GuardedPage::GuardedPage() : m_page_size(static_cast<std::size_t>(sysconf(_SC_PAGESIZE)))
{
    void* map = mmap(nullptr, m_page_size * 2, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) throw std::runtime_error("mmap failed");
    m_base = static_cast<std::uint8_t*>(map);
    std::memset(m_base, 0x5A, m_page_size);
    if (mprotect(m_base + m_page_size, m_page_size, PROT_NONE) != 0)
        throw std::runtime_error("mprotect failed");
}

GuardedPage::~GuardedPage()
{
    munmap(m_base, m_page_size * 2);
}

} // namespace vorsa::runtime
