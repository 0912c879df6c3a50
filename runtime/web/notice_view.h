#pragma once
// The notice page's view: a web view (runtime/web/web_view.h) that leaves for good. The first preview
// hides it and the page is never shown again, so hiding it releases the view with its renderer process:
// from then on nothing of the page runs or holds memory.

#include "runtime/controls/controls.h"
#include "runtime/text/text.h"
#include "runtime/web/web_view.h"

#include <memory>

class QWidget;

namespace vorsa::runtime {

class NoticeView : public Control
{
public:
    // `server`: the one server the page may load from (WebView).
    explicit NoticeView(const Text& server) : m_view(server) {}

    // Shows `page` (HTML, GBK) in a visible child of `parent` at (x, y) with the given size; false when
    // no view could be made (web_views_allowed()).
    bool show_page(QWidget* parent, const Text& page, int x, int y, int width, int height);

    // Hiding releases the view; it cannot be shown again.
    void set_visible(bool shown) override;
    bool is_visible() const override { return m_view.is_visible(); }

    WebView& web_view() { return m_view; }

private:
    WebView m_view;
};

// A NoticeView showing `page`, or nullptr when none could be made.
std::unique_ptr<NoticeView> make_notice_view(QWidget* parent, const Text& page, const Text& server, int x,
                                             int y, int width, int height);

} // namespace vorsa::runtime
