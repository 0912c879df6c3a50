#pragma once
// The web view: an embedded HTML view that shows the vendor's notice page in the window until the
// first preview replaces it. Kept in a library of its own (vorsa::runtime_web) and compiled into the
// notice view's module (runtime/web/notice_view_module.h), so that the program itself never links the
// web engine.
//
// What the page may do is bounded; it is shown, not run:
// - No script runs (so no dialog, timer, busy loop, fetch or WebSocket), no plugin, no window opens,
//   no file chooser or context menu appears, and no link, form or drop leaves the page.
// - Its documents, frames and sub-resources come only from one server (scheme, host and port as
//   given) or from data: and about: addresses; every other request is refused before it is made,
//   and always directly: proxies named in the environment (http_proxy) are not used, as the
//   program's HTTP client does not use them. The engine's network stack knows no other host at all;
//   it learns the server from the first view of the process, so all views of a process share it.
// - The engine's processes (the page's renderer among them) may not grow beyond
//   web_process_memory_limit of private memory; a renderer that tries ends and leaves the view empty.
// - The engine runs pages only in its sandbox, which it cannot set up for the root user: as root no
//   view is made (web_views_allowed()).

#include "runtime/controls/controls.h"
#include "runtime/text/text.h"

#include <QPointer>
#include <QString>
#include <cstdint>
#include <unistd.h>

class QWebEngineProfile;
class QWebEngineView;
class QWidget;

namespace vorsa::runtime {

// Private (unshared) memory each of the web engine's processes may hold. A notice page's renderer
// holds about 100 MiB.
inline constexpr std::uint64_t web_process_memory_limit = std::uint64_t{512} << 20;

// False for the root user, for whom the engine's sandbox cannot run: the engine would end the process
// when the first view is made.
inline bool web_views_allowed()
{
    return ::geteuid() != 0;
}

// Must run before the QApplication is created: the web engine shares graphics contexts with the
// window.
void prepare_web_views();

class WebView : public Control
{
public:
    // `server` ("http://host[:port]") is the one server the page may load from; empty: none.
    explicit WebView(const Text& server = {});
    ~WebView() override;
    WebView(const WebView&) = delete;
    WebView& operator=(const WebView&) = delete;

    // Makes the view a visible child of `parent` at (x, y) with the given size and, when `address` is not
    // empty, navigates it there. False when a view already exists or views are not allowed
    // (web_views_allowed()); the web engine is then not started.
    bool create_web_view(QWidget* parent, const Text& address, int x, int y, int width = 400,
                         int height = 300);

    // Replaces the displayed page by the HTML text (GBK), as a document of its own at "about:blank".
    // False without a view. Pages above about 2 MB are not shown (a limit of the engine's loader).
    bool write_web_document(const Text& html);

    void set_visible(bool shown) override;
    bool is_visible() const override;

    // Removes the view and gives back what the engine holds for it (its renderer process ends); the
    // object can create a new one.
    void destroy();

    // The view while it exists (tests read its page); null otherwise.
    QWebEngineView* view() const;

private:
    QString m_server;
    QPointer<QWebEngineView> m_view;
    QPointer<QWebEngineProfile> m_profile;
};

} // namespace vorsa::runtime
