// What the text and byte-array commands ask of Windows: the tick count, and whether memory can be
// read. The Linux build has os_posix.cpp instead.

#include "runtime/text/bytes.h"
#include "runtime/text/numbers.h"

#include <cstdint>
#include <cstring>
#include <windows.h>

namespace vorsa::runtime {

namespace {

// Whether every byte from `address` on for `n` bytes lies in committed memory of this process that
// may be read: the regions of the address space are asked, no byte is touched.
bool readable(const void* address, std::size_t n)
{
    constexpr DWORD readable_protections = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                                           PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                                           PAGE_EXECUTE_WRITECOPY;
    auto at = reinterpret_cast<std::uintptr_t>(address);
    const std::uintptr_t end = at + n;
    if (end < at) return false; // runs past the end of the address space
    while (at < end) {
        MEMORY_BASIC_INFORMATION region{};
        if (VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof region) == 0) return false;
        if (region.State != MEM_COMMIT || (region.Protect & PAGE_GUARD) != 0 ||
            (region.Protect & readable_protections) == 0)
            return false;
        at = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
    }
    return true;
}

} // namespace

std::uint32_t tick_count()
{
    return static_cast<std::uint32_t>(GetTickCount64());
}

Bytes bytes_from_memory(const void* address, int n)
{
    if (n < 1 || address == nullptr) return Bytes();
    const auto size = static_cast<std::size_t>(n);
    // Checked first and then copied: the commands run on the window's thread, and no other thread of
    // the program releases memory meanwhile.
    if (!readable(address, size)) return Bytes();
    Bytes copy(size);
    std::memcpy(copy.data(), address, size);
    return copy;
}

} // namespace vorsa::runtime
