// The notice view's container side as the WebBrowser control meets it: through COM interfaces, the
// security manager it finds by QueryService, and its events and ambient properties through IDispatch with
// arguments laid out as the control lays them out (last first).

#include "runtime/win32/web_view_site_win32.h"

#include <exdispid.h>
#include <gtest/gtest.h>
#include <mshtmdid.h>
#include <string>
#include <vector>

namespace vorsa::runtime {
namespace {

constexpr const wchar_t* vendor = L"http://vendor.example:8080";

// A browser object of its own identity: the top-level browser or a frame's, as events name them.
class FakeBrowser final : public IDispatch
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (riid != IID_IUnknown && riid != IID_IDispatch) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IDispatch*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override
    {
        return E_NOTIMPL;
    }
};

class SiteTest : public testing::Test
{
protected:
    void SetUp() override { m_site = new BrowserSite(nullptr, vendor); }
    void TearDown() override { m_site->Release(); }

    template <class Interface> Interface* query(REFIID riid)
    {
        void* object = nullptr;
        if (FAILED(m_site->QueryInterface(riid, &object))) return nullptr;
        return static_cast<Interface*>(object);
    }

    // The site's answer to an event, and whether its "Cancel" argument (at `cancel_index`, counted from
    // the last argument) came back set.
    bool cancelled(DISPID event, std::vector<VARIANT> arguments, std::size_t cancel_index)
    {
        VARIANT_BOOL cancel = VARIANT_FALSE;
        arguments[cancel_index].vt = VT_BOOL | VT_BYREF;
        arguments[cancel_index].pboolVal = &cancel;
        DISPPARAMS parameters{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
        IDispatch* events = query<IDispatch>(DIID_DWebBrowserEvents2);
        EXPECT_NE(events, nullptr);
        if (!events) return false;
        events->Invoke(event, IID_NULL, 0, DISPATCH_METHOD, &parameters, nullptr, nullptr, nullptr);
        events->Release();
        return cancel == VARIANT_TRUE;
    }

    BrowserSite* m_site = nullptr;
};

VARIANT dispatch_argument(IDispatch* object)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = object;
    return v;
}

VARIANT empty_argument()
{
    VARIANT v;
    VariantInit(&v);
    return v;
}

TEST_F(SiteTest, EveryInterfaceTheControlAsksForIsOneObject)
{
    IUnknown* identity = query<IUnknown>(IID_IUnknown);
    ASSERT_NE(identity, nullptr);
    const IID interfaces[] = {IID_IOleClientSite,   IID_IOleWindow,          IID_IOleInPlaceSite,
                              IID_IOleInPlaceFrame, IID_IOleInPlaceUIWindow, IID_IDocHostUIHandler,
                              doc_host_show_ui_iid, IID_IServiceProvider,    IID_IInternetSecurityManager,
                              IID_IDispatch,        DIID_DWebBrowserEvents2};
    for (const IID& riid : interfaces) {
        IUnknown* object = query<IUnknown>(riid);
        ASSERT_NE(object, nullptr);
        IUnknown* back = nullptr;
        ASSERT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
        EXPECT_EQ(back, identity);
        back->Release();
        object->Release();
    }
    identity->Release();
}

struct PolicyCase
{
    const char* name;
    DWORD action;
    HRESULT result;
    DWORD policy; // left as it was (0xFFFFFFFF) where the zone decides
};

class SitePolicy : public SiteTest, public testing::WithParamInterface<PolicyCase>
{
};

TEST_P(SitePolicy, TheSecurityManagerTheControlFindsDecides)
{
    const PolicyCase& c = GetParam();
    IServiceProvider* services = query<IServiceProvider>(IID_IServiceProvider);
    ASSERT_NE(services, nullptr);
    IInternetSecurityManager* manager = nullptr;
    ASSERT_EQ(services->QueryService(SID_SInternetSecurityManager, IID_IInternetSecurityManager,
                                     reinterpret_cast<void**>(&manager)),
              S_OK);
    services->Release();
    DWORD policy = 0xFFFFFFFF;
    EXPECT_EQ(manager->ProcessUrlAction(L"http://vendor.example:8080/", c.action,
                                        reinterpret_cast<BYTE*>(&policy), sizeof policy, nullptr, 0, 0, 0),
              c.result);
    EXPECT_EQ(policy, c.policy);
    manager->Release();
}

constexpr DWORD untouched = 0xFFFFFFFF;

INSTANTIATE_TEST_SUITE_P(
    Actions, SitePolicy,
    testing::Values(
        PolicyCase{"script", URLACTION_SCRIPT_RUN, S_FALSE, URLPOLICY_DISALLOW},
        PolicyCase{"script_range_end", URLACTION_SCRIPT_MAX, S_FALSE, URLPOLICY_DISALLOW},
        PolicyCase{"activex_control", URLACTION_ACTIVEX_RUN, S_FALSE, URLPOLICY_DISALLOW},
        PolicyCase{"activex_download", URLACTION_DOWNLOAD_SIGNED_ACTIVEX, S_FALSE, URLPOLICY_DISALLOW},
        PolicyCase{"java", URLACTION_JAVA_PERMISSIONS, S_FALSE, URLPOLICY_DISALLOW},
        PolicyCase{"java_applet", URLACTION_HTML_JAVA_RUN, S_FALSE, URLPOLICY_DISALLOW},
        PolicyCase{"form_submission", URLACTION_HTML_SUBMIT_FORMS, S_FALSE, URLPOLICY_DISALLOW},
        PolicyCase{"refresh", URLACTION_HTML_META_REFRESH, S_FALSE, URLPOLICY_DISALLOW},
        PolicyCase{"file_download", URLACTION_SHELL_FILE_DOWNLOAD, S_FALSE, URLPOLICY_DISALLOW},
        PolicyCase{"shell_execute", URLACTION_SHELL_SHELLEXECUTE, S_FALSE, URLPOLICY_DISALLOW},
        PolicyCase{"binary_behaviour", URLACTION_BEHAVIOR_RUN, S_FALSE, URLPOLICY_DISALLOW},
        PolicyCase{"logon", URLACTION_CREDENTIALS_USE, S_FALSE, URLPOLICY_CREDENTIALS_ANONYMOUS_ONLY},
        PolicyCase{"popup_blocker_stays", URLACTION_SHELL_POPUPMGR, INET_E_DEFAULT_ACTION, untouched},
        PolicyCase{"cookies_are_the_zones", URLACTION_COOKIES, INET_E_DEFAULT_ACTION, untouched},
        PolicyCase{"fonts_are_the_zones", URLACTION_HTML_FONT_DOWNLOAD, INET_E_DEFAULT_ACTION, untouched},
        PolicyCase{"sniffing_is_the_zones", URLACTION_FEATURE_MIME_SNIFFING, INET_E_DEFAULT_ACTION,
                   untouched}),
    [](const testing::TestParamInfo<PolicyCase>& row) { return std::string(row.param.name); });

TEST_F(SiteTest, AmbientDownloadControlShowsPicturesAndRunsNothing)
{
    IDispatch* ambient = query<IDispatch>(IID_IDispatch);
    ASSERT_NE(ambient, nullptr);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(ambient->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result,
                              nullptr, nullptr),
              S_OK);
    ambient->Release();
    ASSERT_EQ(result.vt, VT_I4);
    const auto flags = static_cast<DWORD>(result.lVal);
    for (const DWORD required :
         {DLCTL_DLIMAGES, DLCTL_NO_SCRIPTS, DLCTL_NO_JAVA, DLCTL_NO_RUNACTIVEXCTLS, DLCTL_NO_DLACTIVEXCTLS,
          DLCTL_NO_BEHAVIORS, DLCTL_NO_CLIENTPULL, DLCTL_SILENT, DLCTL_NO_METACHARSET})
        EXPECT_EQ(flags & required, required) << "flag " << std::hex << required;
    // Sounds, videos and a forced offline mode are not asked for.
    EXPECT_EQ(flags & (DLCTL_BGSOUNDS | DLCTL_VIDEOS | DLCTL_FORCEOFFLINE), 0u);
}

TEST_F(SiteTest, PageUserInterfaceIsAnsweredByShowingNothing)
{
    IDocHostUIHandler* host = query<IDocHostUIHandler>(IID_IDocHostUIHandler);
    ASSERT_NE(host, nullptr);
    DOCHOSTUIINFO info{};
    info.cbSize = sizeof info;
    ASSERT_EQ(host->GetHostInfo(&info), S_OK);
    EXPECT_NE(info.dwFlags & DOCHOSTUIFLAG_NO3DBORDER, 0u);
    EXPECT_NE(info.dwFlags & DOCHOSTUIFLAG_DISABLE_SCRIPT_INACTIVE, 0u);
    // S_OK: the host has shown the menu itself (it shows none); S_FALSE would let the engine show its own.
    POINT where{10, 10};
    EXPECT_EQ(host->ShowContextMenu(0, &where, nullptr, nullptr), S_OK);
    IDispatch* external = reinterpret_cast<IDispatch*>(&info);
    host->GetExternal(&external);
    EXPECT_EQ(external, nullptr);
    host->Release();

    IDocHostShowUI* show = query<IDocHostShowUI>(doc_host_show_ui_iid);
    ASSERT_NE(show, nullptr);
    LRESULT answer = IDOK;
    wchar_t text[] = L"alert";
    EXPECT_EQ(show->ShowMessage(nullptr, text, text, MB_OKCANCEL, nullptr, 0, &answer), S_OK);
    EXPECT_EQ(answer, IDCANCEL);
    show->Release();
}

struct NavigationCase
{
    const char* name;
    bool top_level;
    bool own_navigation; // the view is sending the top-level browser somewhere itself
    const wchar_t* url;
    bool cancelled;
};

class SiteNavigation : public SiteTest, public testing::WithParamInterface<NavigationCase>
{
};

TEST_P(SiteNavigation, TopLevelGoesOnlyWhereTheViewSendsItFramesOnlyToTheServer)
{
    const NavigationCase& c = GetParam();
    FakeBrowser top;
    FakeBrowser frame;
    m_site->set_browser(&top);
    m_site->allow_top_navigation(c.own_navigation);

    VARIANT address;
    VariantInit(&address);
    address.vt = VT_BSTR;
    address.bstrVal = SysAllocString(c.url);
    VARIANT address_reference;
    VariantInit(&address_reference);
    address_reference.vt = VT_VARIANT | VT_BYREF;
    address_reference.pvarVal = &address;
    // (browser, address, flags, target frame, post data, headers, cancel), last first.
    std::vector<VARIANT> arguments = {empty_argument(),
                                      empty_argument(),
                                      empty_argument(),
                                      empty_argument(),
                                      empty_argument(),
                                      address_reference,
                                      dispatch_argument(c.top_level ? &top : &frame)};
    EXPECT_EQ(cancelled(DISPID_BEFORENAVIGATE2, arguments, 0), c.cancelled);
    VariantClear(&address);
    m_site->set_browser(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Navigations, SiteNavigation,
    testing::Values(
        NavigationCase{"own_blank_page", true, true, L"about:blank", false},
        NavigationCase{"link_to_server", true, false, L"http://vendor.example:8080/more.htm", true},
        NavigationCase{"link_elsewhere", true, false, L"http://evil.test/", true},
        NavigationCase{"blank_page_not_sent_by_view", true, false, L"about:blank", true},
        NavigationCase{"frame_from_server", false, false, L"http://vendor.example:8080/f.htm", false},
        NavigationCase{"frame_blank", false, false, L"about:blank", false},
        NavigationCase{"frame_elsewhere", false, true, L"http://evil.test/f.htm", true},
        NavigationCase{"frame_file", false, false, L"file:///C:/windows/win.ini", true}),
    [](const testing::TestParamInfo<NavigationCase>& row) { return std::string(row.param.name); });

TEST_F(SiteTest, NoNewWindowNoDownloadNoErrorPage)
{
    FakeBrowser browser;
    IDispatch* created = nullptr;
    VARIANT created_reference;
    VariantInit(&created_reference);
    created_reference.vt = VT_DISPATCH | VT_BYREF;
    created_reference.ppdispVal = &created;

    // NewWindow2(new browser, cancel)
    EXPECT_TRUE(cancelled(DISPID_NEWWINDOW2, {empty_argument(), created_reference}, 0));
    // NewWindow3(new browser, cancel, flags, context address, address)
    EXPECT_TRUE(cancelled(
        DISPID_NEWWINDOW3,
        {empty_argument(), empty_argument(), empty_argument(), empty_argument(), created_reference}, 3));
    // FileDownload(active document, cancel): a download is stopped, a page shown in the view is not.
    VARIANT active;
    VariantInit(&active);
    active.vt = VT_BOOL;
    active.boolVal = VARIANT_FALSE;
    EXPECT_TRUE(cancelled(DISPID_FILEDOWNLOAD, {empty_argument(), active}, 0));
    active.boolVal = VARIANT_TRUE;
    EXPECT_FALSE(cancelled(DISPID_FILEDOWNLOAD, {empty_argument(), active}, 0));
    // NavigateError(browser, address, frame, status, cancel)
    EXPECT_TRUE(cancelled(
        DISPID_NAVIGATEERROR,
        {empty_argument(), empty_argument(), empty_argument(), empty_argument(), dispatch_argument(&browser)},
        0));
}

} // namespace
} // namespace vorsa::runtime
