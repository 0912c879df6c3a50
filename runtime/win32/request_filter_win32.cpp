// The notice page's request filter on Windows: see request_filter_win32.h.
//
// A refused address fails in Start, before any connection. A permitted one (always on the server, so
// http or https) is loaded by the system's own handler of the scheme, which the filter's object creates
// and passes every call on to, with urlmon's own sink: the handler reports to urlmon as it would without
// the filter. (Answering INET_E_USE_DEFAULT_PROTOCOLHANDLER instead would be shorter, but not every
// urlmon honours it; Wine's fails the load.) urlmon may create the object aggregated, so its IUnknown
// is the outer object's then.

#include "runtime/win32/request_filter_win32.h"

#include <array>
#include <atomic>
#include <new>
#include <ole2.h>
#include <urlmon.h>
#include <utility>
#include <windows.h>
#include <wininet.h>

namespace vorsa::runtime {

namespace {

// The schemes whose loads reach the network or the disk. about: and data: carry their content in the
// address itself; javascript: and vbscript: belong to the script engine, which never runs.
constexpr std::array<const wchar_t*, 9> filtered_schemes = {L"http", L"https", L"ftp",    L"file", L"res",
                                                            L"mk",   L"its",   L"ms-its", L"mhtml"};

// The filter's class identifier: urlmon wants one for a namespace, and it names nothing in the registry.
constexpr CLSID filter_class = {0x5b1f6c2e, 0x93a4, 0x4d1b, {0x8e, 0x61, 0x2f, 0x0c, 0x7d, 0x4a, 0x90, 0x13}};

class Bstr
{
public:
    Bstr() = default;
    ~Bstr() { SysFreeString(m_text); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR* out() { return &m_text; }
    std::wstring_view view() const { return {m_text, m_text ? SysStringLen(m_text) : 0u}; }

private:
    BSTR m_text = nullptr;
};

bool same_ignoring_case(std::wstring_view a, std::wstring_view b)
{
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

struct Origin
{
    std::wstring scheme;
    std::wstring host;
    DWORD port = 0;
};

// The scheme, host and port of an absolute address as urlmon reads it; false when it reads none.
bool read_origin(std::wstring_view text, Origin& origin)
{
    const std::wstring url(text);
    if (url.empty() || url.find(L'\0') != std::wstring::npos) return false;
    IUri* uri = nullptr;
    if (FAILED(CreateUri(url.c_str(), Uri_CREATE_NO_DECODE_EXTRA_INFO, 0, &uri)) || !uri) return false;
    Bstr scheme;
    Bstr host;
    DWORD port = 0;
    const bool read = SUCCEEDED(uri->GetSchemeName(scheme.out())) && uri->GetHost(host.out()) == S_OK &&
                      uri->GetPort(&port) == S_OK;
    uri->Release();
    if (!read || scheme.view().empty() || host.view().empty()) return false;
    origin = {std::wstring(scheme.view()), std::wstring(host.view()), port};
    return true;
}

// The scheme of `url` when it is about: or data: (which have no host), by the characters before the
// first colon.
bool is_self_contained(std::wstring_view url)
{
    const std::size_t colon = url.find(L':');
    if (colon == std::wstring_view::npos) return false;
    const std::wstring_view scheme = url.substr(0, colon);
    return same_ignoring_case(scheme, L"about") || same_ignoring_case(scheme, L"data");
}

// The namespace handler's object: refuses or hands back, and holds nothing else. Its IUnknown is the
// outer object's when aggregated.
class FilterProtocol final : public IInternetProtocol
{
public:
    FilterProtocol(IUnknown* outer, std::wstring server)
        : m_outer(outer ? outer : &m_inner), m_inner(*this), m_server(std::move(server))
    {
    }

    IUnknown* inner() { return &m_inner; }

    // IUnknown, delegated to the outer object.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        return m_outer->QueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_outer->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_outer->Release(); }

    // IInternetProtocolRoot
    HRESULT STDMETHODCALLTYPE Start(LPCWSTR url, IInternetProtocolSink* sink, IInternetBindInfo* bind_info,
                                    DWORD flags, HANDLE_PTR reserved) override
    {
        if (m_handler) return E_UNEXPECTED;
        if (!url || !request_allowed(url, m_server)) return E_ACCESSDENIED;
        const CLSID* handler_class = handler_of(url);
        if (!handler_class) return E_ACCESSDENIED;
        if (FAILED(CoCreateInstance(*handler_class, nullptr, CLSCTX_INPROC_SERVER, IID_IInternetProtocol,
                                    reinterpret_cast<void**>(&m_handler))) ||
            !m_handler) {
            m_handler = nullptr;
            return INET_E_CANNOT_CONNECT;
        }
        return m_handler->Start(url, sink, bind_info, flags, reserved);
    }
    HRESULT STDMETHODCALLTYPE Continue(PROTOCOLDATA* data) override
    {
        return m_handler ? m_handler->Continue(data) : E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE Abort(HRESULT reason, DWORD options) override
    {
        return m_handler ? m_handler->Abort(reason, options) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Terminate(DWORD options) override
    {
        return m_handler ? m_handler->Terminate(options) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Suspend() override { return m_handler ? m_handler->Suspend() : E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Resume() override { return m_handler ? m_handler->Resume() : E_NOTIMPL; }

    // IInternetProtocol: a refused load has nothing to read.
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override
    {
        if (m_handler) return m_handler->Read(buffer, size, read);
        if (read) *read = 0;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override
    {
        return m_handler ? m_handler->Seek(move, origin, position) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE LockRequest(DWORD options) override
    {
        return m_handler ? m_handler->LockRequest(options) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE UnlockRequest() override
    {
        return m_handler ? m_handler->UnlockRequest() : S_OK;
    }

private:
    ~FilterProtocol()
    {
        if (m_handler) m_handler->Release();
    }

    // The system's handler of a permitted address's scheme.
    static const CLSID* handler_of(std::wstring_view url)
    {
        const std::wstring_view scheme = url.substr(0, url.find(L':'));
        if (same_ignoring_case(scheme, L"http")) return &CLSID_HttpProtocol;
        if (same_ignoring_case(scheme, L"https")) return &CLSID_HttpSProtocol;
        return nullptr;
    }

    // The object's own identity and lifetime.
    class Inner final : public IUnknown
    {
    public:
        explicit Inner(FilterProtocol& protocol) : m_protocol(protocol) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
        {
            if (!object) return E_POINTER;
            if (riid == IID_IUnknown) {
                *object = static_cast<IUnknown*>(this);
            } else if (riid == IID_IInternetProtocolRoot || riid == IID_IInternetProtocol) {
                *object = static_cast<IInternetProtocol*>(&m_protocol);
            } else if (m_protocol.m_handler && (riid == IID_IWinInetInfo || riid == IID_IWinInetHttpInfo)) {
                // What the loader asks a handler for the answer's headers, answered by the one loading.
                return m_protocol.m_handler->QueryInterface(riid, object);
            } else {
                *object = nullptr;
                return E_NOINTERFACE;
            }
            static_cast<IUnknown*>(*object)->AddRef();
            return S_OK;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
        ULONG STDMETHODCALLTYPE Release() override
        {
            const ULONG left = --m_references;
            if (left == 0) delete &m_protocol;
            return left;
        }

    private:
        FilterProtocol& m_protocol;
        std::atomic<ULONG> m_references{1};
    };

    IUnknown* m_outer;
    Inner m_inner;
    std::wstring m_server;
    IInternetProtocol* m_handler = nullptr;
};

class FilterFactory final : public IClassFactory
{
public:
    explicit FilterFactory(std::wstring server) : m_server(std::move(server)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --m_references;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        // An aggregated object hands out its own IUnknown first; that is COM's rule.
        if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
        auto* protocol = new (std::nothrow) FilterProtocol(outer, m_server);
        if (!protocol) return E_OUTOFMEMORY;
        const HRESULT result = protocol->inner()->QueryInterface(riid, object);
        protocol->inner()->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    std::atomic<ULONG> m_references{1};
    std::wstring m_server;
};

} // namespace

bool request_allowed(std::wstring_view url, std::wstring_view server)
{
    if (is_self_contained(url)) return true;
    Origin target;
    Origin allowed;
    if (!read_origin(url, target) || !read_origin(server, allowed)) return false;
    return same_ignoring_case(target.scheme, allowed.scheme) &&
           same_ignoring_case(target.host, allowed.host) && target.port == allowed.port;
}

RequestFilter::RequestFilter(std::wstring server)
{
    if (FAILED(CoInternetGetSession(0, &m_session, 0)) || !m_session) {
        m_session = nullptr;
        return;
    }
    m_factory = new (std::nothrow) FilterFactory(std::move(server));
    if (!m_factory) return;
    for (const wchar_t* scheme : filtered_schemes) {
        if (FAILED(m_session->RegisterNameSpace(m_factory, filter_class, scheme, 0, nullptr, 0))) {
            unregister();
            return;
        }
    }
    // Direct connections for everything urlmon loads in this process. A system without the option
    // (Wine 8 has none) keeps its proxy settings; the addresses are filtered all the same.
    INTERNET_PROXY_INFO direct{INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr};
    UrlMkSetSessionOption(INTERNET_OPTION_PROXY, &direct, sizeof direct, 0);
}

RequestFilter::~RequestFilter()
{
    unregister();
    if (m_session) m_session->Release();
}

void RequestFilter::unregister()
{
    if (!m_factory) return;
    for (const wchar_t* scheme : filtered_schemes)
        m_session->UnregisterNameSpace(m_factory, scheme);
    m_factory->Release();
    m_factory = nullptr;
}

} // namespace vorsa::runtime
