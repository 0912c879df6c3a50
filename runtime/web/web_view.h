#pragma once
// The web view: an embedded HTML view that shows the vendor's notice page in the window until the
// first preview replaces it. It may not read local files, open windows or run plugins. Kept in a
// library of its own (vorsa::runtime_web) and compiled into the notice view's module
// (runtime/web/notice_view_module.h), so that the program itself never links the web engine.

#include "runtime/controls/controls.h"
#include "runtime/text/text.h"

#include <QPointer>

class QWebEngineView;
class QWidget;

namespace vorsa::runtime {

// Must run before the QApplication is created: the web engine shares graphics contexts with the
// window.
void prepare_web_views();

class WebView : public Control
{
public:
    WebView() = default;
    ~WebView() override;
    WebView(const WebView&) = delete;
    WebView& operator=(const WebView&) = delete;

    // Makes the view a visible child of `parent` at (x, y) with the given size and, when `address` is not
    // empty, navigates it there. False when a view already exists.
    bool create_web_view(QWidget* parent, const Text& address, int x, int y, int width = 400,
                         int height = 300);

    // Replaces the displayed page by the HTML text (GBK), as a document of its own at "about:blank".
    // False without a view. Pages above about 2 MB are not shown (a limit of the engine's loader).
    bool write_web_document(const Text& html);

    void set_visible(bool shown) override;
    bool is_visible() const override;

    // Removes the view and gives back what the engine holds for it; the object can create a new one.
    void destroy();

    // The view while it exists (tests read its page); null otherwise.
    QWebEngineView* view() const { return m_view; }

private:
    QPointer<QWebEngineView> m_view;
};

} // namespace vorsa::runtime
