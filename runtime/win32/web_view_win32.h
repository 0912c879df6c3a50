#pragma once
// Windows only. The web view: the system's HTML view (the WebBrowser control, "Shell.Explorer") in a
// child window of the main window, showing the vendor's notice page until the first preview replaces
// it. Hosted without ATL: runtime/win32/web_view_site_win32.h is the container side.
//
// What the page may do is bounded as far as the control lets its host bound it; it is shown, not run:
// - No script runs (the download control and the security manager both say so), no Java, ActiveX
//   control or binary behaviour, no refresh; no message box, context menu, new window or file download
//   appears, and no link, form or drop leaves the page.
// - Its pictures, style sheets and frames come only from the one server (scheme, host and port as given)
//   or from data: and about: addresses; every other load of the process's URL loader is refused before
//   it is made (runtime/win32/request_filter_win32.h), and connections are direct where the system lets
//   the program say so.
// - Hiding the notice view (NoticeView) releases the control: nothing of the page runs afterwards.
// Where no HTML engine answers (no control, or no document within web_view_ready_wait_ms), no view is
// made and the caller keeps what it showed.

#include "runtime/controls/controls.h"
#include "runtime/text/text.h"

#include <memory>
#include <windows.h>

struct IOleObject;
struct IWebBrowser2;

namespace vorsa::runtime {

class BrowserSite;
class RequestFilter;

// How long the view waits for the control's first document (the blank page it is sent to). The window
// handles its messages meanwhile.
inline constexpr DWORD web_view_ready_wait_ms = 3000;

class WebView : public Control
{
public:
    // `server` ("http://host[:port]") is the one server the page may load from; empty: none.
    explicit WebView(const Text& server = {});
    ~WebView() override;
    WebView(const WebView&) = delete;
    WebView& operator=(const WebView&) = delete;

    // Makes the view a visible child of `parent` at (x, y) with the given size and control identifier,
    // with no border, and sends it to `address` (GBK; the program gives "about:blank"), waiting for the
    // page's document (web_view_ready_wait_ms at most). False, with no window left behind, when a view
    // exists already, the thread's COM apartment is multithreaded, the control or its document does not
    // come, or the loads cannot be filtered.
    bool create_web_view(HWND parent, const Text& address, int x, int y, int width = 400, int height = 300,
                         int control_id = 0);

    // Replaces the displayed page by the HTML text (GBK): the document's open, write and close. False
    // without a view or document.
    bool write_web_document(const Text& html);

    void set_visible(bool shown) override;
    bool is_visible() const override;

    // Removes the view and releases the control; the object can create a new one.
    void destroy();

    // The view's window while it exists; null otherwise.
    HWND window() const { return m_window; }
    // The control while it exists (tests read its document); null otherwise.
    IWebBrowser2* browser() const { return m_browser; }

private:
    bool wait_for_document(DWORD wait_ms);

    std::wstring m_server;
    HWND m_window = nullptr;
    BrowserSite* m_site = nullptr;
    IOleObject* m_object = nullptr;
    IWebBrowser2* m_browser = nullptr;
    unsigned long m_events_cookie = 0;
    std::unique_ptr<RequestFilter> m_filter;
    bool m_ole_initialized = false;
};

// The notice page's view: a web view that leaves for good. The first preview hides it and the page is
// never shown again, so hiding it releases the control.
class NoticeView : public Control
{
public:
    explicit NoticeView(const Text& server) : m_view(server) {}

    // Shows `page` (HTML, GBK) in a visible child of `parent` at (x, y) with the given size; false, with
    // no window left behind, when no view could be made.
    bool show_page(HWND parent, const Text& page, int x, int y, int width, int height, int control_id = 0);

    // Hiding releases the view; it cannot be shown again.
    void set_visible(bool shown) override;
    bool is_visible() const override { return m_view.is_visible(); }

    WebView& web_view() { return m_view; }

private:
    WebView m_view;
};

// A NoticeView showing `page`, or nullptr when none could be made (the caller keeps its title picture).
std::unique_ptr<NoticeView> make_notice_view(HWND parent, const Text& page, const Text& server, int x, int y,
                                             int width, int height, int control_id = 0);

} // namespace vorsa::runtime
