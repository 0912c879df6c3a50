// What the text and byte-array commands ask of a POSIX system: the tick count, and whether memory can
// be read. The Windows build has os_win32.cpp instead.

#include "runtime/text/bytes.h"
#include "runtime/text/numbers.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace vorsa::runtime {

namespace {

// Copies through a pipe: write() reports EFAULT for memory the process cannot read instead of
// faulting. Used where the kernel refuses process_vm_readv (seccomp profiles may block it).
bool copy_through_pipe(const std::uint8_t* from, std::uint8_t* to, std::size_t n)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    bool ok = true;
    constexpr std::size_t chunk = 4096; // well below a pipe's capacity, so write never blocks
    for (std::size_t done = 0; ok && done < n;) {
        const std::size_t size = std::min(chunk, n - done);
        const ssize_t written = write(ends[1], from + done, size);
        if (written <= 0) {
            ok = false;
            break;
        }
        for (ssize_t got = 0; got < written;) {
            const ssize_t r = read(ends[0], to + done + static_cast<std::size_t>(got),
                                   static_cast<std::size_t>(written - got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) {
                ok = false;
                break;
            }
            got += r;
        }
        done += static_cast<std::size_t>(written);
    }
    close(ends[0]);
    close(ends[1]);
    return ok;
}

} // namespace

std::uint32_t tick_count()
{
    // Time since boot including suspend, like the platform's tick count; the monotonic clock if the
    // kernel lacks the boot-time one.
    timespec now{};
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) clock_gettime(CLOCK_MONOTONIC, &now);
    const auto milliseconds =
        static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000u;
    return static_cast<std::uint32_t>(milliseconds);
}

Bytes bytes_from_memory(const void* address, int n)
{
    if (n < 1 || address == nullptr) return Bytes();
    Bytes copy(static_cast<std::size_t>(n));
    // Reading our own memory through the kernel turns an unreadable address into an error code
    // instead of a crash.
    iovec local{copy.data(), copy.size()};
    iovec remote{const_cast<void*>(address), copy.size()};
    const ssize_t read = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
    if (read == static_cast<ssize_t>(copy.size())) return copy;
    if (read < 0 && (errno == ENOSYS || errno == EPERM)) {
        if (copy_through_pipe(static_cast<const std::uint8_t*>(address), copy.data(), copy.size()))
            return copy;
    }
    return Bytes();
}

} // namespace vorsa::runtime
