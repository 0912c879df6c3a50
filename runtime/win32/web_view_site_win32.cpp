// The container side of the notice page's WebBrowser control: see web_view_site_win32.h.

#include "runtime/win32/web_view_site_win32.h"

#include "runtime/win32/request_filter_win32.h"

#include <exdispid.h>
#include <mshtmdid.h>
#include <olectl.h>
#include <utility>

namespace vorsa::runtime {

namespace {

struct ActionRange
{
    DWORD first;
    DWORD last;
    DWORD policy;
};

// The URL actions the page may not take. Not listed, and so the zone's: cookies, fonts, the pop-up
// blocker (whose "allow" means blocking), drag and drop, and the rest of the shell's and the HTML's.
constexpr ActionRange denied_actions[] = {
    {URLACTION_DOWNLOAD_MIN, URLACTION_DOWNLOAD_MAX, URLPOLICY_DISALLOW},
    {URLACTION_ACTIVEX_MIN, URLACTION_ACTIVEX_MAX, URLPOLICY_DISALLOW},
    {URLACTION_SCRIPT_MIN, URLACTION_SCRIPT_MAX, URLPOLICY_DISALLOW},
    {URLACTION_HTML_SUBMIT_FORMS, URLACTION_HTML_SUBMIT_FORMS_TO, URLPOLICY_DISALLOW},
    {URLACTION_HTML_JAVA_RUN, URLACTION_HTML_USERDATA_SAVE, URLPOLICY_DISALLOW},
    {URLACTION_HTML_META_REFRESH, URLACTION_HTML_META_REFRESH, URLPOLICY_DISALLOW},
    {URLACTION_HTML_INCLUDE_FILE_PATH, URLACTION_HTML_INCLUDE_FILE_PATH, URLPOLICY_DISALLOW},
    {URLACTION_SHELL_INSTALL_DTITEMS, URLACTION_SHELL_INSTALL_DTITEMS, URLPOLICY_DISALLOW},
    {URLACTION_SHELL_MOVE_OR_COPY, URLACTION_SHELL_EXECUTE_LOWRISK, URLPOLICY_DISALLOW},
    {URLACTION_SHELL_RTF_OBJECTS_LOAD, URLACTION_SHELL_RTF_OBJECTS_LOAD, URLPOLICY_DISALLOW},
    {URLACTION_CREDENTIALS_USE, URLACTION_CREDENTIALS_USE, URLPOLICY_CREDENTIALS_ANONYMOUS_ONLY},
    {URLACTION_CLIENT_CERT_PROMPT, URLACTION_CLIENT_CERT_PROMPT, URLPOLICY_DISALLOW},
    {URLACTION_JAVA_MIN, URLACTION_JAVA_MAX, URLPOLICY_DISALLOW},
    {URLACTION_BEHAVIOR_RUN, URLACTION_BEHAVIOR_RUN, URLPOLICY_DISALLOW},
    {URLACTION_DOTNET_USERCONTROLS, URLACTION_DOTNET_USERCONTROLS, URLPOLICY_DISALLOW},
    {URLACTION_AUTOMATIC_DOWNLOAD_UI, URLACTION_AUTOMATIC_ACTIVEX_UI, URLPOLICY_DISALLOW},
    {URLACTION_ALLOW_RESTRICTEDPROTOCOLS, URLACTION_ALLOW_RESTRICTEDPROTOCOLS, URLPOLICY_DISALLOW},
    {URLACTION_WINDOWS_BROWSER_APPLICATIONS, URLACTION_LOOSE_XAML, URLPOLICY_DISALLOW},
};

// The two interfaces name one object.
bool same_object(IUnknown* a, IUnknown* b)
{
    if (!a || !b) return false;
    IUnknown* identity_a = nullptr;
    IUnknown* identity_b = nullptr;
    a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity_a));
    b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity_b));
    const bool same = identity_a && identity_a == identity_b;
    if (identity_a) identity_a->Release();
    if (identity_b) identity_b->Release();
    return same;
}

// Event arguments come last first. A by-reference boolean out-argument ("Cancel") set to true.
void set_cancel(DISPPARAMS* parameters, UINT index)
{
    if (!parameters || index >= parameters->cArgs) return;
    VARIANT& argument = parameters->rgvarg[index];
    if (argument.vt == (VT_BOOL | VT_BYREF) && argument.pboolVal) *argument.pboolVal = VARIANT_TRUE;
}

} // namespace

bool notice_url_policy(DWORD action, DWORD& policy)
{
    for (const ActionRange& range : denied_actions) {
        if (action >= range.first && action <= range.last) {
            policy = range.policy;
            return true;
        }
    }
    return false;
}

DWORD notice_download_control()
{
    return DLCTL_DLIMAGES | DLCTL_NO_SCRIPTS | DLCTL_NO_JAVA | DLCTL_NO_RUNACTIVEXCTLS |
           DLCTL_NO_DLACTIVEXCTLS | DLCTL_NO_BEHAVIORS | DLCTL_NO_CLIENTPULL | DLCTL_SILENT |
           DLCTL_NO_METACHARSET;
}

BrowserSite::BrowserSite(HWND window, std::wstring server) : m_window(window), m_server(std::move(server)) {}

BrowserSite::~BrowserSite()
{
    set_browser(nullptr);
    set_in_place_object(nullptr);
}

void BrowserSite::set_browser(IUnknown* browser)
{
    if (browser) browser->AddRef();
    if (m_browser) m_browser->Release();
    m_browser = browser;
}

void BrowserSite::set_in_place_object(IOleInPlaceObject* object)
{
    if (object) object->AddRef();
    if (m_in_place) m_in_place->Release();
    m_in_place = object;
}

void BrowserSite::fit_to_window()
{
    RECT area{};
    if (!m_in_place || !m_window || !GetClientRect(m_window, &area)) return;
    m_in_place->SetObjectRects(&area, &area);
}

HRESULT BrowserSite::QueryInterface(REFIID riid, void** object)
{
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
        *object = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
        *object = static_cast<IOleInPlaceSite*>(this);
    else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
        *object = static_cast<IOleInPlaceFrame*>(this);
    else if (riid == IID_IDocHostUIHandler)
        *object = static_cast<IDocHostUIHandler*>(this);
    else if (riid == doc_host_show_ui_iid)
        *object = static_cast<IDocHostShowUI*>(this);
    else if (riid == IID_IServiceProvider)
        *object = static_cast<IServiceProvider*>(this);
    else if (riid == IID_IInternetSecurityManager)
        *object = static_cast<IInternetSecurityManager*>(this);
    else if (riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2)
        *object = static_cast<IDispatch*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG BrowserSite::AddRef()
{
    return ++m_references;
}

ULONG BrowserSite::Release()
{
    const ULONG left = --m_references;
    if (left == 0) delete this;
    return left;
}

HRESULT BrowserSite::GetMoniker(DWORD, DWORD, IMoniker** moniker)
{
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}

HRESULT BrowserSite::GetContainer(IOleContainer** container)
{
    if (container) *container = nullptr;
    return E_NOINTERFACE;
}

HRESULT BrowserSite::GetWindow(HWND* window)
{
    if (!window) return E_POINTER;
    *window = m_window;
    return m_window ? S_OK : E_FAIL;
}

HRESULT BrowserSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                      LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO frame_info)
{
    if (!frame || !document || !position || !clip || !frame_info) return E_POINTER;
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *document = nullptr;
    RECT area{};
    if (m_window) GetClientRect(m_window, &area);
    *position = area;
    *clip = area;
    frame_info->fMDIApp = FALSE;
    frame_info->hwndFrame = m_window ? GetAncestor(m_window, GA_ROOT) : nullptr;
    frame_info->haccel = nullptr;
    frame_info->cAccelEntries = 0;
    return S_OK;
}

HRESULT BrowserSite::OnPosRectChange(LPCRECT position)
{
    if (!position) return E_POINTER;
    if (m_in_place) m_in_place->SetObjectRects(position, position);
    return S_OK;
}

HRESULT BrowserSite::GetHostInfo(DOCHOSTUIINFO* info)
{
    if (!info || info->cbSize < sizeof(DOCHOSTUIINFO)) return E_INVALIDARG;
    // No border (the window has none either), no help menu, no script even in inactive documents,
    // no untrusted protocol, redirects reported as navigations (so that BeforeNavigate2 sees them).
    info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_NO3DOUTERBORDER |
                    DOCHOSTUIFLAG_DISABLE_HELP_MENU | DOCHOSTUIFLAG_DISABLE_SCRIPT_INACTIVE |
                    DOCHOSTUIFLAG_LOCAL_MACHINE_ACCESS_CHECK | DOCHOSTUIFLAG_DISABLE_UNTRUSTEDPROTOCOL |
                    DOCHOSTUIFLAG_ENABLE_REDIRECT_NOTIFICATION | DOCHOSTUIFLAG_THEME;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    info->pchHostCss = nullptr;
    info->pchHostNS = nullptr;
    return S_OK;
}

HRESULT BrowserSite::GetOptionKeyPath(LPOLESTR* key, DWORD)
{
    if (key) *key = nullptr;
    return S_FALSE;
}

HRESULT BrowserSite::GetDropTarget(IDropTarget*, IDropTarget** target)
{
    if (target) *target = nullptr;
    return E_NOTIMPL;
}

HRESULT BrowserSite::GetExternal(IDispatch** external)
{
    if (external) *external = nullptr;
    return S_FALSE;
}

HRESULT BrowserSite::TranslateUrl(DWORD, LPWSTR, LPWSTR* url)
{
    if (url) *url = nullptr;
    return S_FALSE;
}

HRESULT BrowserSite::FilterDataObject(IDataObject*, IDataObject** result)
{
    if (result) *result = nullptr;
    return S_FALSE;
}

HRESULT BrowserSite::ShowMessage(HWND, LPOLESTR, LPOLESTR, DWORD, LPOLESTR, DWORD, LRESULT* result)
{
    // As if the user had cancelled: a confirm() reads false.
    if (result) *result = IDCANCEL;
    return S_OK;
}

HRESULT BrowserSite::QueryService(REFGUID service, REFIID riid, void** object)
{
    if (!object) return E_POINTER;
    *object = nullptr;
    if (service == SID_SInternetSecurityManager) return QueryInterface(riid, object);
    return E_NOINTERFACE;
}

HRESULT BrowserSite::ProcessUrlAction(LPCWSTR, DWORD action, BYTE* policy, DWORD policy_size, BYTE*, DWORD,
                                      DWORD, DWORD)
{
    DWORD decided = URLPOLICY_ALLOW;
    if (!notice_url_policy(action, decided)) return INET_E_DEFAULT_ACTION;
    if (!policy || policy_size < sizeof(DWORD)) return E_INVALIDARG;
    CopyMemory(policy, &decided, sizeof decided);
    return decided == URLPOLICY_ALLOW ? S_OK : S_FALSE;
}

HRESULT BrowserSite::GetTypeInfoCount(UINT* count)
{
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

bool BrowserSite::navigation_allowed(IDispatch* browser, const VARIANT* url) const
{
    if (!browser || same_object(browser, m_browser)) return m_top_navigation_allowed;
    if (!url || url->vt != VT_BSTR || !url->bstrVal) return false;
    return request_allowed({url->bstrVal, SysStringLen(url->bstrVal)}, m_server);
}

HRESULT BrowserSite::Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                            EXCEPINFO*, UINT*)
{
    const UINT count = parameters ? parameters->cArgs : 0;
    switch (member) {
    case DISPID_AMBIENT_DLCONTROL:
        if (!(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
        VariantInit(result);
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(notice_download_control());
        return S_OK;
    case DISPID_BEFORENAVIGATE2: {
        // (browser, address, flags, target frame, post data, headers, cancel), last first.
        if (count != 7) return S_OK;
        const VARIANT& browser = parameters->rgvarg[6];
        const VARIANT& address = parameters->rgvarg[5];
        const VARIANT* url = address.vt == (VT_VARIANT | VT_BYREF) ? address.pvarVal
                             : address.vt == VT_BSTR               ? &address
                                                                   : nullptr;
        if (!navigation_allowed(browser.vt == VT_DISPATCH ? browser.pdispVal : nullptr, url))
            set_cancel(parameters, 0);
        return S_OK;
    }
    case DISPID_NEWWINDOW2: // (new browser, cancel)
        set_cancel(parameters, 0);
        return S_OK;
    case DISPID_NEWWINDOW3: // (new browser, cancel, flags, context address, address)
        if (count == 5) set_cancel(parameters, 3);
        return S_OK;
    case DISPID_FILEDOWNLOAD: // (active document, cancel): a page shown in the view comes as an active
                              // document too, so only what is not one is stopped
        if (count == 2 && parameters->rgvarg[1].vt == VT_BOOL &&
            parameters->rgvarg[1].boolVal == VARIANT_FALSE)
            set_cancel(parameters, 0);
        return S_OK;
    case DISPID_NAVIGATEERROR: // (browser, address, frame, status, cancel): no error page
        set_cancel(parameters, 0);
        return S_OK;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

} // namespace vorsa::runtime
