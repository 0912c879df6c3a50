#pragma once
// A readable page of 0x5A bytes followed by a page the process may not read, each system's way
// (guarded_page_posix.cpp, guarded_page_win32.cpp).

#include <cstdint>

namespace vorsa::runtime {

class GuardedPage
{
public:
    GuardedPage();
    ~GuardedPage();
    GuardedPage(const GuardedPage&) = delete;
    GuardedPage& operator=(const GuardedPage&) = delete;

    // The first byte of the page that cannot be read.
    const std::uint8_t* readable_end() const { return m_base + m_page_size; }

private:
    std::uint8_t* m_base = nullptr;
    std::size_t m_page_size = 0;
};

} // namespace vorsa::runtime
