#include "runtime/text/bytes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cerrno>
#include <cstring>
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

template <class Integer> Integer read_little_endian(const std::array<std::uint8_t, 8>& raw)
{
    std::make_unsigned_t<Integer> value = 0;
    for (std::size_t i = sizeof(Integer); i-- > 0;)
        value = static_cast<decltype(value)>((value << 8) | raw[i]);
    return static_cast<Integer>(value);
}

std::size_t size_of(ValueType type)
{
    switch (type) {
    case ValueType::byte:
        return 1;
    case ValueType::int16:
        return 2;
    case ValueType::int32:
    case ValueType::float32:
    case ValueType::truth:
    case ValueType::code_address:
        return 4;
    case ValueType::int64:
    case ValueType::float64:
    case ValueType::date_time:
        return 8;
    case ValueType::text:
        return 0;
    }
    assert(false && "unknown value type");
    return 0;
}

Value zero_of(ValueType type)
{
    switch (type) {
    case ValueType::float32:
    case ValueType::float64:
    case ValueType::date_time:
        return 0.0;
    case ValueType::truth:
        return false;
    case ValueType::text:
        return Text();
    default:
        return std::int64_t{0};
    }
}

} // namespace

Bytes blank_bytes(int n)
{
    return n < 1 ? Bytes() : Bytes(static_cast<std::size_t>(n), 0);
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

Bytes left_bytes(const Bytes& bytes, int n)
{
    if (n < 1) return Bytes();
    const auto length = std::min(bytes.size(), static_cast<std::size_t>(n));
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

int find_bytes(const Bytes& bytes, const Bytes& sought, int start)
{
    if (sought.empty() || sought.size() > bytes.size()) return -1;
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (from > bytes.size() - sought.size()) return -1;
    const auto found = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(),
                                   sought.begin(), sought.end());
    return found == bytes.end() ? -1 : static_cast<int>(found - bytes.begin()) + 1;
}

Value value_from_bytes(const Bytes& bytes, ValueType type, int position)
{
    if (position < 1 || static_cast<std::size_t>(position) > bytes.size()) return zero_of(type);
    const std::size_t from = static_cast<std::size_t>(position) - 1;

    if (type == ValueType::text) {
        const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(from);
        return Text(begin, std::find(begin, bytes.end(), std::uint8_t{0}));
    }

    // Bytes beyond the end read as zeros.
    std::array<std::uint8_t, 8> raw{};
    const std::size_t available = std::min(size_of(type), bytes.size() - from);
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(from), available, raw.begin());

    switch (type) {
    case ValueType::byte:
        return std::int64_t{raw[0]};
    case ValueType::int16:
        return std::int64_t{read_little_endian<std::int16_t>(raw)};
    case ValueType::int32:
        return std::int64_t{read_little_endian<std::int32_t>(raw)};
    case ValueType::int64:
        return read_little_endian<std::int64_t>(raw);
    case ValueType::float32:
        return double{std::bit_cast<float>(read_little_endian<std::uint32_t>(raw))};
    case ValueType::float64:
    case ValueType::date_time:
        return std::bit_cast<double>(read_little_endian<std::uint64_t>(raw));
    case ValueType::truth:
        return read_little_endian<std::int32_t>(raw) != 0;
    case ValueType::code_address:
        // An address is unsigned: zero-extended, never negative.
        return std::int64_t{read_little_endian<std::uint32_t>(raw)};
    case ValueType::text:
        break;
    }
    assert(false && "unknown value type");
    return std::int64_t{0};
}

} // namespace vorsa::runtime
