#pragma once
// The vendor's web server, fixed when the program is built (CMake cache variable VORSA_VENDOR_SERVER,
// for example "http://127.0.0.1:8000"). Empty by default: the program then starts offline and
// contacts no server.

#include "runtime/text/text.h"

namespace vorsa::online {

// "http://host[:port]" without a trailing "/", or empty.
runtime::Text vendor_server_address();

} // namespace vorsa::online
