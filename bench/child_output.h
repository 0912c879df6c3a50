#pragma once
// What a benchmark driver's child process wrote to its pipe, read until the child closed it.

#include <cerrno>
#include <string>
#include <unistd.h>

namespace vorsa::bench {

inline std::string read_until_closed(int fd)
{
    std::string text;
    char buffer[256];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

} // namespace vorsa::bench
