// The notice view in a window, as start-up makes it: in the preview's rectangle of a parent window that
// shows the title picture there. Without an HTML engine (Wine has none) no view may be made and the
// picture must stay; with one (Windows) the page is shown without running it and goes when hidden.
// Makes windows: needs a display (under Wine, scripts/with-xvfb.sh gives one).

#include "runtime/text/gbk.h"
#include "runtime/win32/web_view_win32.h"

#include <exdisp.h>
#include <gtest/gtest.h>
#include <mshtml.h>
#include <string>

namespace vorsa::runtime {
namespace {

using namespace literals;

constexpr int left = 180, top = 8, width = 340, height = 400;
constexpr int view_id = 501;

// CLSID_HTMLDocument, which mingw-w64's uuid library lacks.
constexpr CLSID html_document_class = {
    0x25336920, 0x03f9, 0x11cf, {0x8f, 0xd0, 0x00, 0xaa, 0x00, 0x68, 0x6f, 0x13}};

// Whether the system has an HTML engine the control could show a page with.
bool html_engine_present()
{
    IHTMLDocument2* document = nullptr;
    if (FAILED(CoCreateInstance(html_document_class, nullptr, CLSCTX_INPROC_SERVER, IID_IHTMLDocument2,
                                reinterpret_cast<void**>(&document))) ||
        !document)
        return false;
    document->Release();
    return true;
}

int count_children(HWND parent)
{
    int count = 0;
    EnumChildWindows(
        parent,
        [](HWND, LPARAM counter) {
            ++*reinterpret_cast<int*>(counter);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

// The main window stand-in, with the title picture in the preview rectangle.
class NoticeViewTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        m_parent = CreateWindowExW(0, L"STATIC", L"Vorsa", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 560, 460,
                                   nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(m_parent, nullptr) << "no window: is there a display?";
        m_title = CreateWindowExW(0, L"STATIC", L"title", WS_CHILD | WS_VISIBLE, left, top, width, height,
                                  m_parent, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(m_title, nullptr);
    }
    void TearDown() override
    {
        if (m_parent) DestroyWindow(m_parent);
        OleUninitialize();
    }

    HWND m_parent = nullptr;
    HWND m_title = nullptr;
};

const Text page = "<html><body><p>"_gbk + "本周新品到店"_gbk +
                  "</p><script>document.title='ran';</script></body></html>"_gbk;
const Text server = "http://127.0.0.1:9";

TEST_F(NoticeViewTest, WithoutAnEngineNoViewIsMadeAndTheTitleStaysWithinTheBound)
{
    if (html_engine_present()) GTEST_SKIP() << "this system has an HTML engine";

    // Twice: a failed attempt leaves nothing that stands in the way of the next one.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(make_notice_view(m_parent, page, server, left, top, width, height, view_id), nullptr);
        // The wait is bounded: a view that waited for a document that never comes, or for the network's
        // time-outs, would take far longer than this generous multiple of the bound.
        EXPECT_LT(GetTickCount64() - start, 10ull * web_view_ready_wait_ms);
        EXPECT_EQ(count_children(m_parent), 1) << "a window was left behind";
        EXPECT_TRUE(IsWindowVisible(m_title));
    }

    WebView view(server);
    EXPECT_FALSE(view.create_web_view(m_parent, "about:blank", left, top, width, height, view_id));
    EXPECT_EQ(view.window(), nullptr);
    EXPECT_EQ(view.browser(), nullptr);
    EXPECT_FALSE(view.is_visible());
    EXPECT_FALSE(view.write_web_document(page));
    view.set_visible(true);
    EXPECT_EQ(count_children(m_parent), 1);
}

// The page's text and title as the engine holds them.
std::wstring text_of(IWebBrowser2* browser, std::wstring* title)
{
    IDispatch* dispatch = nullptr;
    if (!browser || FAILED(browser->get_Document(&dispatch)) || !dispatch) return {};
    IHTMLDocument2* document = nullptr;
    dispatch->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(&document));
    dispatch->Release();
    if (!document) return {};
    std::wstring text;
    IHTMLElement* body = nullptr;
    if (SUCCEEDED(document->get_body(&body)) && body) {
        BSTR inner = nullptr;
        if (SUCCEEDED(body->get_innerText(&inner)) && inner) text.assign(inner, SysStringLen(inner));
        SysFreeString(inner);
        body->Release();
    }
    BSTR name = nullptr;
    if (SUCCEEDED(document->get_title(&name)) && name) title->assign(name, SysStringLen(name));
    SysFreeString(name);
    document->Release();
    return text;
}

TEST_F(NoticeViewTest, WithAnEngineThePageIsShownNotRunAndGoesWhenHidden)
{
    if (!html_engine_present()) GTEST_SKIP() << "this system has no HTML engine";

    auto view = make_notice_view(m_parent, page, server, left, top, width, height, view_id);
    ASSERT_NE(view, nullptr);
    const HWND window = view->web_view().window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(view->is_visible());
    EXPECT_EQ(GetDlgCtrlID(window), view_id);
    RECT place{};
    GetWindowRect(window, &place);
    MapWindowPoints(nullptr, m_parent, reinterpret_cast<POINT*>(&place), 2);
    EXPECT_EQ(place.left, left);
    EXPECT_EQ(place.top, top);
    EXPECT_EQ(place.right - place.left, width);
    EXPECT_EQ(place.bottom - place.top, height);

    std::wstring title;
    const std::wstring text = text_of(view->web_view().browser(), &title);
    EXPECT_NE(text.find(L"本周新品到店"), std::wstring::npos);
    EXPECT_NE(title, L"ran") << "the page's script ran";

    view->set_visible(false);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(view->web_view().browser(), nullptr);
    view->set_visible(true);
    EXPECT_FALSE(view->is_visible());
}

} // namespace
} // namespace vorsa::runtime
