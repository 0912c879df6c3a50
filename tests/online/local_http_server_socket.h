#pragma once
// The few socket operations the local test server's common part (local_http_server_common.cpp) needs,
// one implementation per system: local_http_server.cpp (POSIX), win32/local_http_server_win32.cpp
// (Winsock). Sockets are kept as int, as in the server's header.

#include <cstddef>
#include <string>

namespace vorsa::online::testing {

// Sends everything; false when the peer is gone.
bool send_all(int connection, const std::string& data);
// Waits until `connection` has something to read or was closed, or `wake` (the server's stop signal)
// fires: 1 when the connection is ready, 0 when only the wake came, -1 on an error.
int wait_for_connection(int connection, int wake);
// What has come on the connection, at most `size` bytes: their number, 0 when the peer closed, less
// on an error.
long receive(int connection, char* buffer, std::size_t size);

} // namespace vorsa::online::testing
