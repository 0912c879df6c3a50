#pragma once
// Windows only. What the notice page may load: the WebBrowser control fetches a page's pictures, style
// sheets and frames through the system's URL loader (urlmon), so a filter there sees every one of them.
// The filter is a namespace handler of the process (IInternetSession::RegisterNameSpace) for the schemes
// that reach the network or the disk; it refuses an address that is not on the one server before the
// loader opens a connection, and hands the others back to the system's own handler. about: and data:
// addresses stay unfiltered. The program's own HTTP client (WinHTTP) does not go through urlmon and is
// not affected.

#include <string>
#include <string_view>

struct IClassFactory;
struct IInternetSession;

namespace vorsa::runtime {

// True when `url` is an about: or data: address, or lies on `server` ("http://host[:port]"): same
// scheme, host (letter case aside) and port (a missing port is the scheme's default). Both are read by
// the system's own address parser (CreateUri), the one the loader connects by, so an address that
// merely mentions the server (in its user name, path or query) does not pass. An empty or unreadable
// server lets nothing but about: and data: pass.
bool request_allowed(std::wstring_view url, std::wstring_view server);

// While the object lives, every load of the process through urlmon of an http, https, ftp, file, res,
// mk, its, ms-its or mhtml address is refused unless request_allowed() passes it. urlmon is also told
// to connect directly from then on, so that the proxy of the system or of the environment is not used
// (as the program's HTTP client uses none); that setting stays for the process. One object at a time;
// a later one replaces the rules of an earlier one while it lives. Needs COM on the thread.
class RequestFilter
{
public:
    explicit RequestFilter(std::wstring server);
    ~RequestFilter();
    RequestFilter(const RequestFilter&) = delete;
    RequestFilter& operator=(const RequestFilter&) = delete;

    // False when the handler could not be registered for every scheme: then none is, and nothing is
    // filtered.
    bool active() const { return m_factory != nullptr; }

private:
    void unregister();

    IInternetSession* m_session = nullptr;
    IClassFactory* m_factory = nullptr;
};

} // namespace vorsa::runtime
