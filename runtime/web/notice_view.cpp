#include "runtime/web/notice_view.h"

namespace vorsa::runtime {

bool NoticeView::show_page(QWidget* parent, const Text& page, int x, int y, int width, int height)
{
    if (!m_view.create_web_view(parent, "about:blank", x, y, width, height)) return false;
    m_view.write_web_document(page);
    return true;
}

void NoticeView::set_visible(bool shown)
{
    if (!shown) m_view.destroy();
}

std::unique_ptr<NoticeView> make_notice_view(QWidget* parent, const Text& page, const Text& server, int x,
                                             int y, int width, int height)
{
    auto view = std::make_unique<NoticeView>(server);
    if (!view->show_page(parent, page, x, y, width, height)) return nullptr;
    return view;
}

} // namespace vorsa::runtime
