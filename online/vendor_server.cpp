#include "online/vendor_server.h"

#ifndef VORSA_VENDOR_SERVER
#define VORSA_VENDOR_SERVER ""
#endif

namespace vorsa::online {

runtime::Text vendor_server_address()
{
    runtime::Text address = VORSA_VENDOR_SERVER;
    while (!address.empty() && address.back() == '/')
        address.pop_back();
    return address;
}

} // namespace vorsa::online
