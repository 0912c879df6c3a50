// The web view on Windows: see web_view_win32.h.

#include "runtime/win32/web_view_win32.h"

#include "runtime/text/gbk.h"
#include "runtime/win32/request_filter_win32.h"
#include "runtime/win32/web_view_site_win32.h"

#include <exdisp.h>
#include <mshtml.h>
#include <ole2.h>
#include <urlmon.h>

namespace vorsa::runtime {

namespace {

constexpr wchar_t host_class[] = L"VorsaWebViewHost";

// The longest wait between two looks at the document while no message comes.
constexpr DWORD document_poll_ms = 50;

LRESULT CALLBACK host_procedure(HWND window, UINT message, WPARAM w, LPARAM l)
{
    auto* site = reinterpret_cast<BrowserSite*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_SIZE && site) site->fit_to_window();
    return DefWindowProcW(window, message, w, l);
}

bool register_host_class()
{
    static const bool registered = [] {
        WNDCLASSEXW type{};
        type.cbSize = sizeof type;
        type.lpfnWndProc = host_procedure;
        type.hInstance = GetModuleHandleW(nullptr);
        type.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        type.lpszClassName = host_class;
        return RegisterClassExW(&type) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

// The engine's settings for the whole process that narrow what any page can do, made once: no prompt
// of a page, no ActiveX installation or file download, pop-ups blocked, no mk: protocol, no clicking
// sound, no user name and password in addresses, no zone elevation, no binary behaviours, no
// XMLHttpRequest.
void restrict_engine_once()
{
    static const bool done = [] {
        const INTERNETFEATURELIST on[] = {
            FEATURE_BLOCK_INPUT_PROMPTS,
            FEATURE_RESTRICT_ACTIVEXINSTALL,
            FEATURE_RESTRICT_FILEDOWNLOAD,
            FEATURE_WEBOC_POPUPMANAGEMENT,
            FEATURE_DISABLE_MK_PROTOCOL,
            FEATURE_DISABLE_NAVIGATION_SOUNDS,
            FEATURE_HTTP_USERNAME_PASSWORD_DISABLE,
            FEATURE_ZONE_ELEVATION,
            FEATURE_MIME_HANDLING,
            FEATURE_WINDOW_RESTRICTIONS,
            FEATURE_SAFE_BINDTOOBJECT,
            FEATURE_UNC_SAVEDFILECHECK,
            FEATURE_LOCALMACHINE_LOCKDOWN,
            FEATURE_PROTOCOL_LOCKDOWN,
            FEATURE_DISABLE_TELNET_PROTOCOL,
        };
        for (const INTERNETFEATURELIST feature : on)
            CoInternetSetFeatureEnabled(feature, SET_FEATURE_ON_PROCESS, TRUE);
        CoInternetSetFeatureEnabled(FEATURE_BEHAVIORS, SET_FEATURE_ON_PROCESS, FALSE);
        CoInternetSetFeatureEnabled(FEATURE_XMLHTTP, SET_FEATURE_ON_PROCESS, FALSE);
        return true;
    }();
    (void)done;
}

BSTR make_bstr(const std::u16string& text)
{
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
}

// An optional argument left out.
VARIANT missing_argument()
{
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_ERROR;
    argument.scode = DISP_E_PARAMNOTFOUND;
    return argument;
}

// The control's HTML document, or null while it has none.
IHTMLDocument2* html_document(IWebBrowser2* browser)
{
    IDispatch* document = nullptr;
    if (!browser || FAILED(browser->get_Document(&document)) || !document) return nullptr;
    IHTMLDocument2* html = nullptr;
    if (FAILED(document->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(&html)))) html = nullptr;
    document->Release();
    return html;
}

bool document_complete(IWebBrowser2* browser)
{
    READYSTATE state = READYSTATE_UNINITIALIZED;
    if (!browser || FAILED(browser->get_ReadyState(&state)) || state != READYSTATE_COMPLETE) return false;
    IHTMLDocument2* document = html_document(browser);
    if (!document) return false;
    document->Release();
    return true;
}

template <class Interface> void release(Interface*& object)
{
    if (object) object->Release();
    object = nullptr;
}

} // namespace

WebView::WebView(const Text& server)
{
    const std::u16string wide = utf16_from_gbk(server);
    m_server.assign(wide.begin(), wide.end());
}

WebView::~WebView()
{
    destroy();
}

bool WebView::create_web_view(HWND parent, const Text& address, int x, int y, int width, int height,
                              int control_id)
{
    if (m_window || !parent || !IsWindow(parent)) return false;
    // The control lives in a single-threaded apartment with OLE (in-place activation needs it).
    const HRESULT ole = OleInitialize(nullptr);
    if (FAILED(ole)) return false;
    m_ole_initialized = true;

    m_filter = std::make_unique<RequestFilter>(m_server);
    if (!m_filter->active() || !register_host_class()) {
        destroy();
        return false;
    }
    restrict_engine_once();

    // Shown only once the control has its document: until then the caller's picture stays in view.
    m_window = CreateWindowExW(0, host_class, L"", WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, x, y, width,
                               height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(control_id)),
                               GetModuleHandleW(nullptr), nullptr);
    if (!m_window) {
        destroy();
        return false;
    }
    m_site = new BrowserSite(m_window, m_server);
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(m_site));

    // The site comes first, so that the control reads its download control and user interface flags
    // before it makes its first document.
    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                reinterpret_cast<void**>(&m_object))) ||
        !m_object || FAILED(m_object->SetClientSite(static_cast<IOleClientSite*>(m_site))) ||
        FAILED(m_object->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&m_browser))) ||
        !m_browser) {
        destroy();
        return false;
    }
    m_site->set_browser(m_browser);
    RECT area{};
    GetClientRect(m_window, &area);
    if (FAILED(m_object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(m_site), 0,
                                m_window, &area))) {
        destroy();
        return false;
    }
    IOleInPlaceObject* in_place = nullptr;
    if (SUCCEEDED(m_object->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&in_place)))) {
        m_site->set_in_place_object(in_place);
        in_place->Release();
        m_site->fit_to_window();
    }

    // No dialog of the engine's own, no drop onto the view, no use as a target of named windows.
    m_browser->put_Silent(VARIANT_TRUE);
    m_browser->put_RegisterAsDropTarget(VARIANT_FALSE);
    m_browser->put_RegisterAsBrowser(VARIANT_FALSE);

    IConnectionPointContainer* points = nullptr;
    if (SUCCEEDED(
            m_browser->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points)))) {
        IConnectionPoint* point = nullptr;
        if (SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, &point))) {
            point->Advise(static_cast<IDispatch*>(m_site), &m_events_cookie);
            point->Release();
        }
        points->Release();
    }

    if (!address.empty()) {
        const std::u16string wide = utf16_from_gbk(address);
        BSTR url = make_bstr(wide);
        VARIANT flags;
        VariantInit(&flags);
        flags.vt = VT_I4;
        flags.lVal = navNoHistory;
        VARIANT empty;
        VariantInit(&empty);
        m_site->allow_top_navigation(true);
        const HRESULT sent = url ? m_browser->Navigate(url, &flags, &empty, &empty, &empty) : E_OUTOFMEMORY;
        SysFreeString(url);
        if (FAILED(sent) || !wait_for_document(web_view_ready_wait_ms)) {
            destroy();
            return false;
        }
        if (m_site) m_site->allow_top_navigation(false);
    }
    ShowWindow(m_window, SW_SHOW);
    return true;
}

bool WebView::wait_for_document(DWORD wait_ms)
{
    const ULONGLONG deadline = GetTickCount64() + wait_ms;
    for (;;) {
        // A handler run below may have removed the view, or the window may have gone with its parent.
        if (!m_browser || !m_window || !IsWindow(m_window)) return false;
        if (document_complete(m_browser)) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        const DWORD left = static_cast<DWORD>(deadline - now);
        MsgWaitForMultipleObjectsEx(0, nullptr, left < document_poll_ms ? left : document_poll_ms,
                                    QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // Left for the loop that owns it.
                PostQuitMessage(static_cast<int>(message.wParam));
                return false;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

bool WebView::write_web_document(const Text& html)
{
    IHTMLDocument2* document = html_document(m_browser);
    if (!document) return false;
    bool written = false;
    BSTR type = SysAllocString(L"text/html");
    IDispatch* opened = nullptr;
    if (type && SUCCEEDED(document->open(type, missing_argument(), missing_argument(), missing_argument(),
                                         &opened))) {
        if (opened) opened->Release();
        // The text goes in as one string in an array of arguments, as a script's write("...") would.
        SAFEARRAY* arguments = SafeArrayCreateVector(VT_VARIANT, 0, 1);
        VARIANT* argument = nullptr;
        if (arguments && SUCCEEDED(SafeArrayAccessData(arguments, reinterpret_cast<void**>(&argument)))) {
            argument->vt = VT_BSTR;
            argument->bstrVal = make_bstr(utf16_from_gbk(html));
            const bool made = argument->bstrVal != nullptr || html.empty();
            SafeArrayUnaccessData(arguments);
            written = made && SUCCEEDED(document->write(arguments));
        }
        if (arguments) SafeArrayDestroy(arguments);
        written = SUCCEEDED(document->close()) && written;
    }
    SysFreeString(type);
    document->Release();
    return written;
}

void WebView::set_visible(bool shown)
{
    if (m_window) ShowWindow(m_window, shown ? SW_SHOW : SW_HIDE);
}

bool WebView::is_visible() const
{
    return m_window && IsWindowVisible(m_window);
}

void WebView::destroy()
{
    if (m_site) m_site->allow_top_navigation(false);
    if (m_browser && m_events_cookie) {
        IConnectionPointContainer* points = nullptr;
        if (SUCCEEDED(m_browser->QueryInterface(IID_IConnectionPointContainer,
                                                reinterpret_cast<void**>(&points)))) {
            IConnectionPoint* point = nullptr;
            if (SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, &point))) {
                point->Unadvise(m_events_cookie);
                point->Release();
            }
            points->Release();
        }
    }
    m_events_cookie = 0;
    if (m_browser) m_browser->Stop();
    release(m_browser);
    if (m_object) {
        IOleInPlaceObject* in_place = nullptr;
        if (SUCCEEDED(m_object->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&in_place)))) {
            in_place->InPlaceDeactivate();
            in_place->Release();
        }
        m_object->Close(OLECLOSE_NOSAVE);
        m_object->SetClientSite(nullptr);
        release(m_object);
    }
    if (m_window) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        if (IsWindow(m_window)) DestroyWindow(m_window);
        m_window = nullptr;
    }
    if (m_site) {
        m_site->set_in_place_object(nullptr);
        m_site->set_browser(nullptr);
        m_site->Release();
        m_site = nullptr;
    }
    m_filter.reset();
    if (m_ole_initialized) {
        OleUninitialize();
        m_ole_initialized = false;
    }
}

bool NoticeView::show_page(HWND parent, const Text& page, int x, int y, int width, int height, int control_id)
{
    if (m_view.create_web_view(parent, "about:blank", x, y, width, height, control_id) &&
        m_view.write_web_document(page))
        return true;
    m_view.destroy();
    return false;
}

void NoticeView::set_visible(bool shown)
{
    if (shown)
        m_view.set_visible(true);
    else
        m_view.destroy();
}

std::unique_ptr<NoticeView> make_notice_view(HWND parent, const Text& page, const Text& server, int x, int y,
                                             int width, int height, int control_id)
{
    auto view = std::make_unique<NoticeView>(server);
    if (!view->show_page(parent, page, x, y, width, height, control_id)) return nullptr;
    return view;
}

} // namespace vorsa::runtime
